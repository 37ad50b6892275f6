#include "backdrop/Perlin.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace backdrop {

namespace {

double fade(double t) {
    return t * t * t * (t * (t * 6 - 15) + 10);
}
double lerp(double a, double b, double t) {
    return a + t * (b - a);
}

// Dot product of one of eight unit-ish directions with (x, y).
double grad(int hash, double x, double y) {
    switch (hash & 7) {
        case 0:
            return x + y;
        case 1:
            return -x + y;
        case 2:
            return x - y;
        case 3:
            return -x - y;
        case 4:
            return x;
        case 5:
            return -x;
        case 6:
            return y;
        default:
            return -y;
    }
}

}  // namespace

Perlin::Perlin(uint32_t seed) {
    std::array<uint8_t, 256> p;
    std::iota(p.begin(), p.end(), uint8_t(0));
    // Fisher–Yates with a small LCG: the table depends on the seed alone,
    // not on the standard library's distributions.
    uint32_t s = seed * 2654435761u + 1;
    for (int i = 255; i > 0; --i) {
        s = s * 1664525u + 1013904223u;
        std::swap(p[size_t(i)], p[size_t((s >> 8) % uint32_t(i + 1))]);
    }
    for (size_t i = 0; i < 512; ++i) perm_[i] = p[i & 255];
}

double Perlin::noise(double x, double y, int period) const {
    const double fx = std::floor(x), fy = std::floor(y);
    int xi = int(fx), yi = int(fy);
    const double xf = x - fx, yf = y - fy;
    auto wrap = [&](int v) {
        if (period > 0) v = ((v % period) + period) % period;
        return v & 255;
    };
    const int x0 = wrap(xi), x1 = wrap(xi + 1), y0 = wrap(yi), y1 = wrap(yi + 1);
    const int aa = perm_[size_t(perm_[size_t(x0)] + y0)], ab = perm_[size_t(perm_[size_t(x0)] + y1)];
    const int ba = perm_[size_t(perm_[size_t(x1)] + y0)], bb = perm_[size_t(perm_[size_t(x1)] + y1)];
    const double u = fade(xf), v = fade(yf);
    return lerp(lerp(grad(aa, xf, yf), grad(ba, xf - 1, yf), u),
                lerp(grad(ab, xf, yf - 1), grad(bb, xf - 1, yf - 1), u), v);
}

double Perlin::fractal(double x, double y, int octaves, int period) const {
    double sum = 0, weight = 1, total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * noise(x, y, period);
        total += weight;
        x *= 2;
        y *= 2;
        if (period > 0) period *= 2;
        weight /= 2;
    }
    return total > 0 ? sum / total : 0;
}

kit::Image noiseTile(int size, uint32_t seed, double strength) {
    if (size <= 0 || size > 4096 || !(strength > 0)) return {};
    strength = std::min(strength, 1.0);
    kit::Image tile(size, size);
    if (tile.isNull()) return {};
    const Perlin perlin(seed);
    // A fine grain: a lattice cell every 2 pixels, three octaves, wrapped on
    // the tile so its copies meet without a seam.
    const int cells = std::max(1, size / 2);
    uint8_t* bits = tile.mutableBits();
    for (int y = 0; y < size; ++y) {
        uint8_t* row = bits + size_t(y) * tile.bytesPerRow();
        for (int x = 0; x < size; ++x) {
            const double n = perlin.fractal(double(x) * cells / size, double(y) * cells / size, 3, cells);
            const double v = std::clamp(0.5 + n, 0.0, 1.0);                // grey level
            const double a = strength * std::min(1.0, std::abs(n) * 2.5);  // stronger away from mid-grey
            const uint8_t alpha = uint8_t(std::lround(a * 255));
            const uint8_t grey = uint8_t(std::lround(v * alpha));  // premultiplied
            row[x * 4 + 0] = row[x * 4 + 1] = row[x * 4 + 2] = grey;
            row[x * 4 + 3] = alpha;
        }
    }
    return tile;
}

}  // namespace backdrop
