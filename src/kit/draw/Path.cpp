#include "kit/draw/Path.h"

#include <QPainterPath>
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "kit/draw/qt/QtPath.h"

namespace kit {

using ET = Path::ElementType;

// Cubic control distance for a quarter circle of radius 1.
static constexpr double kQuarterArc = 0.5522847498307936;

Path Path::rect(const Rect& r) {
    Path p;
    p.addRect(r);
    return p;
}
Path Path::roundedRect(const Rect& r, double rx, double ry) {
    Path p;
    p.addRoundedRect(r, rx, ry);
    return p;
}
Path Path::ellipse(const Rect& r) {
    Path p;
    p.addEllipse(r);
    return p;
}

void Path::moveTo(Point p) {
    elements_.push_back({ET::MoveTo, {p, {}, {}}});
    hasCurrent_ = true;
    start_ = p;
}

void Path::lineTo(Point p) {
    if (!hasCurrent_) return moveTo(p);
    elements_.push_back({ET::LineTo, {p, {}, {}}});
}

void Path::quadTo(Point c, Point p) {
    if (!hasCurrent_) moveTo(c);
    elements_.push_back({ET::QuadTo, {c, p, {}}});
}

void Path::cubicTo(Point c1, Point c2, Point p) {
    if (!hasCurrent_) moveTo(c1);
    elements_.push_back({ET::CubicTo, {c1, c2, p}});
}

void Path::closeSubpath() {
    if (!hasCurrent_ || elements_.empty() || elements_.back().type == ET::Close) return;
    // After a close the current point is the subpath's start; a following
    // lineTo continues from there.
    elements_.push_back({ET::Close, {}});
}

Point Path::currentPoint() const {
    if (elements_.empty()) return {};
    const Element& e = elements_.back();
    switch (e.type) {
        case ET::MoveTo:
        case ET::LineTo:
            return e.pts[0];
        case ET::QuadTo:
            return e.pts[1];
        case ET::CubicTo:
            return e.pts[2];
        case ET::Close:
            return start_;
    }
    return {};
}

void Path::addRect(const Rect& r0) {
    Rect r = r0.standardized();
    moveTo({r.minX(), r.minY()});
    lineTo({r.maxX(), r.minY()});
    lineTo({r.maxX(), r.maxY()});
    lineTo({r.minX(), r.maxY()});
    closeSubpath();
}

void Path::addRoundedRect(const Rect& r0, double rx, double ry) {
    Rect r = r0.standardized();
    rx = std::clamp(rx, 0.0, r.width() / 2);
    ry = std::clamp(ry, 0.0, r.height() / 2);
    if (rx <= 0 || ry <= 0) return addRect(r);
    double x1 = r.minX(), x2 = r.maxX(), y1 = r.minY(), y2 = r.maxY();
    double kx = rx * kQuarterArc, ky = ry * kQuarterArc;
    moveTo({x1 + rx, y1});
    lineTo({x2 - rx, y1});
    cubicTo({x2 - rx + kx, y1}, {x2, y1 + ry - ky}, {x2, y1 + ry});
    lineTo({x2, y2 - ry});
    cubicTo({x2, y2 - ry + ky}, {x2 - rx + kx, y2}, {x2 - rx, y2});
    lineTo({x1 + rx, y2});
    cubicTo({x1 + rx - kx, y2}, {x1, y2 - ry + ky}, {x1, y2 - ry});
    lineTo({x1, y1 + ry});
    cubicTo({x1, y1 + ry - ky}, {x1 + rx - kx, y1}, {x1 + rx, y1});
    closeSubpath();
}

void Path::addEllipse(const Rect& r0) {
    Rect r = r0.standardized();
    double cx = r.midX(), cy = r.midY(), rx = r.width() / 2, ry = r.height() / 2;
    double kx = rx * kQuarterArc, ky = ry * kQuarterArc;
    moveTo({cx + rx, cy});
    cubicTo({cx + rx, cy + ky}, {cx + kx, cy + ry}, {cx, cy + ry});
    cubicTo({cx - kx, cy + ry}, {cx - rx, cy + ky}, {cx - rx, cy});
    cubicTo({cx - rx, cy - ky}, {cx - kx, cy - ry}, {cx, cy - ry});
    cubicTo({cx + kx, cy - ry}, {cx + rx, cy - ky}, {cx + rx, cy});
    closeSubpath();
}

void Path::addArc(Point c, double radius, double a0, double a1, bool clockwise) {
    constexpr double twoPi = 2 * std::numbers::pi;
    // The sweep: counter-clockwise arcs increase the angle, clockwise ones
    // decrease it, each by less than a full turn unless the ends coincide
    // after more than one (then it is a whole circle).
    double sweep = a1 - a0;
    if (clockwise) {
        if (sweep > 0) sweep = std::fmod(sweep, twoPi) - twoPi;
        if (sweep < -twoPi) sweep = -twoPi;
    } else {
        if (sweep < 0) sweep = std::fmod(sweep, twoPi) + twoPi;
        if (sweep > twoPi) sweep = twoPi;
    }
    Point start{c.x + radius * std::cos(a0), c.y + radius * std::sin(a0)};
    if (hasCurrent_)
        lineTo(start);
    else
        moveTo(start);
    if (sweep == 0 || radius <= 0) return;
    int n = std::max(1, int(std::ceil(std::fabs(sweep) / (std::numbers::pi / 2) - 1e-9)));
    double step = sweep / n;
    double k = 4.0 / 3.0 * std::tan(step / 4);  // control length for one segment of the unit circle
    double a = a0;
    for (int i = 0; i < n; ++i) {
        double b = a + step;
        Point p0{std::cos(a), std::sin(a)}, p3{std::cos(b), std::sin(b)};
        Point c1{p0.x - k * p0.y, p0.y + k * p0.x};
        Point c2{p3.x + k * p3.y, p3.y - k * p3.x};
        cubicTo(c + c1 * radius, c + c2 * radius, c + p3 * radius);
        a = b;
    }
}

void Path::addLines(const std::vector<Point>& pts) {
    if (pts.empty()) return;
    moveTo(pts.front());
    for (size_t i = 1; i < pts.size(); ++i) lineTo(pts[i]);
}

void Path::addPath(const Path& o) {
    addPath(o, {});
}

void Path::addPath(const Path& o, const AffineTransform& t) {
    for (const Element& e : o.elements_) {
        switch (e.type) {
            case ET::MoveTo:
                moveTo(t.apply(e.pts[0]));
                break;
            case ET::LineTo:
                lineTo(t.apply(e.pts[0]));
                break;
            case ET::QuadTo:
                quadTo(t.apply(e.pts[0]), t.apply(e.pts[1]));
                break;
            case ET::CubicTo:
                cubicTo(t.apply(e.pts[0]), t.apply(e.pts[1]), t.apply(e.pts[2]));
                break;
            case ET::Close:
                closeSubpath();
                break;
        }
    }
}

Path Path::transformed(const AffineTransform& t) const {
    Path p;
    p.addPath(*this, t);
    return p;
}

Rect Path::bounds() const {
    if (elements_.empty()) return {};
    QRectF r = qt::toQPainterPath(*this).boundingRect();
    return {r.x(), r.y(), r.width(), r.height()};
}

std::vector<std::vector<Point>> Path::flattened(double tolerance) const {
    std::vector<std::vector<Point>> out;
    tolerance = std::max(tolerance, 1e-4);
    Point cur, start;
    auto segments = [&](double len) {
        return std::clamp(int(std::ceil(std::sqrt(len / tolerance))), 1, 1000);
    };
    for (const Element& e : elements_) {
        switch (e.type) {
            case ET::MoveTo:
                out.push_back({e.pts[0]});
                cur = start = e.pts[0];
                break;
            case ET::LineTo:
                if (out.empty()) out.push_back({cur});
                out.back().push_back(e.pts[0]);
                cur = e.pts[0];
                break;
            case ET::QuadTo: {
                if (out.empty()) out.push_back({cur});
                Point a = cur, c = e.pts[0], b = e.pts[1];
                double len = std::hypot(c.x - a.x, c.y - a.y) + std::hypot(b.x - c.x, b.y - c.y);
                int n = segments(len);
                for (int i = 1; i <= n; ++i) {
                    double t = double(i) / n, u = 1 - t;
                    out.back().push_back(a * (u * u) + c * (2 * u * t) + b * (t * t));
                }
                cur = b;
                break;
            }
            case ET::CubicTo: {
                if (out.empty()) out.push_back({cur});
                Point a = cur, c1 = e.pts[0], c2 = e.pts[1], b = e.pts[2];
                double len = std::hypot(c1.x - a.x, c1.y - a.y) + std::hypot(c2.x - c1.x, c2.y - c1.y) +
                             std::hypot(b.x - c2.x, b.y - c2.y);
                int n = segments(len);
                for (int i = 1; i <= n; ++i) {
                    double t = double(i) / n, u = 1 - t;
                    out.back().push_back(a * (u * u * u) + c1 * (3 * u * u * t) + c2 * (3 * u * t * t) +
                                         b * (t * t * t));
                }
                cur = b;
                break;
            }
            case ET::Close:
                if (!out.empty() && !out.back().empty() && !(out.back().back() == start))
                    out.back().push_back(start);
                cur = start;
                break;
        }
    }
    return out;
}

bool Path::contains(Point p, FillRule rule) const {
    // Winding number over the flattened polygons: every subpath counts as closed.
    int winding = 0, crossings = 0;
    for (const auto& poly : flattened(0.05)) {
        size_t n = poly.size();
        for (size_t i = 0; i < n; ++i) {
            Point a = poly[i], b = poly[(i + 1) % n];
            if ((a.y <= p.y) == (b.y <= p.y)) continue;
            double x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (x > p.x) {
                winding += b.y > a.y ? 1 : -1;
                ++crossings;
            }
        }
    }
    return rule == FillRule::EvenOdd ? (crossings & 1) : winding != 0;
}

static bool ringContains(const std::vector<Point>& ring, Point p) {
    bool in = false;
    for (size_t i = 0, n = ring.size(); i < n; ++i) {
        Point a = ring[i], b = ring[(i + 1) % n];
        if ((a.y <= p.y) != (b.y <= p.y) && a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y) > p.x) in = !in;
    }
    return in;
}

