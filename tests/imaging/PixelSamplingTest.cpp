#include <gtest/gtest.h>

#include "Fixtures.h"
#include "imaging/PixelSampling.h"

using namespace imaging;
using test::paint;

namespace {

// 4 x 3 pixels, each with its own colour: red = column, green = row from the top.
kit::Image numbered() {
    kit::Image img(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) paint(img, x, y, 1, 1, x * 10, y * 10, 7);
    return img;
}

}  // namespace

TEST(PixelSampling, ColorAtAddressesTheCropFromItsBottomAndBoundaryPointsBelongBelow) {
    Capture cap = test::cropped(numbered(), {1, 1, 2, 2});
    // Crop column 0 is buffer column 1; y up from the crop's bottom (buffer row 2).
    EXPECT_EQ(colorAt(cap, 0.5, 0.5).color, kit::Color::rgb(10, 20, 7));
    EXPECT_EQ(colorAt(cap, 1.2, 1.5).color, kit::Color::rgb(20, 10, 7));
    EXPECT_EQ(colorAt(cap, 0.0, 1.0).color, kit::Color::rgb(10, 20, 7));  // on the boundary
    EXPECT_EQ(colorAt(cap, 0.5, 0.5).packed, 10u + 20u * 256 + 7u * 65536);
    for (auto [x, y] : {std::pair{-0.1, 0.5}, {2.0, 0.5}, {0.5, 0.0}, {0.5, 2.1}}) {
        SampledColor c = colorAt(cap, x, y);
        EXPECT_EQ(c.packed, 0u) << x << "," << y;
        EXPECT_EQ(c.color, kit::Color::black());
    }
}

TEST(PixelSampling, ColorAtNeverReadsPastTheBuffer) {
    Capture cap = test::cropped(numbered(), {2, 1, 2, 2});
    cap.precompiled = {50, 50};  // a prepared image larger than the buffer
    EXPECT_EQ(colorAt(cap, 1.5, 49.5).color, kit::Color::rgb(30, 10, 7));  // row 1 of the buffer
    EXPECT_EQ(colorAt(cap, 1.5, 0.5).packed, 0u);                          // row 50: past it
    EXPECT_EQ(colorAt(cap, 1.5, 10.5).color, kit::Color::black());
    EXPECT_EQ(colorAt(cap, 10, 10).color, kit::Color::black());
    cap.pixels = {};
    EXPECT_EQ(colorAt(cap, 0.5, 0.5).color, kit::Color::black());
}

TEST(PixelSampling, AverageAndDarkest) {
    kit::Image img = test::solid(6, 4, 255, 255, 255);
    paint(img, 0, 0, 3, 4, 10, 20, 31);  // left half
    Capture cap = Capture::of(img);
    SampledColor avg = avgColorFast(cap, {0, 0, 6, 4}, "average");
    EXPECT_EQ(avg.color, kit::Color::rgb((10 + 255) / 2, (20 + 255) / 2, (31 + 255) / 2));  // truncated
    EXPECT_EQ(avgColorFast(cap, {0, 0, 6, 4}, "darkest").color, kit::Color::rgb(10, 20, 31));
    EXPECT_EQ(avgColorFast(cap, {3, 0, 3, 4}, "darkest").color, kit::Color::rgb(255, 255, 255));
    // Negative sizes are normalised; rounding half away from zero.
    EXPECT_EQ(avgColorFast(cap, {6, 4, -3, -4}, "average").color, kit::Color::rgb(255, 255, 255));
    EXPECT_EQ(avgColorFast(cap, {2.5, 0, 0.5, 4}, "average").color, kit::Color::rgb(255, 255, 255));
}

TEST(PixelSampling, DarkestTieKeepsTheLeftColumnThenTheLowerPixel) {
    kit::Image img = test::solid(4, 4, 200, 200, 200);
    paint(img, 1, 0, 1, 1, 0, 0, 30);  // column 1, top row
    paint(img, 1, 3, 1, 1, 30, 0, 0);  // column 1, bottom row: lower, so it wins
    paint(img, 2, 3, 1, 1, 0, 30, 0);  // same darkness, further right
    Capture cap = Capture::of(img);
    EXPECT_EQ(avgColorFast(cap, {0, 0, 4, 4}, "darkest").color, kit::Color::rgb(30, 0, 0));
}

TEST(PixelSampling, SelectionsOutsideTheCropOrBufferSampleOnlyWhatIsInside) {
    test::Recorder rec;
    kit::Image img = test::solid(4, 4, 100, 100, 100);
    // A crop that reaches two columns past the buffer's right edge.
    Capture cap = test::cropped(img, {2, 0, 4, 4});
    EXPECT_EQ(avgColorFast(cap, {0, 0, 4, 4}, "average").color, kit::Color::rgb(100, 100, 100));
    EXPECT_EQ(avgColorFast(cap, {3, 0, 1, 4}, "average").color, kit::Color::black());  // wholly past it
    EXPECT_EQ(avgColorFast(cap, {10, 10, 5, 5}, "average").packed, 0u);
    EXPECT_EQ(avgColorFast(cap, {1, 1, 0.4, 3}, "average").packed, 0u);
    EXPECT_TRUE(rec.errors.empty());
    // A bogus crop of a billion pixels a side: only the buffer is visited.
    Capture huge = test::cropped(img, {-5e8, -5e8, 1e9, 1e9});
    EXPECT_EQ(avgColorFast(huge, {0, 0, 1e9, 1e9}, "average").color, kit::Color::rgb(100, 100, 100));
    cap.pixels = {};
    EXPECT_EQ(avgColorFast(cap, {0, 0, 2, 2}, "darkest").color, kit::Color::black());
    ASSERT_EQ(rec.errors.size(), 1u);
    EXPECT_EQ(rec.errors[0], "avgColorFast(selection:mode:): Can't get appl.pixels");
}

TEST(PixelSampling, PureHue) {
    kit::Color h = pureHue({0.8, 0.4, 0.2, 0.5});
    EXPECT_DOUBLE_EQ(h.r, 1);
    EXPECT_DOUBLE_EQ(h.g, 1.0 / 3);
    EXPECT_DOUBLE_EQ(h.b, 0);
    EXPECT_EQ(h.a, 1);
    EXPECT_EQ(pureHue({0.1, 0.5, 0.9, 1}), (kit::Color{0, 0.5, 1, 1}));
    EXPECT_EQ(pureHue({0.5, 0.5, 0.2, 1}), (kit::Color{1, 1, 0, 1}));
    EXPECT_EQ(pureHue({0.3, 0.3, 0.3, 0.7}), (kit::Color{0.3, 0.3, 0.3, 0.7}));  // no hue to find
}

TEST(PixelSampling, HexTexts) {
    for (const char* ok : {"#ffc200", " FFC200\t", "ff#c200"}) {
        kit::Color c = cgColor(ok, 0.5);
        EXPECT_EQ(hexString(c), "#FFC200") << ok;
        EXPECT_EQ(c.a, 0.5);
    }
    for (const char* bad : {"FFC20", "FFC2000", "GGGGGG", "", "FFC200\n"})
        EXPECT_EQ(cgColor(bad, 0.5), kit::Color::black()) << bad;
    EXPECT_EQ(hexString({1.0, 0.7607, 0.0, 1}), "#FFC200");
    EXPECT_EQ(hexString({1.5, -0.2, 0.5, 1}), "#FF0080");
}
