#pragma once
// A vector path in doubles: subpaths of lines, quadratic and cubic Béziers.
// Plain value with no platform inside; the renderer converts it when drawing.
// Angles are in radians, counter-clockwise from +x in a y-up space, so a
// clockwise arc runs towards decreasing angles.
#include <vector>

#include "kit/base/Geometry.h"

namespace kit {

enum class FillRule { NonZero, EvenOdd };
enum class LineCap { Butt, Round, Square };
enum class LineJoin { Miter, Round, Bevel };

class Path {
public:
    enum class ElementType { MoveTo, LineTo, QuadTo, CubicTo, Close };
    struct Element {
        ElementType type = ElementType::MoveTo;
        // MoveTo/LineTo use pts[0]; QuadTo pts[0] (control), pts[1] (end);
        // CubicTo pts[0], pts[1] (controls), pts[2] (end); Close none.
        Point pts[3];
        friend bool operator==(const Element&, const Element&) = default;
    };

    Path() = default;
    static Path rect(const Rect& r);
    static Path roundedRect(const Rect& r, double rx, double ry);
    static Path ellipse(const Rect& r);

    void moveTo(Point p);
    // Without a current point these start a subpath at p (as moveTo would).
    void lineTo(Point p);
    void quadTo(Point control, Point p);
    void cubicTo(Point c1, Point c2, Point p);
    void closeSubpath();

    // Closed subpaths, counter-clockwise in y-up from the bottom-left corner.
    void addRect(const Rect& r);
    // Radii are clamped to half the width and height; zero gives a plain rectangle.
    void addRoundedRect(const Rect& r, double rx, double ry);
    void addEllipse(const Rect& r);
    // Arc about center from startAngle to endAngle. Clockwise (decreasing
    // angle) when clockwise is true. Joins the current point with a line
    // when there is one, otherwise starts a new subpath at the arc's start.
    void addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise);
    // Open polyline: moveTo the first, lineTo the rest.
    void addLines(const std::vector<Point>& pts);
    void addPath(const Path& other);
    void addPath(const Path& other, const AffineTransform& t);

    bool isEmpty() const { return elements_.empty(); }
    const std::vector<Element>& elements() const { return elements_; }
    // The current point (end of the last element); (0,0) when empty.
    Point currentPoint() const;
    // Smallest rectangle holding the drawn path (curve extrema, not control points).
    Rect bounds() const;

    Path transformed(const AffineTransform& t) const;
    // Polygons approximating the path, one per subpath; curves are split
    // until within tolerance.
    std::vector<std::vector<Point>> flattened(double tolerance = 0.1) const;

    bool contains(Point p, FillRule rule = FillRule::NonZero) const;

    // Boolean operations over the filled areas, each operand read with `rule`.
    // The result holds only lines (curves are flattened finely).
    Path united(const Path& other, FillRule rule = FillRule::NonZero) const;
    Path subtracted(const Path& other, FillRule rule = FillRule::NonZero) const;
    // The outline of the stroke as a fillable (non-zero) path.
    Path stroked(double width, LineCap cap = LineCap::Butt, LineJoin join = LineJoin::Miter,
                 double miterLimit = 10) const;

    friend bool operator==(const Path&, const Path&) = default;

private:
    std::vector<Element> elements_;
    bool hasCurrent_ = false;
    Point start_;  // start of the open subpath
};

}  // namespace kit
