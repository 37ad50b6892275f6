#include "backdrop/SoftShadow.h"

#include <algorithm>
#include <cmath>

#include "kit/base/Blur.h"
#include "kit/draw/Path.h"
#include "kit/image/Canvas.h"

namespace backdrop {

SoftShadow softShadow(double w, double h, double corner, double radius, double opacity) {
    if (!(w >= 1) || !(h >= 1) || !(radius > 0) || !(opacity > 0)) return {};
    const double sigma = radius / 2, margin = std::ceil(3 * sigma);
    const double W = w + 2 * margin, H = h + 2 * margin;
    // Three pixels of blur in the small picture, and never more than about
    // a megapixel of it.
    const double f = std::min({1.0, 3 / sigma, std::sqrt(1e6 / (W * H))});
    const int sw = std::max(1, int(std::ceil(W * f))), sh = std::max(1, int(std::ceil(H * f)));
    kit::Canvas canvas(sw, sh);
    if (!canvas.isValid()) return {};
    const double r = std::max(0.0, corner) * f;
    canvas.fillPath(kit::Path::roundedRect({margin * f, margin * f, w * f, h * f}, r, r),
                    kit::Color{0, 0, 0, std::min(1.0, opacity)});
    return {kit::gaussianBlur(canvas.image(), sigma * f), margin};
}

}  // namespace backdrop
