#include "kit/image/PngEncoder.h"

#include <isa-l/igzip_lib.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

#include "kit/base/Dispatch.h"
#include "kit/image/FastDeflate.h"

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

// The bits set in every one of `count` 8-byte words from p.
KADRIX_VECTOR_LOOPS uint64_t commonBits(const uint8_t* p, size_t count) {
    uint64_t all = ~uint64_t(0);
    for (size_t i = 0; i < count; ++i) {
        uint64_t word;
        std::memcpy(&word, p + 8 * i, 8);
        all &= word;
    }
    return all;
}

bool rowsOpaque(const Image& img, int y0, int y1) {
    // Two pixels a word: their alpha bytes are the top bytes of each half.
    constexpr uint64_t kAlphas = 0xFF000000FF000000ull;
    const size_t pairs = size_t(img.width()) / 2;
    for (int y = y0; y < y1; ++y) {
        const uint8_t* p = img.row(y);
        if ((commonBits(p, pairs) & kAlphas) != kAlphas) return false;
        if (img.width() % 2 && p[4 * size_t(img.width() - 1) + 3] != 255) return false;
    }
    return true;
}

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

// A filtered byte read as signed, by size: the usual adaptive heuristic
// sums these to judge how well a filtered row will compress.
inline uint32_t signedSize(uint8_t x) {
    return std::min(x, uint8_t(-x));
}

KADRIX_VECTOR_LOOPS uint32_t signedSum(const uint8_t* o, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += signedSize(o[i]);
    return sum;
}

// The byte Paeth predicts from the one to the left (a), above (u) and
// above-left (c).
inline int paeth(int a, int u, int c) {
    const int pa = std::abs(u - c), pb = std::abs(a - c), pc = std::abs(a + u - 2 * c);
    return ((pa <= pb) & (pa <= pc)) ? a : pb <= pc ? u : c;
}

// Bytes [from, to) of a row under the four predicting filters (Sub, Up,
// Average, Paeth) into out[0…3], their signed sizes added to sums[1…4] and
// the unfiltered bytes' to sums[0]. The first pixel has zeros to its left.
void predictSpan(const uint8_t* cur, const uint8_t* up, size_t from, size_t to, size_t bpp,
                 uint8_t* const out[4], uint32_t sums[5]) {
    for (size_t i = from; i < to; ++i) {
        const int v = cur[i], u = up[i], a = i >= bpp ? cur[i - bpp] : 0, c = i >= bpp ? up[i - bpp] : 0;
        const uint8_t f[4] = {uint8_t(v - a), uint8_t(v - u), uint8_t(v - ((a + u) >> 1)),
                              uint8_t(v - paeth(a, u, c))};
        sums[0] += signedSize(uint8_t(v));
        for (int k = 0; k < 4; ++k) {
            out[k][i] = f[k];
            sums[k + 1] += signedSize(f[k]);
        }
    }
}

// predictRow's loops as plain code the compiler makes vector code of.
KADRIX_VECTOR_LOOPS void predictRowPlain(const uint8_t* __restrict cur, const uint8_t* __restrict up,
                                         size_t n, size_t bpp, uint8_t* const out[4], uint32_t sums[5]) {
    uint8_t* __restrict sub = out[0];
    uint8_t* __restrict upf = out[1];
    uint8_t* __restrict avg = out[2];
    uint8_t* __restrict pae = out[3];
    const size_t b = std::min(bpp, n);
    for (size_t i = b; i < n; ++i) {
        const int v = cur[i], a = cur[i - b], u = up[i], c = up[i - b];
        sub[i] = uint8_t(v - a);
        upf[i] = uint8_t(v - u);
        avg[i] = uint8_t(v - ((a + u) >> 1));
        pae[i] = uint8_t(v - paeth(a, u, c));
    }
    sums[0] = signedSum(cur + b, n - b);
    for (int k = 0; k < 4; ++k) sums[k + 1] = signedSum(out[k] + b, n - b);
    predictSpan(cur, up, 0, b, bpp, out, sums);
}

#if defined(__x86_64__)
// The same with AVX2, 32 bytes a step: a third of the time the compiler's
// vector code takes, most of it saved on Paeth (in 16-bit lanes here, not
// 32) and on the sums (one SAD instruction per 32 bytes).
__attribute__((target("avx2"))) inline __m256i absDiffAvx2(__m256i x, __m256i y) {
    return _mm256_or_si256(_mm256_subs_epu8(x, y), _mm256_subs_epu8(y, x));
}

