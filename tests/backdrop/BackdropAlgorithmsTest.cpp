#include <gtest/gtest.h>

#include <cmath>

#include "BackdropFixture.h"
#include "backdrop/EdgeAnalysis.h"
#include "backdrop/MeshGradient.h"
#include "backdrop/Perlin.h"
#include "backdrop/SoftShadow.h"

namespace {

using namespace backdrop;

void paint(kit::Image& img, int x0, int y0, int w, int h, kit::PixelBGRA p) {
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) img.setPixel(x, y, p);
}

const kit::PixelBGRA white{255, 255, 255, 255}, blue{200, 60, 20, 255}, red{20, 20, 230, 255};

TEST(Perlin, SameSeedSameNoiseOtherSeedOtherNoise) {
    const Perlin a(42), b(42), c(43);
    int differ = 0;
    for (int i = 0; i < 50; ++i) {
        const double x = i * 0.37, y = i * 0.61 + 0.2;
        EXPECT_EQ(a.noise(x, y), b.noise(x, y));
        differ += std::abs(a.noise(x, y) - c.noise(x, y)) > 1e-6;
        EXPECT_LE(std::abs(a.noise(x, y)), 1.0);
    }
    EXPECT_GT(differ, 25);
    EXPECT_EQ(a.noise(3, 7), 0.0);  // lattice points are zero
}

TEST(Perlin, PeriodicNoiseWrapsSoTheTileHasNoSeam) {
    const Perlin p(9);
    for (double x : {0.3, 1.7, 5.5})
        for (double y : {0.1, 2.9}) {
            EXPECT_NEAR(p.noise(x, y, 8), p.noise(x + 8, y, 8), 1e-12);
            EXPECT_NEAR(p.noise(x, y, 8), p.noise(x, y + 8, 8), 1e-12);
        }
    const kit::Image t1 = noiseTile(64, 5, 0.4), t2 = noiseTile(64, 5, 0.4);
    ASSERT_FALSE(t1.isNull());
    EXPECT_TRUE(t1 == t2);
    // The last column meets the first as smoothly as neighbours inside do.
    int maxAlpha = 0, edgeJump = 0, innerJump = 0;
    for (int y = 0; y < 64; ++y) {
        maxAlpha = std::max(maxAlpha, int(t1.pixel(5, y).a));
        edgeJump += std::abs(int(t1.pixel(63, y).b) - int(t1.pixel(0, y).b));
        innerJump += std::abs(int(t1.pixel(31, y).b) - int(t1.pixel(32, y).b));
    }
    EXPECT_LE(maxAlpha, 103);  // at most 0.4 opaque
    EXPECT_LT(edgeJump, 2 * innerJump + 64);
    EXPECT_TRUE(noiseTile(64, 5, 0).isNull());
    EXPECT_TRUE(noiseTile(0, 5, 0.5).isNull());
}

TEST(MeshGradient, EachCornerTakesTheColourOfItsNearestPointAndIsOpaque) {
    const std::vector<MeshPoint> points = {{{0.1, 0.1}, kit::Color{1, 0, 0, 1}},
                                           {{0.9, 0.9}, kit::Color{0, 0, 1, 1}}};
    const kit::Image img = renderMesh(points, 80, 60);
    ASSERT_EQ(img.width(), 80);
    const kit::Color topLeft = img.colorAt(0, 0), bottomRight = img.colorAt(79, 59),
                     middle = img.colorAt(40, 30);
    EXPECT_GT(topLeft.red8(), 200);
    EXPECT_LT(topLeft.blue8(), 55);
    EXPECT_GT(bottomRight.blue8(), 200);
    // Half way the two mix.
    EXPECT_NEAR(middle.red8(), 128, 30);
    EXPECT_NEAR(middle.blue8(), 128, 30);
    EXPECT_EQ(img.pixel(40, 30).a, 255);
    EXPECT_TRUE(renderMesh({}, 10, 10).isNull());
    EXPECT_TRUE(renderMesh(points, 0, 10).isNull());
}

