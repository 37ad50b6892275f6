#pragma once
// Screens and the pointer, in the window-server space: logical pixels, origin
// at the top-left of the primary screen, y down. A screen's scale is its
// device-pixel ratio (physical pixels per logical pixel).
#include <cstdint>
#include <optional>
#include <vector>

#include "kit/base/Geometry.h"

namespace kit {

struct ScreenInfo {
    uint32_t number = 0;  // stable display number, never 0
    Rect frame;           // window-server coordinates
    double scale = 1.0;
    bool isMain = false;
    friend bool operator==(const ScreenInfo&, const ScreenInfo&) = default;
};

// Screens in the platform's order; empty without a display.
std::vector<ScreenInfo> screens();
std::optional<ScreenInfo> mainScreen();
// The first screen whose frame contains the point.
std::optional<ScreenInfo> screenAt(Point p);
// Screens whose frames intersect the rectangle, in the platform's order.
std::vector<ScreenInfo> screensIntersecting(const Rect& r);
// Width of the main screen in logical pixels (0 without one).
double mainDisplayWidth();
// Where the pointer is; absent when it cannot be read.
std::optional<Point> pointerLocation();
// Whether a mouse button is held down, wherever the pointer is (the window
// manager holds the pointer while it moves or resizes a window); false when
// it cannot be read.
bool pointerButtonHeld();

}  // namespace kit