// Paeth in bytes: pc = |(u - c) + (a - c)| is pa + pb where both differences
// have the same sign, else |pa - pb|. Where the sum saturates at 255 it
// exceeds pa and pb either way, so every comparison comes out the same.
__attribute__((target("avx2"))) inline __m256i paethAvx2(__m256i a, __m256i u, __m256i c) {
    const __m256i pa = absDiffAvx2(u, c), pb = absDiffAvx2(a, c);
    const __m256i uAbove = _mm256_cmpeq_epi8(_mm256_max_epu8(u, c), u),
                  aAbove = _mm256_cmpeq_epi8(_mm256_max_epu8(a, c), a);
    const __m256i pc =
        _mm256_blendv_epi8(absDiffAvx2(pa, pb), _mm256_adds_epu8(pa, pb), _mm256_cmpeq_epi8(uAbove, aAbove));
    const __m256i minBc = _mm256_min_epu8(pb, pc);
    const __m256i aWins = _mm256_cmpeq_epi8(_mm256_min_epu8(pa, minBc), pa),
                  uWins = _mm256_cmpeq_epi8(minBc, pb);
    return _mm256_blendv_epi8(_mm256_blendv_epi8(c, u, uWins), a, aWins);
}

__attribute__((target("avx2"))) inline __m256i loadAvx2(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Signed sizes of the bytes of `bytes` that `counted` marks, added to the
// four 64-bit sums of `acc`.
__attribute__((target("avx2"))) inline __m256i addSizes(__m256i acc, __m256i bytes, __m256i counted) {
    const __m256i sizes = _mm256_and_si256(_mm256_abs_epi8(bytes), counted);
    return _mm256_add_epi64(acc, _mm256_sad_epu8(sizes, _mm256_setzero_si256()));
}

// Bytes [i, i + 32) under each filter, those `counted` marks added to the sums.
__attribute__((target("avx2"))) inline void predictBlockAvx2(const uint8_t* cur, const uint8_t* up, size_t i,
                                                             size_t b, uint8_t* const out[4], __m256i acc[5],
                                                             __m256i counted) {
    const __m256i v = loadAvx2(cur + i), a = loadAvx2(cur + i - b), u = loadAvx2(up + i),
                  c = loadAvx2(up + i - b);
    // The mean rounded down: avg_epu8 rounds up where a + u is odd.
    const __m256i mean =
        _mm256_sub_epi8(_mm256_avg_epu8(a, u), _mm256_and_si256(_mm256_xor_si256(a, u), _mm256_set1_epi8(1)));
    const __m256i f[4] = {_mm256_sub_epi8(v, a), _mm256_sub_epi8(v, u), _mm256_sub_epi8(v, mean),
                          _mm256_sub_epi8(v, paethAvx2(a, u, c))};
    acc[0] = addSizes(acc[0], v, counted);
    // Unrolled, the filtered bytes and the sums stay in registers.
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[k] + i), f[k]);
        acc[k + 1] = addSizes(acc[k + 1], f[k], counted);
    }
}

__attribute__((target("avx2"))) void predictRowAvx2(const uint8_t* cur, const uint8_t* up, size_t n,
                                                    size_t bpp, uint8_t* const out[4], uint32_t sums[5]) {
    std::fill(sums, sums + 5, 0);
    const size_t b = std::min(bpp, n);
    if (n < b + 32) return predictSpan(cur, up, 0, n, bpp, out, sums);
    predictSpan(cur, up, 0, b, bpp, out, sums);
    __m256i acc[5];
    for (auto& a : acc) a = _mm256_setzero_si256();
    const __m256i all = _mm256_set1_epi8(-1);
    uint8_t* const to[4] = {out[0], out[1], out[2], out[3]};  // held in registers: no store changes them
    size_t i = b;
    for (; i + 32 <= n; i += 32) predictBlockAvx2(cur, up, i, b, to, acc, all);
    if (i < n) {
        // The last 32 bytes again, only those not done yet counted.
        static constexpr auto kLastOnes = [] {
            std::array<uint8_t, 64> m{};
            for (size_t k = 32; k < 64; ++k) m[k] = 0xFF;
            return m;
        }();
        predictBlockAvx2(cur, up, n - 32, b, to, acc, loadAvx2(kLastOnes.data() + (n - i)));
    }
    for (int k = 0; k < 5; ++k) {
        alignas(32) uint64_t lanes[4];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), acc[k]);
        sums[k] += uint32_t(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
    }
}
#endif

