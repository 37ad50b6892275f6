#pragma once
// Pixel compositing used by the capture routes and the stitchers: images are
// premultiplied B, G, R, A with rows from the top, so drawing positions here
// are top-down (row 0 is the top row).
#include "kit/base/Color.h"
#include "kit/base/Image.h"

namespace capture {

// Draws src over dst with its top-left corner at (x, y) (source-over);
// parts outside dst are clipped.
void drawOver(kit::Image& dst, const kit::Image& src, int x, int y);
// Copies src into dst at (x, y), replacing the pixels (no blending).
void copyInto(kit::Image& dst, const kit::Image& src, int x, int y);
// An image of the given size filled with an opaque colour.
kit::Image solidImage(int width, int height, kit::Color c, double scale);

}  // namespace capture
