#pragma once
// The conceal tool's mosaic: blocks of irregular size that cover an area
// without gaps or overlaps.
#include <functional>
#include <vector>

#include "kit/base/Geometry.h"

namespace imaging {

// Cells of one to three cell sizes (at least 2) covering `rect`; a fresh
// random mosaic on every call.
std::vector<kit::Rect> tileGrid(const kit::Rect& rect, double cell);
// The same with the random numbers (uniform in [0, 1], both ends included)
// drawn from `random01`, so a seeded generator repeats a mosaic.
std::vector<kit::Rect> tileGrid(const kit::Rect& rect, double cell, const std::function<double()>& random01);

}  // namespace imaging
