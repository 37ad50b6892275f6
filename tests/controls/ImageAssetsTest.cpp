#include <gtest/gtest.h>

#include <cmath>

#include "controls/ImageAssets.h"

using namespace controls;

namespace {

// The darkest and the lightest opaque-ish pixel's luminance, 0 to 255.
struct InkRange {
    double darkest = 255, lightest = 0;
    int inked = 0;
};

InkRange inkOf(const kit::Image& img) {
    InkRange r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            kit::Color c = img.colorAt(x, y);
            if (c.a < 0.9) continue;
            double lum = 255 * (0.3 * c.r + 0.59 * c.g + 0.11 * c.b);
            r.darkest = std::min(r.darkest, lum);
            r.lightest = std::max(r.lightest, lum);
            ++r.inked;
        }
    return r;
}

bool hasAccent(const kit::Image& img) {
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            kit::Color c = img.colorAt(x, y);
            if (c.a > 0.9 && c.r > 0.85 && c.g < 0.4 && c.b < 0.3) return true;
        }
    return false;
}

}  // namespace

TEST(ImageAssetsTest, EveryPictureOtherPartsAskForIsDrawnAtBothScales) {
    const char* asked[] = {"kadrix-22",
                           "kadrix-22-ok",
                           "16-menu-update",
                           "16-menu-kadrix",
                           "16-menu-screen",
                           "16-menu-area",
                           "16-menu-scrolling",
                           "16-menu-ocr",
                           "16-menu-more",
                           "16-menu-window",
                           "16-menu-timer",
                           "16-menu-scrolling-up",
                           "16-menu-file",
                           "16-menu-clipboard",
                           "24-notification-warning",
                           "24-notification-logo",
                           "helper-firsthide",
                           "20-more",
                           "20-more-overlay",
                           "44-ico-draggable-file",
                           "6-circle",
                           "lib-148-images",
                           "lib-148-folder",
                           "lib-148-pinned",
                           "lib-148-notfound",
                           "lib-tool-28-area",
                           "lib-tool-28-more-hl",
                           "lib-tool-28-repeat",
                           "welcome",
                           "welcome-update",
                           "20-crop-lite",
                           "20-arrow-sf",
                           "20-text-sf",
                           "20-measure-lite-sf",
                           "20-rectangle-sf",
                           "20-backdrop",
                           "20-pen",
                           "20-appendcapture",
                           "20-blur-lite-sf",
                           "20-highlighter",
                           "20-spotlight",
                           "20-counter-lite-sf",
                           "20-oval-sf",
                           "20-line-sf",
                           "20-image",
                           "16-sel-adjust",
                           "16-sel-grow",
                           "16-sel-text",
                           "16-sel-measure",
                           "16-sel-erase",
                           "16-sel-reset"};
    auto all = ImageAssets::names();
    for (const char* name : asked) {
        SCOPED_TRACE(name);
        EXPECT_NE(std::find(all.begin(), all.end(), name), all.end());
        kit::Image one = ImageAssets::named(name, {false, 1.0});
        kit::Image two = ImageAssets::named(name, {false, 2.0});
        ASSERT_FALSE(one.isNull());
        ASSERT_FALSE(two.isNull());
        EXPECT_EQ(two.width(), 2 * one.width());
        EXPECT_EQ(two.height(), 2 * one.height());
        EXPECT_DOUBLE_EQ(two.pointSize().width, one.pointSize().width);
        EXPECT_GT(inkOf(two).inked, 0) << "nothing drawn";
    }
    EXPECT_EQ(ImageAssets::named("20-arrow-sf", {false, 1}).width(), 20);
    EXPECT_EQ(ImageAssets::named("lib-tool-28-area", {false, 1}).width(), 28);
    EXPECT_EQ(ImageAssets::named("kadrix-22", {false, 2}).width(), 44);
}

TEST(ImageAssetsTest, CursorsAreSizedAroundTheirHotSpots) {
    // The core's cursor table puts the hot spot at (13, 13) of most cursors,
    // (15, 15) of the pen and (2, 2) of the pointer.
    for (const char* name : {"cursor-move", "cursor-l-resize", "cursor-t-resize", "cursor-tl-resize",
                             "cursor-bl-resize", "cursor-zoom"}) {
        kit::Image img = ImageAssets::named(name, {false, 1});
        ASSERT_FALSE(img.isNull()) << name;
        EXPECT_EQ(img.width(), 26) << name;
        // The centre, where the hot spot is, is drawn on.
        EXPECT_GT(img.colorAt(13, 13).a, 0.5) << name;
    }
    EXPECT_EQ(ImageAssets::named("cursor-pen", {false, 1}).width(), 30);
    EXPECT_GT(ImageAssets::named("cursor-point", {false, 1}).colorAt(2, 2).a, 0.3);
    // Cursors carry their own white rim and black core on any background.
    InkRange move = inkOf(ImageAssets::named("cursor-move", {true, 2}));
    EXPECT_LT(move.darkest, 30);
    EXPECT_GT(move.lightest, 225);
}

TEST(ImageAssetsTest, InkFollowsTheBackgroundAndHighlightUsesTheAccent) {
    // The tray glyph must show on a light panel as on a dark one.
    InkRange onLight = inkOf(ImageAssets::named("kadrix-22", {false, 2}));
    InkRange onDark = inkOf(ImageAssets::named("kadrix-22", {true, 2}));
    EXPECT_LT(onLight.lightest, 80);
    EXPECT_GT(onDark.darkest, 180);
    EXPECT_FALSE(hasAccent(ImageAssets::named("20-arrow-sf", {false, 2})));
    EXPECT_TRUE(hasAccent(ImageAssets::named("20-arrow-sf-hl", {false, 2})));
    EXPECT_TRUE(hasAccent(ImageAssets::named("20-arrow-sf-hl", {true, 2})));
    // Coloured pictures keep their colours in both looks.
    EXPECT_EQ(ImageAssets::named("24-notification-logo", {false, 1}),
              ImageAssets::named("24-notification-logo", {true, 1}));
}

TEST(ImageAssetsTest, RegisteredPicturesWinAndUnknownNamesGiveNothing) {
    EXPECT_TRUE(ImageAssets::named("no-such-picture", {false, 1}).isNull());
    EXPECT_TRUE(ImageAssets::named("no-such-picture-hl", {false, 1}).isNull());
    kit::Image mine(5, 5);
    mine.fill(kit::Color{0, 1, 0, 1});
    ImageAssets::set("16-menu-file", mine);
    EXPECT_EQ(ImageAssets::named("16-menu-file", {true, 2}), mine);
    ImageAssets::set("16-menu-file", {});
}