// Boolean results are rings meant for even-odd filling. Orient them so the
// non-zero rule fills the same area: rings at an even nesting depth
// counter-clockwise (y up), holes inside them clockwise.
static Path orientRings(const Path& p) {
    auto rings = p.flattened();
    Path out;
    for (size_t i = 0; i < rings.size(); ++i) {
        auto& ring = rings[i];
        if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
        if (ring.size() < 3) continue;
        double area = 0;
        size_t longest = 0;
        double best = -1;
        for (size_t k = 0; k < ring.size(); ++k) {
            Point a = ring[k], b = ring[(k + 1) % ring.size()];
            area += a.x * b.y - b.x * a.y;
            double len = std::hypot(b.x - a.x, b.y - a.y);
            if (len > best) best = len, longest = k;
        }
        // Probe the middle of the longest edge: rings may touch at vertices.
        Point a = ring[longest], b = ring[(longest + 1) % ring.size()];
        Point probe = (a + b) * 0.5;
        int depth = 0;
        for (size_t j = 0; j < rings.size(); ++j)
            if (j != i && rings[j].size() >= 3 && ringContains(rings[j], probe)) ++depth;
        if ((depth % 2 == 0) != (area > 0)) std::reverse(ring.begin(), ring.end());
        out.addLines(ring);
        out.closeSubpath();
    }
    return out;
}

static Path booleanOp(const Path& a, const Path& b, FillRule rule, bool unite) {
    QPainterPath qa = qt::toQPainterPath(a, rule), qb = qt::toQPainterPath(b, rule);
    return orientRings(qt::fromQPainterPath(unite ? qa.united(qb) : qa.subtracted(qb)));
}

Path Path::united(const Path& o, FillRule rule) const {
    return booleanOp(*this, o, rule, true);
}
Path Path::subtracted(const Path& o, FillRule rule) const {
    return booleanOp(*this, o, rule, false);
}

Path Path::stroked(double width, LineCap cap, LineJoin join, double miterLimit) const {
    if (width <= 0 || elements_.empty()) return {};
    QPainterPathStroker s;
    s.setWidth(width);
    s.setCapStyle(qt::toQt(cap));
    s.setJoinStyle(qt::toQt(join));
    s.setMiterLimit(qt::toQtMiterLimit(miterLimit));
    return qt::fromQPainterPath(s.createStroke(qt::toQPainterPath(*this)));
}

}  // namespace kit
