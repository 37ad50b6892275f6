#pragma once
// kit-private helpers shared by the X11-backed modules, made by Screen.cpp
// from the desktop's screens (so above the X11 connection code, not in it).
#include <vector>

#include "kit/desktop/Screen.h"

namespace kit::x11 {

// Root-window pixels per logical pixel.
double globalScale();
// Screens as the desktop reports them (ignores any fake source).
std::vector<ScreenInfo> desktopScreens();

}  // namespace kit::x11
