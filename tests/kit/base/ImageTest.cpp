#include <gtest/gtest.h>

#include <climits>

#include "kit/base/Blur.h"
#include "kit/base/Image.h"
#include "kit/draw/Path.h"
#include "kit/image/Canvas.h"

using kit::Image;
using kit::PixelBGRA;

TEST(Image, CropClipsToImageAndKeepsPixels) {
    Image img(10, 8, 2.0);
    img.setPixel(3, 2, {1, 2, 3, 255});
    Image c = img.cropped(2, 1, 4, 4);
    ASSERT_EQ(c.width(), 4);
    ASSERT_EQ(c.height(), 4);
    EXPECT_EQ(c.scale(), 2.0);
    EXPECT_EQ(c.pixel(1, 1), (PixelBGRA{1, 2, 3, 255}));
    EXPECT_EQ(img.cropped(8, 6, 10, 10).width(), 2);  // clipped
    EXPECT_TRUE(img.cropped(20, 20, 5, 5).isNull());  // nothing left
    EXPECT_TRUE(img.cropped(-5, -5, 3, 3).isNull());
}

TEST(Image, CropOfANonSquareRectKeepsRowsAndColumnsApart) {
    // Every pixel says where it is: blue = column, green = row.
    Image img(12, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 12; ++x) img.setPixel(x, y, {uint8_t(x), uint8_t(y), 0, 255});
    Image c = img.cropped(3, 1, 8, 4);
    ASSERT_EQ(c.width(), 8);
    ASSERT_EQ(c.height(), 4);
    EXPECT_EQ(c.pixel(0, 0), (PixelBGRA{3, 1, 0, 255}));
    EXPECT_EQ(c.pixel(7, 0), (PixelBGRA{10, 1, 0, 255}));
    EXPECT_EQ(c.pixel(0, 3), (PixelBGRA{3, 4, 0, 255}));
    EXPECT_EQ(c.pixel(7, 3), (PixelBGRA{10, 4, 0, 255}));
    Image tall = img.cropped(-2, 2, 3, 100);  // clipped on two sides
    ASSERT_EQ(tall.width(), 1);
    ASSERT_EQ(tall.height(), 5);
    EXPECT_EQ(tall.pixel(0, 4), (PixelBGRA{0, 6, 0, 255}));
}

TEST(Image, CropAndScaleTakeExtremeArgumentsSafely) {
    Image img(20, 10);
    img.fill(kit::Color::rgb(1, 2, 3));
    // Edges that leave the range of an int: nothing, never a read past the buffer.
    EXPECT_TRUE(img.cropped(0, INT_MIN, 5, INT_MIN + 35).isNull());
    EXPECT_TRUE(img.cropped(INT_MIN, 0, INT_MIN + 15, 5).isNull());
    EXPECT_TRUE(img.cropped(INT_MAX, INT_MAX, INT_MAX, INT_MAX).isNull());
    EXPECT_TRUE(img.cropped(5, 5, -3, 4).isNull());
    Image all = img.cropped(INT_MIN, INT_MIN, INT_MAX, INT_MAX);  // ends at -1: nothing
    EXPECT_TRUE(all.isNull());
    Image most = img.cropped(-1000, -1000, INT_MAX, INT_MAX);
    EXPECT_EQ(most.width(), 20);
    EXPECT_EQ(most.height(), 10);
    // Targets past what an image may hold are refused at once.
    EXPECT_TRUE(img.scaled(INT_MAX, INT_MAX).isNull());
    EXPECT_TRUE(img.scaled(1, INT_MAX, kit::ScaleQuality::None).isNull());
    EXPECT_TRUE(img.scaled(100000, 100000, kit::ScaleQuality::Medium).isNull());
    EXPECT_EQ(img.scaled(40, 3).width(), 40);
}

TEST(Image, OutOfBoundsAccessIsHarmless) {
    Image img(2, 2);
    img.setPixel(-1, 0, {9, 9, 9, 9});
    img.setPixel(2, 2, {9, 9, 9, 9});
    EXPECT_EQ(img.pixel(5, -3), PixelBGRA{});
    EXPECT_EQ(img.pixel(0, 0), PixelBGRA{});
}

TEST(Image, CopiesShareUntilWritten) {
    Image a(4, 4);
    Image b = a;
    b.setPixel(0, 0, {10, 20, 30, 255});
    EXPECT_EQ(a.pixel(0, 0), PixelBGRA{});
    EXPECT_EQ(b.pixel(0, 0), (PixelBGRA{10, 20, 30, 255}));
}

