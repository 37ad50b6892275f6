#pragma once
// Bridges between kit::Path and QPainterPath (kit-internal).
#include <QPainterPath>
#include <QPen>

#include "kit/draw/Path.h"

namespace kit::qt {

inline QPainterPath toQPainterPath(const Path& p, FillRule rule = FillRule::NonZero) {
    QPainterPath q;
    q.setFillRule(rule == FillRule::EvenOdd ? Qt::OddEvenFill : Qt::WindingFill);
    for (const auto& e : p.elements()) {
        const Point* v = e.pts;
        switch (e.type) {
            case Path::ElementType::MoveTo:
                q.moveTo(v[0].x, v[0].y);
                break;
            case Path::ElementType::LineTo:
                q.lineTo(v[0].x, v[0].y);
                break;
            case Path::ElementType::QuadTo:
                q.quadTo(v[0].x, v[0].y, v[1].x, v[1].y);
                break;
            case Path::ElementType::CubicTo:
                q.cubicTo(v[0].x, v[0].y, v[1].x, v[1].y, v[2].x, v[2].y);
                break;
            case Path::ElementType::Close:
                q.closeSubpath();
                break;
        }
    }
    return q;
}

// Subpaths that end where they began come back closed.
inline Path fromQPainterPath(const QPainterPath& q) {
    Path p;
    Point start;
    bool open = false;
    auto finish = [&] {
        if (open && p.currentPoint() == start) p.closeSubpath();
        open = false;
    };
    for (int i = 0; i < q.elementCount(); ++i) {
        QPainterPath::Element e = q.elementAt(i);
        switch (e.type) {
            case QPainterPath::MoveToElement:
                finish();
                start = {e.x, e.y};
                p.moveTo(start);
                open = true;
                break;
            case QPainterPath::LineToElement:
                p.lineTo({e.x, e.y});
                break;
            case QPainterPath::CurveToElement: {
                if (i + 2 >= q.elementCount()) return p;
                QPainterPath::Element c2 = q.elementAt(i + 1), end = q.elementAt(i + 2);
                p.cubicTo({e.x, e.y}, {c2.x, c2.y}, {end.x, end.y});
                i += 2;
                break;
            }
            case QPainterPath::CurveToDataElement:
                break;
        }
    }
    finish();
    return p;
}

// Our miter limit is the miter's length over the line width; Qt measures
// from the join point in line widths, which is half of that.
inline double toQtMiterLimit(double limit) {
    return limit / 2;
}

inline Qt::PenCapStyle toQt(LineCap c) {
    switch (c) {
        case LineCap::Butt:
            return Qt::FlatCap;
        case LineCap::Round:
            return Qt::RoundCap;
        case LineCap::Square:
            return Qt::SquareCap;
    }
    return Qt::FlatCap;
}

inline Qt::PenJoinStyle toQt(LineJoin j) {
    switch (j) {
        case LineJoin::Miter:
            return Qt::SvgMiterJoin;
        case LineJoin::Round:
            return Qt::RoundJoin;
        case LineJoin::Bevel:
            return Qt::BevelJoin;
    }
    return Qt::SvgMiterJoin;
}

}  // namespace kit::qt
