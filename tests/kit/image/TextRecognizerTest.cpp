#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "imaging/TextPicture.h"
#include "kit/image/ImageIO.h"
#include "kit/image/TextRecognizer.h"

using kit::TextRecognitionRequest;
using kit::TextRecognizer;

namespace {

std::string squeezed(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](unsigned char c) { return std::isspace(c); }), s.end());
    return s;
}

}  // namespace

TEST(TextRecognizer, ReadsLinesOfARenderedPngWithBottomLeftBoxes) {
    kit::Image picture = imaging::test::textPicture(
        900, 200, {{"The quick brown fox jumps", 20, 20}, {"over the lazy dog 1234", 20, 110}});
    std::string path = std::string(std::getenv("KADRIX_HOME")) + "/text.png";
    auto png = kit::ImageIO::encodePNG(picture);
    ASSERT_FALSE(png.empty());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(png.data(), 1, png.size(), f);
    std::fclose(f);
    kit::Image loaded = kit::ImageIO::read(path);
    ASSERT_FALSE(loaded.isNull());

    for (auto level : {kit::RecognitionLevel::Fast, kit::RecognitionLevel::Accurate}) {
        auto result = TextRecognizer::recognize(loaded, {{}, level, 0});
        ASSERT_TRUE(result.ok()) << result.error;
        ASSERT_EQ(result.lines.size(), 2u);
        EXPECT_EQ(result.lines[0].text, "The quick brown fox jumps");
        EXPECT_EQ(result.lines[1].text, "over the lazy dog 1234");
        // The first line is near the top: in y-up pixels its box is high up.
        const kit::Rect& r = result.lines[0].rect;
        EXPECT_NEAR(r.minX(), 20, 6);
        EXPECT_GT(r.minY(), 130);
        EXPECT_LT(r.maxY(), 185);
        EXPECT_LT(result.lines[1].rect.maxY(), 95);
    }
    // An idle reader lets its engines go; the next recognition loads them again.
    TextRecognizer::releaseThreadEngines();
    auto again = TextRecognizer::recognize(loaded, {{}, kit::RecognitionLevel::Accurate, 0});
    ASSERT_EQ(again.lines.size(), 2u) << again.error;
    EXPECT_EQ(again.lines[1].text, "over the lazy dog 1234");
}

TEST(TextRecognizer, SecondLanguageAndMinimumHeight) {
    kit::Image picture = imaging::test::textPicture(
        900, 220, {{"Привет, как дела", 20, 20, 30}, {"small print here", 20, 150, 11}});
    auto ru = TextRecognizer::recognize(picture, {{"ru-RU", "en-US"}, kit::RecognitionLevel::Accurate, 0});
    ASSERT_TRUE(ru.ok()) << ru.error;
    ASSERT_FALSE(ru.lines.empty());
    EXPECT_EQ(squeezed(ru.lines[0].text), squeezed("Привет, как дела"));
    // 11-unit text is about 13 pixels high: below a minimum of 20 pixels.
    auto tall =
        TextRecognizer::recognize(picture, {{"ru-RU", "en-US"}, kit::RecognitionLevel::Accurate, 20.0 / 220});
    ASSERT_EQ(tall.lines.size(), 1u);
    EXPECT_EQ(tall.lines[0].text, ru.lines[0].text);
}

TEST(TextRecognizer, LanguageTagsMapToInstalledData) {
    EXPECT_EQ(TextRecognizer::engineLanguages({}), "eng");
    EXPECT_EQ(TextRecognizer::engineLanguages({"zh-Hans", "zh-Hant", "en-US"}), "chi_sim+chi_tra+eng");
    EXPECT_EQ(TextRecognizer::engineLanguages({"yue-Hans", "yue-Hant", "en-US"}), "chi_sim+chi_tra+eng");
    EXPECT_EQ(TextRecognizer::engineLanguages({"fr-FR", "en-US"}), "fra+eng");
    EXPECT_EQ(TextRecognizer::engineLanguages({"vi-VT", "en-US"}), "vie+eng");
    EXPECT_EQ(TextRecognizer::engineLanguages({"pt-PT"}), "por");
    EXPECT_EQ(TextRecognizer::engineLanguages({"xx-YY"}), "eng");  // unknown: the default
    auto supported = TextRecognizer::supportedLanguages();
    for (const char* tag : {"en-US", "fr-FR", "zh-Hans", "ru-RU", "th-TH", "vi-VT", "yue-Hans"})
        EXPECT_NE(std::find(supported.begin(), supported.end(), tag), supported.end()) << tag;
}

TEST(TextRecognizer, EmptyAndHugeImages) {
    EXPECT_TRUE(TextRecognizer::recognize(kit::Image(), {}).lines.empty());
    kit::Image blank(300, 200);
    blank.fill(kit::Color::white(1));
    auto none = TextRecognizer::recognize(blank, {});
    EXPECT_TRUE(none.ok());
    EXPECT_TRUE(none.lines.empty());

    auto big = kit::RecognitionImage::of(kit::Image(2000, 20000));
    EXPECT_LE((long long)big.width * big.height, kit::RecognitionImage::kMaxPixels);
    EXPECT_LE(big.height, kit::RecognitionImage::kMaxSide);
    EXPECT_DOUBLE_EQ(big.scaleY, double(big.height) / 20000);
    EXPECT_DOUBLE_EQ(big.scaleX, double(big.width) / 2000);
    auto enlarged = kit::RecognitionImage::of(kit::Image(100, 50), 2);
    EXPECT_EQ(enlarged.width, 200);
    EXPECT_EQ(enlarged.grey[0], 255);  // transparent reads as white
}

TEST(TextRecognizer, TallCapturesAreShrunkAndBoxesMappedBack) {
    // A 20000-pixel-tall scrolling capture: read at about four fifths, boxes in
    // the capture's own pixels.
    kit::Image line = imaging::test::textPicture(600, 120, {{"Bottom of a long page", 20, 20, 40}});
    kit::Image tall(600, 20000);
    tall.fill(kit::Color::white(1));
    for (int y = 0; y < line.height(); ++y)
        for (int x = 0; x < line.width(); ++x) tall.setPixel(x, 19800 + y, line.pixel(x, y));
    auto result = TextRecognizer::recognize(tall, {{}, kit::RecognitionLevel::Fast, 0});
    ASSERT_TRUE(result.ok()) << result.error;
    ASSERT_EQ(result.lines.size(), 1u);
    EXPECT_EQ(result.lines[0].text, "Bottom of a long page");
    // Drawn from row 19820 down: y up, that is below 180 and above 100.
    EXPECT_LT(result.lines[0].rect.maxY(), 185);
    EXPECT_GT(result.lines[0].rect.minY(), 100);
    EXPECT_NEAR(result.lines[0].rect.minX(), 20, 8);
}
