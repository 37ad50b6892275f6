// TGA and JPEG files as other programs write them, read as `kadrix FILE`
// reads them (through the decoder program) and in this process: each opens
// with the values the file holds, pixel by pixel, or is refused in the
// sentence that fits it. The files are made here, byte by byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "support/DecoderSentences.h"

namespace io = kit::ImageIO;
using kit::Image;
using kit::PixelBGRA;

// Named: the tests of a folder are built as one unit.
namespace tgajpeg {

using testsupport::kDamaged;
using testsupport::kIncomplete;
using testsupport::kSanitized;

std::string le16(int v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF)};
}

// A TGA file: its header, colour map and pixel data as given, and when
// `attributes` >= 0 an extension area of that attributes type with the
// footer that points to it.
struct Tga {
    int type = 2, bits = 32, descriptor = 8, width = 2, height = 2;
    int mapFirst = 0, mapLength = 0, mapBits = 0;
    std::string map{}, pixels{};
    int attributes = -1;

    std::string bytes() const {
        std::string out;
        out += char(0);                      // no image name
        out += char(mapLength > 0 ? 1 : 0);  // colour map type
        out += char(type);
        out += le16(mapFirst) + le16(mapLength) + char(mapBits);
        out += le16(0) + le16(0) + le16(width) + le16(height);
        out += char(bits);
        out += char(descriptor);
        out += map + pixels;
        if (attributes >= 0) {
            const size_t at = out.size();
            std::string extension(495, '\0');
            extension[0] = char(495 & 0xFF), extension[1] = char(495 >> 8);
            extension[494] = char(attributes);
            out += extension;
            out += le16(int(at & 0xFFFF)) + le16(int(at >> 16)) + std::string(4, '\0');
            out += std::string("TRUEVISION-XFILE.\0", 18);
        }
        return out;
    }
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// A 32-bit and a 16-bit pixel as a TGA stores them.
std::string bgra(int b, int g, int r, int a) {
    return {char(b), char(g), char(r), char(a)};
}
std::string argb1555(int a, int r, int g, int b) {
    return le16((a << 15) | (r << 10) | (g << 5) | b);
}

// A small JPEG with an APP0 segment and the usual tables, as a camera or an
// editor writes it.
std::string jpeg() {
    Image img(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) img.setPixel(x, y, {uint8_t(x * 16), uint8_t(y * 16), 90, 255});
    const io::Bytes bytes = io::encodeJPEG(img, 0.9);
    return {bytes.begin(), bytes.end()};
}

// The same with two bytes that start no marker before its scan: a damaged
// file, not one cut short (it still ends with its end marker).
std::string jpegWithStrayBytes() {
    std::string j = jpeg();
    const size_t scan = j.find("\xFF\xDA");
    return scan == std::string::npos ? std::string() : j.insert(scan, "\x12\x34");
}

const PixelBGRA kBlue{255, 0, 0, 255}, kRed{0, 0, 255, 255}, kGreen{0, 255, 0, 255};

struct Kind {
    const char* name;
    std::string bytes;
    int width, height;
    std::vector<PixelBGRA> pixels;  // premultiplied, rows from the top
    std::string refusal;            // when it is refused instead
};

std::vector<Kind> kinds() {
    const std::string blueClear = bgra(255, 0, 0, 0), redClear = argb1555(0, 31, 0, 0);
    const std::vector<PixelBGRA> blue4(4, kBlue), red4(4, kRed);
    std::vector<Kind> k;
    // Alpha bits declared, every alpha value 0, no extension area: opaque.
    k.push_back({"32-bit, alpha all 0", Tga{.pixels = repeat(blueClear, 4)}.bytes(), 2, 2, blue4, {}});
    k.push_back({"16-bit, alpha bit all 0",
                 Tga{.bits = 16, .descriptor = 1, .pixels = repeat(redClear, 4)}.bytes(),
                 2,
                 2,
                 red4,
                 {}});
    // Run-length: one repeated packet for all four, and literal packets.
    k.push_back({"32-bit run-length, alpha all 0",
                 Tga{.type = 10, .pixels = "\x83" + blueClear}.bytes(),
                 2,
                 2,
                 blue4,
                 {}});
    k.push_back({"16-bit run-length, alpha bit all 0",
                 Tga{.type = 10,
                     .bits = 16,
                     .descriptor = 1,
                     .pixels = "\x01" + repeat(redClear, 2) + "\x01" + repeat(redClear, 2)}
                     .bytes(),
                 2,
                 2,
                 red4,
                 {}});
    // A map with alpha whose alpha values are all 0; the pixels its indices.
    k.push_back({"mapped, 32-bit map with alpha all 0",
                 Tga{.type = 1,
                     .bits = 8,
                     .mapLength = 2,
                     .mapBits = 32,
                     .map = bgra(255, 0, 0, 0) + bgra(0, 0, 255, 0),
                     .pixels = std::string("\0\1\1\0", 4)}
                     .bytes(),
                 2,
                 2,
                 {kRed, kBlue, kBlue, kRed},
                 {}});
    k.push_back({"mapped run-length, 16-bit map with alpha bit all 0",
                 Tga{.type = 9,
                     .bits = 8,
                     .descriptor = 1,
                     .mapLength = 1,
                     .mapBits = 16,
                     .map = argb1555(0, 0, 31, 0),
                     .pixels = std::string("\x83\0", 2)}
                     .bytes(),
                 2,
                 2,
                 std::vector<PixelBGRA>(4, kGreen),
                 {}});
    // Some alpha not 0 and no extension area: the alpha as stored.
    k.push_back(
        {"32-bit with alpha, no extension area",
         Tga{.pixels = bgra(255, 0, 0, 0) + bgra(0, 0, 255, 128) + repeat(bgra(0, 255, 0, 255), 2)}.bytes(),
         2,
         2,
         {kGreen, kGreen, {0, 0, 0, 0}, {0, 0, 128, 128}},
         {}});
    // The extension area's attributes type decides.
    k.push_back({"32-bit, extension says the fourth bytes are no alpha",
                 Tga{.pixels = repeat(bgra(255, 0, 0, 7), 4), .attributes = 2}.bytes(),
                 2,
                 2,
                 blue4,
                 {}});
    k.push_back({"32-bit run-length, extension says no alpha",
                 Tga{.type = 10, .pixels = "\x83" + bgra(0, 0, 255, 40), .attributes = 0}.bytes(),
                 2,
                 2,
                 red4,
                 {}});
    k.push_back({"32-bit, extension says alpha, all 0",
                 Tga{.pixels = repeat(blueClear, 4), .attributes = 3}.bytes(),
                 2,
                 2,
                 std::vector<PixelBGRA>(4, PixelBGRA{0, 0, 0, 0}),
                 {}});
    k.push_back(
        {"32-bit, extension says premultiplied alpha",
         Tga{.pixels = repeat(bgra(0, 0, 64, 128), 2) + repeat(bgra(100, 0, 0, 255), 2), .attributes = 4}
             .bytes(),
         2,
         2,
         {{100, 0, 0, 255}, {100, 0, 0, 255}, {0, 0, 64, 128}, {0, 0, 64, 128}},
         {}});
    // Rows kept from the top, each from the right.
    k.push_back(
        {"24-bit, kept from the top right",
         Tga{.bits = 24, .descriptor = 0x30, .pixels = std::string("\xFF\0\0\0\0\xFF\0\xFF\0\0\0\0", 12)}
             .bytes(),
         2,
         2,
         {kRed, kBlue, {0, 0, 0, 255}, kGreen},
         {}});
    // A map of 24-bit colours that starts at entry 5: index 5 is its first
    // colour, and an index before it names none.
    const auto mappedFrom5 = [](int width, std::string map, std::string indices) {
        return Tga{.type = 1,
                   .bits = 8,
                   .descriptor = 0,
                   .width = width,
                   .height = 1,
                   .mapFirst = 5,
                   .mapLength = int(map.size() / 3),
                   .mapBits = 24,
                   .map = map,
                   .pixels = indices}
            .bytes();
    };
    const std::string blue("\xFF\0\0", 3), green("\0\xFF\0", 3), red("\0\0\xFF", 3);
    k.push_back({"mapped, map from entry 5",
                 mappedFrom5(3, blue + green + red, "\7\5\6"),
                 3,
                 1,
                 {kRed, kBlue, kGreen},
                 {}});
    k.push_back(
        {"mapped, an index before the map's first entry", mappedFrom5(1, blue, "\4"), 0, 0, {}, kDamaged});
    k.push_back({"JPEG with stray bytes between its segments", jpegWithStrayBytes(), 0, 0, {}, kDamaged});
    const std::string whole = jpeg();
    k.push_back({"JPEG cut off in its scan", whole.substr(0, whole.size() - 40), 0, 0, {}, kIncomplete});
    return k;
}

class TgaJpegKinds : public ::testing::Test {
protected:
    void SetUp() override {
        folder = kit::files::uniqueTempPath("tga-jpeg-", "");
        std::filesystem::create_directories(folder);
    }
    void TearDown() override {
        io::setDecoderLimits(saved);
        std::filesystem::remove_all(folder);
    }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = folder + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    io::DecoderLimits saved = io::decoderLimits();
    std::string folder;
};

void expectPixels(const Image& image, const Kind& k, const std::string& error) {
    ASSERT_EQ(image.width(), k.width) << error;
    ASSERT_EQ(image.height(), k.height);
    std::string unlike;  // each pixel unlike the file's: where, what came, what it holds
    const auto bgra = [](PixelBGRA p) {
        return std::to_string(p.b) + " " + std::to_string(p.g) + " " + std::to_string(p.r) + " " +
               std::to_string(p.a);
    };
    for (int y = 0; y < k.height; ++y)
        for (int x = 0; x < k.width; ++x) {
            const PixelBGRA got = image.pixel(x, y), want = k.pixels[size_t(y * k.width + x)];
            if (got != want)
                unlike += " (" + std::to_string(x) + "," + std::to_string(y) + "): " + bgra(got) + " not " +
                          bgra(want) + ";";
        }
    EXPECT_EQ(unlike, "") << "pixels as B G R A, premultiplied";
}

TEST_F(TgaJpegKinds, EachOpensWithTheValuesItHoldsOrIsRefusedInItsSentence) {
    int n = 0;
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.name);
        ASSERT_FALSE(k.bytes.empty());
        const std::string path = write("kind-" + std::to_string(n++), k.bytes);
        std::string error;
        const Image read = io::read(path, 1.0, &error);
        std::string here;
        const Image inProcess = io::decodeInProcess(io::Bytes(k.bytes.begin(), k.bytes.end()), 1.0, &here);
        if (!k.refusal.empty()) {
            EXPECT_TRUE(read.isNull());
            EXPECT_EQ(error, k.refusal);
            EXPECT_TRUE(inProcess.isNull());
            EXPECT_EQ(here, k.refusal);
            continue;
        }
        expectPixels(read, k, error);
        expectPixels(inProcess, k, here);
    }
}

