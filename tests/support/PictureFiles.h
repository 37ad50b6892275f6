#pragma once
// Image files for tests: a PNG of one colour written to a path, a file's
// modification time set to a given second; a picture of noise and PNG chunks
// (from HostileHeads.h).
#include <gtest/gtest.h>
#include <utime.h>

#include <string>

#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "support/HostileHeads.h"  // PNG chunks, noise

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

}  // namespace testsupport
