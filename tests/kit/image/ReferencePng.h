#pragma once
// The PNG the usual writers make of an opaque picture, the measure our
// encoder's file sizes are held to: each row takes the filter, None among
// the five, whose bytes read as signed sum smallest (the first of equal
// sums), and the rows go through zlib at level 3 in one piece. Written with
// zlib alone, plainly, so that nothing of the encoder is in it. Empty when
// zlib fails.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kit/base/Image.h"

namespace testsupport {

// The filtered rows, each led by its filter's number.
inline std::vector<uint8_t> referenceRows(const kit::Image& img) {
    const size_t n = size_t(img.width()) * 3;
    std::vector<uint8_t> rows, up(n, 0), cur(n), best, trial(n);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x)
            for (int k = 0; k < 3; ++k) cur[3 * size_t(x) + k] = img.row(y)[4 * size_t(x) + 2 - k];
        long bestSum = -1;
        int bestType = 0;
        for (int type = 0; type < 5; ++type) {
            long sum = 0;
            for (size_t i = 0; i < n; ++i) {
                const int a = i >= 3 ? cur[i - 3] : 0, u = up[i], c = i >= 3 ? up[i - 3] : 0;
                const int pa = std::abs(u - c), pb = std::abs(a - c), pc = std::abs(a + u - 2 * c);
                const int predicted[5] = {0, a, u, (a + u) / 2, pa <= pb && pa <= pc ? a : pb <= pc ? u : c};
                trial[i] = uint8_t(cur[i] - predicted[type]);
                sum += trial[i] < 128 ? trial[i] : 256 - trial[i];
            }
            if (bestSum < 0 || sum < bestSum) bestSum = sum, bestType = type, best = trial;
        }
        rows.push_back(uint8_t(bestType));
        rows.insert(rows.end(), best.begin(), best.end());
        up = cur;
    }
    return rows;
}

// A PNG of filtered rows (each led by its filter's number) deflated by zlib
// at `level`, with the pixel format the header gives.
// `strategy` is zlib's (Z_RLE: matches at distance 1 only, as some writers
// choose for flat pictures).
inline std::vector<uint8_t> pngOfRows(uint32_t w, uint32_t h, uint8_t bitDepth, uint8_t colourType,
                                      const std::vector<uint8_t>& rows, int level,
                                      int strategy = Z_DEFAULT_STRATEGY) {
    std::vector<uint8_t> idat(compressBound(uLong(rows.size())));
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy) != Z_OK) return {};
    z.next_in = const_cast<uint8_t*>(rows.data());
    z.avail_in = uInt(rows.size());
    z.next_out = idat.data();
    z.avail_out = uInt(idat.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    idat.resize(z.total_out);
    deflateEnd(&z);
    if (!done) return {};
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto put32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
    };
    auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        put32(uint32_t(data.size()));
        const size_t start = out.size();
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), data.begin(), data.end());
        put32(uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
    };
    chunk("IHDR", {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 24),
                   uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), bitDepth, colourType, 0, 0, 0});
    chunk("IDAT", idat);
    chunk("IEND", {});
    return out;
}

inline std::vector<uint8_t> referencePng(const kit::Image& img, int strategy = Z_DEFAULT_STRATEGY) {
    return pngOfRows(uint32_t(img.width()), uint32_t(img.height()), 8, 2, referenceRows(img), 3, strategy);
}

}  // namespace testsupport
