#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "capture/Capturer.h"
#include "capture/Synthetic.h"
#include "capture/ToolOutput.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

using capture::Capturer;
using capture::WindowShadow;
using namespace testing_capture;

namespace {

// A window of `inner` opaque pixels inside transparent margins (top, right, bottom, left).
kit::Image windowWithShadow(int w, int h, int top, int right, int bottom, int left) {
    kit::Image img(left + w + right, top + h + bottom);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(left + x, top + y, {10, 200, 30, 255});
    return img;
}

}  // namespace

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        spy.install();
        desk = installDesktop(800, 600, 600);
        capture::captureContext() = {};
    }
    void TearDown() override {
        kit::setScreenSource(nullptr);
        capture::resetHost();
    }
    HostSpy spy;
    std::shared_ptr<FakeDesktop> desk;
};

TEST_F(Capture, PaddingsAndTrimKeepOneMarginPixel) {
    kit::Image img = windowWithShadow(60, 40, 10, 10, 20, 10);
    EXPECT_TRUE(Capturer::isEdgeTransparent(img));
    EXPECT_EQ(Capturer::shadowPaddings(img), (capture::EdgePaddings{9, 9, 19, 9}));
    kit::Image t = Capturer::trimEdges(img);
    EXPECT_EQ(t.width(), 62);
    EXPECT_EQ(t.height(), 42);
    EXPECT_EQ(t.pixel(0, 0).a, 0);
    EXPECT_EQ(t.pixel(1, 1).a, 255);

    // A margin of 300 pixels or more is out of reach: padding 0 on that side.
    kit::Image wide = windowWithShadow(20, 20, 0, 0, 0, 310);
    EXPECT_EQ(Capturer::shadowPaddings(wide).left, 0);
    // Opaque images have no paddings and are not trimmed.
    kit::Image opaque = makePage(50, 50);
    EXPECT_FALSE(Capturer::isEdgeTransparent(opaque));
    EXPECT_EQ(Capturer::trimEdges(opaque), opaque);
    // A middle column transparent over the whole height gives no vertical paddings.
    kit::Image hollow(31, 30);
    for (int y = 0; y < 30; ++y)
        for (int x : {0, 1, 29, 30}) hollow.setPixel(x, y, {1, 1, 1, 255});
    auto p = Capturer::shadowPaddings(hollow);
    EXPECT_EQ(p.top, 0);
    EXPECT_EQ(p.bottom, 0);
}

TEST_F(Capture, SolidBackgroundCentresTheWindow) {
    kit::Image img = windowWithShadow(60, 40, 10, 10, 20, 10);
    spy.strings["windowSolidColor"] = "#FF0000";
    kit::Image out = Capturer::applyWindowBackground(WindowShadow::solid, img);
    EXPECT_TRUE(capture::captureContext().backdropApplied);
    ASSERT_EQ(out.width(), img.width());
    EXPECT_EQ(out.pixel(0, 0), (kit::PixelBGRA{0, 0, 255, 255}));
    // Moved down by (19 − 9) / 2 = 5 rows: the window now starts at row 15.
    EXPECT_EQ(out.pixel(40, 14), (kit::PixelBGRA{0, 0, 255, 255}));
    EXPECT_EQ(out.pixel(40, 15), (kit::PixelBGRA{10, 200, 30, 255}));
    // The stored colour is read like every colour text: any "#", any case, blanks around.
    spy.strings["windowSolidColor"] = " ff#c200 ";
    EXPECT_EQ(Capturer::applyWindowBackground(WindowShadow::solid, img).pixel(0, 0),
              (kit::PixelBGRA{0x00, 0xc2, 0xff, 255}));
    spy.strings["windowSolidColor"] = "#abc";
    EXPECT_EQ(Capturer::applyWindowBackground(WindowShadow::solid, img).pixel(0, 0),
              (kit::PixelBGRA{0, 0, 0, 255}));

    kit::Image opaque = makePage(40, 40);
    EXPECT_EQ(Capturer::applyWindowBackground(WindowShadow::solid, opaque), opaque);
    EXPECT_FALSE(capture::captureContext().backdropApplied);
    EXPECT_TRUE(Capturer::addColor({}, kit::Color::black()).isNull());
    EXPECT_TRUE(spy.oopsed("No image to add color to"));
}