// One row under the four predicting filters, each written whole into
// out[0…3], with the signed sums of the unfiltered row (sums[0]) and of
// each filtered one. `up` is the row above (zeros for the first).
void predictRow(const uint8_t* cur, const uint8_t* up, size_t n, size_t bpp, uint8_t* const out[4],
                uint32_t sums[5]) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return predictRowAvx2(cur, up, n, bpp, out, sums);
#endif
    predictRowPlain(cur, up, n, bpp, out, sums);
}

// The share of zero bytes in p[0, n), from the first 64 of every 512: a
// segment is a megabyte, and the share only a guide.
KADRIX_VECTOR_LOOPS double zeroShare(const uint8_t* p, size_t n) {
    uint32_t zeros = 0, seen = 0;
    for (size_t at = 0; at + 64 <= n; at += 512) {
        for (size_t i = at; i < at + 64; ++i) zeros += p[i] == 0;
        seen += 64;
    }
    return seen ? double(zeros) / seen : 0;
}

// A row the same as the one above: Up leaves nothing but zeros (an all-zero
// row is the same under None).
void filterRepeatedRow(const uint8_t* samples, size_t n, uint8_t* out) {
    const bool zero = samples[0] == 0 && std::memcmp(samples, samples + 1, n - 1) == 0;
    out[0] = zero ? 0 : 2;
    std::memset(out + 1, 0, n);
}

// Filters consecutive rows, one filter byte plus the samples a row. Each row
// takes the filter, None among them, whose bytes have the smallest signed
// sum: libpng's own choice, so files come out as small as those of the
// usual writers. A photo's rows come out as small residuals; a screen's
// flat runs as zeros, and a glyph as the same bytes wherever it repeats on a
// plain background. A row's filtering depends on it and the row above only.
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
        uint8_t* const predicted[4] = {scratch_.data(), scratch_.data() + n_, scratch_.data() + 2 * n_,
                                       scratch_.data() + 3 * n_};
        uint32_t sums[5];
        predictRow(cur_.data(), prev_.data(), n_, size_t(channels_), predicted, sums);
        // The first of equal sums wins, None first.
        const int best = int(std::min_element(sums, sums + 5) - sums);
        dst[0] = uint8_t(best);
        std::memcpy(dst + 1, best == 0 ? cur_.data() : predicted[best - 1], n_);
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
// segment closes the stream). Which deflate comes within a small margin of
// zlib at the caller's level depends on the segment, and their costs differ
// up to ninefold:
//  - igzip, six to nine times faster than zlib's level 3, on a filtered
//    photo's residuals;
//  - our own deflate (FastDeflate.h), in a third of level 3's time, on
//    residuals that are mostly zeros broken by one-pixel repeats (a smooth
//    picture with grain or noisy patches, screen content): 1-3% more bytes
//    than level 3. igzip, whose shortest match is four bytes, gives a
//    quarter to two fifths more there;
//  - zlib at the level itself on a smooth gradient, whose long repeats at
//    drifting distances only its longer search finds (our own gives an
//    eighth to a third more), and cheaply.
// The bytes do not tell which, so stripes of each segment go through them in
// turn, and the first, fastest first, that keeps within the margin deflates
// the segment. A deflate keeps within the margin only where it does so on
// every stripe: on their sum, a stripe of noise, which every deflate leaves
// as large, outweighed the rest.
// Filtered screen content is mostly zero bytes (over three in four), where
// igzip never comes close: it is not tried there.
class BandDeflater {
public:
    explicit BandDeflater(int level)
        : whole_(level, kWholeIndex), stripe_(level, kStripeIndex), room_(new uint8_t[kRoom]) {}

