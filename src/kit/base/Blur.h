#pragma once
// Separable Gaussian blur of premultiplied images: three box passes per axis
// approximating a Gaussian of the given sigma (in pixels).
#include "kit/base/Image.h"

namespace kit {

// A blurred copy; the same size (edges fade to transparent beyond the image).
Image gaussianBlur(const Image& image, double sigma);
// In place on raw premultiplied BGRA rows.
void gaussianBlurInPlace(uint8_t* bits, int width, int height, size_t stride, double sigma);
// In place on one byte a pixel (alpha masks, grey maps).
void gaussianBlurAlpha(uint8_t* bits, int width, int height, size_t stride, double sigma);

}  // namespace kit