TEST(Image, FillIsPremultipliedAndColorAtUndoesIt) {
    Image img(3, 3);
    img.fill({1.0, 0.0, 0.5, 0.5});
    PixelBGRA p = img.pixel(1, 1);
    EXPECT_EQ(p.a, 128);
    EXPECT_EQ(p.r, 128);
    EXPECT_EQ(p.g, 0);
    EXPECT_EQ(p.b, 64);
    kit::Color c = img.colorAt(1, 1);
    EXPECT_NEAR(c.r, 1.0, 0.01);
    EXPECT_NEAR(c.b, 0.5, 0.01);
}

TEST(Image, ScaledKeepsSolidColourAtEveryQuality) {
    Image img(64, 32);
    img.fill(kit::Color::rgb(200, 100, 50));
    for (auto q : {kit::ScaleQuality::None, kit::ScaleQuality::Medium, kit::ScaleQuality::High}) {
        Image s = img.scaled(5, 3, q);
        ASSERT_EQ(s.width(), 5);
        ASSERT_EQ(s.height(), 3);
        EXPECT_EQ(s.pixel(2, 1), (PixelBGRA{50, 100, 200, 255}));
    }
    EXPECT_TRUE(img.scaled(0, 3).isNull());
}

TEST(Color, HexRoundTripAndStrictParsing) {
    EXPECT_EQ(kit::Color::rgb(255, 128, 0).hex(), "#FF8000");
    EXPECT_EQ(kit::Color::fromHex("#ff8000")->hex(), "#FF8000");
    EXPECT_EQ(kit::Color::fromHex("f80")->hex(), "#FF8800");
    EXPECT_NEAR(kit::Color::fromHex("00000080")->a, 128 / 255.0, 1e-9);
    EXPECT_FALSE(kit::Color::fromHex("#GG0000"));
    EXPECT_FALSE(kit::Color::fromHex("#12345"));
    EXPECT_FALSE(kit::Color::fromHex(""));
}

TEST(Image, ScaledQualitiesDifferOnDetail) {
    // A one-pixel checkerboard: nearest keeps hard pixels, smoothing greys them.
    Image img(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            img.setPixel(x, y, (x + y) % 2 ? PixelBGRA{255, 255, 255, 255} : PixelBGRA{0, 0, 0, 255});
    Image none = img.scaled(16, 16, kit::ScaleQuality::None);
    Image high = img.scaled(16, 16, kit::ScaleQuality::High);
    EXPECT_TRUE(none.pixel(5, 5).r == 0 || none.pixel(5, 5).r == 255);
    EXPECT_NEAR(high.pixel(5, 5).r, 128, 20);
    EXPECT_EQ(img.scaled(64, 64, kit::ScaleQuality::None), img);
}

TEST(Blur, SpreadsSymmetricallyAndKeepsMass) {
    Image img(41, 41);
    img.setPixel(20, 20, {255, 255, 255, 255});
    for (int y = 18; y <= 22; ++y)
        for (int x = 18; x <= 22; ++x) img.setPixel(x, y, {255, 255, 255, 255});
    Image b = kit::gaussianBlur(img, 3);
    long before = 0, after = 0;
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 41; ++x) before += img.pixel(x, y).a, after += b.pixel(x, y).a;
    EXPECT_NEAR(double(after), double(before), before * 0.03);
    EXPECT_LT(b.pixel(20, 20).a, 255);
    EXPECT_EQ(b.pixel(20 - 6, 20).a, b.pixel(20 + 6, 20).a);
    EXPECT_EQ(b.pixel(20, 20 - 6).a, b.pixel(20, 20 + 6).a);
    EXPECT_GT(b.pixel(20 - 6, 20).a, 0);
    EXPECT_EQ(b.pixel(0, 0).a, 0);
    for (int y = 0; y < 41; ++y)  // premultiplied stays valid
        for (int x = 0; x < 41; ++x) EXPECT_LE(b.pixel(x, y).r, b.pixel(x, y).a);
    EXPECT_EQ(kit::gaussianBlur(img, 0), img);  // no radius, no change
}

namespace {
// Canvas pixel (x, y), y up from the bottom row.
PixelBGRA up(const Image& img, int x, int y) {
    return img.pixel(x, img.height() - 1 - y);
}
}  // namespace

