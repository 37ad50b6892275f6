#pragma once
// The ten global shortcuts bound to their commands at start-up, in the order
// fullscreen, window, anyWindow, area, repeatArea, scrolling, reopen, ocr,
// loadClipboard, library. Each handler tells the core where the command came
// from with the method text "hotkey:" and the shortcut's symbols ("hotkey:⇧⌘1").
#include <string>

#include "shortcuts/Name.h"

namespace shell {

void registerGlobalShortcuts();

// "hotkey:" followed by the description of the name's stored shortcut.
std::string hotkeyMethod(const shortcuts::Name& name);

}  // namespace shell
