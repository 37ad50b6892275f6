#pragma once
// Colours read straight from the capture's pixel buffer, and the small colour
// helpers used wherever a colour is stored as text.
#include <string>
#include <string_view>

#include "imaging/Capture.h"
#include "imaging/ColorFormats.h"
#include "kit/base/Color.h"
#include "kit/base/Geometry.h"

namespace imaging {

// The colour at an image point (x right, y up, in points of the prepared
// image's pixels). Opaque black with packed 0 outside the image or the buffer.
SampledColor colorAt(const Capture& capture, double x, double y);

// The average ("average") or darkest ("darkest") colour of a selection in
// crop coordinates. Only pixels inside both the crop and the buffer count.
SampledColor avgColorFast(const Capture& capture, const kit::Rect& selection, std::string_view mode);

// The colour's hue at full strength: largest component 1, smallest 0.
kit::Color pureHue(const kit::Color& color);

// Six hex digits (with any "#", any case, blanks around) -> sRGB colour with
// that alpha; anything else gives opaque black.
kit::Color cgColor(std::string_view hex, double alpha);

// "#RRGGBB" in upper case.
std::string hexString(const kit::Color& color);

}  // namespace imaging