    // One segment of the stream: `in` with the `dictSize` bytes before it as
    // its dictionary, appended to `out`.
    bool segment(const uint8_t* in, size_t size, size_t dictSize, bool closes, std::vector<uint8_t>& out) {
        const uint8_t* dict = in - dictSize;
        if (size >= 4 * kStripes * kStripe) {
            Stripes full{}, fast{}, own{};
            if (!trial(in, size, dict, out, Search::Full, full)) return false;
            // Screen content, mostly zeros, is where igzip never comes close.
            if (zeroShare(in, size) < kScreenZeros) {
                if (!trial(in, size, dict, out, Search::Igzip, fast)) return false;
                if (within(fast, full)) return igzip(in, size, dict, dictSize, closes, out);
            }
            if (!trial(in, size, dict, out, Search::Own, own)) return false;
            if (within(own, full)) {
                own_.deflate(in, size, dictSize, closes, out);
                return true;
            }
        }
        return whole_.start(dict, dictSize) && zlib(whole_, in, size, closes, out);
    }

    // Input a segment takes: about 1 MB (whole rows).
    static constexpr size_t kSegment = size_t(1) << 20;

private:
    enum class Search { Igzip, Own, Full };

    // The trial's stripes: enough bytes for each deflate to show what the
    // segment gives, few enough that zlib's part costs little where igzip
    // goes on.
    static constexpr size_t kStripes = 3, kStripe = size_t(1) << 11;
    // Each stripe's deflated size.
    using Stripes = std::array<size_t, kStripes>;
    // The bytes before each stripe its deflates may refer to: with only a
    // stripe's worth, a gradient's long repeats at drifting distances are
    // out of reach of every deflate, and our own, which misses them over the
    // whole segment, came out level with zlib in the trial.
    static constexpr size_t kStripeWindow = size_t(1) << 14;
    static constexpr double kMargin = 1.05, kScreenZeros = 0.75;
    // zlib's index of the window, by its memory level: 32K entries for a
    // segment (zlib's usual 64K, shifted along with the window every 32 KB,
    // cost screens up to a seventh more time for a few bytes); a stripe and
    // the window before it take 4K, a sixteenth as much to clear at each reset.
    static constexpr int kWholeIndex = 7, kStripeIndex = 5;
    // Output goes to a room of this size first (more than a segment's worst
    // case, so one call is enough), then only what was written is kept.
    static constexpr uInt kRoom = kSegment + kSegment / 8 + 4096;

    // zlib's raw deflate at the caller's level, made once and reset for
    // each use.
    class Zlib {
    public:
        Zlib(int level, int memLevel) : level_(level), memLevel_(memLevel) {}
        ~Zlib() {
            if (ready_) deflateEnd(&z_);
        }
        Zlib(const Zlib&) = delete;
        Zlib& operator=(const Zlib&) = delete;

        // A new stream with `dict` as its dictionary.
        bool start(const uint8_t* dict, size_t dictSize) {
            if (!ready_) {
                if (deflateInit2(&z_, level_, Z_DEFLATED, -15, memLevel_, Z_DEFAULT_STRATEGY) != Z_OK)
                    return false;
                ready_ = true;
            } else if (deflateReset(&z_) != Z_OK) {
                return false;
            }
            return !dictSize || deflateSetDictionary(&z_, dict, uInt(dictSize)) == Z_OK;
        }

        z_stream z_{};

    private:
        const int level_, memLevel_;
        bool ready_ = false;
    };

    // Whether a deflate keeps within the margin of the level on every stripe.
    static bool within(const Stripes& fast, const Stripes& full) {
        for (size_t k = 0; k < kStripes; ++k)
            if (double(fast[k]) > kMargin * double(full[k])) return false;
        return true;
    }

    // What `search` makes of stripes spread over the segment, from its first
    // bytes to its last, each with the bytes before it as its dictionary:
    // each one's deflated size into `bytes` (`out` is left as it was).
    bool trial(const uint8_t* in, size_t size, const uint8_t* dict, std::vector<uint8_t>& out, Search search,
               Stripes& bytes) {
        const size_t mark = out.size();
        for (size_t k = 0; k < kStripes; ++k) {
            const uint8_t* at = in + (size - kStripe) * k / (kStripes - 1);
            const size_t before = std::min(kStripeWindow, size_t(at - dict));
            bool done = true;
            if (search == Search::Own)
                own_.deflate(at, kStripe, before, false, out);
            else if (search == Search::Igzip)
                done = igzip(at, kStripe, at - before, before, false, out);
            else
                done = stripe_.start(at - before, before) && zlib(stripe_, at, kStripe, false, out);
            if (!done) return false;
            bytes[k] = out.size() - mark;
            out.resize(mark);
        }
        return true;
    }

