#include <gtest/gtest.h>

#include "BackdropFixture.h"
#include "backdrop/Backdrop.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/image/Canvas.h"

namespace {

using backdrop::Backdrop;

struct Rendered {
    NoStoredLook noStoredLook;
    Backdrop b;
    services::Rect source{0, 0, 120, 80};
    double dpr = 1;
    explicit Rendered(const kit::Json& config) {
        b.sourceRect = [this] { return source; };
        b.pixelRatio = [this] { return dpr; };
        b.objectBounds = [] { return std::optional<services::Rect>(); };
        b.notify = [](const std::string&, const std::string&) {};
        kit::Json all = {{"isOn", 1},   {"inset", -1},      {"ratio", "auto"},
                         {"shadow", 0}, {"outerRadius", 0}, {"innerRadius", 0}};
        all.update(config);
        b.applyConfig(all);
    }
    kit::Image image() const { return kit::renderToImage(*b.lbackdrop(), 1.0); }
};

int distance(kit::Color a, kit::Color b) {
    return std::abs(a.red8() - b.red8()) + std::abs(a.green8() - b.green8()) +
           std::abs(a.blue8() - b.blue8());
}

TEST(BackdropRender, GradientEndsSitInTheCornersTheAnglePointsAt) {
    const kit::Color red{1, 0, 0, 1}, blue{0, 0, 1, 1};
    Rendered r({{"mode", "gradient"},
                {"padding", 30},
                {"angle", 45},
                {"gradientStart", {{"r", 1}, {"g", 0}, {"b", 0}}},
                {"gradientEnd", {{"r", 0}, {"g", 0}, {"b", 1}}}});
    const kit::Image img = r.image();
    ASSERT_EQ(img.width(), 180);
    ASSERT_EQ(img.height(), 140);
    // 45°: from the bottom left up to the top right (rows from the top).
    EXPECT_LE(distance(img.colorAt(1, img.height() - 2), red), 12);
    EXPECT_LE(distance(img.colorAt(img.width() - 2, 1), blue), 12);
    // The other two corners are half way between.
    const kit::Color mid = img.colorAt(1, 1);
    EXPECT_GT(mid.red8(), 90);
    EXPECT_GT(mid.blue8(), 90);

    r.b.applyConfig({{"angle", 180}});  // right to left
    const kit::Image flipped = r.image();
    EXPECT_LE(distance(flipped.colorAt(flipped.width() - 1, 70), red), 6);
    EXPECT_LE(distance(flipped.colorAt(0, 70), blue), 6);
}

TEST(BackdropRender, FlatModeIsOneColour) {
    Rendered r({{"mode", "flat"}, {"padding", 10}, {"flatColor", {{"r", 0.2}, {"g", 0.6}, {"b", 0.4}}}});
    const kit::Image img = r.image();
    const kit::Color want{0.2, 0.6, 0.4, 1};
    for (auto [x, y] : {std::pair{0, 0}, std::pair{139, 99}, std::pair{5, 50}})
        EXPECT_LE(distance(img.colorAt(x, y), want), 3) << x << "," << y;
}

TEST(BackdropRender, ShadowFallsBelowTheScreenshot) {
    Rendered r({{"mode", "flat"},
                {"padding", 40},
                {"flatColor", {{"r", 1}, {"g", 1}, {"b", 1}}},
                {"shadow", 0.75},
                {"shadowRadius", 12}});
    const kit::Image img = r.image();
    // The screenshot spans rows 40…119 from the top; look 6 pixels outside it.
    const int x = 100;
    const int above = img.colorAt(x, 40 - 6).red8(), below = img.colorAt(x, 120 + 6).red8();
    EXPECT_LT(below, above - 10);
    EXPECT_LT(below, 250);
    EXPECT_GT(img.colorAt(2, 2).red8(), 250);  // the far corner stays clean

    r.b.applyConfig({{"shadow", 0}});
    EXPECT_GT(r.image().colorAt(x, 120 + 6).red8(), 250);
}

TEST(BackdropRender, CornersOutsideTheOuterRadiusAreTransparent) {
    Rendered r({{"mode", "flat"}, {"padding", 20}, {"outerRadius", 24}});
    const kit::Image img = r.image();
    for (auto [x, y] : {std::pair{0, 0}, std::pair{159, 0}, std::pair{0, 119}, std::pair{159, 119}})
        EXPECT_EQ(img.pixel(x, y).a, 0) << x << "," << y;
    EXPECT_EQ(img.pixel(80, 0).a, 255);
    EXPECT_EQ(img.pixel(24, 24).a, 255);
}

TEST(BackdropRender, ScreenshotPixelsSurviveTheCompositionAtAnyRatio) {
    // A checkerboard screenshot drawn over the backdrop as the export does:
    // whole-pixel paddings keep every pixel as it was.
    kit::Image shot(120, 80, 1);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            shot.setPixel(x, y,
                          (x + y) % 2 ? kit::PixelBGRA{10, 200, 30, 255} : kit::PixelBGRA{250, 5, 120, 255});
    for (double dpr : {1.0, 1.5, 2.0}) {
        Rendered r({{"mode", "gradient"}, {"padding", 13.3}, {"ratio", "16:10"}, {"shadow", 0.6}});
        r.dpr = dpr;
        r.b.layout();
        const auto p = r.b.paddings();
        const kit::Image bg = r.image();
        kit::Canvas canvas(bg.width(), bg.height());
        canvas.drawLayer(*r.b.lbackdrop());
        canvas.drawImage(shot, kit::Rect(p.padBL, p.padBB, 120, 80), kit::ScaleQuality::None);
        const kit::Image out = canvas.image();
        const int left = int(p.padBL), top = int(p.padBT);
        int differing = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 120; ++x) differing += out.pixel(left + x, top + y) != shot.pixel(x, y);
        EXPECT_EQ(differing, 0) << "dpr " << dpr;
        EXPECT_NE(out.pixel(left - 1, top), shot.pixel(0, 0));
    }
}

}  // namespace
