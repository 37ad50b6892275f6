#include <gtest/gtest.h>

#include "kit/base/Image.h"
#include "kit/image/QRDetector.h"

using kit::Image;
using kit::QRDetector;

namespace {

// Copies `src` into `dst` with its top-left corner at (x, y), rows from the top.
void place(Image& dst, const Image& src, int x, int y) {
    for (int r = 0; r < src.height(); ++r)
        for (int c = 0; c < src.width(); ++c) dst.setPixel(x + c, y + r, src.pixel(c, r));
}

}  // namespace

TEST(QRDetector, ReadsWhatTheWriterEncodedIncludingUnicode) {
    for (std::string text : {"https://example.org/a?b=1", "Grüße, 你好"}) {
        Image code = QRDetector::encode(text, 200);
        ASSERT_FALSE(code.isNull());
        EXPECT_EQ(QRDetector::detect(code), std::vector<std::string>{text});
    }
}

TEST(QRDetector, FindsEveryCodeOnAPageAndNothingOnABlankOne) {
    Image page(900, 400);
    page.fill(kit::Color::white(1));
    EXPECT_TRUE(QRDetector::detect(page).empty());
    place(page, QRDetector::encode("first", 220), 40, 60);
    place(page, QRDetector::encode("second", 220), 600, 120);
    auto found = QRDetector::detect(page);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"first", "second"}));
}

TEST(QRDetector, CodesOnTransparentPixelsReadAsOnWhite) {
    Image code = QRDetector::encode("alpha", 160);
    for (int y = 0; y < code.height(); ++y)
        for (int x = 0; x < code.width(); ++x)
            if (code.pixel(x, y).r == 255) code.setPixel(x, y, {0, 0, 0, 0});
    EXPECT_EQ(QRDetector::detect(code), std::vector<std::string>{"alpha"});
}

TEST(QRDetector, VeryTallImagesAreShrunkNotRefused) {
    // A long scrolling capture: far more pixels than the recognisers take.
    Image tall(1400, 20000);
    tall.fill(kit::Color::white(1));
    place(tall, QRDetector::encode("deep down", 600), 400, 17000);
    EXPECT_EQ(QRDetector::detect(tall), std::vector<std::string>{"deep down"});
    EXPECT_TRUE(QRDetector::detect(Image()).empty());
    EXPECT_TRUE(QRDetector::encode(std::string(5000, 'x'), 100).isNull());
}
