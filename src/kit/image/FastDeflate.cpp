#include "kit/image/FastDeflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace kit::Png {

// A namespace of its own: the unity build joins this file with the encoder's.
namespace fastdeflate {
namespace {

constexpr uint32_t kWindow = 32768;
constexpr int kLitSymbols = 286, kDistSymbols = 30, kLengthSymbols = 19, kMaxBits = 15, kMaxLengthBits = 7;
// A block's tokens: few enough that its codes follow the content (a noisy
// patch, then a smooth stretch), enough that its header costs little.
constexpr size_t kBlockTokens = size_t(1) << 14;
constexpr int kHashBits = 15;
constexpr size_t kMaxMatch = 258;
// The search: the newest positions with the same three bytes, fewer once a
// match this long is found, and every position inside matches this short
// indexed too. Few candidates find most repeats through positions inside
// earlier matches: indexing those up to 32 bytes rather than 4 gives 4% fewer
// bytes on noisy pictures, where two more candidates give 1%.
constexpr int kCandidates = 2;
constexpr size_t kLongEnough = 32, kIndexWithin = 32;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a block's header gives the code lengths' own code lengths.
constexpr uint8_t kLengthOrder[kLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};

uint16_t reversed(uint32_t code, int bits) {
    uint32_t r = 0;
    for (int i = 0; i < bits; ++i, code >>= 1) r = r << 1 | (code & 1);
    return uint16_t(r);
}

// Canonical codes for the code lengths, bits reversed: deflate sends a
// Huffman code's first bit first, into the low end of each byte.
void canonicalCodes(const uint8_t* lengths, int n, uint16_t* codes) {
    int count[kMaxBits + 1] = {};
    for (int s = 0; s < n; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint32_t next[kMaxBits + 1] = {}, code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) next[bits] = code = (code + count[bits - 1]) << 1;
    for (int s = 0; s < n; ++s)
        if (lengths[s]) codes[s] = reversed(next[lengths[s]]++, lengths[s]);
}

struct Tables {
    uint8_t lengthCode[259];  // a match length's symbol, less 257
    uint8_t nearDist[256];    // a distance's code, by distance - 1 up to 255
    uint8_t farDist[256];     // by (distance - 1) / 128 above that
    // The fixed codes: all 288 literal/length symbols count where the
    // codes are given out, the two never sent too.
    uint8_t fixedLit[288], fixedDist[kDistSymbols];
    uint16_t fixedLitCode[288], fixedDistCode[kDistSymbols];

    Tables() {
        for (int c = 0; c < 29; ++c)
            for (int len = kLengthBase[c]; len < (c == 28 ? 259 : kLengthBase[c + 1]); ++len)
                lengthCode[len] = uint8_t(c);
        for (int c = 0; c < kDistSymbols; ++c)
            for (int d = kDistBase[c]; d < (c == 29 ? 32769 : kDistBase[c + 1]); ++d)
                (d <= 256 ? nearDist[d - 1] : farDist[(d - 1) >> 7]) = uint8_t(c);
        for (int s = 0; s < 288; ++s) fixedLit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        std::fill(fixedDist, fixedDist + kDistSymbols, 5);
        canonicalCodes(fixedLit, 288, fixedLitCode);
        canonicalCodes(fixedDist, kDistSymbols, fixedDistCode);
    }