TEST(Canvas, YUpFillsClipsAndUprightImages) {
    kit::Canvas c(40, 20, 2.0);
    ASSERT_TRUE(c.isValid());
    c.fill(kit::Color::white(1));
    c.fillRect({0, 0, 10, 5}, kit::Color::rgb(255, 0, 0));  // bottom-left corner
    Image img = c.image();
    EXPECT_EQ(img.scale(), 2.0);
    EXPECT_EQ(up(img, 2, 2), (PixelBGRA{0, 0, 255, 255}));
    EXPECT_EQ(up(img, 2, 10), (PixelBGRA{255, 255, 255, 255}));

    c.clip({20, 0, 10, 20});
    c.fill(kit::Color::rgb(0, 0, 255));  // only inside the clip
    c.resetClip();
    img = c.image();
    EXPECT_EQ(up(img, 25, 10), (PixelBGRA{255, 0, 0, 255}));
    EXPECT_EQ(up(img, 35, 10), (PixelBGRA{255, 255, 255, 255}));

    Image pic(2, 2);  // top row green, bottom row black
    pic.setPixel(0, 0, {0, 255, 0, 255});
    pic.setPixel(1, 0, {0, 255, 0, 255});
    pic.setPixel(0, 1, {0, 0, 0, 255});
    pic.setPixel(1, 1, {0, 0, 0, 255});
    c.drawImage(pic, {30, 0, 10, 20}, kit::ScaleQuality::None);
    img = c.image();
    EXPECT_EQ(up(img, 35, 18), (PixelBGRA{0, 255, 0, 255}));
    EXPECT_EQ(up(img, 35, 2), (PixelBGRA{0, 0, 0, 255}));

    EXPECT_FALSE(kit::Canvas(0, 5).isValid());
    EXPECT_TRUE(kit::Canvas(0, 5).image().isNull());
}

TEST(Canvas, GradientStripsStayBetweenTheirEnds) {
    kit::Canvas c(30, 3);
    // A one-pixel strip as the conceal fill draws it: clipped, from its
    // lower-left to its upper-right, not extended.
    c.clip({10, 1, 10, 1});
    c.drawLinearGradient(kit::Color::rgb(255, 0, 0), kit::Color::rgb(0, 0, 255), {10, 1}, {20, 2});
    c.resetClip();
    Image img = c.image();
    EXPECT_EQ(up(img, 5, 1).a, 0);
    EXPECT_EQ(up(img, 15, 0).a, 0);
    EXPECT_GT(up(img, 10, 1).r, 200);
    EXPECT_GT(up(img, 19, 1).b, 200);
    PixelBGRA mid = up(img, 15, 1);
    EXPECT_NEAR(mid.r, 128, 20);
    EXPECT_EQ(mid.a, 255);

    kit::Canvas band(30, 5);
    band.drawLinearGradient(kit::Color::black(), kit::Color::white(1), {10, 0}, {20, 0});
    EXPECT_EQ(up(band.image(), 5, 2).a, 0);  // before the start: nothing
    EXPECT_EQ(up(band.image(), 25, 2).a, 0);
    band.drawLinearGradient(kit::Color::black(), kit::Color::white(1), {10, 0}, {20, 0}, true);
    EXPECT_EQ(up(band.image(), 25, 2), (PixelBGRA{255, 255, 255, 255}));

    kit::Canvas shapes(20, 20);
    shapes.clipRoundedRect({0, 0, 20, 20}, 8);
    shapes.fillPath(kit::Path::rect({0, 0, 20, 20}), kit::Color::black());
    EXPECT_EQ(up(shapes.image(), 0, 0).a, 0);
    EXPECT_EQ(up(shapes.image(), 10, 10).a, 255);

    kit::Canvas line(20, 20);
    kit::Path p;
    p.moveTo({0, 10});
    p.lineTo({20, 10});
    line.strokePath(p, kit::Color::black(), 4);
    EXPECT_EQ(up(line.image(), 5, 11).a, 255);
    EXPECT_EQ(up(line.image(), 5, 13).a, 0);
    line.strokePath(p, kit::Color::black(), 0);  // zero width draws nothing (no hairline)
}

TEST(Canvas, DrawsLayerTreesLikeTheExport) {
    // The export's composition: a backdrop layer, then the objects' layer
    // offset by the paddings, one unit a pixel.
    auto objects = kit::Layer::make();
    objects->setBounds({0, 0, 20, 10});
    auto mark = kit::Layer::make();
    mark->setFrame({0, 0, 5, 5});
    mark->setBackgroundColor(kit::Color::rgb(255, 0, 0));
    objects->addSublayer(mark);
    kit::Canvas c(30, 20);
    c.fill(kit::Color::white(1));
    c.drawLayer(*objects, {6, 4});
    Image img = c.image();
    EXPECT_EQ(up(img, 7, 5), (PixelBGRA{0, 0, 255, 255}));
    EXPECT_EQ(up(img, 5, 5), (PixelBGRA{255, 255, 255, 255}));
    EXPECT_EQ(up(img, 7, 3), (PixelBGRA{255, 255, 255, 255}));
    EXPECT_EQ(up(img, 11, 9), (PixelBGRA{255, 255, 255, 255}));
}