// A thumbnail is averaged from the rows as they are read: a picture kept
// from the right and from the top comes out upright, each of its pixels the
// mean of the block it covers.
TEST_F(TgaJpegKinds, ATgaThumbnailIsUprightAndAveraged) {
    // 8 × 4 stored right to left, top row first: on screen the left half
    // red, the right half blue, but for the bottom row, which is green.
    std::string pixels;
    for (int y = 0; y < 4; ++y)
        for (int x = 7; x >= 0; --x)
            pixels += y == 3 ? bgra(0, 255, 0, 255) : x < 4 ? bgra(0, 0, 255, 255) : bgra(255, 0, 0, 255);
    const std::string path =
        write("turned.tga", Tga{.descriptor = 0x38, .width = 8, .height = 4, .pixels = pixels}.bytes());
    std::string error;
    kit::Size original;
    const Image thumb = io::readScaled(path, 4, &error, &original);
    ASSERT_EQ(thumb.width(), 4) << error;
    ASSERT_EQ(thumb.height(), 2);
    EXPECT_EQ(original.width, 8);
    EXPECT_EQ(original.height, 4);
    // The bottom row of the thumbnail takes one red or blue row and the
    // green one: half of each, give or take the rounding.
    const auto near = [](PixelBGRA p, PixelBGRA q) {
        return std::abs(p.b - q.b) <= 1 && std::abs(p.g - q.g) <= 1 && std::abs(p.r - q.r) <= 1 && p.a == q.a;
    };
    const PixelBGRA redGreen{0, 128, 128, 255}, blueGreen{128, 128, 0, 255};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(thumb.pixel(x, 0), x < 2 ? kRed : kBlue) << x;
        EXPECT_TRUE(near(thumb.pixel(x, 1), x < 2 ? redGreen : blueGreen)) << x;
    }
}

