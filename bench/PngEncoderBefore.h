#pragma once
// The PNG encoder as it stood before each row's filter was chosen among all
// five and before screen content skipped the trial igzip pass, kept word for
// word (but for its namespace and these lines) as the benchmark's
// reference: the encoder of today must spend no more CPU on the same
// pixels. It left photo rows unfiltered where half their bytes repeated a
// neighbour, which made such files up to 1.7 times as large.
#include <isa-l/igzip_lib.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "kit/base/Dispatch.h"
#include "kit/base/Image.h"

namespace png_before {
using kit::Image;
using kit::usableCores;

namespace {

constexpr size_t kWindow = 32768;
constexpr size_t kMaxChunk = size_t(1) << 23;

void put32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v >> 24));
    out.push_back(uint8_t(v >> 16));
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}

void chunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    put32(out, uint32_t(size));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    put32(out, uint32_t(crc32(0, out.data() + start, uInt(size + 4))));
}

bool rowsOpaque(const Image& img, int y0, int y1) {
    // Two pixels a step: their alpha bytes are the top bytes of each half.
    constexpr uint64_t kAlphas = 0xFF000000FF000000ull;
    const int pairs = img.width() / 2;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* p = img.row(y);
        uint64_t all = kAlphas;
        for (int i = 0; i < pairs; ++i) {
            uint64_t two;
            std::memcpy(&two, p + 8 * size_t(i), 8);
            all &= two;
        }
        if ((all & kAlphas) != kAlphas) return false;
        if (img.width() % 2 && p[4 * size_t(img.width() - 1) + 3] != 255) return false;
    }
    return true;
}

// igzip's vector code returns with the upper halves of the AVX registers in
// use. Until they are cleared every SSE instruction after it runs at a
// fraction of its speed: zlib's deflate on the same thread took 2.4 times as
// long. Called after each igzip call.
#if defined(__x86_64__)
__attribute__((target("avx"))) void clearUpperVectorsAvx() {
    _mm256_zeroupper();
}
void clearUpperVectors() {
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) clearUpperVectorsAvx();
}
#else
void clearUpperVectors() {}
#endif

// The row filters' hot loops: plain loops over bytes that the compiler turns
// into vector code, built for AVX2 as well where the processor has it. The
// choice between the two runs while the program is being loaded, before
// ThreadSanitizer's runtime is up, and crashes there: that build has one.
#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define KADRIX_VECTOR_LOOPS __attribute__((target_clones("avx2", "default"), optimize("O3")))
#else
#define KADRIX_VECTOR_LOOPS __attribute__((optimize("O3")))
#endif

// One row as PNG samples: R, G, B (and A, straight rather than premultiplied).
KADRIX_VECTOR_LOOPS void unpackOpaqueRow(const uint8_t* __restrict src, size_t width,
                                         uint8_t* __restrict dst) {
    for (size_t x = 0; x < width; ++x) {
        dst[3 * x] = src[4 * x + 2];
        dst[3 * x + 1] = src[4 * x + 1];
        dst[3 * x + 2] = src[4 * x];
    }
}

void unpackRow(const uint8_t* src, int width, int channels, uint8_t* dst) {
    if (channels == 3) return unpackOpaqueRow(src, size_t(width), dst);
    for (int x = 0; x < width; ++x, src += 4, dst += 4) {
        uint8_t a = src[3];
        if (a == 255) {
            dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
        } else if (a == 0) {
            dst[0] = dst[1] = dst[2] = 0;
        } else {
            dst[0] = uint8_t(std::min(255, (src[2] * 255 + a / 2) / a));
            dst[1] = uint8_t(std::min(255, (src[1] * 255 + a / 2) / a));
            dst[2] = uint8_t(std::min(255, (src[0] * 255 + a / 2) / a));
        }
        dst[3] = a;
    }
}

// Bytes that repeat the one to their left or the one above. Flat panels,
// text and lines are mostly such bytes; a photo has few.
KADRIX_VECTOR_LOOPS size_t repeatedBytes(const uint8_t* cur, const uint8_t* up, size_t n, size_t bpp) {
    uint32_t same = 0;
    for (size_t i = bpp; i < n; ++i) same += uint32_t((cur[i] == cur[i - bpp]) | (cur[i] == up[i]));
    return same;
}

