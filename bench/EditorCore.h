#pragma once
// The core with its editor window, made in the order the program's start-up
// makes them: the core first, then the window it loads every image into. The
// core alone refuses to load an image, as it has nowhere to show it.
#include "core/AppLogic.h"
#include "editor/MainWindowController.h"

namespace benchsupport {

inline core::AppLogic& coreWithEditor() {
    core::AppLogic& logic = core::AppLogic::shared();
    editor::MainWindowController::shared();
    return logic;
}

}  // namespace benchsupport
