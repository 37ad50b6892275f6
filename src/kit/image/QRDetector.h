#pragma once
// QR-code detection over ZXing. Synchronous on the calling thread.
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace kit {

class QRDetector {
public:
    // The messages of every QR code in the image, in the detector's order.
    static std::vector<std::string> detect(const Image& image);
    // `text` as a QR code, black modules on white with a quiet zone, about
    // `size` pixels square; empty when the text does not fit a code.
    static Image encode(const std::string& text, int size);
};

}  // namespace kit
