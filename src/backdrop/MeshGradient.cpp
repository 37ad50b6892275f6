#include "backdrop/MeshGradient.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <thread>

#include "kit/base/Dispatch.h"

namespace backdrop {

std::vector<MeshPoint> meshPoints(const std::vector<kit::Color>& colors, uint32_t seed) {
    std::vector<MeshPoint> points;
    uint32_t s = seed * 747796405u + 2891336453u;
    auto next = [&] {
        s = s * 1664525u + 1013904223u;
        return double(s >> 8) / double(1u << 24);
    };
    const size_t n = colors.size();
    for (size_t i = 0; i < n; ++i) {
        // Round the picture's centre, each point in its own sector, so two
        // colours never pile up in one corner.
        const double angle = (double(i) + 0.2 + 0.6 * next()) / double(n) * 2 * std::numbers::pi;
        const double reach = 0.3 + 0.25 * next();
        points.push_back({{0.5 + reach * std::cos(angle), 0.5 + reach * std::sin(angle)}, colors[i]});
    }
    return points;
}

namespace {

// Adds one point's weighted colour to a block's sums (blue, green, red and
// the weights, `span` apart) for `len` pixels.
void accumulate(float* __restrict acc, int span, const float* __restrict rx, int len, float a,
                const float* rgb) {
    float* __restrict B = acc;
    float* __restrict G = acc + span;
    float* __restrict R = acc + 2 * span;
    float* __restrict T = acc + 3 * span;
    const float cb = rgb[0], cg = rgb[1], cr = rgb[2];
    for (int x = 0; x < len; ++x) {
        const float weight = a * rx[x];
        B[x] += weight * cb;
        G[x] += weight * cg;
        R[x] += weight * cr;
        T[x] += weight;
    }
}

// The block's normalised colours as opaque pixels.
void resolve(uint8_t* __restrict row, const float* __restrict acc, int span, int len) {
    const float *B = acc, *G = acc + span, *R = acc + 2 * span, *T = acc + 3 * span;
    for (int x = 0; x < len; ++x) {
        const float inv = 1 / (T[x] + 1e-20f);
        row[x * 4 + 0] = uint8_t(std::min(255.f, B[x] * inv + 0.5f));
        row[x * 4 + 1] = uint8_t(std::min(255.f, G[x] * inv + 0.5f));
        row[x * 4 + 2] = uint8_t(std::min(255.f, R[x] * inv + 0.5f));
        row[x * 4 + 3] = 255;
    }
}

}  // namespace

kit::Image renderMesh(const std::vector<MeshPoint>& points, int w, int h) {
    if (points.empty() || w <= 0 || h <= 0) return {};
    kit::Image img(w, h);
    if (img.isNull()) return {};
    // Each point's weight falls off as a Gaussian of the distance in units of
    // the picture; the weights are normalised, so the blend is opaque.
    // exp(k(dx² + dy²)) = exp(k dx²) · exp(k dy²): two small tables, no exp per pixel.
    const float sigma = 0.28f, k = -1 / (2 * sigma * sigma);
    const size_t n = points.size();
    std::vector<float> wx(size_t(w) * n), wy(size_t(h) * n), rgb(3 * n);
    for (size_t i = 0; i < n; ++i) {
        rgb[3 * i] = float(std::clamp(points[i].color.b, 0.0, 1.0)) * 255;
        rgb[3 * i + 1] = float(std::clamp(points[i].color.g, 0.0, 1.0)) * 255;
        rgb[3 * i + 2] = float(std::clamp(points[i].color.r, 0.0, 1.0)) * 255;
        for (int x = 0; x < w; ++x) {
            const float dx = (x + 0.5f) / float(w) - float(points[i].at.x);
            wx[i * size_t(w) + size_t(x)] = std::exp(k * dx * dx);
        }
        for (int y = 0; y < h; ++y) {
            const float dy = (y + 0.5f) / float(h) - float(points[i].at.y);
            wy[size_t(y) * n + i] = std::exp(k * dy * dy);
        }
    }
    uint8_t* bits = img.mutableBits();
    const size_t stride = img.bytesPerRow();
    // Row by row in blocks of pixels, point by point over the block: the
    // inner loops run straight along memory over arrays that do not overlap
    // and stay in the first-level cache, which the compiler vectorises.
    constexpr int kBlock = 256;
    auto rows = [&](int y0, int y1) {
        std::vector<float> acc(4 * kBlock);
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = bits + size_t(y) * stride;
            for (int x0 = 0; x0 < w; x0 += kBlock) {
                const int len = std::min(kBlock, w - x0);
                std::fill(acc.begin(), acc.end(), 0.f);
                for (size_t i = 0; i < n; ++i)
                    accumulate(acc.data(), kBlock, &wx[i * size_t(w) + size_t(x0)], len,
                               wy[size_t(y) * n + i], &rgb[3 * i]);
                resolve(row + size_t(x0) * 4, acc.data(), kBlock, len);
            }
        }
    };
    // An export-sized mesh is shared among the cores in bands of rows.
    const int bands = std::clamp(int(int64_t(w) * h / (1 << 19)), 1, int(kit::usableCores()));
    kit::runInBands(
        bands, [&](int band) { rows(int(int64_t(h) * band / bands), int(int64_t(h) * (band + 1) / bands)); });
    return img;
}

kit::Size meshPreviewSize(double w, double h) {
    if (!(w > 0) || !(h > 0)) return {1, 1};
    const double f = std::min(1.0, kMeshPreviewSide / std::max(w, h));
    return {std::max(1.0, std::round(w * f)), std::max(1.0, std::round(h * f))};
}

}  // namespace backdrop
