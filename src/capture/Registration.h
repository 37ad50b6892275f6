#pragma once
// Translational registration of two frames of the same scrolled region: how
// far the content moved vertically between them. Our own algorithm: grey row
// blocks of the central columns, a coarse search on a downscaled copy, then
// a refinement at full resolution around the coarse answer.
#include <optional>

#include "kit/Image.h"

namespace capture {

struct Shift {
    int dy = 0;       // pixels; positive when the content moved up (scrolled down)
    double cost = 0;  // mean absolute grey difference over the overlap at dy
};

// The vertical shift of `next` against `prev`: row r of `next` shows what row
// r + dy of `prev` showed. Shifts up to `maxShift` pixels either way are
// searched (0: up to 0.7 of the height). Absent when the frames differ in
// size, are too small, or no shift makes them agree.
std::optional<Shift> registerFrames(const kit::Image& prev, const kit::Image& next, int maxShift = 0);

}  // namespace capture
