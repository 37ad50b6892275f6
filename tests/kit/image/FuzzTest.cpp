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

namespace io = kit::ImageIO;

namespace {

constexpr int kRounds = 150;

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

}  // namespace

TEST(Fuzz, ImageDecoderKeepsItsLimitsOnMutatedFiles) {
    std::mt19937 rng(20261207);
    const kit::Image pic = seedPicture();
    const std::vector<io::Bytes> seeds{io::encodePNG(pic), io::encodeJPEG(pic, 0.8),
                                       io::encodeGIF({pic}, 0.1)};
    for (const auto& seed : seeds) {
        ASSERT_FALSE(seed.empty());
        for (int i = 0; i < kRounds; ++i) {
            std::string error;
            kit::Image img = io::decode(mutate(seed, rng), 1.0, &error);
            if (img.isNull()) {
                EXPECT_FALSE(error.empty());
                continue;
            }
            EXPECT_LE((long long)img.width() * img.height(), io::kMaxDecodedPixels);
            EXPECT_EQ(img.bytesPerRow(), size_t(img.width()) * 4);
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
