#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>

#include "capture/PreviewViewController.h"
#include "capture/PreviewWindowController.h"
#include "capture/Synthetic.h"
#include "kit/base/Dispatch.h"

using namespace capture;
using namespace capture::previewsize;
using testing_capture::HostSpy;

TEST(PreviewSize, ImageHeightWindowHeightAndContainerWidth) {
    auto m = layout(1000, 500, false);
    EXPECT_EQ(m.imageHeight, 93);
    EXPECT_EQ(m.windowHeight, 163);
    EXPECT_EQ(m.containerWidth, 186);
    EXPECT_EQ(layout(1000, 500, true).windowHeight, 147);
    // Tall captures are capped at 190.
    m = layout(100, 1000, false);
    EXPECT_EQ(m.imageHeight, 190);
    EXPECT_EQ(m.windowHeight, 260);
    EXPECT_EQ(m.containerWidth, 19);
    // Very wide captures keep 20 points for the image.
    m = layout(4000, 100, false);
    EXPECT_EQ(m.imageHeight, 5);
    EXPECT_EQ(m.windowHeight, 90);
    EXPECT_EQ(m.containerWidth, 200);
}

TEST(PreviewSize, OpensTowardsTheAreaAndStaysOnTheScreen) {
    // One 1000 × 800 screen; AppKit y = 800 - window-server y.
    const std::vector<kit::Rect> screens{{0, 0, 1000, 800}};
    const kit::Rect area{100, 100, 300, 200};  // window-server space
    // Let go at the bottom-right corner: the window's bottom-right there.
    EXPECT_EQ(place({400, 500}, {400, 300}, area, 163, screens), (kit::Point{196, 500}));
    // At the top-left corner: the window hangs below, to the right.
    EXPECT_EQ(place({100, 700}, {100, 100}, area, 163, screens), (kit::Point{100, 537}));
    // Ties extend right and upwards.
    EXPECT_EQ(place({250, 600}, {250, 200}, area, 163, screens), (kit::Point{250, 600}));
    // Past the right edge: shifted left; below the bottom: raised.
    EXPECT_EQ(place({950, 50}, {950, 750}, {950, 745, 40, 40}, 163, screens), (kit::Point{796, 0}));
    // Above the top: lowered.
    EXPECT_EQ(place({990, 790}, {990, 10}, {0, 0, 10, 10}, 163, screens), (kit::Point{786, 637}));
    // A pointer on no screen leaves the position alone.
    EXPECT_EQ(place({2000, 50}, {2000, 750}, area, 163, screens), (kit::Point{1796, 50}));
}

class Preview : public ::testing::Test {
protected:
    void SetUp() override {
        spy.install();
        capture::CaptureHost h = capture::host();
        h.copyCurrent = [this] { calls.push_back("copy"); };
        h.saveCurrent = [this](bool quiet) { calls.push_back(quiet ? "save quietly" : "save"); };
        h.saveCurrentAs = [this] { calls.push_back("save as"); };
        h.uploadCurrent = [this] { calls.push_back("upload"); };
        h.pinCurrent = [this] { calls.push_back("pin"); };
        h.hideMainWindow = [this] { calls.push_back("hide"); };
        h.recognizeCurrent = [this] { calls.push_back("ocr"); };
        h.bringUpEditor = [this] { calls.push_back("editor"); };
        capture::setHost(h);
        wc = std::make_shared<PreviewWindowController>();
        kit::Image img(1000, 500);
        wc->showPreview(img, {0, 0, 1000, 500});
    }
    void TearDown() override {
        wc.reset();
        capture::resetHost();
    }
    void press(uint16_t code, uint32_t flags = 0) {
        kit::Event e;
        e.type = kit::EventType::KeyDown;
        e.keyCode = code;
        e.modifierFlags = flags;
        wc->handleKey(e);
    }
    HostSpy spy;
    std::vector<std::string> calls;
    std::shared_ptr<PreviewWindowController> wc;
};

TEST_F(Preview, ShowsTheCaptureAndRecordsItsSize) {
    EXPECT_EQ(wc->window()->contentSize(), (kit::Size{204, 163}));
    EXPECT_EQ(spy.events.back(), "preview");
    EXPECT_EQ(spy.lastEvent["width"].get<int64_t>(), 186);
    EXPECT_EQ(spy.lastEvent["height"].get<int64_t>(), 93);
    EXPECT_FALSE(wc->content()->image().isNull());
    EXPECT_FALSE(wc->content()->uploadShown());
    spy.strings["token"] = "abc";
    spy.strings["thumbnailClosing"] = "auto";
    wc->showPreview(kit::Image(1000, 500), {0, 0, 1000, 500});
    EXPECT_TRUE(wc->content()->uploadShown());
    EXPECT_FALSE(wc->content()->closeShown());
    EXPECT_EQ(wc->window()->contentSize(), (kit::Size{204, 147}));
}

