#pragma once
// Local event monitors: see the key and mouse events sent to our own windows
// before any view does, as full kit events, and may consume them.
#include <cstdint>
#include <functional>

#include "kit/base/Event.h"

namespace kit::LocalEventMonitor {

namespace Mask {
constexpr unsigned KeyDown = 1 << 0;
constexpr unsigned KeyUp = 1 << 1;
constexpr unsigned FlagsChanged = 1 << 2;
constexpr unsigned LeftMouseDown = 1 << 3;
constexpr unsigned LeftMouseUp = 1 << 4;
constexpr unsigned RightMouseDown = 1 << 5;
constexpr unsigned RightMouseUp = 1 << 6;
constexpr unsigned OtherMouseDown = 1 << 7;
constexpr unsigned OtherMouseUp = 1 << 8;
constexpr unsigned ScrollWheel = 1 << 9;
}  // namespace Mask

// Returns false to consume the event (no view sees it), true to pass it on.
using Handler = std::function<bool(const Event&)>;
using Token = uint64_t;

// Handlers run on the main thread, newest first; a token is never 0.
Token add(unsigned mask, Handler handler);
void remove(Token token);

}  // namespace kit::LocalEventMonitor
