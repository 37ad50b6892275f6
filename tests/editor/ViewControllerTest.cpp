#include <gtest/gtest.h>

#include <map>

#include "WindowFixture.h"
#include "controls/ToolbarOverflow.h"
#include "editor/MainWindowController.h"
#include "editor/ViewController.h"
#include "kit/base/Timer.h"
#include "services/Str.h"

namespace editor {
namespace {

TEST(ResizeArithmetic, PresetsAspectAndSegments) {
    // A composition of 1000 × 500.
    EXPECT_EQ(resize::presetSize(1, 1000, 500), (std::pair<int64_t, int64_t>{333, 167}));
    EXPECT_EQ(resize::presetSize(0, 1000, 500), (std::pair<int64_t, int64_t>{250, 125}));
    EXPECT_EQ(resize::heightForWidth(2000, 1000, 500), 1000);
    EXPECT_EQ(resize::segmentForWidth(2000, 1000), 4);
    EXPECT_EQ(resize::segmentForWidth(1000, 1000), 3);
    EXPECT_EQ(resize::segmentForWidth(333, 1000), 1);
    EXPECT_EQ(resize::segmentForWidth(999, 1000), -1);
    EXPECT_EQ(resize::widthForHeight(250, 1000, 500), 500);
    // A typed 0 counts as 1 for the other side.
    EXPECT_EQ(resize::heightForWidth(0, 1000, 500), 1);
    EXPECT_EQ(resize::heightForWidth(0, 1000, 3000), 3);
}

TEST(ResizeArithmetic, ACompositionWithoutAreaDividesByNothing) {
    EXPECT_EQ(resize::heightForWidth(500, 0, 500), 1);
    EXPECT_EQ(resize::widthForHeight(500, 1000, 0), 1);
    EXPECT_EQ(resize::segmentForWidth(0, 0), 3);
}

TEST(ResizeArithmetic, LimitsOnBothSidesAndOnThePixelCount) {
    EXPECT_EQ(resize::check(22000, 100), resize::Check::ok);
    EXPECT_EQ(resize::check(22001, 1), resize::Check::tooLarge);
    EXPECT_EQ(resize::check(100, 22000), resize::Check::ok);
    EXPECT_EQ(resize::check(100, 22001), resize::Check::tooLarge);
    EXPECT_EQ(resize::check(20000, 20000), resize::Check::tooLarge);
    EXPECT_EQ(resize::check(0, 500), resize::Check::tooSmall);
    EXPECT_EQ(resize::check(500, 0), resize::Check::tooSmall);
    EXPECT_EQ(services::Str::intFromDigits("1,280px"), 1280);
}

TEST(Tooltip, TitleAndKeyPieces) {
    TooltipText arrow = splitTooltip("Arrow (A)");
    EXPECT_EQ(arrow.title, "Arrow");
    EXPECT_EQ(arrow.key, std::optional<std::string>("(A)"));
    EXPECT_EQ(arrow.padding, 40);
    TooltipText plain = splitTooltip("Copy the image");
    EXPECT_EQ(plain.title, "Copy the image");
    EXPECT_FALSE(plain.key);
    EXPECT_EQ(plain.padding, 32);
    EXPECT_EQ(splitTooltip("((").title, "");
}

TEST(Tooltip, ToolbarKeysNameTheLinuxModifier) {
    // The bar's own titles, as the bubble shows them: Ctrl where the title says command.
    std::map<std::string, std::string> keys;
    for (const auto& [title, icon] : toolbarItems()) {
        TooltipText t = splitTooltip(title);
        EXPECT_EQ(t.title.find("\u2318"), std::string::npos) << title;
        if (t.key) {
            EXPECT_EQ(t.key->find("\u2318"), std::string::npos) << title;
            keys[t.title] = *t.key;
        }
    }
    EXPECT_EQ(keys["Add Capture"], "(Ctrl+A)");
    EXPECT_EQ(keys["Paste Image"], "(Ctrl+V)");
    EXPECT_EQ(keys["Arrow"], "(A)");
    // The overflow menu still reads the command key from the same titles.
    for (const auto& [title, icon] : toolbarItems()) {
        if (title.starts_with("Add Capture")) {
            EXPECT_TRUE(controls::toolbarKeyEquivalent(title).command);
        }
    }
}

TEST(FitWindow, MinimumSizeAndStayingOnScreen) {
    kit::Size s = fittedContentSize({800, 400});
    EXPECT_EQ(s.width, 1024);
    EXPECT_EQ(s.height, 472);
    EXPECT_EQ(fittedContentSize({1500.5, 700.7}).width, 1500.5);
    EXPECT_EQ(fittedContentSize({1500.5, 700.7}).height, 700);
    // A screen 960 points wide (1920 pixels at scale 2): the window grows only to its room.
    kit::Size small = fittedContentSize({800, 400}, {958, 500});
    EXPECT_EQ(small.width, 958);
    EXPECT_EQ(small.height, 472);
    EXPECT_EQ(fittedContentSize({800, 400}, {958, 450}).height, 450);
    // A window already larger than that keeps its size.
    EXPECT_EQ(fittedContentSize({990, 400}, {958, 500}).width, 990);
    kit::Rect moved = keptOnScreen({900, -30, 400, 300}, {0, 0, 1200, 800});
    EXPECT_EQ(moved.x(), 800);
    EXPECT_EQ(moved.y(), 0);
    kit::Rect inside = keptOnScreen({10, 10, 400, 300}, {0, 0, 1200, 800});
    EXPECT_EQ(inside.x(), 10);
}

TEST(Welcome, NamesOnlyWhatWorksHere) {
    EXPECT_EQ(welcomeHint("Ctrl+Shift+1", true),
              "Take a screenshot from the tray icon or with Ctrl+Shift+1.\nIt opens here for marking up.");
    EXPECT_EQ(welcomeHint(std::nullopt, true),
              "Take a screenshot from the tray icon.\nIt opens here for marking up.");
    // No tray: the shortcut, and how to bring the editor back.
    const std::string noTray = welcomeHint("Ctrl+Alt+F5", false);
    EXPECT_NE(noTray.find("with Ctrl+Alt+F5"), std::string::npos);
    EXPECT_NE(noTray.find("Running kadrix again"), std::string::npos);
    EXPECT_EQ(noTray.find("tray"), std::string::npos);
    const std::string nothing = welcomeHint(std::nullopt, false);
    EXPECT_EQ(nothing.find("Ctrl+"), std::string::npos);
    EXPECT_NE(nothing.find("shortcut"), std::string::npos);
}

struct WelcomeShell : ShellHost {
    std::optional<std::string> shortcut;
    bool tray = false;
    std::optional<std::string> captureShortcutText() const override { return shortcut; }
    bool trayIconShows() const override { return tray; }
};

using ResizeBubble = WindowFixture;

TEST_F(ResizeBubble, TheWelcomeViewShowsTheStoredShortcutAndTheTrayOnlyWhenItShows) {
    ViewController& vc = *c->viewController;
    WelcomeShell host;
    setShell(&host);
    host.shortcut = "Ctrl+Alt+F5";
    vc.viewDidAppear();
    EXPECT_EQ(vc.labelWelcomeHint->stringValue(), welcomeHint("Ctrl+Alt+F5", false));
    host.tray = true;
    host.shortcut = "Ctrl+Shift+3";
    vc.viewDidAppear();
    EXPECT_EQ(vc.labelWelcomeHint->stringValue(), welcomeHint("Ctrl+Shift+3", true));
    setShell(nullptr);
}

TEST_F(ResizeBubble, FieldsKeepTheAspectAndTheResizeChecksBothSides) {
    ViewController& vc = *c->viewController;
    core_.image = kit::Image(1000, 500);
    vc.updateSizeFields();
    EXPECT_EQ(vc.txtWidth->stringValue(), "1000");
    EXPECT_EQ(vc.scSizes->selectedSegment(), 3);

    vc.txtWidth->setStringValue("1,280px");
    vc.controlTextDidChange(true);
    EXPECT_EQ(vc.txtHeight->stringValue(), "640");
    vc.txtWidth->setStringValue("0");
    vc.controlTextDidChange(true);
    EXPECT_EQ(vc.txtHeight->stringValue(), "1");
    EXPECT_EQ(vc.txtWidth->stringValue(), "0");
    vc.clickResize();
    EXPECT_TRUE(core_.calls.empty());  // too small: refused

    vc.txtWidth->setStringValue("100");
    vc.txtHeight->setStringValue("22001");
    vc.clickResize();
    EXPECT_TRUE(core_.calls.empty());  // the height is limited too

    vc.scSizes->setSelectedSegment(2);
    vc.selectSize();
    EXPECT_EQ(vc.txtWidth->stringValue(), "500");
    EXPECT_EQ(vc.txtHeight->stringValue(), "250");
    vc.clickResize();
    EXPECT_EQ(core_.calls, std::vector<std::string>{"loadImage 500x250 soft"});

    // The same width only closes the bubble, whatever the height says.
    core_.calls.clear();
    vc.txtWidth->setStringValue("500");
    vc.txtHeight->setStringValue("900");
    vc.clickResize();
    EXPECT_TRUE(core_.calls.empty());
}

TEST_F(ResizeBubble, HelpersShowAndHideTogether) {
    kit::ManualClockScope clock;
    ViewController& vc = *c->viewController;
    vc.hideHelpers();
    clock.advance(1);
    EXPECT_FALSE(vc.anyHelperVisible());
    c->zoomBoxClicked();
    clock.advance(1);
    EXPECT_TRUE(vc.anyHelperVisible());
    EXPECT_TRUE(vc.hideHelpers());
    clock.advance(1);
    EXPECT_FALSE(vc.anyHelperVisible());
    EXPECT_FALSE(vc.hideHelpers());
}

TEST_F(ResizeBubble, TheTooltipSitsUnderTheBarCentredOnThePointer) {
    ViewController& vc = *c->viewController;
    vc.showTooltip("Arrow (A)", 300);
    kit::Rect f = vc.ctrlHelperTooltip->frame();
    EXPECT_NEAR(f.midX(), 300, 1);
    EXPECT_EQ(f.maxY(), vc.view->bounds().height() - 5);
    EXPECT_FALSE(vc.labelTooltipKey->isHidden());
    EXPECT_EQ(vc.labelTooltipKey->stringValue(), "(A)");
    vc.showTooltip("Copy the image", 300);
    EXPECT_TRUE(vc.labelTooltipKey->isHidden());
    vc.ctrlHelperTooltip->hideNow();
}

TEST_F(ResizeBubble, ToolSettingsSegmentsShowTheirTipsUnderTheBar) {
    kit::ManualClockScope clock;
    ViewController& vc = *c->viewController;
    ToolSettingsBar& bar = vc.toolSettings;
    parts_.values = {{"lineType", "line"}};
    vc.updateToolSettings("ObjLine");
    bar.svEditor->show();
    clock.advance(1);
    controls::CtrlTooltippedSegments& lineType = *bar.scLineType;
    const kit::Rect solid = lineType.convert(lineType.segmentFrame(0), nullptr);
    kit::Event move;
    move.type = kit::EventType::MouseMoved;
    move.locationInWindow = {solid.midX(), solid.midY()};
    lineType.mouseMoved(move);
    clock.advance(1);
    EXPECT_FALSE(vc.ctrlHelperTooltip->isHidden());
    EXPECT_EQ(vc.labelTooltip->stringValue(), "Solid line");
    // Under the bar, never over it, and inside the editor's view.
    const kit::Rect tip = vc.ctrlHelperTooltip->frame();
    EXPECT_LE(tip.maxY(), bar.svEditor->frame().minY());
    EXPECT_GE(tip.minX(), 0);
    EXPECT_LE(tip.maxX(), vc.view->bounds().width());
    lineType.mouseExited(move);
    clock.advance(1);
    EXPECT_TRUE(vc.ctrlHelperTooltip->isHidden());
    bar.svEditor->hideNow();
}

}  // namespace
}  // namespace editor
