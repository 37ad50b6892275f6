#pragma once
// The shared geometry record: a start corner and an extent that may be
// negative (lines, arrows and counters keep a vector from the start point).
#include "kit/Geometry.h"

struct Rect {
    double x1 = 0;
    double y1 = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const Rect&, const Rect&) = default;

    // Becomes the intersection with `other`. Disjoint rectangles give an empty
    // rectangle placed at the larger low edges (not at the origin), so callers
    // that clamp a selection keep its position.
    void intersect(const Rect& other);

    kit::Rect toKit() const { return {x1, y1, width, height}; }
    static Rect fromKit(const kit::Rect& r) { return {r.x(), r.y(), r.width(), r.height()}; }
};
