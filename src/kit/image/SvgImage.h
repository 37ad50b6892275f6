#pragma once
// Vector pictures drawn into bitmaps: an SVG document rendered at a size in
// points and a scale (pixels per point), so the same drawing is sharp on
// screens of any device-pixel ratio.
#include <string>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace kit {

// The document's own size in points (its viewBox, else width and height);
// empty when the text is no SVG that can be drawn.
Size svgSize(const std::string& svg);
// The document fitted into size × scale pixels; the image carries that scale.
// A null image when the text is no SVG that can be drawn or the size is empty.
Image renderSvg(const std::string& svg, Size size, double scale);

// True when the application's palette is dark (light text on dark windows).
bool applicationIsDark();

}  // namespace kit
