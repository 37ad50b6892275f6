#pragma once
// The key record the editor hands to the active object, under the editor's name.
#include "objects/KeyEvt.h"

namespace editor {
using objects::KeyEvt;
}  // namespace editor
