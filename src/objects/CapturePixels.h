#pragma once
// The capture's pixels under a whole-pixel area of the crop (x right, y up),
// copied through the capture's one bounds-checked mapping, so a cropped
// screenshot gives the pixels under the area and the part past the image
// stays transparent. A null image when there are no pixels or the area is empty.
#include "imaging/Capture.h"
#include "kit/base/Image.h"

namespace objects {

kit::Image capturePixels(const imaging::Capture& capture, long long x0, long long y0, int width, int height);

}  // namespace objects