TEST_F(Capture, WallpaperUsesTheCentreOfTheDesktopPicture) {
    desk->wallpaperImage = makePage(200, 100, 7);
    kit::Image img = windowWithShadow(40, 20, 4, 4, 4, 4);
    kit::Image out = Capturer::applyWindowBackground(WindowShadow::wallpaper, img);
    EXPECT_TRUE(capture::captureContext().backdropApplied);
    kit::Image centre = desk->wallpaperImage.cropped(76, 36, 48, 28);
    EXPECT_EQ(out.pixel(0, 0), centre.pixel(0, 0));
    EXPECT_EQ(out.pixel(20, 10), (kit::PixelBGRA{10, 200, 30, 255}));
    // An opaque capture keeps its pixels; no desktop picture is a report, not a failure.
    kit::Image opaque = makePage(30, 30);
    EXPECT_EQ(Capturer::addWallpaper(opaque), opaque);
    desk->wallpaperImage = {};
    EXPECT_EQ(Capturer::addWallpaper(img), img);
    EXPECT_TRUE(spy.oopsed("Can't identify desktop"));
    EXPECT_TRUE(Capturer::getWallpaper(3).isNull());
}

TEST_F(Capture, TransparentAndTrimmedModes) {
    kit::Image img = windowWithShadow(60, 40, 10, 10, 20, 10);
    EXPECT_EQ(Capturer::applyWindowBackground(WindowShadow::transparent, img), img);
    EXPECT_EQ(Capturer::applyWindowBackground(WindowShadow::trimmed, img).height(), 42);
    EXPECT_FALSE(capture::captureContext().backdropApplied);
    EXPECT_FALSE(capture::windowShadowFromRaw("shadow"));
}

TEST(ToolOutputParser, ReadsRecordedToolOutput) {
    using K = capture::ToolArea::Kind;
    std::string log =
        "kadrix-screencapture: selection started\n"
        "kadrix-screencapture: capture window 'Terminal' 0x1c00007\n"
        "kadrix-screencapture: selected area (10.5, 20, 300, 200) on screen (0, 0, 1920, 1080)\n";
    auto a = capture::toolAreaIn(log);
    ASSERT_EQ(a.kind, K::area);
    EXPECT_EQ(a.rect, kit::Rect(10.5, 20, 300, 200));
    EXPECT_EQ(capture::toolWindowIn(log), 0x1c00007u);

    EXPECT_EQ(capture::toolAreaIn("area (1, 2, 3)").kind, K::noMatch);
    EXPECT_EQ(capture::toolAreaIn("area (1, 2..5, 3, 4)").kind, K::notNumbers);
    EXPECT_EQ(capture::toolAreaIn("area ( , 2, 3, 4)").kind, K::notNumbers);
    EXPECT_EQ(capture::toolAreaIn("area (-5, -6, 7, 8)").rect, kit::Rect(-5, -6, 7, 8));
    EXPECT_FALSE(capture::toolWindowIn("capture window without number"));
    // A long log (a tool that printed a lot before its area line) is read
    // without exhausting the stack.
    std::string longLog = "(" + std::string(200000, '1') + "\nselected area (1, 2, 3, 4)\n";
    EXPECT_EQ(capture::toolAreaIn(longLog).rect, kit::Rect(1, 2, 3, 4));
    std::string repeated;
    for (int i = 0; i < 3000; ++i) repeated += "(1, 2, 3";
    EXPECT_EQ(capture::toolAreaIn(repeated).kind, K::noMatch);
    EXPECT_EQ(capture::toolWindowIn(std::string(100000, 'c') + "capture window " + std::string(50000, 'x') +
                                    " 0x1f"),
              0x1fu);

    std::string text = "b";
    auto m = capture::regexMatches("(a)|(b)", text);
    auto groups = capture::regexCaptureGroups({0, 3}, m.front(), text);
    EXPECT_EQ(groups[0], "b");
    EXPECT_FALSE(groups[1]);
    EXPECT_EQ(groups[2], "b");
}

