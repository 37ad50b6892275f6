#include <gtest/gtest.h>
#include <pthread.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ReferencePng.h"
#include "kit/base/Exif.h"
#include "kit/image/ImageIO.h"
#include "kit/image/PngEncoder.h"
#include "support/OwnCase.h"
#include "support/PictureFiles.h"
#include "support/TestData.h"

namespace {

// A picture with detail in every row, so each band has its own content.
kit::Image pattern(int w, int h, bool translucent) {
    kit::Image img(w, h, 2.0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t a = translucent ? uint8_t((x * 7 + y) % 256) : 255;
            // Premultiplied: no channel above alpha.
            auto c = [a](int v) { return uint8_t(v % 256 * a / 255); };
            img.setPixel(x, y, {c(x * 3), c(y * 5), c(x ^ y), a});
        }
    return img;
}

// Pixels that differ between the picture and its decoded PNG: opaque ones
// must come back exactly; un-premultiplying and premultiplying again may
// move a channel of a translucent one by one.
int pixelsOff(const kit::Image& img, const kit::Image& back) {
    if (back.width() != img.width() || back.height() != img.height()) return -1;
    int off = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            auto a = img.pixel(x, y), b = back.pixel(x, y);
            const int slack = a.a == 255 ? 0 : 1;
            off += std::abs(a.r - b.r) > slack || std::abs(a.g - b.g) > slack ||
                   std::abs(a.b - b.b) > slack || a.a != b.a;
        }
    return off;
}

TEST(PngEncoder, BandsJoinIntoOneStreamThatDecodesToTheSamePixels) {
    for (bool translucent : {false, true}) {
        kit::Image img = pattern(301, 1000, translucent);
        auto one = kit::Png::encode(img, 1);
        auto many = kit::Png::encode(img, 8);
        ASSERT_FALSE(many.empty());
        EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(many)), 0) << "translucent " << translucent;
        // The shared dictionary keeps the bands' output close to one core's.
        EXPECT_LT(double(many.size()), one.size() * 1.02 + 8 * 32);
    }
}

// Photo-like rows (predicted, deflated by igzip) above and below panels with
// glyph-like marks (screen rows: unfiltered, deflated by zlib), tall enough
// for several segments a band. The photo-like stripes are made for each
// predicting filter to win some rows: detail across (Up), down (Sub), both
// (Paeth) and grain (Average).
kit::Image screenAndPhoto(bool translucent) {
    const int w = 640, h = 1500;
    kit::Image img(w, h);
    uint32_t seed = 1;
    auto hash = [](int v) { return int((uint32_t(v) * 2654435761u) >> 26); };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28);
            uint8_t a = translucent ? uint8_t(128 + (x + y) % 128) : 255;
            auto c = [a](int v) { return uint8_t(std::clamp(v, 0, 255) * a / 255); };
            int v;
            if (y >= 400 && y < 1100) {
                const bool mark = (x / 7 + y / 11) % 5 == 0 && x % 7 < 5 && y % 11 < 8;
                v = mark ? 30 : (x / 160) % 2 ? 240 : 250;
            } else {
                const int stripe = (y / 25) % 4;
                v = stripe == 0   ? 100 + hash(x) + y % 3
                    : stripe == 1 ? 100 + hash(y) + x % 2
                    : stripe == 2 ? 60 + hash(x) + hash(y)
                                  : x / 3 + grain;
            }
            img.setPixel(x, y, {c(v), c(v / 2 + grain), c(255 - v), a});
        }
    return img;
}

TEST(PngEncoder, ScreenAndPhotoRowsDecodeExactly) {
    for (bool translucent : {false, true}) {
        kit::Image img = screenAndPhoto(translucent);
        for (int threads : {1, 4})
            EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(kit::Png::encode(img, threads, 3))), 0)
                << "translucent " << translucent << ", threads " << threads;
    }
}

TEST(PngEncoder, RepeatedRowsComeOutAsTheFullFilterWouldWriteThem) {
    // Runs of equal rows (black, clear, coloured, patterned) between rows of
    // detail, at band edges too.
    kit::Image img = pattern(200, 600, true);
    auto run = [&](int from, int to, kit::PixelBGRA p) {
        for (int y = from; y < to; ++y)
            for (int x = 0; x < 200; ++x) img.setPixel(x, y, p);
    };
    run(0, 80, {0, 0, 0, 255});
    run(150, 200, {0, 0, 0, 0});
    run(250, 320, {20, 40, 60, 255});
    for (int y = 400; y < 460; ++y)
        for (int x = 0; x < 200; ++x) img.setPixel(x, y, img.pixel(x, 399));
    kit::Image opaque = img.copy();
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 200; ++x) opaque.setPixel(x, y, {opaque.pixel(x, y).b, 9, 9, 255});
    for (const kit::Image& picture : {img, opaque}) {
        auto png = kit::Png::encode(picture, 5, 6);
        kit::Image back = kit::ImageIO::decode(png);
        ASSERT_EQ(back.height(), 600);
        for (int y : {0, 79, 80, 170, 260, 399, 430, 459, 599})
            for (int x : {0, 77, 199}) {
                auto a = picture.pixel(x, y), b = back.pixel(x, y);
                EXPECT_TRUE(std::abs(a.r - b.r) <= 1 && std::abs(a.g - b.g) <= 1 &&
                            std::abs(a.b - b.b) <= 1 && a.a == b.a)
                    << x << "," << y;
            }
    }
}

