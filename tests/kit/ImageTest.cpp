#include <gtest/gtest.h>

#include "kit/Image.h"

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
    EXPECT_EQ(img.cropped(8, 6, 10, 10).width(), 2);     // clipped
    EXPECT_TRUE(img.cropped(20, 20, 5, 5).isNull());     // nothing left
    EXPECT_TRUE(img.cropped(-5, -5, 3, 3).isNull());
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
