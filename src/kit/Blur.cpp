#include "kit/Blur.h"

#include <cmath>
#include <cstring>
#include <vector>

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

// One horizontal box pass: C channels a pixel, outside the row counts as 0.
template <int C>
void boxRows(const uint8_t* src, uint8_t* dst, int w, int h, size_t stride, int r) {
    const uint32_t win = uint32_t(2 * r + 1), half = win / 2;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = src + size_t(y) * stride;
        uint8_t* d = dst + size_t(y) * stride;
        uint32_t sum[C] = {};
        for (int i = 0; i <= r && i < w; ++i)
            for (int c = 0; c < C; ++c) sum[c] += s[i * C + c];
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < C; ++c) d[x * C + c] = uint8_t((sum[c] + half) / win);
            int add = x + r + 1, rem = x - r;
            if (add < w)
                for (int c = 0; c < C; ++c) sum[c] += s[add * C + c];
            if (rem >= 0)
                for (int c = 0; c < C; ++c) sum[c] -= s[rem * C + c];
        }
    }
}

// One vertical box pass over all columns at once (row-wise, cache friendly).
template <int C>
void boxColumns(const uint8_t* src, uint8_t* dst, int w, int h, size_t stride, int r) {
    const uint32_t win = uint32_t(2 * r + 1), half = win / 2;
    const size_t n = size_t(w) * C;
    std::vector<uint32_t> sum(n, 0);
    for (int i = 0; i <= r && i < h; ++i) {
        const uint8_t* s = src + size_t(i) * stride;
        for (size_t k = 0; k < n; ++k) sum[k] += s[k];
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* d = dst + size_t(y) * stride;
        for (size_t k = 0; k < n; ++k) d[k] = uint8_t((sum[k] + half) / win);
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

template <int C>
void blur(uint8_t* bits, int w, int h, size_t stride, double sigma) {
    if (!bits || w <= 0 || h <= 0 || !(sigma > 0.2)) return;
    int radii[3];
    boxRadii(sigma, radii);
    std::vector<uint8_t> tmp(stride * size_t(h));
    uint8_t* a = bits;
    uint8_t* b = tmp.data();
    // Six passes ping-pong between the two buffers and end back in `bits`.
    for (int r : radii) {
        boxRows<C>(a, b, w, h, stride, r);
        std::swap(a, b);
    }
    for (int r : radii) {
        boxColumns<C>(a, b, w, h, stride, r);
        std::swap(a, b);
    }
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