TEST(PngEncoder, ATranslucentPixelAnywhereKeepsTheAlphaChannel) {
    // Odd widths end a row on a pixel of its own; the last row, the last pixel.
    for (auto [w, h] :
         {std::pair{3, 1}, std::pair{1, 1}, std::pair{5, 2}, std::pair{2, 1}, std::pair{301, 70}}) {
        for (uint8_t alpha : {0, 128}) {
            kit::Image img(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) img.setPixel(x, y, {uint8_t(x * 40), 90, uint8_t(y * 30), 255});
            img.setPixel(w - 1, h - 1, {uint8_t(alpha / 2), 0, 0, alpha});
            auto png = kit::Png::encode(img, 4, 3);
            ASSERT_GT(png.size(), 33u);
            EXPECT_EQ(png[25], 6) << w << "x" << h << ": written without alpha";
            EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(png)), 0)
                << w << "x" << h << ", alpha " << int(alpha);
        }
    }
}

// A photo wallpaper with a terminal on it: smooth colour with the grain of a
// decoded camera picture (neighbours often equal, never for long), and a
// dark panel of glyph-like marks.
kit::Image wallpaperWithTerminal() {
    const int w = 800, h = 480;
    kit::Image img(w, h);
    uint32_t seed = 5;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 30) % 3 - 1;
            const double u = x / double(w), v = y / double(h);
            const bool terminal = x >= 200 && x < 600 && y >= 120 && y < 360;
            if (terminal) {
                const bool mark =
                    (x / 6 + y / 13 * 7) % 9 != 0 && x % 6 < 4 && y % 13 > 3 && (x * y) % 3 != 0;
                img.setPixel(x, y,
                             mark ? kit::PixelBGRA{200, 230, 200, 255} : kit::PixelBGRA{34, 30, 30, 255});
                continue;
            }
            auto c = [&](double base) { return uint8_t(std::clamp(int(std::lround(base)) + grain, 0, 255)); };
            img.setPixel(x, y,
                         {c(90 + 100 * v * (1 - u)), c(120 + 40 * std::sin(3 * u + 7 * v)),
                          c(150 - 90 * v + 30 * std::cos(5 * u)), 255});
        }
    return img;
}

// A smooth picture with a little grain, patches of strong noise (leaves,
// gravel) and lines of glyph-like marks on it, large enough for several
// segments: filtered, mostly zero bytes broken by short repeats, where
// zlib's longer search finds a third more than a fast deflate does.
kit::Image smoothPictureWithNoiseAndText() {
    const int w = 1280, h = 900;
    kit::Image img(w, h);
    uint32_t seed = 9;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const bool patch = (x / 160 + y / 150) % 3 == 0 && x % 160 < 110 && y % 150 < 90;
            const int grain = patch ? int(seed >> 25) - 64 : seed >> 29 == 0;
            const bool mark = y >= 300 && y < 620 && x >= 200 && x < 1000 && x % 8 < 5 && y % 16 < 10 &&
                              ((x / 8) * 7 + y / 16) % 5 != 0 && (x * 3 + y) % 7 < 4;
            const double u = x / double(w), v = y / double(h);
            auto c = [&](double base) {
                return mark ? uint8_t(20) : uint8_t(std::clamp(int(std::lround(base)) + grain, 0, 255));
            };
            img.setPixel(x, y,
                         {c(160 - 80 * v * u), c(100 + 60 * std::cos(2.5 * u + v)),
                          c(70 + 120 * v + 40 * std::sin(2 * u)), 255});
        }
    return img;
}

// A backdrop shading from one colour to another corner to corner: its rows
// repeat at distances that drift along the row, which only a long search
// for matches finds.
kit::Image cornerToCornerGradient() {
    const int w = 1280, h = 900;
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double t = (double(x) * w + double(y) * h) / (double(w) * w + double(h) * h);
            auto c = [t](int from, int to) { return uint8_t(std::lround(from + (to - from) * t)); };
            img.setPixel(x, y, {c(90, 60), c(40, 150), c(10, 230), 255});
        }
    return img;
}

