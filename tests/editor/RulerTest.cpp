// The ruler: edge scouting on synthetic rows and columns, read-outs, label
// placement, its keys and hiding, and imprinting.
#include "CropFixture.h"
#include "editor/Ruler.h"
#include "objects/ObjLine.h"
#include "objects/ObjRuler.h"

namespace editor::test {
namespace {

namespace K = kit::KeyCode;
using Span = std::pair<double, double>;

// A 40 × 1 row of grey 100 whose pixels from `at` on are brighter by `step` in red.
imaging::Capture stepRow(int at, int step) {
    kit::Image img = solidImage(40, 1, 100, 100, 100);
    paintUp(img, at, 0, 40 - at, 1, 100 + step, 100, 100);
    return imaging::Capture::of(img);
}

TEST(RulerScout, ThresholdTwentyFiveContinuesTwentySixStops) {
    EXPECT_EQ(rulerScout(imaging::PixelMap(stepRow(10, 25)), 5, 0, false, 0, 25), (Span{0, 40}));
    EXPECT_EQ(rulerScout(imaging::PixelMap(stepRow(10, 26)), 5, 0, false, 0, 25), (Span{0, 10}));
    EXPECT_EQ(rulerScout(imaging::PixelMap(stepRow(10, 26)), 20, 0, false, 0, 25), (Span{10, 40}));
    EXPECT_EQ(rulerScout(imaging::PixelMap(stepRow(10, 1)), 5, 0, false, 0, 0), (Span{0, 10}))
        << "sensitivity 0";
    EXPECT_EQ(rulerScout(imaging::PixelMap(stepRow(10, 155)), 5, 0, false, 0, 800), (Span{0, 40}));
}

TEST(RulerScout, SteeperNextStepIsPassedOverAndEdgesAtTheEndsAlwaysCount) {
    kit::Image img = solidImage(40, 1, 0, 0, 0);
    paintUp(img, 10, 0, 1, 1, 30, 0, 0);  // 30 up at 10, then 60 more at 11
    paintUp(img, 11, 0, 29, 1, 90, 0, 0);
    EXPECT_EQ(rulerScout(imaging::PixelMap(imaging::Capture::of(img)), 2, 0, false, 0, 25), (Span{0, 11}));
    kit::Image ends = solidImage(10, 1, 0, 0, 0);
    paintUp(ends, 0, 0, 1, 1, 200, 0, 0);
    paintUp(ends, 9, 0, 1, 1, 200, 0, 0);
    EXPECT_EQ(rulerScout(imaging::PixelMap(imaging::Capture::of(ends)), 5, 0, false, 0, 25), (Span{1, 9}));
}

TEST(RulerScout, PersistenceStepsOverOneEdgeAndVerticalRunsAreInImageY) {
    kit::Image img = solidImage(10, 60, 255, 255, 255);
    paintUp(img, 0, 20, 10, 10, 0, 0, 0);  // a black band over rows 20…29 (y up)
    paintUp(img, 0, 40, 10, 5, 0, 0, 0);
    const imaging::PixelMap map{imaging::Capture::of(img)};
    EXPECT_EQ(rulerScout(map, 3, 25, true, 0, 25), (Span{20, 30}));
    EXPECT_EQ(rulerScout(map, 3, 35, true, 0, 25), (Span{30, 40}));
    EXPECT_EQ(rulerScout(map, 3, 35, true, 1, 25), (Span{20, 45}));
    EXPECT_EQ(rulerScout(map, 3, 2, true, 1, 25), (Span{0, 30})) << "the image edge ends the walk";
    EXPECT_EQ(rulerScout(map, 5, 41, false, 0, 25), (Span{0, 10}));
}

class RulerTest : public CropFixture {
protected:
    Ruler ruler;
    std::vector<std::pair<std::string, services::Rect>> added;