    int distCode(uint32_t d) const { return d <= 256 ? nearDist[d - 1] : farDist[(d - 1) >> 7]; }
};

const Tables kTables;

// Huffman code lengths of at most `limit` bits for the symbols' counts (at
// least two of them not zero). Where the tree is deeper, its deepest leaves
// are lifted to the limit and, one at a time, a leaf above moves down a
// level to make room for one of them.
void codeLengths(const uint32_t* freq, int n, int limit, uint8_t* lengths) {
    std::array<uint16_t, kLitSymbols> sym;
    int m = 0;
    for (int s = 0; s < n; ++s)
        if (freq[s]) sym[m++] = uint16_t(s);
    std::stable_sort(sym.begin(), sym.begin() + m, [&](int a, int b) { return freq[a] < freq[b]; });
    // Leaves [0, m) by weight, inner nodes after them: each new node joins
    // the two lightest of the leaves and nodes not yet joined, and comes out
    // no lighter than the one before, so both stay in order.
    std::array<uint32_t, 2 * kLitSymbols> weight;
    std::array<uint16_t, 2 * kLitSymbols> parent, depth;
    for (int i = 0; i < m; ++i) weight[i] = freq[sym[i]];
    int leaf = 0, node = m;
    auto lightest = [&](int made) {
        return leaf < m && (node == made || weight[leaf] <= weight[node]) ? leaf++ : node++;
    };
    for (int k = m; k < 2 * m - 1; ++k) {
        const int a = lightest(k), b = lightest(k);
        weight[k] = weight[a] + weight[b];
        parent[a] = parent[b] = uint16_t(k);
    }
    depth[2 * m - 2] = 0;
    for (int k = 2 * m - 3; k >= 0; --k) depth[k] = uint16_t(depth[parent[k]] + 1);
    int count[kMaxBits + 1] = {};
    for (int i = 0; i < m; ++i) ++count[std::min<int>(depth[i], limit)];
    uint32_t kraft = 0;
    for (int bits = 1; bits <= limit; ++bits) kraft += uint32_t(count[bits]) << (limit - bits);
    for (; kraft > (uint32_t(1) << limit); --kraft) {
        --count[limit];
        int bits = limit - 1;
        while (!count[bits]) --bits;
        --count[bits];
        count[bits + 1] += 2;
    }
    std::fill(lengths, lengths + n, 0);
    for (int bits = limit, i = 0; bits >= 1; --bits)
        for (int c = 0; c < count[bits]; ++c) lengths[sym[i++]] = uint8_t(bits);
}

// Bits into bytes, first bit lowest. Up to 56 bits between flushes; the
// buffer needs 8 bytes to spare past its end.
class BitWriter {
public:
    explicit BitWriter(uint8_t* at) : at_(at) {}

    void put(uint64_t bits, int count) {
        acc_ |= bits << n_;
        n_ += count;
    }
    void flush() {
        std::memcpy(at_, &acc_, 8);
        at_ += n_ >> 3;
        acc_ >>= n_ & ~7;
        n_ &= 7;
    }
    void alignToByte() {
        flush();
        if (n_) ++at_, acc_ = 0, n_ = 0;
    }
    void bytes(const uint8_t* p, size_t n) {
        std::memcpy(at_, p, n);
        at_ += n;
    }
    uint8_t* end() const { return at_; }

private:
    uint8_t* at_;
    uint64_t acc_ = 0;
    int n_ = 0;
};

// A block's tokens as they are found, with their symbols' counts. A token
// is a literal byte, or (distance << 9) | (length + 253) for a match.
class Block {
public:
    Block() : tokens_(new uint32_t[kBlockTokens]) {}

    bool full() const { return n_ == kBlockTokens; }
    bool empty() const { return n_ == 0; }
    void literal(uint8_t b) {
        tokens_[n_++] = b;
        ++lit_[b];
    }
    void match(uint32_t len, uint32_t dist) {
        tokens_[n_++] = dist << 9 | (len + 253);
        ++lit_[257 + kTables.lengthCode[len]];
        ++dist_[kTables.distCode(dist)];
    }

    // The block, coded as whichever of its own codes, the fixed ones or
    // stored bytes is smallest; `from` holds its `size` input bytes.
    void write(BitWriter& w, const uint8_t* from, size_t size, bool last);

private:
    uint64_t costWith(const uint8_t* litLengths, const uint8_t* distLengths) const {
        uint64_t bits = 0;
        for (int s = 0; s < kLitSymbols; ++s) bits += uint64_t(lit_[s]) * litLengths[s];
        for (int c = 0; c < kDistSymbols; ++c) bits += uint64_t(dist_[c]) * (distLengths[c] + kDistExtra[c]);
        for (int c = 0; c < 29; ++c) bits += uint64_t(lit_[257 + c]) * kLengthExtra[c];
        return bits;
    }
    void writeTokens(BitWriter& w, const uint8_t* litLengths, const uint16_t* litCodes,
                     const uint8_t* distLengths, const uint16_t* distCodes) const;

