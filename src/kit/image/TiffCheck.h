#pragma once
// The head check of a TIFF file (kit internal), run by this program on every
// open, drop, paste and library walk and again by the decoder program. It
// reads the first directory and the arrays it names, each once, the arrays
// together at most kMostTiffValues values, and reads no pixel data.
#include <QByteArray>
#include <functional>

namespace kit::ImageIO::detail {

// Up to n bytes of the file at `at`; fewer at its end, none past it.
using ReadAt = std::function<QByteArray(long long at, long long n)>;

// The most values the check reads of the arrays of one directory together
// (strip or tile places, their lengths, the bits of each sample): at 4
// bytes a value, 4 MB. A real directory holds far fewer: a picture at the
// pixel cap in strips of 8 KB has 2^17.
constexpr long long kMostTiffValues = 1LL << 20;

// Why a TIFF of `size` bytes is refused by what its first directory says,
// or null when the decoder is left to judge it: a part that lies past the
// file's end (cut short, or damaged when it begins more than the file's own
// size beyond that end), a field the check reads named twice, arrays past
// the bound above, or deflated strips too short to hold the pixels they
// declare.
const char* tiffRefusal(const ReadAt& read, long long size);

}  // namespace kit::ImageIO::detail
