#include "kit/base/Blur.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

// The column loops below are plain C++ written to vectorise; GCC does that
// only at -O3 (twice the speed of -O2 here).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

namespace kit {

namespace {

// Box radii of three successive box blurs whose result approximates a
// Gaussian of sigma (the widths differ by at most 2 and are odd).
void boxRadii(double sigma, int out[3]) {
    constexpr int n = 3;
    double ideal = std::sqrt(12 * sigma * sigma / n + 1);
    int wl = int(std::floor(ideal));
    if (wl % 2 == 0) --wl;
    int wu = wl + 2;
    double mIdeal = (12 * sigma * sigma - n * wl * wl - 4 * n * wl - 3 * n) / (-4.0 * wl - 4);
    int m = int(std::lround(mIdeal));
    for (int i = 0; i < n; ++i) out[i] = ((i < m ? wl : wu) - 1) / 2;
}

// Rounded division by the window width as one float multiply: it
// vectorises, and being monotonic it keeps premultiplied colour ≤ alpha.
struct Divider {
    float inv;
    explicit Divider(uint32_t win) : inv(1.0f / float(win)) {}
    uint8_t operator()(uint32_t sum) const { return uint8_t(float(sum) * inv + 0.5f); }
};

// One vertical box pass over all columns at once, row by row (cache
// friendly and vectorisable); outside the image counts as 0.
template <int C>
void boxColumns(const uint8_t* src, uint8_t* dst, int w, int h, size_t stride, int r) {
    const Divider div(uint32_t(2 * r + 1));
    const size_t n = size_t(w) * C;
    std::vector<uint32_t> sum(n, 0);
    for (int i = 0; i <= r && i < h; ++i) {
        const uint8_t* s = src + size_t(i) * stride;
        for (size_t k = 0; k < n; ++k) sum[k] += s[k];
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* d = dst + size_t(y) * stride;
        for (size_t k = 0; k < n; ++k) d[k] = div(sum[k]);
        int add = y + r + 1, rem = y - r;
        if (add < h) {
            const uint8_t* s = src + size_t(add) * stride;
            for (size_t k = 0; k < n; ++k) sum[k] += s[k];
        }
        if (rem >= 0) {
            const uint8_t* s = src + size_t(rem) * stride;
            for (size_t k = 0; k < n; ++k) sum[k] -= s[k];
        }
    }
}

// Three box passes down the columns; the result ends in `other`.
template <int C>
void columnPasses(uint8_t* a, uint8_t* other, int w, int h, size_t stride, const int radii[3]) {
    boxColumns<C>(a, other, w, h, stride, radii[0]);
    boxColumns<C>(other, a, w, h, stride, radii[1]);
    boxColumns<C>(a, other, w, h, stride, radii[2]);
}

// dst (h wide, w high) = src (w wide, h high) transposed, in cache-sized tiles.
template <int C>
void transpose(const uint8_t* src, size_t sstride, uint8_t* dst, size_t dstride, int w, int h) {
    constexpr int tile = 64;
    for (int by = 0; by < h; by += tile)
        for (int bx = 0; bx < w; bx += tile)
            for (int y = by; y < std::min(by + tile, h); ++y)
                for (int x = bx; x < std::min(bx + tile, w); ++x)
                    std::memcpy(dst + size_t(x) * dstride + size_t(y) * C,
                                src + size_t(y) * sstride + size_t(x) * C, C);
}

// Rows are blurred as the columns of the transposed image, so every pass
// runs the same vectorisable column loop.
template <int C>
void blur(uint8_t* bits, int w, int h, size_t stride, double sigma) {
    if (!bits || w <= 0 || h <= 0 || !(sigma > 0.2)) return;
    int radii[3];
    boxRadii(sigma, radii);
    const size_t tstride = size_t(h) * C;
    std::vector<uint8_t> a, b;
    try {
        a.resize(std::max(stride * size_t(h), tstride * size_t(w)));
        b.resize(tstride * size_t(w));
    } catch (const std::bad_alloc&) {
        return;  // too large to blur: leave the pixels as they are
    }
    columnPasses<C>(bits, a.data(), w, h, stride, radii);
    transpose<C>(a.data(), stride, b.data(), tstride, w, h);
    columnPasses<C>(b.data(), a.data(), h, w, tstride, radii);
    transpose<C>(a.data(), tstride, bits, stride, h, w);
}

}  // namespace

void gaussianBlurInPlace(uint8_t* bits, int width, int height, size_t stride, double sigma) {
    blur<4>(bits, width, height, stride, sigma);
}

void gaussianBlurAlpha(uint8_t* bits, int width, int height, size_t stride, double sigma) {
    blur<1>(bits, width, height, stride, sigma);
}

Image gaussianBlur(const Image& image, double sigma) {
    Image out = image.copy();
    if (out.isNull()) return out;
    gaussianBlurInPlace(out.mutableBits(), out.width(), out.height(), out.bytesPerRow(), sigma);
    return out;
}

}  // namespace kit
