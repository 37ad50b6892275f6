#include "kit/Blur.h"

namespace kit {

Image gaussianBlur(const Image& image, double) {
    return image.copy();
}
void gaussianBlurInPlace(uint8_t*, int, int, size_t, double) {}
void gaussianBlurAlpha(uint8_t*, int, int, size_t, double) {}

}  // namespace kit
