#include "backdrop/MeshGradient.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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

kit::Image renderMesh(const std::vector<MeshPoint>& points, int w, int h) {
    if (points.empty() || w <= 0 || h <= 0) return {};
    kit::Image img(w, h);
    if (img.isNull()) return {};
    // Each point's weight falls off as a Gaussian of the distance in units of
    // the picture; the weights are normalised, so the blend is opaque.
    const double sigma = 0.28, k = -1 / (2 * sigma * sigma);
    const size_t n = points.size();
    std::vector<double> wx(size_t(w) * n), wy(size_t(h) * n);
    // exp(k(dx² + dy²)) = exp(k dx²) · exp(k dy²): two small tables, no exp per pixel.
    for (int x = 0; x < w; ++x)
        for (size_t i = 0; i < n; ++i) {
            const double dx = (x + 0.5) / w - points[i].at.x;
            wx[size_t(x) * n + i] = std::exp(k * dx * dx);
        }
    for (int y = 0; y < h; ++y)
        for (size_t i = 0; i < n; ++i) {
            const double dy = (y + 0.5) / h - points[i].at.y;
            wy[size_t(y) * n + i] = std::exp(k * dy * dy);
        }
    uint8_t* bits = img.mutableBits();
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bits + size_t(y) * img.bytesPerRow();
        const double* ry = &wy[size_t(y) * n];
        for (int x = 0; x < w; ++x) {
            const double* rx = &wx[size_t(x) * n];
            double r = 0, g = 0, b = 0, total = 0;
            for (size_t i = 0; i < n; ++i) {
                const double weight = rx[i] * ry[i] + 1e-12;
                r += weight * points[i].color.r;
                g += weight * points[i].color.g;
                b += weight * points[i].color.b;
                total += weight;
            }
            row[x * 4 + 0] = uint8_t(std::lround(std::clamp(b / total, 0.0, 1.0) * 255));
            row[x * 4 + 1] = uint8_t(std::lround(std::clamp(g / total, 0.0, 1.0) * 255));
            row[x * 4 + 2] = uint8_t(std::lround(std::clamp(r / total, 0.0, 1.0) * 255));
            row[x * 4 + 3] = 255;
        }
    }
    return img;
}

kit::Size meshPreviewSize(double w, double h) {
    if (!(w > 0) || !(h > 0)) return {1, 1};
    const double f = std::min(1.0, kMeshPreviewSide / std::max(w, h));
    return {std::max(1.0, std::round(w * f)), std::max(1.0, std::round(h * f))};
}

}  // namespace backdrop