TEST_F(Capture, CaptureRectangleAttribute) {
    std::string dir = kit::files::tempDir();
    std::string path = dir + "/rect-test.png";
    EXPECT_FALSE(Capturer::getXattrRect(path));
    EXPECT_TRUE(spy.oopses.empty());

    auto bytes = kit::ImageIO::encodePNG(makePage(4, 4));
    ASSERT_TRUE(kit::files::writeAtomic(path, std::string(bytes.begin(), bytes.end())));
    EXPECT_FALSE(Capturer::getXattrRect(path));
    EXPECT_TRUE(spy.oopsed("failed (1)"));

    // The PNG text chunk stands in where the file system keeps no attributes.
    auto tagged = kit::ImageIO::encodePNG(makePage(4, 4), {{"kadrix.capture-rect", "[1, 2, 3]"}});
    ASSERT_TRUE(kit::files::writeAtomic(path, std::string(tagged.begin(), tagged.end())));
    EXPECT_FALSE(Capturer::getXattrRect(path));
    EXPECT_TRUE(spy.oopsed("failed (3)"));
    auto garbled = kit::ImageIO::encodePNG(makePage(4, 4), {{"kadrix.capture-rect", "[1, 2"}});
    ASSERT_TRUE(kit::files::writeAtomic(path, std::string(garbled.begin(), garbled.end())));
    EXPECT_FALSE(Capturer::getXattrRect(path));
    EXPECT_TRUE(spy.oopsed("failed (2)"));
    if (kit::files::setXattr(path, "kadrix.capture-rect", "[5, 6, 70.5, 80]")) {
        EXPECT_EQ(Capturer::getXattrRect(path), kit::Rect(5, 6, 70.5, 80));
    }
    kit::files::remove(path);
}

TEST_F(Capture, WindowListRules) {
    using W = kit::WindowInfo;
    W menu{1, "Menu", "Shell", 101.0, kit::Rect(0, 0, 800, 30), 1, 1.0, 0};
    W narrow{2, "Narrow", "A", 0.0, kit::Rect(10, 10, 70, 300), 1, 1.0, 0};
    W noBounds{3, "Ghost", "B", 0.0, std::nullopt, 1, 1.0, 0};
    W main{4, "Main", "C", 0.0, kit::Rect(100, 100, 300, 200), 1, 1.0, 0};
    desk->windowList = {menu, narrow, noBounds, main};
    kit::Image img = Capturer::window(WindowShadow::transparent);
    EXPECT_TRUE(img.isNull());  // the fake source has no window images: falls back to the tool
    EXPECT_TRUE(spy.oopsed("Window grab failed, frontmost window: "));

    Capturer::noteWindowUnder(150, 150);
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Main");
    Capturer::noteWindowUnder(5, 5);  // only the menu is there, and it is not layer 0
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Main");
    Capturer::noteWindow(2);
    EXPECT_EQ(capture::captureContext().capturedAppName, "A");

    desk->windowList = {W{5, "Glass", "D", 0.0, kit::Rect(100, 100, 300, 200), 1, 0.5, 0}};
    kit::Image full = Capturer::window(WindowShadow::transparent);
    EXPECT_EQ(full.width(), 800);  // a translucent front window gives the full screen

    desk->windowList = {};
    EXPECT_TRUE(Capturer::window(WindowShadow::transparent).isNull());
    EXPECT_EQ(spy.notices.back(), "Can't take a screenshot");
}

TEST_F(Capture, FrontWindowOnMainScreen) {
    using W = kit::WindowInfo;
    desk->windowList = {W{1, "StatusIndicator", "X", 0.0, kit::Rect(300, 200, 200, 200), 1, 1.0, 0},
                        W{2, "Doc", "Editor", 0.0, kit::Rect(0, 0, 800, 600), 1, 1.0, 0}};
    Capturer::noteFrontWindowOnMainScreen();
    EXPECT_EQ(capture::captureContext().capturedWindowName, "Doc");
    EXPECT_EQ(capture::captureContext().captureScreen->number, 1u);
    kit::Image img = Capturer::fullscreen();
    EXPECT_EQ(img, desk->page);
}
