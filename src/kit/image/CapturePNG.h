#pragma once
// A fast PNG encoder for screen captures: screenshots are written while the
// user waits, so this trades a little file size for speed (fast deflate, the
// "up" row filter, RGB without alpha for opaque images). Reads back with any
// PNG decoder, ImageIO included.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace kit {

// Text chunks (tEXt: Latin-1 keyword, text) go before the image data. Empty
// bytes for a null image.
std::vector<uint8_t> encodeCapturePNG(const Image& image,
                                      const std::map<std::string, std::string>& text = {});

}  // namespace kit
