#include "kit/PngEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "kit/Dispatch.h"

namespace kit::Png {

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

// One row as PNG samples: R, G, B (and A, straight rather than premultiplied).
void unpackRow(const uint8_t* src, int width, int channels, uint8_t* dst) {
    for (int x = 0; x < width; ++x, src += 4, dst += channels) {
        uint8_t a = src[3];
        if (channels == 3 || a == 255) {
            dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
        } else if (a == 0) {
            dst[0] = dst[1] = dst[2] = 0;
        } else {
            dst[0] = uint8_t(std::min(255, (src[2] * 255 + a / 2) / a));
            dst[1] = uint8_t(std::min(255, (src[1] * 255 + a / 2) / a));
            dst[2] = uint8_t(std::min(255, (src[0] * 255 + a / 2) / a));
        }
        if (channels == 4) dst[3] = a;
    }
}

inline uint32_t cost(uint8_t v) {
    return v < 128 ? v : 256u - v;
}

inline int paethPredict(int a, int u, int c) {
    int p = a + u - c, pa = std::abs(p - a), pb = std::abs(p - u), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? u : c;
}

// Filters one row with the filter whose bytes, read as signed, sum smallest
// (the usual adaptive heuristic): first the five sums, then only the chosen
// filter is written. `up` is the row above (zeros for the first).
__attribute__((optimize("O3"))) void filterRow(const uint8_t* cur, const uint8_t* up, size_t n, int bpp,
                                               uint8_t* out) {
    uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0, s4 = 0;
    const size_t b = std::min(size_t(bpp), n);
    auto sums = [&](size_t i, int a, int c) {
        int v = cur[i], u = up[i];
        s0 += cost(uint8_t(v));
        s1 += cost(uint8_t(v - a));
        s2 += cost(uint8_t(v - u));
        s3 += cost(uint8_t(v - ((a + u) >> 1)));
        s4 += cost(uint8_t(v - paethPredict(a, u, c)));
    };
    for (size_t i = 0; i < b; ++i) sums(i, 0, 0);
    for (size_t i = b; i < n; ++i) sums(i, cur[i - b], up[i - b]);
    const uint32_t sum[5] = {s0, s1, s2, s3, s4};
    int best = 0;
    for (int k = 1; k < 5; ++k)
        if (sum[k] < sum[best]) best = k;
    out[0] = uint8_t(best);
    uint8_t* o = out + 1;
    auto write = [&](size_t i, int a, int c) {
        int v = cur[i], u = up[i];
        switch (best) {
            case 0:
                o[i] = uint8_t(v);
                break;
            case 1:
                o[i] = uint8_t(v - a);
                break;
            case 2:
                o[i] = uint8_t(v - u);
                break;
            case 3:
                o[i] = uint8_t(v - ((a + u) >> 1));
                break;
            default:
                o[i] = uint8_t(v - paethPredict(a, u, c));
                break;
        }
    };
    for (size_t i = 0; i < b; ++i) write(i, 0, 0);
    for (size_t i = b; i < n; ++i) write(i, cur[i - b], up[i - b]);
}

// A row the same as the one above, as filterRow would write it, without
// weighing the filters: Up leaves nothing but zeros, and only an all-zero row
// gives None (filter 0) the same zero sum first.
void filterRepeatedRow(const uint8_t* samples, size_t n, uint8_t* out) {
    const bool zero = samples[0] == 0 && std::memcmp(samples, samples + 1, n - 1) == 0;
    out[0] = zero ? 0 : 2;
    std::memset(out + 1, 0, n);
}

// Filters rows [y0, y1) into `dst` (one filter byte plus the samples a row).
void filterBand(const Image& img, int channels, int y0, int y1, uint8_t* dst) {
    size_t n = size_t(img.width()) * channels;
    std::vector<uint8_t> prev(n), cur(n);  // prev: zeros above the first row
    if (y0 > 0) unpackRow(img.row(y0 - 1), img.width(), channels, prev.data());
    const size_t rowBytes = size_t(img.width()) * 4;
    for (int y = y0; y < y1; ++y, dst += n + 1) {
        // Screens repeat rows (flat panels, empty page): `prev` holds this row already.
        if (y > 0 && std::memcmp(img.row(y), img.row(y - 1), rowBytes) == 0) {
            filterRepeatedRow(prev.data(), n, dst);
            continue;
        }
        unpackRow(img.row(y), img.width(), channels, cur.data());
        filterRow(cur.data(), prev.data(), n, channels, dst);
        std::swap(prev, cur);
    }
}

// Raw deflate of one band; all but the last end on a byte boundary without
// closing the stream, so the bands join into one.
bool deflateBand(const uint8_t* data, size_t size, const uint8_t* dict, size_t dictSize, bool last, int level,
                 std::vector<uint8_t>& out) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    if (dictSize) deflateSetDictionary(&z, dict, uInt(dictSize));
    out.resize(deflateBound(&z, uLong(size)) + 16);
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    bool ok = last ? rc == Z_STREAM_END : rc == Z_OK && z.avail_in == 0;
    out.resize(z.total_out);
    deflateEnd(&z);
    return ok;
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
    std::vector<uint8_t> filtered(rowBytes * size_t(h));
    runBands([&](int b) {
        filterBand(image, channels, first[b], first[b + 1], filtered.data() + rowBytes * first[b]);
        return true;
    });
    std::vector<std::vector<uint8_t>> packed(bands);
    // Each band's checksum is taken on its own core too; they combine below.
    std::vector<uLong> bandAdler(bands);
    bool ok = runBands([&](int b) {
        size_t start = rowBytes * first[b], end = rowBytes * first[b + 1];
        size_t dict = std::min(start, kWindow);
        bandAdler[b] = adler32(1, filtered.data() + start, uInt(end - start));
        return deflateBand(filtered.data() + start, end - start, filtered.data() + start - dict, dict,
                           b == bands - 1, std::clamp(level, 1, 9), packed[b]);
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

}  // namespace kit::Png