    std::unique_ptr<uint32_t[]> tokens_;
    size_t n_ = 0;
    uint32_t lit_[kLitSymbols] = {}, dist_[kDistSymbols] = {};
};

void Block::writeTokens(BitWriter& w, const uint8_t* litLengths, const uint16_t* litCodes,
                        const uint8_t* distLengths, const uint16_t* distCodes) const {
    // Each length's symbol and extra bits as one code.
    uint32_t lengthBits[259];
    uint8_t lengthCount[259];
    for (int len = 3; len <= 258; ++len) {
        const int c = kTables.lengthCode[len], s = 257 + c;
        lengthBits[len] = litCodes[s] | uint32_t(len - kLengthBase[c]) << litLengths[s];
        lengthCount[len] = uint8_t(litLengths[s] + kLengthExtra[c]);
    }
    for (size_t i = 0; i < n_; ++i) {
        const uint32_t t = tokens_[i], s = t & 511;
        if (s < 256) {
            w.put(litCodes[s], litLengths[s]);
        } else {
            const uint32_t len = s - 253, d = t >> 9;
            const int c = kTables.distCode(d);
            w.put(lengthBits[len], lengthCount[len]);
            w.put(distCodes[c] | uint64_t(d - kDistBase[c]) << distLengths[c],
                  distLengths[c] + kDistExtra[c]);
        }
        w.flush();
    }
    w.put(litCodes[256], litLengths[256]);
    w.flush();
}

void Block::write(BitWriter& w, const uint8_t* from, size_t size, bool last) {
    lit_[256] = 1;
    // Every code has two symbols at least: one alone would be an
    // incomplete code, which not every inflater takes.
    for (int s = 0; std::count_if(lit_, lit_ + kLitSymbols, [](uint32_t f) { return f; }) < 2; ++s)
        lit_[s] = std::max(lit_[s], 1u);
    uint32_t distUsed[kDistSymbols];
    std::copy(dist_, dist_ + kDistSymbols, distUsed);
    for (int s = 0; std::count_if(distUsed, distUsed + kDistSymbols, [](uint32_t f) { return f; }) < 2; ++s)
        distUsed[s] = std::max(distUsed[s], 1u);

    uint8_t lengths[kLitSymbols + kDistSymbols];
    uint8_t* const litLengths = lengths;
    uint8_t* const distLengths = lengths + kLitSymbols;
    codeLengths(lit_, kLitSymbols, kMaxBits, litLengths);
    codeLengths(distUsed, kDistSymbols, kMaxBits, distLengths);
    int hlit = kLitSymbols, hdist = kDistSymbols;
    while (!litLengths[hlit - 1]) --hlit;
    while (!distLengths[hdist - 1]) --hdist;

    // The code lengths, literal/length then distance, run-length coded:
    // 16 repeats the last length 3-6 times, 17 and 18 give 3-10 and 11-138 zeros.
    uint8_t all[kLitSymbols + kDistSymbols];
    std::copy(litLengths, litLengths + hlit, all);
    std::copy(distLengths, distLengths + hdist, all + hlit);
    const int total = hlit + hdist;
    struct Run {
        uint8_t symbol, extra;
    };
    Run runs[kLitSymbols + kDistSymbols];
    int nRuns = 0;
    uint32_t lengthFreq[kLengthSymbols] = {};
    auto run = [&](int symbol, int extra) {
        runs[nRuns++] = {uint8_t(symbol), uint8_t(extra)};
        ++lengthFreq[symbol];
    };
    for (int i = 0; i < total;) {
        const uint8_t v = all[i];
        int n = 1;
        while (i + n < total && all[i + n] == v) ++n;
        i += n;
        if (v == 0) {
            for (; n >= 11; n -= std::min(n, 138)) run(18, std::min(n, 138) - 11);
            if (n >= 3) run(17, n - 3), n = 0;
        } else {
            run(v, 0), --n;
            for (; n >= 3; n -= std::min(n, 6)) run(16, std::min(n, 6) - 3);
        }
        for (; n > 0; --n) run(v, 0);
    }
    for (int s = 0; std::count_if(lengthFreq, lengthFreq + kLengthSymbols, [](uint32_t f) { return f; }) < 2;
         ++s)
        lengthFreq[s] = std::max(lengthFreq[s], 1u);
    uint8_t lengthLengths[kLengthSymbols];
    codeLengths(lengthFreq, kLengthSymbols, kMaxLengthBits, lengthLengths);
    int hclen = kLengthSymbols;
    while (hclen > 4 && !lengthLengths[kLengthOrder[hclen - 1]]) --hclen;

    constexpr uint8_t kRunExtra[3] = {2, 3, 7};
    uint64_t dynamic = 3 + 14 + 3 * uint64_t(hclen) + costWith(litLengths, distLengths);
    for (int r = 0; r < nRuns; ++r)
        dynamic +=
            lengthLengths[runs[r].symbol] + (runs[r].symbol >= 16 ? kRunExtra[runs[r].symbol - 16] : 0);
    const uint64_t fixed = 3 + costWith(kTables.fixedLit, kTables.fixedDist);
    // Stored: a header and byte alignment, length and its complement for
    // each 64 KB at most.
    const size_t pieces = std::max<size_t>(1, (size + 65534) / 65535);
    const uint64_t stored = 8 * uint64_t(size) + pieces * (3 + 7 + 32);

    if (stored < std::min(dynamic, fixed)) {
        for (size_t k = 0; k < pieces; ++k) {
            const size_t n = std::min<size_t>(65535, size - k * 65535);
            w.put(last && k + 1 == pieces, 3);
            w.alignToByte();
            w.put(n | (n ^ 0xFFFF) << 16, 32);
            w.flush();
            w.bytes(from + k * 65535, n);
        }
    } else if (fixed <= dynamic) {
        w.put(last | 1 << 1, 3);
        writeTokens(w, kTables.fixedLit, kTables.fixedLitCode, kTables.fixedDist, kTables.fixedDistCode);
    } else {
        uint16_t litCodes[kLitSymbols], distCodes[kDistSymbols], lengthCodes[kLengthSymbols];
        canonicalCodes(litLengths, kLitSymbols, litCodes);
        canonicalCodes(distLengths, kDistSymbols, distCodes);
        canonicalCodes(lengthLengths, kLengthSymbols, lengthCodes);
        w.put(last | 2 << 1 | (hlit - 257) << 3 | (hdist - 1) << 8 | (hclen - 4) << 13, 17);
        w.flush();
        for (int i = 0; i < hclen; ++i) {
            w.put(lengthLengths[kLengthOrder[i]], 3);
            w.flush();
        }
        for (int r = 0; r < nRuns; ++r) {
            const int s = runs[r].symbol;
            w.put(lengthCodes[s], lengthLengths[s]);
            if (s >= 16) w.put(runs[r].extra, kRunExtra[s - 16]);
            w.flush();
        }
        writeTokens(w, litLengths, litCodes, distLengths, distCodes);
    }
    n_ = 0;
    std::fill(lit_, lit_ + kLitSymbols, 0);
    std::fill(dist_, dist_ + kDistSymbols, 0);
}

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Hashes of the three bytes at p (the low end of `v`) and of the eight.
uint32_t hash3(uint32_t v) {
    return (v << 8) * 0x9E3779B1u >> (32 - kHashBits);
}
uint32_t hash8(const uint8_t* p) {
    return uint32_t(load64(p) * 0x9E3779B97F4A7C15ull >> (64 - kHashBits));
}

// How far a and b agree, from a known 3 bytes up to `most`.
inline __attribute__((always_inline)) size_t matchLength(const uint8_t* a, const uint8_t* b, size_t most) {
    size_t n = 3;
    for (; n + 8 <= most; n += 8)
        if (const uint64_t x = load64(a + n) ^ load64(b + n)) return n + size_t(__builtin_ctzll(x)) / 8;
    while (n < most && a[n] == b[n]) ++n;
    return n;
}

// Earlier positions, each as its offset from the start of the call's
// bytes plus `next`: the newest of each eight bytes, for matches over
// several pixels; and chains through those of each three bytes, newest
// first, for a pixel's repeat. Each call starts its positions a window past
// the last call's, so what that left is out of reach without clearing it.
struct Deflater {
    static constexpr size_t kSlots = size_t(1) << kHashBits;
    std::unique_ptr<uint32_t[]> head{new uint32_t[kSlots]()}, headLong{new uint32_t[kSlots]()},
        chain{new uint32_t[kWindow]};
    uint32_t next = kWindow + 1;
    Block block;

