#pragma once
// String and data functions shared by every subsystem. Stateless; safe on any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Image.h"

namespace services {

using Bytes = std::vector<uint8_t>;

class Str {
public:
    Str() = delete;

    // SHA-256 digest: 32 bytes.
    static Bytes sha256(const Bytes& data);
    // Two lower-case hexadecimal digits a byte, in order.
    static std::string hex(const Bytes& data);
    // The number in base 26 with the digits "a" (0) to "z" (25); "" below 1.
    static std::string letters(int64_t number);
    // The digits of the text read as one decimal number ("a1b2" gives 12);
    // 0 when none are left or the number does not fit.
    static int64_t intFromDigits(std::string_view text);
    // `length` user-perceived characters from `from`; the whole text when the
    // range does not lie inside it.
    static std::string substring(const std::string& text, int64_t from, int64_t length);
    // Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
    static bool isValidUTF8(std::string_view text);
    // Number of user-perceived characters (grapheme clusters) of UTF-8 text.
    static size_t characterCount(std::string_view text);
};

// Redraws an image at a new pixel size: smooth (medium) interpolation when
// `quality` is set, nearest pixel otherwise. No image for a size that is not
// a positive whole number of pixels or for a null image.
std::optional<kit::Image> resizeImage(const kit::Image& image, bool quality, double width, double height);

}  // namespace services
