#pragma once
// The shared geometry record: a start corner and an extent that may be
// negative (lines, arrows and counters keep a vector from the start point).
#include <optional>

#include "kit/base/Geometry.h"
#include "kit/base/Json.h"

namespace services {

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
    // Negative extents turned round: the same area with width and height >= 0.
    void normalize();

    kit::Rect toKit() const { return {x1, y1, width, height}; }
    static Rect fromKit(const kit::Rect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

    // The JSON object {"x1", "y1", "width", "height"}. Reading needs all four
    // keys as numbers (extra keys are ignored); absent otherwise.
    kit::Json toJson() const;
    static std::optional<Rect> fromJson(const kit::Json& json);
};

// nlohmann conversions for records that hold a Rect; from_json throws a
// json type error when a key is missing or not a number, failing the read of
// the enclosing record.
void to_json(kit::Json& json, const Rect& rect);
void from_json(const kit::Json& json, Rect& rect);

}  // namespace services
