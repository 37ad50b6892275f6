#include "services/Rect.h"

#include <algorithm>

namespace services {

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

kit::Json Rect::toJson() const {
    return {{"x1", x1}, {"y1", y1}, {"width", width}, {"height", height}};
}

std::optional<Rect> Rect::fromJson(const kit::Json& json) {
    auto x = kit::json::doubleAt(json, "x1"), y = kit::json::doubleAt(json, "y1");
    auto w = kit::json::doubleAt(json, "width"), h = kit::json::doubleAt(json, "height");
    if (!x || !y || !w || !h) return std::nullopt;
    return Rect{*x, *y, *w, *h};
}

void to_json(kit::Json& json, const Rect& rect) {
    json = rect.toJson();
}

void from_json(const kit::Json& json, Rect& rect) {
    std::optional<Rect> read = Rect::fromJson(json);
    if (!read)
        throw kit::Json::type_error::create(302, "Rect needs the numbers x1, y1, width and height", &json);
    rect = *read;
}

void Rect::normalize() {
    if (width < 0) {
        x1 += width;
        width = -width;
    }
    if (height < 0) {
        y1 += height;
        height = -height;
    }
}

}  // namespace services
