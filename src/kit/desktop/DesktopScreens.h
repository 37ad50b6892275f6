#pragma once
// kit-private helpers shared by the X11-backed modules.
#include <vector>

#include "kit/desktop/Screen.h"

namespace kit::x11 {

// Root-window pixels per logical pixel.
double globalScale();
// Screens as the desktop reports them (ignores any fake source).
std::vector<ScreenInfo> desktopScreens();

}  // namespace kit::x11
