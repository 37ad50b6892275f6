#include "services/Rect.h"

#include <algorithm>

namespace {
struct Span {
    double low, high;
};
Span span(double start, double extent) {
    return {std::min(start, start + extent), std::max(start, start + extent)};
}
}  // namespace

void Rect::intersect(const Rect& other) {
    Span ax = span(x1, width), ay = span(y1, height);
    Span bx = span(other.x1, other.width), by = span(other.y1, other.height);
    x1 = std::max(ax.low, bx.low);
    y1 = std::max(ay.low, by.low);
    width = std::max(0.0, std::min(ax.high, bx.high) - x1);
    height = std::max(0.0, std::min(ay.high, by.high) - y1);
}
