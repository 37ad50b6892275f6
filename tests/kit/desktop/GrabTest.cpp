#include <gtest/gtest.h>

#include "kit/desktop/Grab.h"
#include "kit/desktop/ScreenSource.h"
#include "kit/image/CapturePNG.h"
#include "kit/image/ImageIO.h"

namespace {

kit::Image solid(int w, int h, kit::PixelBGRA p) {
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, p);
    return img;
}

struct WithCursor : kit::ScreenSource {
    kit::Image grabArea(const kit::Rect& r) override {
        return solid(int(r.width()), int(r.height()), {200, 100, 0, 255});
    }
    std::optional<kit::CursorImage> cursorImage() override {
        kit::CursorImage c;
        c.image = solid(4, 4, {0, 0, 128, 128});  // half-transparent red, premultiplied
        c.hotspot = {1, 1};
        c.position = {50, 60};
        return c;
    }
};

}  // namespace

TEST(Grab, PointerIsCompositedAtItsHotspotOnlyWhenAsked) {
    kit::setScreenSource(std::make_shared<WithCursor>());
    kit::Rect area(40, 50, 20, 20);
    kit::Image plain = kit::grabScreen(area, false);
    kit::Image with = kit::grabScreen(area, true);
    EXPECT_EQ(plain.pixel(9, 9), (kit::PixelBGRA{200, 100, 0, 255}));
    // Pointer at (50, 60) is pixel (10, 10); the hotspot (1, 1) puts the image's corner at (9, 9).
    EXPECT_EQ(with.pixel(8, 8), plain.pixel(8, 8));
    EXPECT_EQ(with.pixel(9, 9), (kit::PixelBGRA{100, 50, 128, 255}));
    EXPECT_EQ(with.pixel(12, 12), (kit::PixelBGRA{100, 50, 128, 255}));
    EXPECT_EQ(with.pixel(13, 13), plain.pixel(13, 13));
    // A pointer hanging over the edge is clipped, not written out of bounds.
    kit::CursorImage edge = *WithCursor().cursorImage();
    edge.position = {40, 50};
    kit::Image clipped = plain;
    kit::drawCursor(clipped, area, edge);
    EXPECT_EQ(clipped.pixel(0, 0), (kit::PixelBGRA{100, 50, 128, 255}));
    kit::setScreenSource(nullptr);
}

TEST(CapturePNG, RoundTripsOpaqueAndTranslucentImagesWithText) {
    kit::Image img(37, 23);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            img.setPixel(x, y, {uint8_t(x * 7), uint8_t(y * 11), uint8_t(x ^ y), 255});
    auto bytes = kit::encodeCapturePNG(img, {{"kadrix.capture-rect", "[1, 2, 3, 4]"}});
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(kit::ImageIO::decode(bytes), img);
    EXPECT_EQ(kit::ImageIO::pngText(bytes)["kadrix.capture-rect"], "[1, 2, 3, 4]");

    kit::Image glass(5, 5);
    glass.setPixel(2, 2, {0, 0, 255, 255});
    glass.setPixel(1, 1, {0, 64, 0, 128});
    kit::Image back = kit::ImageIO::decode(kit::encodeCapturePNG(glass));
    EXPECT_EQ(back.pixel(2, 2), (kit::PixelBGRA{0, 0, 255, 255}));
    EXPECT_EQ(back.pixel(0, 0).a, 0);
    EXPECT_EQ(back.pixel(1, 1).a, 128);
    EXPECT_NEAR(back.pixel(1, 1).g, 64, 1);
    EXPECT_TRUE(kit::encodeCapturePNG({}).empty());
}
