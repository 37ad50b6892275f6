#pragma once
// Plain geometry values. Views, layers and AppKit-style screen frames use y up
// (origin bottom-left); window-server rectangles (window list, capture rects)
// use y down from the top-left of the primary screen. Conversions live here.
#include <algorithm>
#include <cmath>

namespace kit {

struct Point {
    double x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
    Point operator+(Point o) const { return {x + o.x, y + o.y}; }
    Point operator-(Point o) const { return {x - o.x, y - o.y}; }
    Point operator*(double s) const { return {x * s, y * s}; }
};

struct Size {
    double width = 0, height = 0;
    friend bool operator==(const Size&, const Size&) = default;
    bool isEmpty() const { return !(width > 0) || !(height > 0); }
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(double x, double y, double w, double h) : origin{x, y}, size{w, h} {}
    Rect(Point o, Size s) : origin(o), size(s) {}
    friend bool operator==(const Rect&, const Rect&) = default;

    double x() const { return origin.x; }
    double y() const { return origin.y; }
    double width() const { return size.width; }
    double height() const { return size.height; }
    double minX() const { return std::min(origin.x, origin.x + size.width); }
    double maxX() const { return std::max(origin.x, origin.x + size.width); }
    double minY() const { return std::min(origin.y, origin.y + size.height); }
    double maxY() const { return std::max(origin.y, origin.y + size.height); }
    double midX() const { return origin.x + size.width / 2; }
    double midY() const { return origin.y + size.height / 2; }
    Point center() const { return {midX(), midY()}; }
    bool isEmpty() const { return size.isEmpty(); }

    // Same rectangle with non-negative width and height.
    Rect standardized() const { return {minX(), minY(), maxX() - minX(), maxY() - minY()}; }
    bool contains(Point p) const { return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY(); }
    bool intersects(const Rect& o) const {
        return minX() < o.maxX() && o.minX() < maxX() && minY() < o.maxY() && o.minY() < maxY();
    }
    // Empty (all zero) when the two do not overlap.
    Rect intersection(const Rect& o) const {
        double x1 = std::max(minX(), o.minX()), y1 = std::max(minY(), o.minY());
        double x2 = std::min(maxX(), o.maxX()), y2 = std::min(maxY(), o.maxY());
        if (x2 <= x1 || y2 <= y1) return {};
        return {x1, y1, x2 - x1, y2 - y1};
    }
    Rect united(const Rect& o) const {
        if (isEmpty()) return o.standardized();
        if (o.isEmpty()) return standardized();
        double x1 = std::min(minX(), o.minX()), y1 = std::min(minY(), o.minY());
        double x2 = std::max(maxX(), o.maxX()), y2 = std::max(maxY(), o.maxY());
        return {x1, y1, x2 - x1, y2 - y1};
    }
    Rect insetBy(double dx, double dy) const {
        Rect r = standardized();
        return {r.origin.x + dx, r.origin.y + dy, r.size.width - 2 * dx, r.size.height - 2 * dy};
    }
    Rect offsetBy(double dx, double dy) const {
        return {origin.x + dx, origin.y + dy, size.width, size.height};
    }
    // Smallest rectangle of whole numbers that holds this one.
    Rect integral() const {
        Rect r = standardized();
        double x1 = std::floor(r.minX()), y1 = std::floor(r.minY());
        return {x1, y1, std::ceil(r.maxX()) - x1, std::ceil(r.maxY()) - y1};
    }
};

// The AppKit screen space has its origin at the bottom-left of the primary
// screen, y up; the window-server space has it at the top-left, y down. The
// same rectangle flips about the primary screen's height.
inline Rect flipRect(const Rect& r, double primaryHeight) {
    return {r.origin.x, primaryHeight - r.origin.y - r.size.height, r.size.width, r.size.height};
}
inline Point flipPoint(Point p, double primaryHeight) {
    return {p.x, primaryHeight - p.y};
}

// Affine transform as in the usual graphics convention: x' = a x + c y + tx, y' = b x + d y + ty.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;

    static AffineTransform identity() { return {}; }
    static AffineTransform translation(double x, double y) { return {1, 0, 0, 1, x, y}; }
    static AffineTransform scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    // Counter-clockwise in a y-up space.
    static AffineTransform rotation(double radians) {
        double c = std::cos(radians), s = std::sin(radians);
        return {c, s, -s, c, 0, 0};
    }
    bool isIdentity() const { return *this == AffineTransform{}; }
    // this then o (apply this first, then o).
    AffineTransform concat(const AffineTransform& o) const {
        return {a * o.a + b * o.c, a * o.b + b * o.d,          c * o.a + d * o.c,
                c * o.b + d * o.d, tx * o.a + ty * o.c + o.tx, tx * o.b + ty * o.d + o.ty};
    }
    AffineTransform translated(double x, double y) const { return translation(x, y).concat(*this); }
    AffineTransform scaled(double sx, double sy) const { return scale(sx, sy).concat(*this); }
    AffineTransform rotated(double r) const { return rotation(r).concat(*this); }
    AffineTransform inverted() const {
        double det = a * d - b * c;
        if (det == 0) return *this;
        return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
    }
    Point apply(Point p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    Rect apply(const Rect& r) const {
        Point p[4] = {apply(Point{r.minX(), r.minY()}), apply(Point{r.maxX(), r.minY()}),
                      apply(Point{r.minX(), r.maxY()}), apply(Point{r.maxX(), r.maxY()})};
        double x1 = p[0].x, x2 = p[0].x, y1 = p[0].y, y2 = p[0].y;
        for (auto& q : p) {
            x1 = std::min(x1, q.x);
            x2 = std::max(x2, q.x);
            y1 = std::min(y1, q.y);
            y2 = std::max(y2, q.y);
        }
        return {x1, y1, x2 - x1, y2 - y1};
    }
};

}  // namespace kit
