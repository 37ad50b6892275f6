#pragma once
// The screenshot tool's selection overlay: a full-screen window over a frozen
// image of the screen, dimmed except for the selection. Drag a rectangle;
// Space switches to window selection, where the window under the pointer is
// highlighted and a click takes it; Escape cancels.
#include <cstdint>
#include <functional>
#include <string>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

struct AreaPick {
    enum class Kind { cancelled, area, window };
    Kind kind = Kind::cancelled;
    Rect rect;            // window-server coordinates
    uint32_t window = 0;  // for Kind::window
    std::string windowTitle;
};

class AreaPicker {
public:
    enum class Mode { area, windowOnly, selectionOnly };
    // Freezes `screen` (window-server coordinates) and blocks, with the event
    // loop turning, until the user picks or cancels. `frozen` receives the
    // screen as it was frozen, at its own scale; null when it could not be
    // grabbed (and nothing was shown). `onShown` runs once the overlay
    // shows, the screen frozen under it: whatever shows from then on is
    // above the frozen picture and no part of it.
    static AreaPick run(const Rect& screen, Mode mode, Image& frozen,
                        const std::function<void()>& onShown = {});
};

}  // namespace kit