// The four predicting filters (Sub, Up, Average, Paeth) of one row, each
// written whole into out[k], with the sum of its bytes read as signed: the
// usual adaptive heuristic's measure. `up` is the row above (zeros for the
// first); the first pixel has zeros to its left.
KADRIX_VECTOR_LOOPS void predictRow(const uint8_t* __restrict cur, const uint8_t* __restrict up, size_t n,
                                    size_t bpp, uint8_t* const out[4], uint32_t sums[4]) {
    uint8_t* __restrict sub = out[0];
    uint8_t* __restrict upf = out[1];
    uint8_t* __restrict avg = out[2];
    uint8_t* __restrict pae = out[3];
    const size_t b = std::min(bpp, n);
    for (size_t i = 0; i < b; ++i) {
        sub[i] = cur[i];
        upf[i] = pae[i] = uint8_t(cur[i] - up[i]);  // Paeth predicts the byte above here
        avg[i] = uint8_t(cur[i] - (up[i] >> 1));
    }
    for (size_t i = b; i < n; ++i) {
        const int v = cur[i], a = cur[i - b], u = up[i], c = up[i - b];
        sub[i] = uint8_t(v - a);
        upf[i] = uint8_t(v - u);
        avg[i] = uint8_t(v - ((a + u) >> 1));
        const int pa = std::abs(u - c), pb = std::abs(a - c), pc = std::abs(a + u - 2 * c);
        const int predicted = ((pa <= pb) & (pa <= pc)) ? a : pb <= pc ? u : c;
        pae[i] = uint8_t(v - predicted);
    }
    for (int k = 0; k < 4; ++k) {
        const uint8_t* o = out[k];
        uint32_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum += std::min(o[i], uint8_t(-o[i]));
        sums[k] = sum;
    }
}

// A row the same as the one above: Up leaves nothing but zeros (an all-zero
// row is the same under None).
void filterRepeatedRow(const uint8_t* samples, size_t n, uint8_t* out) {
    const bool zero = samples[0] == 0 && std::memcmp(samples, samples + 1, n - 1) == 0;
    out[0] = zero ? 0 : 2;
    std::memset(out + 1, 0, n);
}

// Filters consecutive rows, one filter byte plus the samples a row. Rows of
// screen content (mostly bytes repeating their neighbours) are left
// unfiltered: their runs and repeated glyphs stay byte for byte the same,
// which deflate finds far more of than in any predicted row. Other rows take
// the predicting filter whose bytes sum smallest. A row's filtering depends
// on it and the row above only.
class RowFilter {
public:
    // Ready for row y0 (zeros above the first row).
    RowFilter(const Image& img, int channels, int y0)
        : img_(img),
          channels_(channels),
          n_(size_t(img.width()) * channels),
          prev_(n_),
          cur_(n_),
          scratch_(4 * n_),
          next_(y0) {
        if (y0 > 0) unpackRow(img.row(y0 - 1), img.width(), channels, prev_.data());
    }

    // Rows from the next one to y1 (exclusive) into dst; returns the bytes written.
    size_t rowsTo(int y1, uint8_t* dst) {
        uint8_t* const start = dst;
        for (; next_ < y1; ++next_, dst += n_ + 1) row(next_, dst);
        return size_t(dst - start);
    }

private:
    void row(int y, uint8_t* dst) {
        // Screens repeat rows (flat panels, empty page): `prev_` holds this row already.
        if (y > 0 && std::memcmp(img_.row(y), img_.row(y - 1), size_t(img_.width()) * 4) == 0)
            return filterRepeatedRow(prev_.data(), n_, dst);
        unpackRow(img_.row(y), img_.width(), channels_, cur_.data());
        if (2 * repeatedBytes(cur_.data(), prev_.data(), n_, size_t(channels_)) >= n_) {
            dst[0] = 0;
            std::memcpy(dst + 1, cur_.data(), n_);
        } else {
            uint8_t* const predicted[4] = {scratch_.data(), scratch_.data() + n_, scratch_.data() + 2 * n_,
                                           scratch_.data() + 3 * n_};
            uint32_t sums[4];
            predictRow(cur_.data(), prev_.data(), n_, size_t(channels_), predicted, sums);
            const int best = int(std::min_element(sums, sums + 4) - sums);
            dst[0] = uint8_t(best + 1);
            std::memcpy(dst + 1, predicted[best], n_);
        }
        std::swap(prev_, cur_);
    }

