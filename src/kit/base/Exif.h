#pragma once
// The EXIF user comment of JPEG files: written as an APP1 segment of our own
// (a little-endian TIFF structure holding only the comment, in the ASCII
// character code) and read back from any JPEG that carries one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit::Exif {

using Bytes = std::vector<uint8_t>;

// The JPEG with an APP1 segment carrying `comment` placed after the start
// marker and a JFIF header when there is one; an existing EXIF segment is
// replaced. Empty when the data is not a JPEG or the comment does not fit a
// segment (64 KB).
Bytes withUserComment(const Bytes& jpeg, std::string_view comment);
// The user comment (without its 8-byte character-code prefix); absent when
// the JPEG has no EXIF segment or no comment in it.
std::optional<std::string> userComment(const Bytes& jpeg);

}  // namespace kit::Exif
