#pragma once
// Image files for tests: a PNG of one colour written to a path, a file's
// modification time set to a given second, a picture of noise, PNG chunks.
#include <gtest/gtest.h>
#include <utime.h>

#include <string>

#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

namespace testsupport {

inline void writePicture(const std::string& path, int width, int height, kit::Color colour) {
    kit::Image img(width, height);
    img.fill(colour);
    const auto png = kit::ImageIO::encodePNG(img);
    ASSERT_TRUE(kit::files::writeAtomic(path, std::string(png.begin(), png.end())));
}

inline void setFileTime(const std::string& path, int64_t seconds) {
    struct utimbuf t {
        seconds, seconds
    };
    ASSERT_EQ(::utime(path.c_str(), &t), 0);
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
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

inline std::string pngChunk(const std::string& type, const std::string& data) {
    uint32_t c = 0xFFFFFFFFu;
    for (const unsigned char b : type + data) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return be32(uint32_t(data.size())) + type + data + be32(~c);
}

}  // namespace testsupport
