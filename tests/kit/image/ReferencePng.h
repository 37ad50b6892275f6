#pragma once
// The PNG a well-known writer makes of an opaque picture: libpng at zlib
// level 3 choosing each row's filter among all five by its usual heuristic,
// as common screenshot tools write. The measure our encoder's file sizes are
// held to. Empty when libpng fails.
#include <png.h>

#include <cstdint>
#include <vector>

#include "kit/base/Image.h"

namespace testsupport {

inline std::vector<uint8_t> referencePng(const kit::Image& img) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t size) {
            auto* o = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + size);
        },
        nullptr);
    png_set_IHDR(png, info, uint32_t(img.width()), uint32_t(img.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_write_info(png, info);
    png_set_filler(png, 0, PNG_FILLER_AFTER);  // the pixels are B, G, R, A in memory
    png_set_bgr(png);
    for (int y = 0; y < img.height(); ++y) png_write_row(png, const_cast<png_bytep>(img.row(y)));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

}  // namespace testsupport
