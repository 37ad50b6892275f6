#pragma once
// Conversions from kit's value types to Qt's, shared by every file that hands
// colours and rectangles to QPainter or a widget. Colours are clamped to 0…1:
// a stored colour out of range must paint as its nearest colour, not as
// Qt's invalid one.
#include <QColor>
#include <QRectF>
#include <algorithm>
#include <cmath>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"

namespace kit::qt {

inline QColor toQColor(const Color& c) {
    QColor q;
    q.setRgbF(float(std::clamp(c.r, 0.0, 1.0)), float(std::clamp(c.g, 0.0, 1.0)),
              float(std::clamp(c.b, 0.0, 1.0)), float(std::clamp(c.a, 0.0, 1.0)));
    return q;
}

inline QRectF toQRect(const Rect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

inline int roundi(double v) {
    return int(std::lround(v));
}

}  // namespace kit::qt