TEST(MeshGradient, PointsDependOnlyOnSeedAndColoursAndPreviewKeepsTheShape) {
    const std::vector<kit::Color> colors = {kit::Color{1, 0, 0, 1}, kit::Color{0, 1, 0, 1},
                                            kit::Color{0, 0, 1, 1}};
    const auto a = meshPoints(colors, 3), b = meshPoints(colors, 3), c = meshPoints(colors, 4);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[1].at, b[1].at);
    EXPECT_NE(a[1].at, c[1].at);
    const kit::Size s = meshPreviewSize(3840, 2160);
    EXPECT_EQ(s.width, kMeshPreviewSide);
    EXPECT_EQ(s.height, 54);
    EXPECT_EQ(meshPreviewSize(50, 20), (kit::Size{50, 20}));  // small stays as it is
    EXPECT_EQ(meshPreviewSize(0, 20), (kit::Size{1, 1}));
}

TEST(EdgeAnalysis, TrimRemovesUniformBordersOfEachSideInsideTheCrop) {
    // A red picture inside a white frame (3 above, 5 below, 7 left, 2 right),
    // the whole on a blue page that the crop leaves out.
    kit::Image img = filled(100, 80, blue);
    paint(img, 10, 10, 50, 40, white);
    paint(img, 17, 13, 50 - 7 - 2, 40 - 3 - 5, red);
    const kit::Rect crop{10, 10, 50, 40};
    EXPECT_EQ(trimmedCrop(img, crop), (kit::Rect{17, 13, 41, 32}));
    // Nothing uniform: unchanged; all one colour: unchanged.
    EXPECT_EQ(trimmedCrop(img, {17, 13, 41, 32}), (kit::Rect{17, 13, 41, 32}));
    EXPECT_EQ(trimmedCrop(img, {70, 60, 20, 10}), (kit::Rect{70, 60, 20, 10}));
    // A one-pixel speck in the border keeps its row.
    img.setPixel(30, 11, red);
    EXPECT_EQ(trimmedCrop(img, crop).y(), 11);
    // A crop beyond the image is clipped first.
    EXPECT_EQ(clippedCrop(img, {90.5, -4, 40, 10}), (kit::Rect{90, 0, 10, 6}));
    EXPECT_TRUE(clippedCrop(kit::Image(), crop).isEmpty());
}

TEST(EdgeAnalysis, EdgeColourIsTheMostCommonColourOfTheRing) {
    kit::Image img = filled(60, 40, white);
    paint(img, 0, 0, 60, 1, red);      // the top row
    paint(img, 20, 10, 20, 20, blue);  // inside: not on the ring
    const std::optional<kit::Color> c = edgeColor(img, {0, 0, 60, 40});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->red8(), 255);
    EXPECT_EQ(c->blue8(), 255);
    // Cropped to the blue square, the ring is blue.
    EXPECT_EQ(edgeColor(img, {20, 10, 20, 20})->blue8(), 200);
    EXPECT_FALSE(edgeColor(img, {100, 100, 5, 5}));
}

TEST(SoftShadow, BlurredAtReducedSizeFullInsideAndFadedAtTheMargin) {
    const SoftShadow s = softShadow(4000, 2000, 24, 48, 0.5);
    ASSERT_FALSE(s.image.isNull());
    EXPECT_EQ(s.margin, 72);               // three standard deviations of a 48-pixel blur
    EXPECT_LT(s.image.width(), 4144 / 4);  // blurred small, drawn scaled up
    const int w = s.image.width(), h = s.image.height();
    EXPECT_NEAR(s.image.pixel(w / 2, h / 2).a, 128, 2);
    EXPECT_LE(s.image.pixel(0, h / 2).a, 3);
    EXPECT_LE(s.image.pixel(w / 2, 0).a, 3);
    EXPECT_EQ(s.image.pixel(w / 2, h / 2).r, 0);  // black
    // Half way through the margin the shadow is part way down.
    const int half = s.image.pixel(int(w * 36.0 / 4144), h / 2).a;
    EXPECT_GT(half, 3);
    EXPECT_LT(half, 125);
    EXPECT_TRUE(softShadow(100, 100, 0, 0, 0.5).image.isNull());
    EXPECT_TRUE(softShadow(100, 100, 0, 10, 0).image.isNull());
    EXPECT_TRUE(softShadow(0, 100, 0, 10, 0.5).image.isNull());
}

}  // namespace
