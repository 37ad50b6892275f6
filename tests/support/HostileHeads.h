#pragma once
// Files built to cost the head checks the most, and ordinary files of the
// same kinds, for the checks' tests and their benchmark: a TIFF directory
// written field by field, an uncompressed TIFF laid out as most writers
// lay one out, PNG chunks, an icon directory and a picture of noise. No
// test framework here: the benchmark builds the same files.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace testsupport {

// `bytes` bytes of v, least significant first unless bigEndian.
inline std::string numberBytes(uint64_t v, int bytes, bool bigEndian = false) {
    std::string out(size_t(bytes), '\0');
    for (int i = 0; i < bytes; ++i) out[size_t(bigEndian ? bytes - 1 - i : i)] = char(v >> (8 * i));
    return out;
}

// One entry of a TIFF directory: a field's tag, the type of its values
// (kTiffShort, kTiffLong), how many, and the values themselves where they fit
// in four bytes, or where they lie.
constexpr uint16_t kTiffShort = 3, kTiffLong = 4;
struct TiffField {
    uint16_t tag, type;
    uint32_t count, value;
};

// Where the bytes after a directory of n fields begin: the 8-byte header,
// the directory's count, its fields and the place of the next (none).
constexpr uint32_t tiffTailAt(size_t fields) {
    return uint32_t(8 + 2 + 12 * fields + 4);
}

// A TIFF whose one directory follows its header, then `tail`.
inline std::string tiffOf(const std::vector<TiffField>& fields, const std::string& tail = {},
                          bool bigEndian = false) {
    const auto n = [bigEndian](uint64_t v, int bytes) { return numberBytes(v, bytes, bigEndian); };
    std::string out = bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
    out += n(8, 4) + n(fields.size(), 2);
    for (const TiffField& f : fields) {
        out += n(f.tag, 2) + n(f.type, 2) + n(f.count, 4);
        // One SHORT fills the first two bytes of the value field.
        out += f.type == kTiffShort && f.count == 1 ? n(f.value, 2) + n(0, 2) : n(f.value, 4);
    }
    return out + n(0, 4) + tail;
}

// An uncompressed RGB TIFF of width × height pixels of noise, in strips of
// about 8 KB as most writers cut them (the file's size is about width ×
// height × 3 bytes).
inline std::string plainTiff(int width, int height, bool bigEndian = false) {
    const auto n = [bigEndian](uint64_t v, int bytes) { return numberBytes(v, bytes, bigEndian); };
    const uint32_t rowBytes = uint32_t(width) * 3, rowsPerStrip = std::max<uint32_t>(1, 8192 / rowBytes);
    const uint32_t strips = (uint32_t(height) + rowsPerStrip - 1) / rowsPerStrip;
    constexpr size_t kFields = 9;
    const uint32_t bitsAt = tiffTailAt(kFields), offsetsAt = bitsAt + 6, countsAt = offsetsAt + 4 * strips;
    const uint32_t pixelsAt = countsAt + 4 * strips;
    std::string tail = n(8, 2) + n(8, 2) + n(8, 2), offsets, counts, pixels;
    for (uint32_t s = 0; s < strips; ++s) {
        const uint32_t rows = std::min(rowsPerStrip, uint32_t(height) - s * rowsPerStrip);
        offsets += n(pixelsAt + s * rowsPerStrip * rowBytes, 4);
        counts += n(rows * rowBytes, 4);
    }
    pixels.resize(size_t(rowBytes) * size_t(height));
    uint32_t x = 12345;
    for (char& c : pixels) c = char((x = x * 1664525u + 1013904223u) >> 24);
    // A single strip's place and length sit in their fields.
    const bool one = strips == 1;
    return tiffOf({{256, kTiffLong, 1, uint32_t(width)},
                   {257, kTiffLong, 1, uint32_t(height)},
                   {258, kTiffShort, 3, bitsAt},
                   {259, kTiffShort, 1, 1},
                   {262, kTiffShort, 1, 2},
                   {273, kTiffLong, strips, one ? pixelsAt : offsetsAt},
                   {277, kTiffShort, 1, 3},
                   {278, kTiffLong, 1, rowsPerStrip},
                   {279, kTiffLong, strips, one ? rowBytes * uint32_t(height) : countsAt}},
                  tail + offsets + counts + pixels, bigEndian);
}

// Opaque noise, the same every time: no PNG writer can squeeze it.
inline kit::Image noisePicture(int w, int h) {
    kit::Image img(w, h);
    uint32_t x = 12345;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w; ++i) {
            x = x * 1664525u + 1013904223u;
            img.setPixel(i, y, {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), 255});
        }
    return img;
}

// Bytes of a PNG file written by hand: a big-endian number, and a chunk
// with its length and checksum.
inline std::string be32(uint32_t v) {
    return numberBytes(v, 4, true);
}

inline std::string pngChunk(const std::string& type, const std::string& data) {
    uint32_t c = 0xFFFFFFFFu;
    for (const unsigned char b : type + data) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return be32(uint32_t(data.size())) + type + data + be32(~c);
}

// The signature and header of a PNG of width × height 8-bit RGB pixels.
inline std::string pngHead(uint32_t width, uint32_t height) {
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           pngChunk("IHDR", be32(width) + be32(height) + std::string("\x08\x02\0\0\0", 5));
}

// A compressed text chunk of a one-letter keyword and no text: the least a
// decompressor is set up for.
inline std::string pngTinyText() {
    return pngChunk("zTXt", std::string("k\0\0\x78\x9c\x03\0\0\0\0\x01", 11));
}

// `piece` repeated to `bytes` bytes or just past.
inline std::string repeatedTo(const std::string& piece, long long bytes) {
    std::string out;
    while ((long long)out.size() < bytes) out += piece;
    return out;
}

// An icon directory of pictures, each (where it lies, how long), followed by
// `body`: the places count from the file's start.
inline std::string icoOf(const std::vector<std::pair<uint32_t, uint32_t>>& pictures,
                         const std::string& body) {
    std::string out = std::string("\0\0\1\0", 4) + numberBytes(pictures.size(), 2);
    for (const auto& [at, length] : pictures)
        out += std::string("\x20\x20\0\0\1\0\x20\0", 8) + numberBytes(length, 4) + numberBytes(at, 4);
    return out + body;
}

}  // namespace testsupport
