// The crop selection: rounding, edge updates, clamping, hit bands, mouse and
// key editing, and the read-out texts.
#include "CropFixture.h"
#include "editor/CropTool.h"

using services::Rect;

namespace editor::test {
namespace {

namespace K = kit::KeyCode;
using kit::ModifierFlag::Command;
using kit::ModifierFlag::Option;
using kit::ModifierFlag::Shift;

class CropToolTest : public CropFixture {
protected:
    CropTool tool;

    void select(Rect r) {
        tool.on_ = true;
        tool.selection_ = r;
    }
    void drag(double x0, double y0, double x1, double y1, double seconds, uint32_t flags = 0) {
        tool.mouseDown(event(0, flags), 0, x0, y0);
        tool.mouseDragged(x1, y1, event(seconds / 2, flags));
        tool.mouseUp(x1, y1, event(seconds, flags));
    }
};

TEST_F(CropToolTest, RoundsEdgesAndEvenSizesInPointsAtRatioTwo) {
    realPixels(true);
    tool.selection_ = {10.4, 20.6, 30.2, 40.5};
    tool.roundSelection();
    EXPECT_EQ(tool.selection_, (Rect{10, 21, 31, 40}));

    realPixels(false);
    viewport(1, 2);
    tool.selection_ = {10, 20, 31, 41};
    tool.roundSelection();
    EXPECT_EQ(tool.selection_, (Rect{10, 20, 30, 40})) << "far edges give way";
    tool.mmode = "bl-resize";  // the dragged left and bottom edges give way
    tool.selection_ = {10, 20, 31, 41};
    tool.roundSelection();
    EXPECT_EQ(tool.selection_, (Rect{11, 21, 30, 40}));
}

TEST_F(CropToolTest, ASelectionDraggedPastTheImageCornerStaysOnTheImageAtRatioTwo) {
    viewport(1, 2);
    drag(5, 7, -20, -30, 0.5);  // left and down, past the image's corner at (0, 0)
    EXPECT_EQ(tool.selection_, (Rect{1, 1, 4, 6})) << "even sizes, no pixel off the image";
    drag(395, 293, 450, 350, 0.5);  // right and up, past the far corner
    EXPECT_EQ(tool.selection_, (Rect{395, 293, 4, 6}));
}

TEST_F(CropToolTest, PointsModeAllowsOddSizesAtRatioOne) {
    tool.selection_ = {10, 20, 31, 41};
    tool.roundSelection();
    EXPECT_EQ(tool.selection_, (Rect{10, 20, 31, 41}));
}

TEST_F(CropToolTest, UpdateSelectionRefusesEmptyResultsUnlessFlipping) {
    tool.selection_ = {10, 10, 20, 20};
    EXPECT_FALSE(tool.updateSelection(0, 0, -20, 0, false));
    EXPECT_EQ(tool.selection_, (Rect{10, 10, 20, 20}));
    EXPECT_TRUE(tool.updateSelection(30, 0, 0, 0, true));
    EXPECT_EQ(tool.selection_, (Rect{40, 10, -10, 20}));
}

TEST_F(CropToolTest, MovesStayInsideTheImageAndKeepTheirSize) {
    tool.selection_ = {380, 10, 15, 20};
    tool.updateSelection(10, 0, 10, 0, false);
    EXPECT_EQ(tool.selection_, (Rect{385, 10, 15, 20}));
    tool.selection_ = {-50, -5, 500, 20};  // wider than the 400-pixel image
    tool.keepInside();
    EXPECT_EQ(tool.selection_, (Rect{0, 0, 400, 20}));
    tool.selection_ = {10, 10, -30, 20};  // flipped: its far edge is the low one
    tool.keepInside();
    EXPECT_EQ(tool.selection_, (Rect{30, 10, -30, 20}));
}

TEST_F(CropToolTest, ClampEdgeMovesOnlyThatEdge) {
    tool.selection_ = {-10, 250, 50, 100};
    tool.clampEdge("x");
    tool.clampEdge("y2");
    EXPECT_EQ(tool.selection_, (Rect{0, 250, 40, 50}));
}

TEST_F(CropToolTest, HitBandsFollowTheSidesOnScreen) {
    const double y = 100 + 75;  // mid-height of a 150-high selection at y 100
    auto at = [&](double width, double x) {
        select({100, 100, width, 150});
        return tool.hitTest(x, y);
    };
    EXPECT_EQ(at(35, 101), "move") << "no bands below 36";
    EXPECT_EQ(at(36, 101), "l-resize");
    EXPECT_EQ(at(36, 108), "move") << "a fifth of 36 is 7.2";
    EXPECT_EQ(at(150, 129), "l-resize");
    EXPECT_EQ(at(150, 131), "move");
    EXPECT_EQ(at(151, 129), "l-resize") << "30 deep above 150";
    EXPECT_EQ(at(151, 131), "move");
    EXPECT_EQ(at(151, 69), "default") << "bands reach 30 outside";
    EXPECT_EQ(at(151, 71), "l-resize");
    select({100, 100, 200, 200});
    EXPECT_EQ(tool.hitTest(310, 310), "tr-resize");
    EXPECT_EQ(tool.hitTest(90, 95), "bl-resize");
    EXPECT_EQ(tool.hitTest(200, 200), "move");
    tool.on_ = false;
    EXPECT_EQ(tool.hitTest(200, 200), "default");
}

TEST_F(CropToolTest, QuickClickRemovesSlowClickKeeps) {
    drag(50, 50, 55, 55, 0.05);
    EXPECT_FALSE(tool.on_);
    EXPECT_EQ(core.calls.back(), "mode:default");
    drag(50, 50, 55, 55, 0.2);
    EXPECT_TRUE(tool.on_);
    EXPECT_EQ(tool.selection_, (Rect{50, 50, 5, 5}));
    EXPECT_EQ(undoLabels, std::vector<std::string>{""});
}

TEST_F(CropToolTest, DraggedSelectionIsNormalisedAndSquaredWithShift) {
    drag(100, 100, 60, 130, 0.5);
    EXPECT_EQ(tool.selection_, (Rect{60, 100, 40, 30}));
    drag(200, 200, 170, 210, 0.5, Shift);  // left and up: the square keeps both directions
    EXPECT_EQ(tool.selection_, (Rect{170, 200, 30, 30}));
}

TEST_F(CropToolTest, SpaceMovesTheNewSelection) {
    tool.mouseDown(event(0), 0, 10, 10);
    tool.mouseDragged(40, 30, event(0.1));
    objects::PressedKeys::shared().pressed.insert(K::Space);
    tool.mouseDragged(100, 100, event(0.2));
    EXPECT_EQ(tool.selection_, (Rect{70, 80, 30, 20}));
}

TEST_F(CropToolTest, QuickClickOnAnEdgeSnapsThatSideToTheContent) {
    kit::Image img = solidImage(400, 300, 255, 255, 255);
    paintUp(img, 100, 100, 100, 100, 0, 0, 0);
    useImage(img);
    select({60, 80, 180, 140});
    tool.mouseDown(event(0), 0, 60, 150);
    EXPECT_EQ(tool.mmode, "l-resize");
    tool.mouseUp(61, 150, event(0.1));
    EXPECT_EQ(tool.selection_.x1, 100);
    EXPECT_EQ(tool.selection_.x1 + tool.selection_.width, 240) << "the right side stays";
    EXPECT_EQ(tool.selection_.y1, 80);
    EXPECT_EQ(undoLabels, std::vector<std::string>{""});

    // A slow click on an edge, and a quick one on a corner, only end the edit.
    for (auto [x, y, seconds] : {std::tuple{60.0, 150.0, 0.3}, {60.0, 80.0, 0.1}}) {
        select({60, 80, 180, 140});
        tool.mouseDown(event(1), 0, x, y);
        tool.mouseUp(x + 1, y, event(1 + seconds));
        EXPECT_EQ(tool.selection_, (Rect{60, 80, 180, 140})) << x << "," << y;
    }
    EXPECT_EQ(undoLabels.size(), 3u);
}

TEST_F(CropToolTest, KeyStepsArePointsOrPixelsTimesTenWithShift) {
    select({100, 100, 40, 40});
    tool.keyDown(K::RightArrow, {.shift = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{110, 100, 40, 40})) << "a point is a pixel at ratio 1";
    viewport(1, 2);
    select({100, 100, 40, 40});
    tool.keyDown(K::RightArrow, {}, "");
    EXPECT_EQ(tool.selection_, (Rect{102, 100, 40, 40}));
    tool.keyDown(K::UpArrow, {.shift = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{102, 120, 40, 40}));
    realPixels(true);
    tool.keyDown(K::LeftArrow, {}, "");
    EXPECT_EQ(tool.selection_, (Rect{101, 120, 40, 40}));
    tool.keyDown(K::LeftArrow, {.command = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{101, 120, 39, 40})) << "Ctrl+Left narrows from the right";
    tool.keyDown(K::UpArrow, {.command = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{101, 121, 39, 39})) << "Ctrl+Up shortens from the bottom";
    tool.keyDown(K::LeftBracket, {.shift = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{111, 131, 19, 19}));
    tool.keyDown(K::Eight, {.shift = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{111, 131, 19, 19})) << "a shrink that empties it is refused";
    EXPECT_EQ(undoLabels.size(), 2u) << "grow and shrink take snapshots, arrows do not";
}

TEST_F(CropToolTest, ArrowMovesStopAtTheBorder) {
    select({390, 10, 8, 8});
    tool.keyDown(K::RightArrow, {.shift = true}, "");
    EXPECT_EQ(tool.selection_, (Rect{392, 10, 8, 8}));
}

TEST_F(CropToolTest, CommandKeysReachTheCore) {
    select({10, 10, 40, 40});
    tool.keyDown(K::C, {.command = true}, "c");
    tool.keyDown(K::O, {.command = true}, "o");
    tool.keyDown(K::Return, {}, "\r");
    EXPECT_EQ(core.calls, (std::vector<std::string>{"copyImage:sel", "ocrSelection", "cropToSelection"}));
    tool.keyDown(K::Escape, {}, "");
    EXPECT_FALSE(tool.on_);
    EXPECT_EQ(core.calls.back(), "mode:default");
}

TEST_F(CropToolTest, AverageColourIsCopiedInTheChosenFormat) {
    useImage(solidImage(400, 300, 0x12, 0x34, 0x56));
    select({10, 10, 40, 40});
    tool.keyDown(K::C, {}, "c");
    ASSERT_FALSE(core.calls.empty());
    EXPECT_NE(core.calls.back().find("Average color: "), std::string::npos);
    EXPECT_NE(core.calls.back().find("123456"), std::string::npos) << core.calls.back();
}

TEST_F(CropToolTest, SetSelectionOfZeroWidthReportsSelectionThenDefault) {
    tool.setSelection(Rect{10, 10, 0, 20});
    EXPECT_EQ(core.calls, (std::vector<std::string>{"mode:selection", "mode:default"}));
    EXPECT_FALSE(tool.on_);
}

TEST_F(CropToolTest, MagicSelectStaysInsideTheImage) {
    kit::Image img = solidImage(400, 300, 255, 255, 255);
    paintUp(img, 50, 60, 30, 20, 0, 0, 255);
    useImage(img);
    tool.mouseDown(event(0), 3, 400, 10);  // one past the right edge
    EXPECT_FALSE(tool.on_);
    tool.mouseDown(event(0), 0, 399.5, 10);  // Ctrl+click just inside selects the white area
    EXPECT_FALSE(tool.on_);
    tool.mouseDown(event(0, Command), 0, 60, 70);
    EXPECT_TRUE(tool.on_);
    EXPECT_EQ(tool.selection_, (Rect{50, 60, 30, 20}));
}

TEST_F(CropToolTest, SizeLabelInPointsAndPixels) {
    viewport(1, 2);
    select({0, 0, 301, 200});
    EXPECT_EQ(tool.sizeText(), "151\u00D7100\u200Apt");
    realPixels(true);
    EXPECT_EQ(tool.sizeText(), "301\u00D7200\u200Apx");
}

TEST_F(CropToolTest, ContrastLabelDecimals) {
    tool.contrast = 4.4567;
    EXPECT_EQ(tool.contrastText(), "C: 4.5");
    tool.contrast = 21;
    EXPECT_EQ(tool.contrastText(), "C: 21.0");
    tool.contrast = 1.0734;
    EXPECT_EQ(tool.contrastText(), "C: 1.07");
}

TEST_F(CropToolTest, LabelsSitUnderAndAboveTheSelection) {
    select({100, 100, 200, 100});
    tool.contrast = 3.0;
    tool.render(false);
    EXPECT_FALSE(tool.layer()->isHidden());
    EXPECT_LT(tool.ltextbg->frame().maxY(), 100);
    EXPECT_NEAR(tool.ltextbg->frame().midX(), 200, 1);
    EXPECT_GT(tool.ltextbgContrast->frame().minY(), 200);
    EXPECT_FALSE(tool.ltextContrast->isHidden());
    tool.contrast.reset();
    tool.render(false);
    EXPECT_TRUE(tool.ltextContrast->isHidden()) << "no value, no label";
    tool.mouseMoved(200, tool.ltextbg->frame().midY());
    EXPECT_EQ(tool.ltcrop->string(), "Click to switch PX/PT");
    EXPECT_EQ(tool.getCursor(200, tool.ltextbg->frame().midY()), "default");
    tool.mouseMoved(10, 10);
    EXPECT_EQ(tool.ltcrop->string(), "Hit Enter to crop");
}

TEST_F(CropToolTest, ClickOnTheSizeLabelSwitchesUnits) {
    select({100, 100, 200, 100});
    tool.render(false);
    const double y = tool.ltextbg->frame().midY();
    tool.mouseDown(event(0), 0, 200, y);
    EXPECT_EQ(tool.mmode, "units");
    tool.mouseUp(200, y, event(0.1));
    EXPECT_TRUE(called("realPixels:on"));
    EXPECT_EQ(tool.mmode, "default");
}

TEST_F(CropToolTest, OptionDragShowsTheSuggestionAndReleaseAppliesIt) {
    kit::Image img = solidImage(400, 300, 255, 255, 255);
    paintUp(img, 100, 100, 50, 50, 0, 0, 0);
    useImage(img);
    tool.mouseDown(event(0), 0, 80, 80);
    tool.mouseDragged(170, 170, event(0.2, Option));
    ASSERT_TRUE(tool.suggestion);
    EXPECT_EQ(*tool.suggestion, (Rect{100, 100, 50, 50}));
    tool.mouseDragged(171, 171, event(0.3));
    EXPECT_FALSE(tool.suggestion) << "Alt released: the preview goes at the next step";
    tool.mouseUp(170, 170, event(0.4, Option));
    EXPECT_EQ(tool.selection_, (Rect{100, 100, 50, 50}));
}

}  // namespace
}  // namespace editor::test
