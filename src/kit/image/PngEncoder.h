#pragma once
// A PNG writer for large screenshots: rows filtered and deflated in bands on
// several cores at once, joined into one zlib stream (each band ends on a
// byte boundary and starts with the previous band's last 32 KB as its
// dictionary, so the file stays as small as a one-core encoding). Each row
// takes the filter the usual adaptive heuristic picks. Each part of the
// image is deflated by igzip where it comes as small as zlib there (a
// photo's residuals), several times faster, else by zlib: with a short
// search where that comes as small (screen content, a smooth picture with
// grain), else as its level says (a smooth gradient). Opaque images are
// written as RGB, others as RGBA; the image's scale becomes the pixel
// density (72 dpi × scale).
//
// Any thread. Empty bytes for a null image or when compression fails.
#include <cstdint>
#include <vector>

#include "kit/base/Image.h"

namespace kit::Png {

// `threads` 0: as many as the process may use; `level` is zlib's 1…9 (for
// the screen content).
std::vector<uint8_t> encode(const Image& image, int threads = 0, int level = 6);

}  // namespace kit::Png
