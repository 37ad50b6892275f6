#pragma once
// What the backdrop reads of the screenshot's own pixels: the colour of its
// edge (the canvas colour shown where the canvas grows past the screenshot)
// and the uniform borders the automatic crop trims. Pure functions over an
// image and a crop rectangle (pixels, rows from the top); any thread.
#include <optional>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace backdrop {

// The crop clipped to the image, edges made whole; empty when nothing is left.
kit::Rect clippedCrop(const kit::Image& image, const kit::Rect& crop);

// The most common colour of the crop's outermost ring of pixels (colours
// closer than a few levels count as one), averaged over that group. None
// for an empty crop.
std::optional<kit::Color> edgeColor(const kit::Image& image, const kit::Rect& crop);

// The crop without the rows and columns along its edges that are all one
// colour (each side compared with its own corner pixel, within `tolerance`
// levels a channel). A crop that is one colour throughout comes back as it
// was; so does an empty one.
kit::Rect trimmedCrop(const kit::Image& image, const kit::Rect& crop, int tolerance = 6);

}  // namespace backdrop