    void deflate(const uint8_t* in, size_t size, size_t dictSize, bool closes, std::vector<uint8_t>& out);
};

void Deflater::deflate(const uint8_t* in, size_t size, size_t dictSize, bool closes,
                       std::vector<uint8_t>& out) {
    Deflater& st = *this;
    dictSize = std::min<size_t>(dictSize, kWindow);
    const uint8_t* const base = in - dictSize;
    const uint8_t* const end = in + size;
    // Stored blocks bound every block, a few bytes each over its input.
    const size_t mark = out.size();
    out.resize(mark + size + size / 64 + 64);
    BitWriter w(out.data() + mark);
    Block& block = st.block;

    if (uint64_t(st.next) + dictSize + size + kWindow + 1 > UINT32_MAX) {
        std::fill(st.head.get(), st.head.get() + kSlots, 0);
        std::fill(st.headLong.get(), st.headLong.get() + kSlots, 0);
        st.next = kWindow + 1;
    }
    const uint32_t kBias = st.next;
    st.next += uint32_t(dictSize + size) + kWindow + 1;
    uint32_t* const head = st.head.get();
    uint32_t* const headLong = st.headLong.get();
    uint32_t* const chain = st.chain.get();
    // Positions whose four (eight) bytes can be read, the dictionary's
    // included: matches start before `last4`.
    const size_t readable = size_t(end - base);
    const uint8_t* const last4 = readable >= 4 ? end - 3 : base;
    const uint8_t* const last8 = readable >= 8 ? end - 7 : base;
    auto index = [&](const uint8_t* q, uint32_t& slot) {
        const uint32_t at = uint32_t(q - base) + kBias;
        chain[at & (kWindow - 1)] = slot;
        slot = at;
    };
    for (const uint8_t* q = base; q < in && q < last4; ++q) {
        index(q, head[hash3(load32(q))]);
        if (q < last8) headLong[hash8(q)] = uint32_t(q - base) + kBias;
    }

    const uint8_t* p = in;
    const uint8_t* blockStart = in;
    while (p < last4) {
        const uint32_t v = load32(p), at = uint32_t(p - base) + kBias;
        const size_t most = std::min(kMaxMatch, size_t(end - p));
        size_t len = 0;
        uint32_t dist = 0;
        auto consider = [&](uint32_t earlier) {
            const uint32_t d = at - earlier;
            if (d != dist && (load32(p - d) ^ v) << 8 == 0) {
                const size_t n = matchLength(p, p - d, most);
                if (n > len) len = n, dist = d;
            }
        };
        // A run of one byte (the zeros of a flat area or a repeated row,
        // filtered) at distance 1: the hashes, which skip the inside of a
        // long match, would find it only a match's length back, whose
        // distance costs seven extra bits a match where this costs none.
        if (p > base) consider(at - 1);
        if (p < last8) {
            uint32_t& longSlot = headLong[hash8(p)];
            if (at - longSlot <= kWindow) consider(longSlot);
            longSlot = at;
        }
        uint32_t& slot = head[hash3(v)];
        uint32_t earlier = slot;
        for (int k = 0; k < kCandidates && len < kLongEnough && at - earlier <= kWindow; ++k) {
            consider(earlier);
            earlier = chain[earlier & (kWindow - 1)];
        }
        index(p, slot);
        if (len) {
            block.match(uint32_t(len), dist);
            if (len <= kIndexWithin)
                for (const uint8_t* q = p + 1; q < p + len && q < last4; ++q)
                    index(q, head[hash3(load32(q))]);
            p += len;
        } else {
            block.literal(*p++);
        }
        if (block.full()) {
            block.write(w, blockStart, size_t(p - blockStart), false);
            blockStart = p;
        }
    }
    for (; p < end; ++p) {
        block.literal(*p);
        if (block.full()) {
            block.write(w, blockStart, size_t(p + 1 - blockStart), false);
            blockStart = p + 1;
        }
    }
    if (!block.empty() || closes) block.write(w, blockStart, size_t(end - blockStart), closes);
    if (!closes) {
        // An empty stored block brings the stream to a byte boundary.
        w.put(0, 3);
        w.alignToByte();
        w.put(0xFFFF0000u, 32);
    }
    w.alignToByte();
    out.resize(size_t(w.end() - out.data()));
}

}  // namespace
}  // namespace fastdeflate

struct FastDeflater::State : fastdeflate::Deflater {};

FastDeflater::FastDeflater() : state_(new State) {}
FastDeflater::~FastDeflater() = default;

void FastDeflater::deflate(const uint8_t* in, size_t size, size_t dictSize, bool closes,
                           std::vector<uint8_t>& out) {
    state_->deflate(in, size, dictSize, closes, out);
}

}  // namespace kit::Png