    const Image& img_;
    const int channels_;
    const size_t n_;
    std::vector<uint8_t> prev_, cur_, scratch_;
    int next_;
};

// Deflates segments of the one stream: raw deflate with the 32 KB before
// the segment as its dictionary, ending on a byte boundary (the image's last
// segment closes the stream). igzip deflates every segment first, several
// times faster than zlib; where its output is under a quarter of the input
// (screen content: long runs and repeats), zlib at `level` redoes the
// segment, as fast there and finding more of them.
class BandDeflater {
public:
    explicit BandDeflater(int level)
        : level_(level), levelBuf_(ISAL_DEF_LVL1_DEFAULT), room_(new uint8_t[kRoom]) {}
    ~BandDeflater() {
        if (zlibReady_) deflateEnd(&zlib_);
    }
    BandDeflater(const BandDeflater&) = delete;
    BandDeflater& operator=(const BandDeflater&) = delete;

    // One segment of the stream: `in` with the `dictSize` bytes before it as
    // its dictionary, appended to `out`.
    bool segment(const uint8_t* in, size_t size, size_t dictSize, bool closes, std::vector<uint8_t>& out) {
        const size_t mark = out.size();
        if (!igzip(in, size, in - dictSize, dictSize, closes, out)) return false;
        if (double(out.size() - mark) >= kRepeatShare * double(size)) return true;
        out.resize(mark);
        return zlib(in, size, in - dictSize, dictSize, closes, out);
    }

    // Input a segment takes: about 1 MB (whole rows).
    static constexpr size_t kSegment = size_t(1) << 20;

private:
    static constexpr double kRepeatShare = 0.25;
    // Output goes to a room of this size first (more than a segment's worst
    // case, so one call is enough), then only what was written is kept.
    static constexpr uInt kRoom = kSegment + kSegment / 8 + 4096;

    void keep(std::vector<uint8_t>& out, size_t unused) {
        out.insert(out.end(), room_.get(), room_.get() + (kRoom - unused));
    }

    bool igzip(const uint8_t* in, size_t size, const uint8_t* dict, size_t dictSize, bool closes,
               std::vector<uint8_t>& out) {
        isal_zstream s;
        isal_deflate_init(&s);
        s.level = 1;
        s.level_buf = levelBuf_.data();
        s.level_buf_size = uint32_t(levelBuf_.size());
        s.end_of_stream = closes ? 1 : 0;
        s.flush = closes ? NO_FLUSH : SYNC_FLUSH;
        const bool dictSet =
            !dictSize || isal_deflate_set_dict(&s, const_cast<uint8_t*>(dict), uint32_t(dictSize)) == COMP_OK;
        clearUpperVectors();
        if (!dictSet) return false;
        s.next_in = const_cast<uint8_t*>(in);
        s.avail_in = uint32_t(size);
        // Output that fills the room may have more to come: call again.
        do {
            s.next_out = room_.get();
            s.avail_out = kRoom;
            const int rc = isal_deflate(&s);
            clearUpperVectors();
            keep(out, s.avail_out);
            if (rc != COMP_OK) return false;
        } while (s.avail_out == 0);
        return s.avail_in == 0 && (!closes || s.internal_state.state == ZSTATE_END);
    }

