#pragma once
// Pop-in and squash-out of views, shared by the controls of the editor's tool
// bar area. Each view carries a state word ("showing", "shown", "hiding",
// "hidden"); every delayed step checks it, so a late step of an interrupted
// show or hide never undoes the request that came after it.
#include <optional>
#include <string>

#include "kit/ui/View.h"

namespace controls {

class Animator {
public:
    Animator() = delete;

    // Shows the view, popping it in when it was hidden (or being hidden) and no
    // other counted show came within 0.7 s. keepClock leaves that clock alone.
    static void show(kit::View& view, double delay = 0, bool keepClock = false);
    // Squashes the view out and hides it.
    static void hide(kit::View& view, double delay = 0);
    // After `seconds`, shows the view at once, unconditionally.
    static void delay(kit::View& view, double seconds);

    // The view's state word, absent before its first show or hide.
    static std::optional<std::string> state(const kit::View& view);
    // Wall-clock seconds of the last show that counted for the 0.7 s rule.
    static double lastShowTime;
};

}  // namespace controls
