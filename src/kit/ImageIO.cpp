#include "kit/ImageIO.h"

namespace kit::ImageIO {

Image decode(const Bytes&, double) {
    return {};
}
Image read(const std::string&, double) {
    return {};
}
Size pixelSize(const std::string&) {
    return {};
}
Bytes encodePNG(const Image&, const TextChunks&) {
    return {};
}
Bytes encodeJPEG(const Image&, double) {
    return {};
}
TextChunks pngText(const Bytes&) {
    return {};
}
TextChunks readPNGText(const std::string&) {
    return {};
}

}  // namespace kit::ImageIO
