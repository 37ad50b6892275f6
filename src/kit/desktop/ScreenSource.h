#pragma once
// Where the screen, window-list, grab and synthetic-input modules get their
// answers. The desktop source talks to the X server; tests install a fake one
// (a virtual screen with windows and a scrollable page) so capture code runs
// with no display.
#include <memory>
#include <optional>
#include <vector>

#include "kit/desktop/Grab.h"
#include "kit/desktop/Screen.h"
#include "kit/desktop/WindowList.h"

namespace kit {

class ScreenSource {
public:
    virtual ~ScreenSource() = default;
    virtual std::vector<ScreenInfo> screens() { return {}; }
    virtual std::vector<WindowInfo> windows() { return {}; }
    virtual Image grabArea(const Rect&) { return {}; }
    virtual Image grabWindow(uint32_t) { return {}; }
    virtual std::optional<CursorImage> cursorImage() { return std::nullopt; }
    virtual Image wallpaper(int) { return {}; }
    virtual std::optional<Point> pointer() { return std::nullopt; }
    virtual void warp(Point) {}
    // Whole wheel clicks: positive scrolls towards the start (up / left).
    virtual bool scrollClicks(int /*vertical*/, int /*horizontal*/) { return false; }
    virtual void setCursorHidden(bool) {}
    virtual bool inputTrusted() { return false; }
};

// The fake source in use, or null for the desktop. Installing null restores
// the desktop.
void setScreenSource(std::shared_ptr<ScreenSource> source);
ScreenSource* screenSourceOverride();

}  // namespace kit
