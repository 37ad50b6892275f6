#include "imaging/PixelMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace imaging {

namespace {

// Whole pixels of a crop value; out-of-range values (NaN, huge) become 0 so
// they can never wrap into a valid-looking address.
int whole(double v) {
    if (!std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<int>::max() / 2)) return 0;
    return int(std::lround(v));
}

}  // namespace

PixelMap::PixelMap(const Capture& capture) {
    const kit::Image& img = capture.pixels;
    if (!img.isNull()) {
        bits_ = img.bits();
        stride_ = img.bytesPerRow();
        bufW_ = img.width();
        bufH_ = img.height();
    }
    kit::Rect crop = capture.crop.standardized();
    cropX_ = whole(crop.x());
    cropY_ = whole(crop.y());
    cropW_ = std::max(0, whole(crop.width()));
    cropH_ = std::max(0, whole(crop.height()));
}

}  // namespace imaging
