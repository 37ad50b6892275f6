#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kit/image/FastDeflate.h"

namespace {

// Residuals of a filtered picture: zero runs, and pixels of noise that is
// the same on all three channels (each pixel's byte repeated three times).
std::vector<uint8_t> pixelNoise(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; i += 3) {
        const bool noisy = (i / 20000) % 2 == 1;
        const uint8_t v = noisy ? uint8_t(int(rng() % 81) - int(rng() % 81)) : uint8_t(rng() % 6 == 0);
        for (size_t k = i; k < std::min(size, i + 3); ++k) out[k] = v;
    }
    return out;
}

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = uint8_t(rng());
    return out;
}

// A random 40 KB stretch three times over, then one of 100 KB twice: the
// repeats lie beyond the 32 KB window and may not be referred to.
std::vector<uint8_t> farRepeats() {
    std::vector<uint8_t> out;
    const auto short_ = randomBytes(40000, 5), long_ = randomBytes(100000, 6);
    for (int i = 0; i < 3; ++i) out.insert(out.end(), short_.begin(), short_.end());
    for (int i = 0; i < 2; ++i) out.insert(out.end(), long_.begin(), long_.end());
    return out;
}

// A random stretch, then its first 3, 4, … 258 bytes again, each copy
// followed by a byte it does not have: a match of every length.
std::vector<uint8_t> everyLength() {
    auto out = randomBytes(300, 7);
    std::vector<uint8_t> start(out.begin(), out.end());
    for (size_t len = 3; len <= 258; ++len) {
        out.insert(out.end(), start.begin(), start.begin() + len);
        out.push_back(uint8_t(start[len] + 1));
    }
    return out;
}

// Inflates a raw deflate stream with the 32 KB before `from` as its
// dictionary; returns what came out, or a message.
std::string inflateOwn(const std::vector<uint8_t>& packed, const uint8_t* from, size_t dictSize, bool closed,
                       std::vector<uint8_t>& out, size_t expected) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return "inflateInit2";
    const size_t dict = std::min<size_t>(dictSize, 32768);
    if (dict && inflateSetDictionary(&z, from - dict, uInt(dict)) != Z_OK) return "dictionary";
    out.assign(expected + 64, 0);
    z.next_in = const_cast<uint8_t*>(packed.data());
    z.avail_in = uInt(packed.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_SYNC_FLUSH);
    out.resize(out.size() - z.avail_out);
    const std::string msg = z.msg ? z.msg : "";
    const bool allRead = z.avail_in == 0;
    inflateEnd(&z);
    if (rc != (closed ? Z_STREAM_END : Z_OK)) return "inflate returned " + std::to_string(rc) + " " + msg;
    if (!allRead) return "bytes left after the stream";
    return "";
}

TEST(FastDeflate, InflatesToTheSameBytesWhateverTheInput) {
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs = {
        {"empty", {}},
        {"one byte", {42}},
        {"three bytes", {1, 2, 3}},
        {"high bytes", {200, 250, 144, 255}},
        {"flat", std::vector<uint8_t>(300000, 7)},
        {"repeated pixel",
         [] {
             std::vector<uint8_t> v;
             for (int i = 0; i < 100000; ++i) v.insert(v.end(), {12, 200, 34});
             return v;
         }()},
        {"pixel noise", pixelNoise(1 << 20, 1)},
        {"random", randomBytes(200000, 2)},
        {"far repeats", farRepeats()},
        {"every length", everyLength()},
    };
    kit::Png::FastDeflater deflater;  // one for all: what a call leaves may not reach into the next
    for (const auto& [name, bytes] : inputs)
        for (size_t dictSize : {size_t(0), size_t(100), size_t(70000)})
            for (bool closes : {false, true}) {
                // The dictionary: bytes of another kind, ending where the input starts.
                std::vector<uint8_t> all = pixelNoise(dictSize, 3);
                all.insert(all.end(), bytes.begin(), bytes.end());
                const uint8_t* in = all.data() + dictSize;
                std::vector<uint8_t> packed, back;
                deflater.deflate(in, bytes.size(), dictSize, closes, packed);
                SCOPED_TRACE(name + ", dictionary " + std::to_string(dictSize) + (closes ? ", closes" : ""));
                EXPECT_EQ(inflateOwn(packed, in, dictSize, closes, back, bytes.size()), "");
                EXPECT_TRUE(back == bytes);
                if (!closes) {
                    // A sync flush: an empty stored block ends it on a byte boundary.
                    ASSERT_GE(packed.size(), 4u);
                    EXPECT_EQ(std::memcmp(packed.data() + packed.size() - 4, "\x00\x00\xFF\xFF", 4), 0);
                }
            }
}

TEST(FastDeflate, SegmentsWithThePreviousWindowJoinIntoOneStream) {
    const auto bytes = pixelNoise(3 << 20, 4);
    const size_t segment = 700001;
    kit::Png::FastDeflater deflater;
    std::vector<uint8_t> packed;
    for (size_t at = 0; at < bytes.size(); at += segment) {
        const size_t size = std::min(segment, bytes.size() - at);
        deflater.deflate(bytes.data() + at, size, std::min<size_t>(at, 32768), at + size == bytes.size(),
                         packed);
    }
    std::vector<uint8_t> back;
    EXPECT_EQ(inflateOwn(packed, bytes.data(), 0, true, back, bytes.size()), "");
    EXPECT_TRUE(back == bytes);
}

TEST(FastDeflate, PixelRepeatsComeNearZlibLevel3AndRandomBytesAreStored) {
    const auto noise = pixelNoise(1 << 20, 5);
    kit::Png::FastDeflater deflater;
    std::vector<uint8_t> packed;
    deflater.deflate(noise.data(), noise.size(), 0, true, packed);
    std::vector<uint8_t> level3(compressBound(uLong(noise.size())));
    uLongf size = level3.size();
    ASSERT_EQ(compress2(level3.data(), &size, noise.data(), uLong(noise.size()), 3), Z_OK);
    EXPECT_LT(double(packed.size()), 1.07 * double(size));

    const auto random = randomBytes(1 << 20, 6);
    packed.clear();
    deflater.deflate(random.data(), random.size(), 0, true, packed);
    EXPECT_LT(packed.size(), random.size() + random.size() / 1000);
}

}  // namespace