    void keep(std::vector<uint8_t>& out, size_t unused) {
        out.insert(out.end(), room_.get(), room_.get() + (kRoom - unused));
    }

    bool igzip(const uint8_t* in, size_t size, const uint8_t* dict, size_t dictSize, bool closes,
               std::vector<uint8_t>& out) {
        isal_zstream s;
        isal_deflate_init(&s);
        // Level 2: on a photo's residuals a little faster than level 1, and as small.
        s.level = 2;
        // igzip clears what it uses of this at each stream's start.
        if (!levelBuf_) levelBuf_.reset(new uint8_t[ISAL_DEF_LVL2_DEFAULT]);
        s.level_buf = levelBuf_.get();
        s.level_buf_size = ISAL_DEF_LVL2_DEFAULT;
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

    // Bytes through the stream `zs` began, flushed to a byte boundary (or
    // closing the stream).
    bool zlib(Zlib& zs, const uint8_t* in, size_t size, bool closes, std::vector<uint8_t>& out) {
        z_stream& z = zs.z_;
        z.next_in = const_cast<uint8_t*>(in);
        z.avail_in = uInt(size);
        int rc;
        do {
            z.next_out = room_.get();
            z.avail_out = kRoom;
            rc = deflate(&z, closes ? Z_FINISH : Z_SYNC_FLUSH);
            keep(out, z.avail_out);
            if (rc != Z_OK && rc != Z_STREAM_END) return false;
        } while (z.avail_out == 0);
        return z.avail_in == 0 && (!closes || rc == Z_STREAM_END);
    }

    Zlib whole_, stripe_;
    FastDeflater own_;
    std::unique_ptr<uint8_t[]> levelBuf_, room_;
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
        int started = 1;
        try {
            for (; started < bands; ++started) jobs.push_back(std::async(std::launch::async, fn, started));
        } catch (const std::system_error&) {
            // No more threads to be had (a limit on threads or memory): the
            // calling thread takes the bands that found none.
        }
        bool ok = true;
        for (int b = started; b < bands; ++b) ok = fn(b) && ok;
        ok = fn(0) && ok;
        for (auto& j : jobs) ok = j.get() && ok;
        return ok;
    };
    const int channels = runBands([&](int b) { return rowsOpaque(image, first[b], first[b + 1]); }) ? 3 : 4;
    const size_t rowBytes = size_t(w) * channels + 1;
    // The zlib stream in pieces: its header, then each band's deflate.
    std::vector<std::vector<uint8_t>> packed(bands);
    packed[0] = {0x78, 0x9C};
    // Each band's checksum is taken on its own core too; they combine below.
    std::vector<uint32_t> bandAdler(bands);
    bool ok = runBands([&](int b) {
        return encodeBand(image, channels, std::clamp(level, 1, 9), first[b], first[b + 1], b == bands - 1,
                          packed[b], bandAdler[b]);
    });
    if (!ok) return {};

    uLong adler = adler32(0, nullptr, 0);
    for (int b = 0; b < bands; ++b) {
        size_t len = rowBytes * (first[b + 1] - first[b]);
        adler = adler32_combine(adler, bandAdler[b], z_off_t(len));
    }
    put32(packed.back(), uint32_t(adler));

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
    // The IDAT chunks straight from the pieces, each piece let go once copied.
    size_t left = 0;
    for (const auto& p : packed) left += p.size();
    out.reserve(out.size() + left + 12 * (left / kMaxChunk + 2));
    size_t piece = 0, at = 0;
    while (left > 0) {
        const size_t size = std::min(kMaxChunk, left);
        put32(out, uint32_t(size));
        const size_t start = out.size();
        out.insert(out.end(), {'I', 'D', 'A', 'T'});
        for (size_t need = size; need > 0;) {
            const size_t take = std::min(need, packed[piece].size() - at);
            out.insert(out.end(), packed[piece].data() + at, packed[piece].data() + at + take);
            need -= take, at += take;
            if (at == packed[piece].size()) std::vector<uint8_t>().swap(packed[piece++]), at = 0;
        }
        put32(out, uint32_t(crc32(0, out.data() + start, uInt(size + 4))));
        left -= size;
    }
    chunk(out, "IEND", nullptr, 0);
    return out;
}

}  // namespace kit::Png
