// Short seeded fuzz passes over kit's parsers and decoders: mutated real
// inputs and random arguments, run in every build (and under the sanitizers
// in CI). Each pass checks that nothing crashes and that what comes back
// keeps the decoder's promises.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "kit/base/Image.h"
#include "kit/base/Json.h"
#include "kit/base/Regex.h"
#include "kit/image/ImageIO.h"
#include "support/FuzzMutator.h"
#include "support/TestData.h"

namespace io = kit::ImageIO;

namespace {

constexpr int kRounds = 150;
// Mutations of each picture decoded in this process, and of them those
// that go through the decoder program too.
constexpr int kPictureRounds = 500;
constexpr int kConfinedRounds = 1;

kit::Image seedPicture() {
    kit::Image img(48, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            img.setPixel(x, y, {uint8_t(x * 5), uint8_t(y * 7), uint8_t(x ^ y), 255});
    return img;
}

io::Bytes mutate(const io::Bytes& b, std::mt19937& rng) {
    return testsupport::mutateBytes(b, rng);
}

struct PictureSeed {
    std::string name;
    io::Bytes bytes;
};

// A valid picture of every kind the program's own readers read (bit-field
// and run-length BMP, PNG colour types and depths, TGA, TIFF in strips) and
// of the toolkit's commonest: each mutation starts from one of them, so the
// pass reaches every reader.
std::vector<PictureSeed> pictureSeeds() {
    const kit::Image pic = seedPicture();
    std::vector<PictureSeed> seeds{{"png written here", io::encodePNG(pic)},
                                   {"jpeg written here", io::encodeJPEG(pic, 0.8)},
                                   {"gif written here", io::encodeGIF({pic}, 0.1)}};
    for (const char* file :
         {"kinds/bmp-16-fields-565.bmp", "kinds/bmp-32-fields-alpha.bmp", "kinds/bmp-8-rle.bmp",
          "kinds/bmp-4-rle.bmp", "kinds/png-1-grey.png", "kinds/png-16-rgba.png",
          "kinds/png-4-palette-transparent.png", "kinds/png-8-grey-alpha-interlaced.png",
          "kinds/tiff-3-strips.tif", "tiff/deflate-le-64x48.tif", "tga/rle-24-plain.tga",
          "tga/rle-mapped.tga", "tga/raw-32-plain.tga"}) {
        const std::string bytes = testsupport::testDataBytes(file);
        seeds.push_back({file, io::Bytes(bytes.begin(), bytes.end())});
    }
    return seeds;
}

// What a decode promises, whichever way it ran: a refusal says why, and a
// picture is within the pixel cap (and the side asked for) with rows of
// four bytes a pixel.
void expectKeptLimits(const kit::Image& img, const std::string& error, int maxSide = 0) {
    if (img.isNull()) {
        EXPECT_FALSE(error.empty()) << "a refusal without a reason";
        return;
    }
    EXPECT_LE((long long)img.width() * img.height(), io::kMaxDecodedPixels);
    EXPECT_EQ(img.bytesPerRow(), size_t(img.width()) * 4);
    if (maxSide > 0) {
        EXPECT_LE(std::max(img.width(), img.height()), maxSide);
    }
}

}  // namespace

// Most rounds decode here, as the decoder program would, where a crash
// fails the test (through the decoder program it would pass as a
// refusal) and each costs a fraction of a millisecond; a few go through the
// decoder program with its limits of time and memory, so its road is taken
// too. Starting a decoder costs a tenth of a second or more of processor
// time on a slow machine: hundreds of them ran past the test's time.
TEST(Fuzz, ImageDecoderKeepsItsLimitsOnMutatedFiles) {
    std::mt19937 rng(20261207);
    for (const PictureSeed& seed : pictureSeeds()) {
        SCOPED_TRACE(seed.name);
        ASSERT_FALSE(seed.bytes.empty());
        // The seed itself opens, the same through the decoder program as here.
        std::string error;
        const kit::Image here = io::decodeInProcess(seed.bytes, 1.0, &error);
        ASSERT_FALSE(here.isNull()) << "the seed itself: " << error;
        EXPECT_TRUE(io::decode(seed.bytes, 1.0, &error) == here) << "through the decoder program: " << error;
        for (int i = 0; i < kPictureRounds; ++i) {
            SCOPED_TRACE("round " + std::to_string(i));
            const io::Bytes bytes = mutate(seed.bytes, rng);
            error.clear();
            expectKeptLimits(io::decodeInProcess(bytes, 1.0, &error), error);
            error.clear();
            expectKeptLimits(io::decodeInProcess(bytes, 1.0, &error, 32), error, 32);  // a thumbnail's road
            if (i < kConfinedRounds) {
                error.clear();
                expectKeptLimits(io::decode(bytes, 1.0, &error), error);
            }
        }
    }
}

TEST(Fuzz, CropAndScaleStayInsideTheirBuffers) {
    std::mt19937 rng(7);
    const kit::Image pic = seedPicture();
    const int extremes[] = {INT_MIN, INT_MIN + 1, -100000, -49, -1,     0,           1,
                            31,      32,          47,      48,  100000, INT_MAX - 1, INT_MAX};
    auto any = [&] { return (rng() & 1) ? extremes[rng() % std::size(extremes)] : int(rng() % 120) - 60; };
    for (int i = 0; i < kRounds * 10; ++i) {
        int x = any(), y = any(), w = any(), h = any();
        kit::Image c = pic.cropped(x, y, w, h);
        if (c.isNull()) continue;
        EXPECT_LE(c.width(), pic.width());
        EXPECT_LE(c.height(), pic.height());
        // The crop's corner pixel is the picture's pixel there.
        const int x0 = std::max(x, 0), y0 = std::max(y, 0);
        EXPECT_EQ(c.pixel(0, 0), pic.pixel(x0, y0)) << x << "," << y << "," << w << "," << h;
    }
    for (int i = 0; i < 40; ++i) {
        int w = any(), h = any();
        kit::Image s = pic.scaled(w, h, kit::ScaleQuality::None);
        if (!s.isNull()) {
            EXPECT_EQ(s.width(), w);
            EXPECT_EQ(s.height(), h);
        }
    }
}

TEST(Fuzz, JsonParserAnswersEveryText) {
    std::mt19937 rng(11);
    const std::string seed =
        R"({"rect":{"x1":1.5,"y1":-2,"width":1e308,"height":3},"size":9,"color":"#FFAA00","list":[1,[2,[3]]],"u":"\u00e9\ud83d\ude00"})";
    io::Bytes bytes(seed.begin(), seed.end());
    for (int i = 0; i < kRounds * 4; ++i) {
        io::Bytes m = mutate(bytes, rng);
        auto j = kit::json::parse(std::string(m.begin(), m.end()));
        if (j) {
            EXPECT_TRUE(kit::json::parse(kit::json::dump(*j))) << "a parsed value dumps to JSON again";
        }
    }
    // Deep nesting is refused or read, never a stack overflow.
    std::string deep(200000, '[');
    (void)kit::json::parse(deep);
}

TEST(Fuzz, RegularExpressionsOnRandomTexts) {
    std::mt19937 rng(3);
    const kit::Regex area(R"(\(([0-9\-\. ]+\,){3}[0-9\-\. ]+\))", kit::Regex::caseInsensitive);
    const std::string alphabet = "(), .-0123456789x\n\xC3\xA9\xFF";
    for (int i = 0; i < kRounds; ++i) {
        std::string text;
        size_t n = rng() % 4000;
        for (size_t k = 0; k < n; ++k) text += alphabet[rng() % alphabet.size()];
        for (const auto& m : area.matches(text)) {
            ASSERT_FALSE(m.groups.empty());
            EXPECT_EQ(m.text().front(), '(');
            EXPECT_EQ(m.text().back(), ')');
        }
    }
}
