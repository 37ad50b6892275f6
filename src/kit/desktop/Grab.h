#pragma once
// Images of the screen: a rectangle of everything on screen, one window, the
// pointer and the desktop picture. Rectangles are in the window-server space
// (logical pixels); images come at the physical resolution and carry the
// screen's scale.
#include <cstdint>
#include <memory>
#include <optional>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

// All on-screen windows inside the rectangle; parts off every screen are
// transparent. Null when nothing can be grabbed.
Image grabArea(const Rect& rect);
// One window alone (its frame), or null when it cannot be had.
Image grabWindow(uint32_t number);

// A rectangle of the screen frozen inside the window server: taken at once
// without its pixels crossing over to us, so a window can show it straight
// away while the pixels are still on their way.
class FrozenArea {
public:
    // Null when the server can't hold the rectangle (part of it off the
    // screen, no server, a fake screen source): grabArea does then.
    static std::unique_ptr<FrozenArea> take(const Rect& rect);
    ~FrozenArea();
    FrozenArea(const FrozenArea&) = delete;
    FrozenArea& operator=(const FrozenArea&) = delete;

    // The frozen pixels, as grabArea would have given them when taken.
    Image image() const;
    // Makes the frozen pixels under black of `alpha` (0–1) the background of
    // the native window `window`, which covers the rectangle exactly and is
    // not mapped yet: the server draws it the moment the window maps. False
    // when the window can't have it.
    bool showDimmedIn(uint32_t window, double alpha) const;

private:
    FrozenArea() = default;
    uint32_t pixmap_ = 0;
    int width_ = 0, height_ = 0;
    double scale_ = 1;
};

struct CursorImage {
    Image image;     // premultiplied, physical pixels
    Point hotspot;   // pixels from the image's top-left
    Point position;  // pointer position, window-server coordinates
};
std::optional<CursorImage> cursorImage();

// grabArea with the pointer drawn over it when withCursor is set.
Image grabScreen(const Rect& rect, bool withCursor);
// The desktop picture of a screen (index in screens() order); null when the
// desktop has none.
Image grabWallpaper(int screenIndex);

// Draws a cursor image into an area grab of `rect` (kit's own compositing,
// also used with fake sources).
void drawCursor(Image& area, const Rect& rect, const CursorImage& cursor);

}  // namespace kit
