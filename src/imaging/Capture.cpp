#include "imaging/Capture.h"

namespace imaging {

Capture Capture::of(const kit::Image& image) {
    Capture c;
    c.pixels = image;
    c.crop = {0, 0, double(image.width()), double(image.height())};
    c.original = {double(image.width()), double(image.height())};
    c.precompiled = c.original;
    return c;
}

}  // namespace imaging