// A thumbnail of a large TGA needs the thumbnail's memory, not the
// picture's: 8192 × 8192 (256 MB of pixels) read to 256 pixels under a
// decoder allowed 160 MB.
TEST_F(TgaJpegKinds, ATgaThumbnailIsMadeWithoutTheWholePicture) {
    if (kSanitized) GTEST_SKIP() << "a sanitizer's decoder holds no limit on its memory";
    constexpr int kSide = 8192;
    // Each packet 128 pixels of one colour, the rows in bands.
    std::string pixels;
    pixels.reserve(size_t(kSide) * kSide / 128 * 4);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; x += 128)
            pixels += "\xFF" + (y < kSide / 2 ? std::string("\xFF\0\0", 3) : std::string("\0\0\xFF", 3));
    const std::string path =
        write("large.tga",
              Tga{.type = 10, .bits = 24, .descriptor = 0, .width = kSide, .height = kSide, .pixels = pixels}
                  .bytes());
    io::setDecoderLimits({saved.cpuSeconds, 160LL << 20});
    std::string error;
    const Image thumb = io::readScaled(path, 256, &error);
    ASSERT_EQ(thumb.width(), 256) << error;
    ASSERT_EQ(thumb.height(), 256);
    // Rows from the bottom: the blue rows, stored first, are the bottom half.
    EXPECT_EQ(thumb.pixel(10, 10), kRed);
    EXPECT_EQ(thumb.pixel(10, 250), kBlue);
}

}  // namespace tgajpeg