    void SetUp() override {
        CropFixture::SetUp();
        ruler.addObject = [this](const std::string& type,
                                 const services::Rect& r) -> std::shared_ptr<objects::ProtoObject> {
            added.emplace_back(type, r);
            return nullptr;
        };
    }
    void press(int code, editor::KeyEvt::Modifiers m = {}, uint32_t flags = 0) {
        objects::PressedKeys::shared().press(code);
        kit::Event e = event(0, flags);
        ruler.keyDown(&e, code, m, true);
    }
    void release(int code) {
        objects::PressedKeys::shared().pressed.erase(code);
        ruler.keyUp();
    }
};

TEST_F(RulerTest, ReadoutsInPointsAndPixels) {
    viewport(1, 2);
    ruler.readout(25);
    EXPECT_EQ(ruler.text, "12.5pt");
    ruler.readout(24);
    EXPECT_EQ(ruler.text, "12pt");
    viewport(1, 1);
    ruler.readout(25);
    EXPECT_EQ(ruler.text, "25pt");
    realPixels(true);
    ruler.readout(25);
    EXPECT_EQ(ruler.text, "25px");
}

TEST_F(RulerTest, LabelMovesToTheOtherSideNearTheCanvasEdge) {
    ruler.vertical = true;
    EXPECT_EQ(ruler.labelOrigin(539, 50).first, 559);
    EXPECT_EQ(ruler.labelOrigin(540, 50).first, 480);
    ruler.vertical = false;
    EXPECT_EQ(ruler.labelOrigin(50, 369).second, 379);
    EXPECT_EQ(ruler.labelOrigin(50, 370).second, 340);
}

TEST_F(RulerTest, HeldArrowMeasuresTheBarUnderThePointer) {
    kit::Image img = solidImage(400, 300, 255, 255, 255);
    paintUp(img, 50, 100, 120, 8, 30, 60, 200);  // a blue bar, 120 wide
    useImage(img);
    ruler.pointerMoved(80, 104);
    EXPECT_FALSE(ruler.on());
    press(K::RightArrow);
    ASSERT_TRUE(ruler.on());
    EXPECT_FALSE(ruler.vertical);
    EXPECT_EQ(ruler.rect, (services::Rect{50, 104, 120, 0}));
    EXPECT_EQ(ruler.text, "120pt");
    press(K::UpArrow);  // the other orientation takes over
    EXPECT_TRUE(ruler.vertical);
    EXPECT_FALSE(objects::PressedKeys::shared().pressed.count(K::RightArrow));
    EXPECT_EQ(ruler.rect, (services::Rect{80, 100, 0, 8}));
    press(K::UpArrow, {}, kit::ModifierFlag::Option);
    EXPECT_TRUE(ruler.guide);
    EXPECT_EQ(ruler.rect, (services::Rect{80, 0, 0, 300}));
    release(K::UpArrow);
    EXPECT_FALSE(ruler.on());
}

TEST_F(RulerTest, KeysWhileASelectionOrObjectIsActiveHideIt) {
    press(K::LeftArrow);
    ASSERT_TRUE(ruler.on());
    ruler.sensitivity = 9;
    kit::Event e = event(0);
    ruler.keyDown(&e, K::LeftArrow, {}, false);
    EXPECT_FALSE(ruler.on());
    EXPECT_EQ(ruler.sensitivity, 3.54);
}

TEST_F(RulerTest, AHeldKeyOutlastsTheHideDelayUntilItsRelease) {
    ruler.pointerMoved(80, 104);
    press(K::DownArrow);
    // The keyboard repeats only after a second: no key-down, no key-up meanwhile.
    clock.advance(1.0);
    EXPECT_TRUE(ruler.on());
    ruler.pointerMoved(81, 104);
    EXPECT_TRUE(ruler.on()) << "still held after the held-key set let it go";
    press(K::DownArrow);  // the first repeat
    clock.advance(0.5);
    release(K::DownArrow);
    EXPECT_FALSE(ruler.on());
}

TEST_F(RulerTest, AKeyWhoseReleaseWasLostStopsCountingAfterAWhile) {
    press(K::DownArrow);
    clock.advance(3.0);
    EXPECT_FALSE(ruler.on());
}

TEST_F(RulerTest, ScrollingSetsTheSensitivityWithinItsRange) {
    kit::Event e;
    e.deltaY = 30;
    ruler.scrolled(e);
    EXPECT_EQ(ruler.sensitivity, 20);
    e.deltaY = -50;
    ruler.scrolled(e);
    EXPECT_EQ(ruler.sensitivity, 0);
}

TEST_F(RulerTest, GuidesImprintAsLinesShiftedAtRatioTwo) {
    viewport(1, 2);
    ruler.pointerMoved(80, 104);  // zoom 1: view and image pixels agree
    press(K::UpArrow, {}, kit::ModifierFlag::Option);
    ruler.imprint();
    viewport(1, 1);
    ruler.pointerMoved(80, 104);
    press(K::UpArrow, {}, kit::ModifierFlag::Option);
    ruler.imprint();
    press(K::UpArrow);
    ruler.imprint();
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[0], (std::pair<std::string, services::Rect>{"ObjLine", {81, 0, 0, 300}}));
    EXPECT_EQ(added[1], (std::pair<std::string, services::Rect>{"ObjLine", {80, 0, 0, 300}}));
    EXPECT_EQ(added[2], (std::pair<std::string, services::Rect>{"ObjRuler", {80, 0, 0, 300}}));
}

}  // namespace
}  // namespace editor::test
