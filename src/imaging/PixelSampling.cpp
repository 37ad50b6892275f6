#include "imaging/PixelSampling.h"

#include <cmath>
#include <limits>

#include "imaging/Diagnostics.h"
#include "imaging/HexText.h"
#include "imaging/PixelMap.h"

namespace imaging {

namespace {

// Half away from zero, kept inside int so the crop arithmetic cannot overflow.
long long roundedInt(double v) {
    if (!std::isfinite(v)) return 0;
    constexpr double limit = double(std::numeric_limits<int>::max());
    return (long long)std::lround(std::clamp(v, -limit, limit));
}

}  // namespace

SampledColor colorAt(const Capture& capture, double x, double y) {
    const SampledColor fallback{0, kit::Color::black()};
    PixelMap map(capture);
    if (capture.precompiled.isEmpty() || !map.hasPixels()) return fallback;
    if (!std::isfinite(x) || !std::isfinite(y)) return fallback;
    const long long w = roundedInt(capture.precompiled.width);
    const long long h = roundedInt(capture.precompiled.height);
    const long long column = (long long)std::floor(std::clamp(x, -1.0, double(w)));
    const long long row = h - (long long)std::ceil(std::clamp(y, -1.0, double(h + 1)));
    if (column < 0 || column >= w || row < 0 || row >= h) return fallback;
    // The prepared image may be larger than the buffer: check the address too.
    const uint8_t* p = map.cell(column + map.cropX(), row + map.cropY());
    if (!p) return fallback;
    RGB8 c = PixelMap::rgb(p);
    SampledColor out = convertColorSpaces(capture, c.r, c.g, c.b);
    out.packed &= 0xFFFFFF;
    return out;
}

SampledColor avgColorFast(const Capture& capture, const kit::Rect& selection, std::string_view mode) {
    const SampledColor fallback{0, kit::Color::black()};
    PixelMap map(capture);
    // Rounded, normalised, then cut to the crop.
    long long x1 = roundedInt(selection.x()), y1 = roundedInt(selection.y());
    long long w = roundedInt(selection.width()), h = roundedInt(selection.height());
    if (w < 0) x1 += w, w = -w;
    if (h < 0) y1 += h, h = -h;
    const long long left = std::max(x1, 0LL), right = std::min(x1 + w, (long long)map.width());
    const long long bottom = std::max(y1, 0LL), top = std::min(y1 + h, (long long)map.height());
    if (right <= left || top <= bottom) return fallback;
    if (!map.hasPixels()) {
        errorReport("avgColorFast(selection:mode:)", "Can't get appl.pixels");
        return fallback;
    }
    // Only what the buffer holds is visited: a crop reaching past the image
    // adds nothing, however large it claims to be.
    const PixelMap::Area readable = map.readable();
    long long sumR = 0, sumG = 0, sumB = 0, count = 0;
    int darkestSum = 765;
    RGB8 darkest{255, 255, 255};
    for (long long x = std::max(left, readable.x0); x < std::min(right, readable.x1); ++x) {
        for (long long y = std::max(bottom, readable.y0); y < std::min(top, readable.y1); ++y) {
            const uint8_t* p = map.at(x, y);
            if (!p) continue;
            RGB8 c = PixelMap::rgb(p);
            sumR += c.r, sumG += c.g, sumB += c.b;
            ++count;
            if (c.r + c.g + c.b < darkestSum) {
                darkestSum = c.r + c.g + c.b;
                darkest = c;
            }
        }
    }
    if (count == 0) return fallback;
    if (mode == "darkest") return convertColorSpaces(capture, darkest.r, darkest.g, darkest.b);
    return convertColorSpaces(capture, int(sumR / count), int(sumG / count), int(sumB / count));
}

kit::Color pureHue(const kit::Color& color) {
    const double c[3] = {color.r, color.g, color.b};
    int hi = c[0] > c[1] ? 0 : 1;
    if (!(c[2] < c[hi])) hi = 2;
    int lo = c[0] < c[1] ? 0 : 1;
    if (!(c[2] > c[lo])) lo = 2;
    // Three equal components have no hue: keep the colour as it is.
    if (hi == lo || c[hi] == c[lo]) return color;
    const int mid = 3 - hi - lo;
    double out[3];
    out[hi] = 1;
    out[lo] = 0;
    out[mid] = (c[mid] - c[lo]) / (c[hi] - c[lo]);
    return {out[0], out[1], out[2], 1};
}

kit::Color cgColor(std::string_view hex, double alpha) {
    return colorFromHexDigits(cleanHexText(hex), alpha).value_or(kit::Color::black());
}

std::string hexString(const kit::Color& color) {
    return hexOfComponents(color, false);
}

}  // namespace imaging