TEST_F(Preview, KeyTableRunsTheCommandsWithTheirPresets) {
    press(kit::KeyCode::C, kit::ModifierFlag::Command | kit::ModifierFlag::Option);
    press(kit::KeyCode::S, kit::ModifierFlag::Command | kit::ModifierFlag::Shift);
    press(kit::KeyCode::F2);
    press(kit::KeyCode::E);  // E without Ctrl does nothing
    press(kit::KeyCode::P, kit::ModifierFlag::Command);
    press(kit::KeyCode::KeypadEnter);
    press(kit::KeyCode::Tab);
    EXPECT_EQ(calls, (std::vector<std::string>{"copy", "hide", "save as", "upload", "pin", "editor"}));
    EXPECT_EQ(spy.presets,
              (std::vector<std::string>{"copyImage", "saveImageAs", "uploadImage", "pin", "show"}));
    EXPECT_EQ(spy.lastPreset["method"].get<std::string>().rfind("preview:", 0), 0u);
}

TEST_F(Preview, EscapeCopiesThenHidesOrSavesQuietly) {
    spy.events.clear();
    press(kit::KeyCode::Escape);
    EXPECT_EQ(calls, (std::vector<std::string>{"copy"}));
    EXPECT_EQ(spy.events, (std::vector<std::string>{"hidePreview", "hidePreview"}));
    EXPECT_TRUE(wc->content()->image().isNull());

    calls.clear();
    spy.events.clear();
    spy.bools["copyOnEsc"] = false;
    spy.bools["saveOnEsc"] = true;
    press(kit::KeyCode::Escape);
    EXPECT_EQ(calls, (std::vector<std::string>{"save quietly"}));
    EXPECT_EQ(spy.events, (std::vector<std::string>{"hidePreview"}));
}

TEST_F(Preview, ButtonsCloseTheThumbnailWhereTheyShould) {
    wc->content()->clickCopy();
    EXPECT_FALSE(wc->content()->image().isNull());  // the copy leaves the image
    wc->content()->clickOCR();
    EXPECT_TRUE(wc->content()->image().isNull());
    EXPECT_EQ(calls, (std::vector<std::string>{"copy", "ocr"}));
    EXPECT_EQ(spy.lastPreset["method"].get<std::string>(), "preview:Button");
}

// The brightest and darkest pixel of the copy button, the first of the row.
static std::pair<double, double> copyButtonInk(const kit::View& content) {
    const kit::Image shot = content.snapshot();
    const int top = shot.height() - 35, bottom = shot.height() - 9;
    double lo = 1, hi = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 12; x < 40; ++x) {
            const kit::Color c = shot.colorAt(x, y);
            const double l = (c.r + c.g + c.b) / 3;
            lo = std::min(lo, l);
            hi = std::max(hi, l);
        }
    return {lo, hi};
}

TEST_F(Preview, NextCaptureTakesTheAppearanceOfTheMoment) {
    const QPalette original = QApplication::palette();
    auto [lightLo, lightHi] = copyButtonInk(*wc->content());
    EXPECT_LT(lightLo, 0.3);  // dark ink on the light panel

    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    wc->showPreview(kit::Image(1000, 500), {0, 0, 1000, 500});
    auto [darkLo, darkHi] = copyButtonInk(*wc->content());
    QApplication::setPalette(original);
    EXPECT_GT(darkHi, 0.7);  // light ink on the dark panel
    EXPECT_LT(darkLo, 0.3);  // and the panel dark behind it
}

// The thumbnail loses the keyboard to another window: in the "auto" closing
// mode it goes away, in the default manual mode it stays for the user.
TEST_F(Preview, AnotherWindowTakingTheKeysClosesItOnlyInAutoMode) {
    kit::Window other({300, 300, 200, 100}, kit::WindowStyle::Titled);
    auto resignKey = [&] {
        wc->present();
        EXPECT_TRUE(kit::runMainLoopUntil([&] { return wc->window()->isKeyWindow(); }, 2.0));
        other.makeKeyAndOrderFront();
        EXPECT_TRUE(kit::runMainLoopUntil([&] { return other.isKeyWindow(); }, 2.0));
        kit::processMainEvents();
    };
    resignKey();
    EXPECT_TRUE(wc->isShowing());
    EXPECT_FALSE(wc->content()->image().isNull());

    spy.strings["thumbnailClosing"] = "auto";
    wc->showPreview(kit::Image(1000, 500), {0, 0, 1000, 500});
    spy.presets.clear();
    resignKey();
    EXPECT_FALSE(wc->isShowing());
    EXPECT_TRUE(wc->content()->image().isNull());
    EXPECT_EQ(spy.presets, std::vector<std::string>{"hidePreview"});
    EXPECT_EQ(spy.lastPreset["method"], "blur");
}
