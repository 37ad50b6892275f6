#pragma once
// The crop tool's magic selection: the bounding box of the connected area of
// similar colour around a clicked pixel.
#include "imaging/Capture.h"
#include "kit/base/Geometry.h"

namespace imaging {

// The box (crop pixels, y up) of the region around pixel (x, y), whose values
// are truncated to whole pixels. {x, y, 0, 0} when the region grew past
// 4,000,000 square pixels, when there is no buffer, or when the pixel lies
// outside the crop.
kit::Rect scanlineFloodFill(const Capture& capture, double x, double y);

}  // namespace imaging
