#include "backdrop/EdgeAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unordered_map>

namespace backdrop {

namespace {

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
};

Box box(const kit::Image& image, const kit::Rect& crop) {
    const kit::Rect c = clippedCrop(image, crop);
    return {int(c.x()), int(c.y()), int(c.width()), int(c.height())};
}

bool near(const kit::PixelBGRA& a, const kit::PixelBGRA& b, int tolerance) {
    return std::abs(a.b - b.b) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.r - b.r) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

bool rowUniform(const kit::Image& img, int y, int x0, int x1, kit::PixelBGRA ref, int tolerance) {
    for (int x = x0; x < x1; ++x)
        if (!near(img.pixel(x, y), ref, tolerance)) return false;
    return true;
}

bool columnUniform(const kit::Image& img, int x, int y0, int y1, kit::PixelBGRA ref, int tolerance) {
    for (int y = y0; y < y1; ++y)
        if (!near(img.pixel(x, y), ref, tolerance)) return false;
    return true;
}

}  // namespace

kit::Rect clippedCrop(const kit::Image& image, const kit::Rect& crop) {
    if (image.isNull()) return {};
    const double x0 = std::max(0.0, std::floor(crop.x())), y0 = std::max(0.0, std::floor(crop.y()));
    const double x1 = std::min(double(image.width()), std::ceil(crop.x() + crop.width()));
    const double y1 = std::min(double(image.height()), std::ceil(crop.y() + crop.height()));
    if (!(x1 > x0) || !(y1 > y0)) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

std::optional<kit::Color> edgeColor(const kit::Image& image, const kit::Rect& crop) {
    const Box b = box(image, crop);
    if (b.w <= 0 || b.h <= 0) return std::nullopt;
    struct Sum {
        double r = 0, g = 0, b = 0, a = 0;
        int count = 0;
    };
    std::unordered_map<uint32_t, Sum> groups;
    auto take = [&](int x, int y) {
        const kit::PixelBGRA p = image.pixel(x, y);
        const uint32_t key =
            uint32_t(p.r >> 3) << 15 | uint32_t(p.g >> 3) << 10 | uint32_t(p.b >> 3) << 5 | (p.a >> 3);
        Sum& s = groups[key];
        s.r += p.r, s.g += p.g, s.b += p.b, s.a += p.a;
        ++s.count;
    };
    // Every pixel of the ring once; a long edge is sampled at most 4096 times.
    const int stepX = std::max(1, b.w / 4096), stepY = std::max(1, b.h / 4096);
    for (int x = b.x; x < b.x + b.w; x += stepX) {
        take(x, b.y);
        if (b.h > 1) take(x, b.y + b.h - 1);
    }
    for (int y = b.y + 1; y < b.y + b.h - 1; y += stepY) {
        take(b.x, y);
        if (b.w > 1) take(b.x + b.w - 1, y);
    }
    const Sum* best = nullptr;
    for (const auto& [key, s] : groups)
        if (!best || s.count > best->count) best = &s;
    if (!best || best->count == 0 || best->a <= 0) return kit::Color::clear();
    // Premultiplied bytes: divide by the alpha for the colour.
    return kit::Color{std::min(1.0, best->r / best->a), std::min(1.0, best->g / best->a),
                      std::min(1.0, best->b / best->a), best->a / best->count / 255};
}

kit::Rect trimmedCrop(const kit::Image& image, const kit::Rect& crop, int tolerance) {
    const Box b = box(image, crop);
    if (b.w <= 0 || b.h <= 0) return crop;
    int top = b.y, bottom = b.y + b.h, left = b.x, right = b.x + b.w;  // half-open
    const kit::PixelBGRA topRef = image.pixel(left, top), bottomRef = image.pixel(left, bottom - 1);
    while (top < bottom && rowUniform(image, top, left, right, topRef, tolerance)) ++top;
    if (top == bottom) return crop;  // all one colour: nothing to frame
    while (bottom > top && rowUniform(image, bottom - 1, left, right, bottomRef, tolerance)) --bottom;
    // The sides are compared with their corners in what the rows left.
    const kit::PixelBGRA leftRef = image.pixel(left, top), rightRef = image.pixel(right - 1, top);
    while (left < right && columnUniform(image, left, top, bottom, leftRef, tolerance)) ++left;
    while (right > left && columnUniform(image, right - 1, top, bottom, rightRef, tolerance)) --right;
    return {double(left), double(top), double(right - left), double(bottom - top)};
}

}  // namespace backdrop