TEST(PngEncoder, FilesAreAsSmallAsTheUsualWriters) {
    for (const kit::Image& img : {wallpaperWithTerminal(), screenAndPhoto(false),
                                  smoothPictureWithNoiseAndText(), cornerToCornerGradient()}) {
        const auto ours = kit::Png::encode(img, 4, 3), reference = testsupport::referencePng(img);
        ASSERT_FALSE(reference.empty());
        EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(ours)), 0);
        EXPECT_LE(double(ours.size()), 1.05 * double(reference.size()))
            << img.width() << "x" << img.height() << ": " << ours.size() << " bytes, the usual writer's "
            << reference.size();
    }
}

// A desktop of one colour, and one of a few large flat areas, are runs of
// zeros once filtered: a writer that codes runs at distance 1 (zlib's
// run-length strategy at level 3) makes a quarter of the usual file of them,
// and ours comes within its margin (or a few kilobytes) of that.
TEST(PngEncoder, FlatScreensCostNoMoreThanTheirRuns) {
    kit::Image flat(3840, 2160);
    flat.fill(kit::Color::rgb(58, 110, 165));
    kit::Image areas = flat;
    for (int y = 0; y < 2160; ++y)
        for (int x = 0; x < 3840; ++x) {
            if (y < 40)
                areas.setPixel(x, y, {52, 44, 40, 255});
            else if (x >= 400 && x < 3200 && y >= 240 && y < 1840)
                areas.setPixel(x, y, {255, 255, 255, 255});
        }
    for (const kit::Image& img : {flat, areas}) {
        const auto ours = kit::Png::encode(img, 4, 3), runs = testsupport::referencePng(img, Z_RLE);
        ASSERT_FALSE(runs.empty());
        EXPECT_EQ(pixelsOff(img, kit::ImageIO::decodeInProcess(ours)), 0);
        EXPECT_LE(double(ours.size()), std::max(1.05 * double(runs.size()), double(runs.size()) + 4096))
            << ours.size() << " bytes, run-length level 3's " << runs.size();
    }
}

// One segment's worth of rows (a band on one thread deflates a megabyte at a
// time) that starts with a few rows of noise and goes on as a corner-to-
// corner gradient: a trial that looks at the segment's start alone, or lets
// the noise's stripe outweigh the others, sees a fast deflate keep up with
// the level, and the gradient, most of the segment, comes out half as large
// again.
TEST(PngEncoder, ASegmentIsJudgedByAllOfItsRowsNotItsStart) {
    kit::Image img = cornerToCornerGradient().cropped(0, 0, 1280, 260);
    const kit::Image noise = testsupport::noisePicture(1280, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 1280; ++x) img.setPixel(x, y, noise.pixel(x, y));
    const auto ours = kit::Png::encode(img, 1, 3), reference = testsupport::referencePng(img);
    ASSERT_FALSE(reference.empty());
    EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(ours)), 0);
    EXPECT_LE(double(ours.size()), 1.05 * double(reference.size()))
        << ours.size() << " bytes, the usual writer's " << reference.size();
}

// The chunks of a PNG after its signature, each with whether its checksum
// holds; one that runs past the end is left out.
struct Chunk {
    std::string type;
    const uint8_t* data;
    uint32_t size;
    bool checksumHolds;
};

std::vector<Chunk> chunksOf(const std::vector<uint8_t>& png) {
    auto word = [&](size_t at) {
        return uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 |
               png[at + 3];
    };
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t len = word(at);
        if (at + 12 + len > png.size()) break;
        chunks.push_back({std::string(&png[at + 4], &png[at + 8]), &png[at + 8], len,
                          crc32(0, &png[at + 4], len + 4) == word(at + 8 + len)});
        at += 12 + len;
    }
    return chunks;
}

// The filtered rows a PNG holds: its IDAT chunks inflated.
std::vector<uint8_t> filteredRows(const std::vector<uint8_t>& png, size_t size) {
    std::vector<uint8_t> idat, rows(size);
    for (const Chunk& c : chunksOf(png))
        if (c.type == "IDAT") idat.insert(idat.end(), c.data, c.data + c.size);
    uLongf got = size;
    if (uncompress(rows.data(), &got, idat.data(), uLong(idat.size())) != Z_OK || got != size) return {};
    return rows;
}

TEST(PngEncoder, EachRowTakesTheFilterTheUsualWritersPick) {
    // Above the wallpaper, rows of black and white dots, three in ten white:
    // left unfiltered they sum smallest.
    kit::Image img = wallpaperWithTerminal();
    uint32_t seed = 3;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < img.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const uint8_t v = seed >> 22 < 307 ? 255 : 0;
            img.setPixel(x, y, {v, v, v, 255});
        }
    const auto expected = testsupport::referenceRows(img);
    for (int threads : {1, 4}) {
        const auto rows = filteredRows(kit::Png::encode(img, threads, 3), expected.size());
        ASSERT_EQ(rows.size(), expected.size());
        const size_t stride = size_t(img.width()) * 3 + 1;
        for (size_t at = 0; at < rows.size(); at += stride)
            if (std::memcmp(&rows[at], &expected[at], stride) != 0)
                FAIL() << "threads " << threads << ": row " << at / stride << " filtered by " << int(rows[at])
                       << ", the usual writers' by " << int(expected[at]);
    }
}

