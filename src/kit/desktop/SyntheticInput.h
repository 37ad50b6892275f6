#pragma once
// Synthetic pointer input: wheel scrolling, pointer warps and hiding the
// pointer. X11 can only fake whole wheel clicks, and each click scrolls as far
// as the target application decides; callers measure the real movement.
#include "kit/base/Geometry.h"

namespace kit {

class SyntheticInput {
public:
    // Whether synthetic input reaches other applications (the XTest extension).
    static bool trusted();
    // Moves the pointer (window-server coordinates).
    static void warp(Point p);
    // Scrolls by about `delta` logical pixels: positive towards the start of
    // the content (wheel up), negative towards its end. 0 sends nothing.
    static bool scroll(double delta);
    // Whole wheel clicks: positive towards the start, negative towards the end.
    static bool scrollClicks(int clicks);
    // Whole wheel clicks `scroll` sends for a distance.
    static int clicksFor(double delta);
    // Hides the pointer until the user moves the mouse (our own warps do not
    // count) or it is shown again.
    static void setCursorHidden(bool hidden);

    static constexpr double kPixelsPerClick = 50;
};

}  // namespace kit