    bool zlib(const uint8_t* in, size_t size, const uint8_t* dict, size_t dictSize, bool closes,
              std::vector<uint8_t>& out) {
        if (!zlibReady_) {
            zlib_ = z_stream{};
            if (deflateInit2(&zlib_, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
            zlibReady_ = true;
        } else if (deflateReset(&zlib_) != Z_OK) {
            return false;
        }
        if (dictSize && deflateSetDictionary(&zlib_, dict, uInt(dictSize)) != Z_OK) return false;
        zlib_.next_in = const_cast<uint8_t*>(in);
        zlib_.avail_in = uInt(size);
        int rc;
        do {
            zlib_.next_out = room_.get();
            zlib_.avail_out = kRoom;
            rc = deflate(&zlib_, closes ? Z_FINISH : Z_SYNC_FLUSH);
            keep(out, zlib_.avail_out);
            if (rc != Z_OK && rc != Z_STREAM_END) return false;
        } while (zlib_.avail_out == 0);
        return zlib_.avail_in == 0 && (!closes || rc == Z_STREAM_END);
    }

    int level_;
    std::vector<uint8_t> levelBuf_;
    std::unique_ptr<uint8_t[]> room_;
    z_stream zlib_{};
    bool zlibReady_ = false;
};

// Filters and deflates rows [y0, y1) a segment at a time into `out`, and
// takes their checksum. The band's dictionary is the filtered rows before
// it, filtered again here just as the band above filters them.
bool encodeBand(const Image& img, int channels, int level, int y0, int y1, bool last,
                std::vector<uint8_t>& out, uint32_t& adler) {
    const size_t rowBytes = size_t(img.width()) * channels + 1;
    const int segmentRows = int(std::max<size_t>(1, BandDeflater::kSegment / rowBytes));
    const int dictRows = std::min(y0, int((kWindow + rowBytes - 1) / rowBytes));
    std::unique_ptr<uint8_t[]> buffer(
        new uint8_t[kWindow + size_t(std::max(segmentRows, dictRows)) * rowBytes]);
    RowFilter filter(img, channels, y0 - dictRows);
    size_t held = filter.rowsTo(y0, buffer.get());  // the dictionary, then the rows to deflate
    BandDeflater deflater(level);
    adler = 1;
    for (int y = y0; y < y1;) {
        const size_t dict = std::min(held, kWindow);
        std::memmove(buffer.get(), buffer.get() + held - dict, dict);
        y = std::min(y1, y + segmentRows);
        const size_t size = filter.rowsTo(y, buffer.get() + dict);
        adler = isal_adler32(adler, buffer.get() + dict, size);
        clearUpperVectors();
        if (!deflater.segment(buffer.get() + dict, size, dict, last && y == y1, out)) return false;
        held = dict + size;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> encode(const Image& image, int threads, int level) {
    if (image.isNull()) return {};
    const int w = image.width(), h = image.height();
    if (threads <= 0) threads = int(usableCores());
    // Bands of at least 64 rows; a small image is one band.
    const int bands = std::clamp(h / 64, 1, threads);
    std::vector<int> first(bands + 1);
    for (int b = 0; b <= bands; ++b) first[b] = int(int64_t(h) * b / bands);
    auto runBands = [&](auto&& fn) {
        std::vector<std::future<bool>> jobs;
        for (int b = 1; b < bands; ++b) jobs.push_back(std::async(std::launch::async, fn, b));
        bool ok = fn(0);
        for (auto& j : jobs) ok = j.get() && ok;
        return ok;
    };
    const int channels = runBands([&](int b) { return rowsOpaque(image, first[b], first[b + 1]); }) ? 3 : 4;
    const size_t rowBytes = size_t(w) * channels + 1;
    std::vector<std::vector<uint8_t>> packed(bands);
    // Each band's checksum is taken on its own core too; they combine below.
    std::vector<uint32_t> bandAdler(bands);
    bool ok = runBands([&](int b) {
        return encodeBand(image, channels, std::clamp(level, 1, 9), first[b], first[b + 1], b == bands - 1,
                          packed[b], bandAdler[b]);
    });
    if (!ok) return {};

    std::vector<uint8_t> stream = {0x78, 0x9C};
    for (auto& p : packed) stream.insert(stream.end(), p.begin(), p.end());
    uLong adler = adler32(0, nullptr, 0);
    for (int b = 0; b < bands; ++b) {
        size_t len = rowBytes * (first[b + 1] - first[b]);
        adler = adler32_combine(adler, bandAdler[b], z_off_t(len));
    }
    put32(stream, uint32_t(adler));

    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put32(ihdr, uint32_t(w));
    put32(ihdr, uint32_t(h));
    ihdr.insert(ihdr.end(), {8, uint8_t(channels == 3 ? 2 : 6), 0, 0, 0});
    chunk(out, "IHDR", ihdr.data(), ihdr.size());
    std::vector<uint8_t> phys;
    uint32_t dpm = uint32_t(std::lround(72.0 * image.scale() / 0.0254));
    put32(phys, dpm);
    put32(phys, dpm);
    phys.push_back(1);  // per metre
    chunk(out, "pHYs", phys.data(), phys.size());
    for (size_t at = 0; at < stream.size(); at += kMaxChunk)
        chunk(out, "IDAT", stream.data() + at, std::min(kMaxChunk, stream.size() - at));
    chunk(out, "IEND", nullptr, 0);
    return out;
}

}  // namespace png_before
