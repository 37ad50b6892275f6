#include "imaging/Capture.h"

namespace imaging {

Capture Capture::of(const kit::Image& image) {
    Capture c;
    c.pixels = image;
    c.crop = {0, 0, double(image.width()), double(image.height())};
    c.precompiled = {double(image.width()), double(image.height())};
    return c;
}

}  // namespace imaging
