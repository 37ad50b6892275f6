#pragma once
// The guarded value shared by the interface thread and background work (the
// viewport's zoom, device-pixel ratio and pan offsets): kit's mutex-guarded
// value, whose reads and writes never nest on one instance.
#include "kit/base/Atomic.h"

namespace services {

template <class T>
using Atomic = kit::Atomic<T>;

}  // namespace services
