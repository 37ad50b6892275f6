// Rectangle, line, arrow, counter, oval and spotlight: geometry, hit tests,
// keys, tool values and their dumps.
#include <cmath>

#include "Doubles.h"
#include "kit/base/Timer.h"
#include "objects/ArrHelper.h"
#include "objects/ObjArrow.h"
#include "objects/ObjCounter.h"
#include "objects/ObjLine.h"
#include "objects/ObjOval.h"
#include "objects/ObjRectangle.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"

using services::Rect;

namespace objects {

namespace {

class ShapeObjectsTest : public ObjectsTest {};

constexpr uint32_t kShiftKey = kit::ModifierFlag::Shift;
constexpr uint32_t kCmd = kit::ModifierFlag::Command;

// ---- Rectangle ----------------------------------------------------------------

TEST_F(ShapeObjectsTest, RectangleFillValues) {
    auto r = handlers.add<ObjRectangle>();
    EXPECT_TRUE(r->showBorder);
    EXPECT_EQ(r->getValue("fill"), "0");
    r->setValue("fill", "40");
    EXPECT_DOUBLE_EQ(r->backgroundAlpha, 0.4);
    EXPECT_TRUE(r->showBackground);
    EXPECT_EQ(r->getValue("fill"), "40");
    r->setValue("fill", "0");
    EXPECT_FALSE(r->showBackground);
    EXPECT_TRUE(r->showBorder);
    r->setValue("fill", "100");
    EXPECT_EQ(r->getValue("fill"), "100");
    r->setValue("fill", " 50");  // not a whole number text
    EXPECT_DOUBLE_EQ(r->backgroundAlpha, 0.01);
}

TEST_F(ShapeObjectsTest, RectangleBorderFillAndDigitKeys) {
    auto r = handlers.add<ObjRectangle>();
    r->rect = {10, 10, 50, 50};
    r->state = "selected";
    r->keyDown(nullptr, key(kit::KeyCode::B));  // B on a border-only rectangle: nothing
    EXPECT_TRUE(r->showBorder);
    r->keyDown(nullptr, key(kit::KeyCode::F));
    r->keyDown(nullptr, key(kit::KeyCode::B));
    EXPECT_FALSE(r->showBorder);
    EXPECT_TRUE(r->showBackground);
    r->draw();
    EXPECT_EQ(r->layer->cornerRadius(), 0);  // fill only: square corners
    auto seven = keyEvent("7");
    r->keyDown(&seven, key(kit::KeyCode::Seven));
    EXPECT_DOUBLE_EQ(r->backgroundAlpha, 0.7);
    auto zero = keyEvent("0");
    r->keyDown(&zero, key(kit::KeyCode::Zero));
    EXPECT_EQ(r->backgroundAlpha, 1.0);
    auto cmd7 = keyEvent("7", kCmd);
    r->keyDown(&cmd7, key(kit::KeyCode::Seven, false, true));
    EXPECT_EQ(r->backgroundAlpha, 1.0);
}

TEST_F(ShapeObjectsTest, RectangleFrameAndCornerRadius) {
    auto r = handlers.add<ObjRectangle>();
    r->size = 0;
    r->rect = {10, 10, 100, 50};
    r->state = "unselected";
    r->draw();
    EXPECT_EQ(r->layer->frame(), (kit::Rect{10, 10, 100, 50}));
    setView(2, 1);
    r->draw();
    EXPECT_EQ(r->layer->frame(), (kit::Rect{9, 9, 102, 52}));
    setView(1, 1);
    r->rect = {0, 0, 16, 16};
    r->draw();
    EXPECT_EQ(r->layer->cornerRadius(), 1);
    r->rect = {0, 0, 400, 300};
    r->draw();
    EXPECT_EQ(r->layer->cornerRadius(), 3);
    r->state = "highlighted";
    r->draw();
    EXPECT_EQ(r->layer->borderColor(), kHighlightColor);
}

TEST_F(ShapeObjectsTest, ResizeKnobsSitOnWholeDevicePixelsAroundTheFrame) {
    setView(2, 1);
    auto r = handlers.add<ObjRectangle>();
    r->size = 1;  // 2 points: margin 2 + 12 device pixels
    r->rect = {10, 10, 100, 50};
    r->select();
    r->draw();
    const double want[8][2] = {{-2, -2},   {-2, 37}, {62, -2},   {62, 37},
                               {-2, 17.5}, {30, 37}, {62, 17.5}, {30, -2}};
    for (int i = 0; i < 8; ++i) {
        EXPECT_DOUBLE_EQ(r->knobs[size_t(i)]->dx, want[i][0]) << r->knobs[size_t(i)]->cursor;
        EXPECT_DOUBLE_EQ(r->knobs[size_t(i)]->dy, want[i][1]) << r->knobs[size_t(i)]->cursor;
    }
    auto o = handlers.add<ObjOval>();
    o->size = 1;
    o->rect = {10, 10, 100, 50};
    o->select();
    o->draw();
    for (int i = 0; i < 8; ++i)
        EXPECT_DOUBLE_EQ(o->knobs[size_t(i)]->dx, want[i][0]) << o->knobs[size_t(i)]->cursor;
}

TEST_F(ShapeObjectsTest, RectangleHitsItsBorderOrItsFill) {
    auto r = handlers.add<ObjRectangle>();
    r->size = 2;
    r->rect = {100, 100, 200, 100};
    r->state = "unselected";
    EXPECT_EQ(r->action({97, 150}), "move");  // tolerance 2.5 + 5
    EXPECT_EQ(r->action({92, 150}), "default");
    EXPECT_EQ(r->action({200, 150}), "default");
    r->showBackground = true;
    EXPECT_EQ(r->action({200, 150}), "move");
}

TEST_F(ShapeObjectsTest, RectangleNormalisesOnMouseUpAndRoundTrips) {
    auto r = handlers.add<ObjRectangle>();
    auto e = mouse();
    r->mouseDown(&e, {50, 50});
    r->mouseDrag(&e, {20, 80});
    r->mouseUp(&e, {20, 80});
    EXPECT_EQ(r->rect, (Rect{20, 50, 30, 30}));
    r->setValue("fill", "40");
    std::string d = r->dump();
    EXPECT_EQ(d.find("\"backgroundAlpha\":0.4,\"color\""), 1u);
    auto copy = handlers.add<ObjRectangle>();
    ASSERT_TRUE(copy->restore(d));
    EXPECT_EQ(copy->dump(), d);
    EXPECT_FALSE(
        copy->restore(R"({"color":"#FF0000","rect":{"height":1,"width":1,"x1":0,"y1":0},"size":1})"));
}

TEST_F(ShapeObjectsTest, RectangleKeysNeverLeaveItEmpty) {
    auto r = handlers.add<ObjRectangle>();
    r->rect = {0, 0, 1, 1};
    r->state = "selected";
    services::Settings::shared().setRealPixels(true);
    r->keyDown(nullptr, key(kit::KeyCode::LeftArrow, false, true));  // width 0, height 1: kept
    EXPECT_EQ(r->rect.width, 0);
    r->rect = {0, 0, 1, 0};
    r->keyDown(nullptr, key(kit::KeyCode::LeftArrow, false, true));
    EXPECT_EQ(r->rect, (Rect{0, 0, 1, 0}));
}

// ---- Line ---------------------------------------------------------------------

TEST_F(ShapeObjectsTest, LineWidthJoinOffsetAndDash) {
    auto l = handlers.add<ObjLine>();
    l->size = 2;
    l->rect = {0, 0, 30, 40};
    l->state = "unselected";
    l->draw();
    EXPECT_EQ(l->shape->lineWidth(), 3);
    EXPECT_EQ(l->shape->lineJoin(), kit::LineJoin::Round);
    EXPECT_EQ(l->shape->path().elements()[0].pts[0], (kit::Point{0.5, 0.5}));
    l->size = 7;
    l->draw();
    EXPECT_EQ(l->shape->lineWidth(), 5);  // L / 10
    l->rect = {0, 0, 12, 0};
    l->size = 2;
    l->draw();
    EXPECT_DOUBLE_EQ(l->shape->lineWidth(), 1.2);
    EXPECT_DOUBLE_EQ(l->shape->path().elements()[0].pts[0].x, 0.6);
    EXPECT_EQ(l->shape->lineJoin(), kit::LineJoin::Miter);
    setView(2, 1);
    l->rect = {0, 0, 19, 0};
    l->setValue("lineType", "dash");
    l->draw();
    EXPECT_EQ(l->shape->path().elements()[0].pts[0], (kit::Point{0, 0}));
    EXPECT_EQ(l->shape->lineDashPattern(), (std::vector<double>{3, 13}));
}

TEST_F(ShapeObjectsTest, LineVectorIsEvenBelowZoomOne) {
    setView(1, 0.5);
    auto l = handlers.add<ObjLine>();
    l->rect = {0, 0, 7, 3};
    l->draw();
    auto a = l->shape->path().elements()[0].pts[0], b = l->shape->path().elements()[1].pts[0];
    EXPECT_DOUBLE_EQ(b.x - a.x, 8);  // 7 / 2 = 3.5 rounds to 4
    EXPECT_DOUBLE_EQ(b.y - a.y, 3);
}

TEST_F(ShapeObjectsTest, LineCreationShiftAndSpace) {
    auto l = handlers.add<ObjLine>();
    auto e = mouse(kShiftKey);
    l->mouseDown(&e, {0, 0});
    l->mouseDrag(&e, {30, -10});
    EXPECT_EQ(l->rect, (Rect{0, 0, 30, 0}));
    l->mouseDrag(&e, {10, 10});
    EXPECT_EQ(l->rect, (Rect{0, 0, 0, 10}));
    auto plain = mouse();
    l->mouseDrag(&plain, {20, 10});
    PressedKeys::shared().pressed.insert(49);
    l->mouseDrag(&plain, {50, 50});
    EXPECT_EQ(l->rect, (Rect{30, 40, 20, 10}));
}

TEST_F(ShapeObjectsTest, LinePointDragWithShiftFollowsThePointer) {
    auto l = handlers.add<ObjLine>();
    l->rect = {0, 0, 100, 0};
    l->state = "point-2";
    auto e = mouse(kShiftKey);
    l->mouseDown(&e, {100, 0});
    l->mouseDrag(&e, {105, 3});
    EXPECT_EQ(l->rect, (Rect{0, 0, 105, 0}));
    l->mouseDrag(&e, {103, 3});
    EXPECT_EQ(l->rect, (Rect{0, 0, 100, 3}));
    l->state = "point-1";
    l->mouseDown(&e, {0, 0});
    l->mouseDrag(&e, {0, 10});
    EXPECT_EQ(l->rect, (Rect{0, 10, 100, -7}));
}

TEST_F(ShapeObjectsTest, LineCapsCycleByCommandClickAndReport) {
    auto l = handlers.add<ObjLine>();
    l->rect = {100, 100, 200, 0};
    l->select();
    l->draw();
    auto cmd = mouse(kCmd);
    kit::Point start{l->knobs[0]->dx, l->knobs[0]->dy};
    for (const char* want : {"arrow", "bullet", "none"}) {
        l->state = "selected";
        l->mouseUp(&cmd, start);
        EXPECT_EQ(l->startCap, want);
    }
    auto caps = events("edit");
    ASSERT_EQ(caps.size(), 3u);
    EXPECT_EQ(caps[0]["editType"], "lineCap");
    EXPECT_EQ(caps[0]["object"], "ObjLine");
    EXPECT_EQ(caps[0]["method"], "Cmd+Click");
    l->dblClick(&cmd, {200, 100});
    EXPECT_TRUE(l->dotted);
    EXPECT_EQ(events("edit").back()["editType"], "lineStyle");
    EXPECT_GE(handlers.toolRefreshes, 4);
    l->endCap = "arrow";
    l->draw();
    EXPECT_EQ(l->shape->path().elements().size(), 2u);  // dotted: caps kept but not drawn
    l->setValue("lineType", "line");
    EXPECT_EQ(l->endCap, "none");
}

TEST_F(ShapeObjectsTest, LineKnobsAndHitTolerance) {
    setView(2, 1);
    auto l = handlers.add<ObjLine>();
    l->size = 0;
    l->rect = {100, 100, 100, 0};
    l->select();
    l->draw();
    EXPECT_DOUBLE_EQ(l->knobs[0]->dx, 50 - 7);
    EXPECT_DOUBLE_EQ(l->knobs[1]->dx, 100 + 7);
    l->state = "unselected";
    EXPECT_EQ(l->action({150, 112}), "move");  // tolerance 13
    EXPECT_EQ(l->action({150, 114}), "default");
    setView(2, 2);
    l->state = "selected";
    l->draw();
    EXPECT_DOUBLE_EQ(l->knobs[1]->dx, 200);
}

TEST_F(ShapeObjectsTest, LineKeysNeverCollapseIt) {
    services::Settings::shared().setRealPixels(true);
    auto l = handlers.add<ObjLine>();
    l->rect = {10, 10, 1, 0};
    l->state = "selected";
    l->keyDown(nullptr, key(kit::KeyCode::LeftArrow, false, true));
    EXPECT_EQ(l->rect, (Rect{10, 10, 1, 0}));
    l->keyDown(nullptr, key(kit::KeyCode::LeftArrow));
    EXPECT_EQ(l->rect, (Rect{9, 10, 1, 0}));
    services::Settings::shared().setRealPixels(false);
    setView(2, 1);
    l->keyDown(nullptr, key(kit::KeyCode::UpArrow, true));
    EXPECT_EQ(l->rect, (Rect{9, 30, 1, 0}));
}

TEST_F(ShapeObjectsTest, LineDumpKeysAndRoundTrip) {
    auto l = handlers.add<ObjLine>();
    l->rect = {10, 20, 30, 0};
    l->color = kit::Color{1, 0, 0, 1};
    l->endCap = "arrow";
    EXPECT_EQ(
        l->dump(),
        R"({"color":"#FF0000","dotted":false,"endCap":"arrow","rect":{"height":0.0,"width":30.0,"x1":10.0,"y1":20.0},"size":1,"startCap":"none"})");
    auto m = handlers.add<ObjLine>();
    ASSERT_TRUE(m->restore(l->dump()));
    EXPECT_EQ(m->dump(), l->dump());
}

// ---- Arrow --------------------------------------------------------------------

TEST_F(ShapeObjectsTest, ArrowCurveHandleSnapsStraightNearTheChord) {
    auto a = handlers.add<ObjArrow>();
    a->type = 1;
    a->rect = {0, 0, 100, 0};
    a->state = "point-curve";
    auto e = mouse();
    a->mouseDown(&e, {50, 0});
    a->mouseDrag(&e, {99, 6});
    EXPECT_EQ(a->midpa, 0);
    EXPECT_DOUBLE_EQ(a->midpd, 0.95);
    a->mouseDrag(&e, {50, 30});
    EXPECT_NEAR(a->midpa, std::atan2(30, 50), 1e-12);
    EXPECT_NEAR(a->midpd, std::hypot(50, 30) / 100, 1e-12);
    // A chord of no length has no curve to bend.
    a->mouseDownRect = {5, 5, 0, 0};
    a->mouseDrag(&e, {50, 30});
    EXPECT_TRUE(std::isfinite(a->midpd));
}

TEST_F(ShapeObjectsTest, ArrowCreationShiftAndReverse) {
    auto a = handlers.add<ObjArrow>();
    auto shift = mouse(kShiftKey);
    a->mouseDown(&shift, {0, 0});
    a->mouseDrag(&shift, {20, 20});
    EXPECT_EQ(a->rect, (Rect{0, 0, 0, 20}));  // a tie becomes vertical
    auto cmd = mouse(kCmd);
    a->mouseDrag(&cmd, {40, 10});
    EXPECT_TRUE(a->reversed);
    a->mouseUp(&cmd, {40, 10});
    EXPECT_EQ(a->rect, (Rect{40, 10, -40, -10}));
    EXPECT_EQ(a->style, 0);  // the creating mouse-up never cycles the style
    EXPECT_TRUE(events("edit").empty());
}

TEST_F(ShapeObjectsTest, ArrowStyleCycleWrapsAndReports) {
    auto a = handlers.add<ObjArrow>();
    a->rect = {0, 0, 100, 0};
    a->style = 3;
    a->state = "selected";
    auto cmd = mouse(kCmd);
    a->mouseUp(&cmd, {50, 0});
    EXPECT_EQ(a->style, 0);
    EXPECT_EQ(stored("Kadrix.ObjArrow: arrowStyle"), "0");
    a->dblClick(&cmd, {50, 0});
    EXPECT_EQ(a->style, 1);
    auto ev = events("edit");
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0]["value"], 0);
    EXPECT_EQ(ev[0]["editType"], "arrowStyle");
    EXPECT_EQ(ev[0]["method"], "Cmd+Click");
    // The presets of the mouse-up ride on the next "edit" event.
    EXPECT_TRUE(ev[0].contains("midpd"));
}

TEST_F(ShapeObjectsTest, ArrowValuesOptionsAndKeys) {
    store("Kadrix.ObjArrow: arrowStyle", "9");
    store("Kadrix.ObjArrow: arrowType", "+2");
    auto a = handlers.add<ObjArrow>();
    EXPECT_EQ(a->style, 3);  // brought back into the four outlines
    EXPECT_EQ(a->type, 2);
    a->setValue("arrowType", "abc");
    EXPECT_EQ(a->type, 0);
    EXPECT_EQ(handlers.relayouts, 1);
    EXPECT_EQ(stored("Kadrix.ObjArrow: arrowType"), "0");
    a->setValue("changeStyle", "");
    EXPECT_EQ(a->style, 0);
    setView(2, 1);
    a->rect = {0, 0, 1, 0};
    a->state = "selected";
    a->keyDown(nullptr, key(kit::KeyCode::RightArrow));
    EXPECT_EQ(a->rect, (Rect{2, 0, 1, 0}));
    a->keyDown(nullptr, key(kit::KeyCode::RightArrow, true, true));
    EXPECT_EQ(a->rect, (Rect{2, 0, 21, 0}));
}

TEST_F(ShapeObjectsTest, ArrowWidthThickensWithLength) {
    auto a = handlers.add<ObjArrow>();
    a->type = 1;
    a->size = 2;
    a->rect = {0, 0, 30, 0};
    a->draw();
    EXPECT_DOUBLE_EQ(a->width, 3);
    a->rect = {0, 0, 800, 0};
    a->draw();
    EXPECT_EQ(a->width, 5);  // 3 × 1.5, rounded at dpr 1
}

TEST_F(ShapeObjectsTest, ArrowCurvedHitTestFollowsTheArc) {
    auto a = handlers.add<ObjArrow>();
    a->type = 1;
    a->rect = {0, 0, 100, 0};
    a->midpa = 0.7853981633974483;  // the curve point above the chord
    a->midpd = 0.7071067811865476;
    a->state = "unselected";
    a->draw();
    EXPECT_NEAR(a->radius, 50, 1e-6);
    EXPECT_EQ(a->action({50, 50}), "move");
    EXPECT_EQ(a->action({50, -50}), "default");
    EXPECT_EQ(a->action({50, 0}), "default");
    // A dump with a curve point on the chord draws straight, never NaN.
    a->midpd = 0;
    a->draw();
    EXPECT_EQ(a->radius, 0);
    EXPECT_FALSE(a->dump().empty());
}

TEST_F(ShapeObjectsTest, ArrowDumpRoundTrip) {
    auto a = handlers.add<ObjArrow>();
    a->rect = {1, 2, 3, 4};
    a->type = 2;
    a->style = 1;
    a->midpa = 0.5;
    a->midpd = 0.25;
    std::string d = a->dump();
    EXPECT_EQ(d.rfind(R"({"color":"#F44723","midpa":0.5,"midpd":0.25,"rect":)", 0), 0u);
    auto b = handlers.add<ObjArrow>();
    ASSERT_TRUE(b->restore(d));
    EXPECT_EQ(b->dump(), d);
    EXPECT_FALSE(b->restore(
        R"({"color":"#F44723","midpa":0.5,"rect":{"height":1,"width":1,"x1":0,"y1":0},"size":1,"style":0,"type":0})"));
}

// ---- Counter ------------------------------------------------------------------

TEST_F(ShapeObjectsTest, CounterGeometryAtPixelRatioTwo) {
    setView(2, 1);
    auto c = handlers.add<ObjCounter>();
    c->size = 1;
    EXPECT_EQ(c->radius(), 28);
    auto e = mouse();
    c->mouseDown(&e, {200, 200});
    EXPECT_NEAR(std::hypot(c->rect.width, c->rect.height), 42, 1e-9);
    EXPECT_NEAR(std::hypot(c->rect.x1 - 200, c->rect.y1 - 200), 46.2, 1e-9);
    c->draw();
    EXPECT_NEAR(c->ltext->fontSize(), 30.8, 1e-9);
    c->count = 12;
    c->draw();
    EXPECT_NEAR(c->ltext->fontSize(), 27.72, 1e-9);
}

TEST_F(ShapeObjectsTest, CounterPlacementAndNumbering) {
    auto c = handlers.add<ObjCounter>();
    auto e = mouse();
    c->mouseDown(&e, {100, 100});
    EXPECT_NEAR(c->rect.x1, 100 + 23.1 * std::cos(M_PI / 4), 1e-9);
    EXPECT_NEAR(c->rect.y1, 100 + 23.1 * std::sin(M_PI / 4), 1e-9);
    EXPECT_EQ(c->count, 1);
    auto c2 = handlers.add<ObjCounter>();
    c2->style = 0;
    c2->mouseDown(&e, {300, 100});
    EXPECT_EQ(c2->rect.x1, 300);  // a circle is centred on the press
    auto c3 = handlers.add<ObjCounter>();
    c3->mouseDown(&e, {400, 100});
    EXPECT_EQ(c3->count, 3);
    c3->remove();
    handlers.objects.pop_back();
    EXPECT_EQ(handlers.counterCount, 2);
    auto c4 = handlers.add<ObjCounter>();
    c4->mouseDown(&e, {400, 100});
    EXPECT_EQ(c4->count, 3);
}

TEST_F(ShapeObjectsTest, CounterDigitsAppendWithinHalfASecond) {
    kit::ManualClockScope clock;
    auto c = handlers.add<ObjCounter>();
    c->rect = {100, 100, 10, 0};
    c->state = "selected";
    auto one = keyEvent("1"), two = keyEvent("2"), three = keyEvent("3"), seven = keyEvent("7");
    c->keyDown(&one, key(kit::KeyCode::One));
    clock.advance(0.3);
    c->keyDown(&two, key(kit::KeyCode::Two));
    EXPECT_EQ(c->count, 12);
    clock.advance(0.1);
    c->keyDown(&three, key(kit::KeyCode::Three));
    EXPECT_EQ(c->count, 3);  // 12 is above 9
    clock.advance(1);
    c->keyDown(&seven, key(kit::KeyCode::Seven));
    EXPECT_EQ(c->count, 7);
    auto bang = keyEvent("!");
    c->keyDown(&bang, key(kit::KeyCode::One, true));
    EXPECT_EQ(c->count, 7);
    EXPECT_EQ(events("edit").size(), 4u);
    handlers.counterCount = 5;
    clock.advance(1);
    auto d2 = keyEvent("2"), d5 = keyEvent("5");
    c->keyDown(&d2, key(kit::KeyCode::Two));
    c->keyDown(&d5, key(kit::KeyCode::Five));
    EXPECT_EQ(handlers.counterCount, 25);
}

TEST_F(ShapeObjectsTest, CounterRotationKeysAndKnobSnap) {
    auto c = handlers.add<ObjCounter>();
    c->rect = {100, 100, 21, 0};
    c->state = "selected";
    c->keyDown(nullptr, key(kit::KeyCode::RightArrow, false, true));
    EXPECT_NEAR(std::atan2(c->rect.height, c->rect.width), 0.05235987755982988, 1e-12);
    EXPECT_EQ(stored("Kadrix.ObjCounter: counterAngle"), kit::json::doubleText(0.05235987755982988));
    c->keyDown(nullptr, key(kit::KeyCode::LeftArrow, true, true));
    EXPECT_NEAR(std::atan2(c->rect.height, c->rect.width), 0.05235987755982988 - 0.2617993877991494, 1e-12);
    c->state = "point-rotate";
    auto s = mouse(kShiftKey);
    double a = -100 * M_PI / 180;
    c->mouseDrag(&s, {100 + 50 * std::cos(a), 100 + 50 * std::sin(a)});
    EXPECT_NEAR(std::atan2(c->rect.height, c->rect.width), -M_PI / 2, 1e-12);
    a = -112.5 * M_PI / 180;
    c->mouseDrag(&s, {100 + 50 * std::cos(a), 100 + 50 * std::sin(a)});
    EXPECT_NEAR(std::atan2(c->rect.height, c->rect.width), -3 * M_PI / 4, 1e-12);
}

TEST_F(ShapeObjectsTest, CounterStyleTextColourAndDump) {
    auto c = handlers.add<ObjCounter>();
    int start = c->style;
    for (int i = 0; i < 3; ++i) c->setValue("changeStyle", "");
    EXPECT_EQ(c->style, start);
    c->setValue("changeStyle", "");
    EXPECT_EQ(handlers.add<ObjCounter>()->style, c->style);
    c->rect = {100, 100, 21, 0};
    c->draw();
    EXPECT_EQ(c->ltext->foregroundColor(), kit::Color::white(1));
    EXPECT_EQ(c->ltext->font().weight, kit::FontWeight::Medium);
    c->setValue("color", "#FFF68D");
    c->draw();
    EXPECT_EQ(c->ltext->foregroundColor(), kit::Color::black());
    c->style = 2;
    c->count = 12;
    std::string d = c->dump();
    EXPECT_EQ(d.substr(0, 30), R"({"color":"#FFF68D","count":12,)");
    auto c2 = handlers.add<ObjCounter>();
    ASSERT_TRUE(c2->restore(d));
    EXPECT_EQ(c2->dump(), d);
    // A style outside the two pins is brought back into range.
    ASSERT_TRUE(c2->restore(
        R"({"color":"#FFF68D","count":1,"rect":{"height":0,"width":21,"x1":0,"y1":0},"size":1,"style":7})"));
    EXPECT_EQ(c2->style, 2);
}

TEST_F(ShapeObjectsTest, CounterSizeChangeKeepsDirection) {
    auto c = handlers.add<ObjCounter>();
    c->rect = {0, 0, 0, -21};
    c->changeSize(1);
    EXPECT_NEAR(c->rect.height, -1.5 * c->radius(), 1e-9);
    EXPECT_NEAR(c->rect.width, 0, 1e-9);
    EXPECT_EQ(handlers.relayouts, 1);
    EXPECT_EQ(handlers.layoutRequest, 0);
}

// ---- Oval and spotlight -----------------------------------------------------

TEST_F(ShapeObjectsTest, OvalPointTables) {
    auto o = handlers.add<ObjOval>();
    o->rect = {0, 0, 200, 100};
    auto pts = o->ovalShapePoints();
    ASSERT_EQ(pts.size(), 9u);
    EXPECT_NEAR(pts[0].x, 27.5, 1e-9);
    o->rect = {0, 0, 100, 100};
    EXPECT_NEAR(o->ovalShapePoints()[0].x, 22, 1e-9);
    setView(1, 0.5);
    o->rect = {0, 0, 101, 101};
    EXPECT_NEAR(o->ovalShapePoints()[2].x, 0.94 * 102, 1e-9);
    setView(2, 1);
    o->shape = "rect";
    o->size = 2;  // s = 3
    o->rect = {0, 0, 300, 30};
    auto r = o->rectShapePoints();
    EXPECT_NEAR(r[0].x, 10, 1e-9);  // R = min(10, 36)
    o->rect = {0, 0, 0, 50};
    EXPECT_EQ(o->rectShapePoints().size(), 9u);
}

TEST_F(ShapeObjectsTest, OvalPathIsCachedByGeometry) {
    auto o = handlers.add<ObjOval>();
    o->rect = {10, 10, 100, 50};
    o->draw();
    std::string stamp = o->pathStamp;
    auto* seg = o->segments.data();
    o->color = kit::Color{0, 0, 1, 1};
    o->showBackground = true;
    o->draw();
    EXPECT_EQ(o->pathStamp, stamp);
    EXPECT_EQ(o->segments.data(), seg);
    o->rect.width = 120;
    o->draw();
    EXPECT_NE(o->pathStamp, stamp);
    o->rect = {0, 0, 0, 0};
    o->draw();
    EXPECT_TRUE(o->layer->isHidden());
}

TEST_F(ShapeObjectsTest, OvalHitTestUnfilledOnlyNearTheOutline) {
    auto o = handlers.add<ObjOval>();
    o->rect = {100, 100, 200, 200};
    o->state = "unselected";
    o->draw();
    EXPECT_EQ(o->action({200, 200}), "default");
    EXPECT_EQ(o->action({200, 104}), "move");
    o->showBackground = true;
    EXPECT_EQ(o->action({200, 200}), "move");
    EXPECT_EQ(o->action({500, 200}), "default");
}

TEST_F(ShapeObjectsTest, OvalKeysValuesAndRestore) {
    auto o = handlers.add<ObjOval>();
    o->rect = {0, 0, 50, 50};
    o->state = "selected";
    o->keyDown(nullptr, key(kit::KeyCode::B));
    EXPECT_TRUE(o->showBorder);
    o->keyDown(nullptr, key(kit::KeyCode::F));
    o->keyDown(nullptr, key(kit::KeyCode::B));
    EXPECT_FALSE(o->showBorder);
    auto five = keyEvent("5");
    o->keyDown(&five, key(kit::KeyCode::Five));
    EXPECT_DOUBLE_EQ(o->backgroundAlpha, 0.5);
    o->backgroundAlpha = 0.3;
    EXPECT_EQ(o->getValue("fill"), "40");
    o->setValue("fill", "0");
    EXPECT_FALSE(o->showBackground);
    EXPECT_TRUE(o->showBorder);
    std::string d = o->dump();
    auto p = handlers.add<ObjOval>();
    ASSERT_TRUE(p->restore(d));
    EXPECT_EQ(p->dump(), d);
    std::string noShape = d;
    noShape.replace(noShape.find("\"shape\""), 6, "\"shap");
    EXPECT_FALSE(p->restore(noShape));
}

TEST_F(ShapeObjectsTest, SpotlightOptionsCurtainAndKeys) {
    auto s = handlers.add<ObjSpotlight>();
    EXPECT_TRUE(s->wantsSpotlight);
    EXPECT_EQ(s->shape, "rect");
    EXPECT_EQ(handlers.lcurtain->fillColor(), (kit::Color{0, 0, 0, 0.214}));
    s->rect = {10, 10, 100, 100};
    s->state = "selected";
    auto seven = keyEvent("7");
    s->keyDown(&seven, key(kit::KeyCode::Seven));
    EXPECT_EQ(handlers.lcurtain->fillColor(), (kit::Color{0, 0, 0, 0.5}));
    EXPECT_EQ(stored("Kadrix.ObjSpotlight: transparency"), "0.5");
    EXPECT_FALSE(s->showBackground);
    auto zero = keyEvent("0");
    s->keyDown(&zero, key(kit::KeyCode::Zero));
    EXPECT_EQ(handlers.lcurtain->fillColor(), (kit::Color{0, 0, 0, 0.5}));
    EXPECT_FALSE(s->showBackground);
    s->keyDown(nullptr, key(kit::KeyCode::F));
    s->keyDown(nullptr, key(kit::KeyCode::B));
    EXPECT_TRUE(s->showBorder);
    EXPECT_FALSE(s->showBackground);
    s->dblClick(nullptr, {0, 0});
    EXPECT_EQ(s->shape, "oval");
    EXPECT_EQ(stored("Kadrix.ObjSpotlight: shape"), "oval");
    s->setValue("shape", "circle");
    EXPECT_EQ(s->shape, "oval");
    s->setValue("transparency", "0.9");  // the tool bar's value changes nothing
    EXPECT_EQ(handlers.lcurtain->fillColor(), (kit::Color{0, 0, 0, 0.5}));
    auto next = handlers.add<ObjSpotlight>();
    EXPECT_EQ(next->shape, "oval");
    EXPECT_EQ(handlers.lcurtain->fillColor(), (kit::Color{0, 0, 0, 0.5}));
    EXPECT_EQ(stored("Kadrix.ObjOval: shape"), "<none>");
    auto j = kit::json::parse(s->dump());
    ASSERT_TRUE(j);
    EXPECT_EQ(j->size(), 7u);
}

TEST_F(ShapeObjectsTest, SpotlightSizeZeroHasNoBorderAndRoundCorners) {
    setView(2, 1);
    auto s = handlers.add<ObjSpotlight>();
    s->size = 0;
    s->rect = {0, 0, 300, 300};
    s->draw();
    EXPECT_EQ(s->shapeLayer->lineWidth(), 0);
    EXPECT_NEAR(s->rectShapePoints()[0].x, 24, 1e-9);  // 12 × dpr
}

TEST_F(ShapeObjectsTest, DegenerateGeometryStaysFinite) {
    auto finitePath = [](const kit::Path& p) {
        for (const auto& e : p.elements())
            for (auto q : e.pts)
                if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
        return true;
    };
    // A flat oval and a flat rounded rectangle.
    for (const char* shape : {"oval", "rect"}) {
        auto o = handlers.add<ObjOval>();
        o->shape = shape;
        o->rect = {10, 10, 80, 0};
        o->draw();
        EXPECT_TRUE(finitePath(o->shapeLayer->path())) << shape;
        for (const auto& s : o->segments) EXPECT_TRUE(std::isfinite(s.x) && std::isfinite(s.y)) << shape;
        EXPECT_FALSE(o->dump().empty());
    }
    // A line and an arrow whose ends were dragged together.
    auto l = handlers.add<ObjLine>();
    l->rect = {10, 10, 0, 0};
    l->endCap = "arrow";
    l->draw();
    EXPECT_EQ(l->action({10, 10}), "default");
    EXPECT_FALSE(l->dump().empty());
    auto a = handlers.add<ObjArrow>();
    a->type = 1;
    a->rect = {10, 10, 0, 1e-9};
    a->midpa = 0.5;
    a->draw();
    EXPECT_TRUE(finitePath(a->shape->path()));
    EXPECT_FALSE(a->dump().empty());
}

}  // namespace

}  // namespace objects
