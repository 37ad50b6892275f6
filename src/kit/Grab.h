#pragma once
// Images of the screen: a rectangle of everything on screen, one window, the
// pointer and the desktop picture. Rectangles are in the window-server space
// (logical pixels); images come at the physical resolution and carry the
// screen's scale.
#include <cstdint>
#include <optional>

#include "kit/Geometry.h"
#include "kit/Image.h"

namespace kit {

// All on-screen windows inside the rectangle; parts off every screen are
// transparent. Null when nothing can be grabbed.
Image grabArea(const Rect& rect);
// One window alone (its frame), or null when it cannot be had.
Image grabWindow(uint32_t number);

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
