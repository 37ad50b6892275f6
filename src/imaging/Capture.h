#pragma once
// What the analysis functions read of the current capture. The application
// core fills one under its image lock and hands it over; the image shares its
// pixel storage, so a capture change after that cannot pull the bytes away
// from a reader that is still working.
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace imaging {

struct Capture {
    // The uncropped capture (the core's source image): B, G, R, A premultiplied,
    // rows from the top. Null when there is no capture.
    kit::Image pixels;
    // The viewport's crop, in pixels of `pixels` (origin and size).
    kit::Rect crop;
    // Size of the prepared image the editor shows; empty when there is none.
    kit::Size precompiled;

    // A capture of a whole image: crop and sizes all from the image.
    static Capture of(const kit::Image& image);
};

}  // namespace imaging
