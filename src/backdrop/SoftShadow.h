#pragma once
// The soft shadow under the screenshot: a rounded rectangle blurred into an
// image. The blur runs at a reduced size (a few pixels of blur are enough
// for a smooth edge once scaled up), so a 5K shadow costs a small picture.
#include "kit/base/Image.h"

namespace backdrop {

struct SoftShadow {
    kit::Image image;   // drawn over `margin` more than the shape on each side
    double margin = 0;  // in the shape's pixels
};

// A shadow of a w × h rounded rectangle (corner radius in pixels) blurred by
// `radius` pixels (about two standard deviations) at `opacity`. Empty for no
// radius, no opacity or no shape.
SoftShadow softShadow(double w, double h, double corner, double radius, double opacity);

}  // namespace backdrop
