#pragma once
// The displays (monitors) as windows see them: frames in the AppKit screen
// space (origin bottom-left of the primary display, y up), the visible frame
// without panels, and the backing scale. Conversions to and from the
// window-server space (X root: origin top-left, y down) are here too.
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"

namespace kit {

struct Display {
    std::string name;   // output name, e.g. "DP-1"
    Rect frame;         // y up
    Rect visibleFrame;  // y up, without panels and docks
    double scale = 1;   // device-pixel ratio, rounded to a whole number
    bool isPrimary = false;
    friend bool operator==(const Display&, const Display&) = default;
};

namespace Displays {

// Every display, the primary first.
std::vector<Display> all();
Display primary();
// The display of the active window, else the primary one.
Display main();
std::optional<Display> at(Point screenPoint);
std::vector<Display> intersecting(const Rect& screenRect);
// The pointer in the AppKit screen space.
Point pointerLocation();

// AppKit space (y up) ↔ window-server space (y down). The flip is about the
// primary display's bottom edge in root coordinates.
Rect toWindowServer(const Rect& screenRect);
Rect fromWindowServer(const Rect& serverRect);
Point toWindowServer(Point screenPoint);
Point fromWindowServer(Point serverPoint);

}  // namespace Displays
}  // namespace kit