TEST(PngEncoder, AStreamLongerThanAChunkGoesIntoSeveralWholeChunks) {
    // Noise deflates to more than its own 8.6 MB, over the 8 MB a chunk holds.
    const kit::Image img = testsupport::noisePicture(1800, 1600);
    const auto png = kit::Png::encode(img, 4, 3);
    const auto chunks = chunksOf(png);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks.back().type, "IEND");
    int idats = 0;
    for (const Chunk& c : chunks) {
        EXPECT_TRUE(c.checksumHolds) << c.type << " chunk " << &c - chunks.data();
        idats += c.type == "IDAT";
    }
    EXPECT_GE(idats, 2);
    EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(png)), 0);
}

// The case below, in a process of its own, where no thread can be started.
TEST(PngEncoderWithoutThreads, EncodesEveryBandOnTheCallingThread) {
    if (!std::getenv("KADRIX_NO_THREADS")) GTEST_SKIP() << "only run by PngEncoder.ThreadsThatCannotStart";
    const kit::Image img = screenAndPhoto(true);
    pthread_attr_t attr, before;
    ASSERT_EQ(pthread_getattr_default_np(&before), 0);
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(1) << 46);  // more than the address space holds
    ASSERT_EQ(pthread_setattr_default_np(&attr), 0);
    const auto png = kit::Png::encode(img, 8, 3);
    pthread_setattr_default_np(&before);
    EXPECT_EQ(pixelsOff(img, kit::ImageIO::decode(png)), 0);
}

TEST(PngEncoder, ThreadsThatCannotStart) {
    testsupport::OwnCase child("PngEncoderWithoutThreads.EncodesEveryBandOnTheCallingThread",
                               "KADRIX_NO_THREADS", "1");
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.wait(), 0);
}

TEST(PngEncoder, OpaqueImagesAreRgbAndTheScaleIsTheDensity) {
    auto png = kit::Png::encode(pattern(10, 10, false));
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png[25], 2);  // colour type in IHDR: RGB
    EXPECT_EQ(kit::Png::encode(pattern(10, 10, true))[25], 6);
    // 144 dpi at scale 2: 5669 dots a metre.
    auto at = std::search(png.begin(), png.end(), std::begin("pHYs"), std::end("pHYs") - 1);
    ASSERT_NE(at, png.end());
    uint32_t dpm = uint32_t(at[4]) << 24 | uint32_t(at[5]) << 16 | uint32_t(at[6]) << 8 | at[7];
    EXPECT_EQ(dpm, 5669u);
    EXPECT_TRUE(kit::Png::encode(kit::Image()).empty());
}

TEST(Exif, UserCommentRoundTripsAndReplacesAnOldSegment) {
    auto jpeg = kit::ImageIO::encodeJPEG(pattern(16, 16, false), 0.9);
    ASSERT_FALSE(jpeg.empty());
    EXPECT_FALSE(kit::Exif::userComment(jpeg));
    auto once = kit::Exif::withUserComment(jpeg, "Screenshot");
    EXPECT_EQ(kit::Exif::userComment(once), "Screenshot");
    auto twice = kit::Exif::withUserComment(once, "Other");
    EXPECT_EQ(kit::Exif::userComment(twice), "Other");
    EXPECT_EQ(twice.size(), once.size() - 5);
    // Still a picture.
    EXPECT_EQ(kit::ImageIO::decode(twice).width(), 16);
    // Not a JPEG, or a broken one: nothing.
    EXPECT_TRUE(kit::Exif::withUserComment({1, 2, 3, 4}, "x").empty());
    std::vector<uint8_t> cut(once.begin(), once.begin() + 30);
    EXPECT_FALSE(kit::Exif::userComment(cut));
}

TEST(Exif, TheCommentFollowsHeadersThatEndTheData) {
    // Start of image and one JFIF header that runs to the last byte.
    std::string found = testsupport::testDataBytes("repro/jpeg-app0-ends-data.jpg");
    ASSERT_EQ(found.size(), 20u);
    std::vector<uint8_t> jpeg(found.begin(), found.end());
    auto commented = kit::Exif::withUserComment(jpeg, "Screenshot");
    EXPECT_EQ(kit::Exif::userComment(commented), "Screenshot");
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), commented.begin()));
}

}  // namespace
