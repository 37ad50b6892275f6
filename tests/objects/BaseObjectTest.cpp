// The base object: stored size, tool values, selection, the base editing
// behaviour (hit test, creation drag, move and resize drags, keys), knobs,
// held keys and the base dump.
#include <limits>

#include "Doubles.h"
#include "kit/base/Timer.h"
#include "objects/ObjRectangle.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"

using services::Rect;

namespace objects {

namespace {

class BaseObjectTest : public ObjectsTest {};

constexpr uint32_t kShift = kit::ModifierFlag::Shift;

// A rectangle drawn by a press at `from` and a drag to `to` (image = canvas at zoom 1).
std::shared_ptr<ObjRectangle> drawn(SpyHost& h, kit::Point from, kit::Point to, uint32_t flags = 0) {
    auto r = h.add<ObjRectangle>();
    auto e = ObjectsTest::mouse(flags);
    r->mouseDown(&e, from);
    r->mouseDrag(&e, to);
    return r;
}

TEST_F(BaseObjectTest, StoredSizeIsReadPerClassAndFallsBackToOne) {
    store("Kadrix.ObjRectangle: size", "5");
    EXPECT_EQ(handlers.add<ObjRectangle>()->size, 5);
    store("Kadrix.ObjRectangle: size", "big");
    EXPECT_EQ(handlers.add<ObjRectangle>()->size, 1);
    store("Kadrix.ObjRectangle: size", "");
    EXPECT_EQ(handlers.add<ObjRectangle>()->size, 1);
    store("Kadrix.ObjRectangle: size", "+3");
    EXPECT_EQ(handlers.add<ObjRectangle>()->size, 3);
    // Sizes past the base's 0...7 are taken as stored; the width table
    // clamps only its own index, so 8 and 9 reach their own entries.
    auto borderOf = [&](const std::string& stored) {
        store("Kadrix.ObjRectangle: size", stored);
        auto r = handlers.add<ObjRectangle>();
        r->rect = {10, 10, 50, 50};
        r->draw();
        return std::pair{r->size, r->layer->borderWidth()};
    };
    EXPECT_EQ(borderOf("8"), (std::pair{8, 21.0}));
    EXPECT_EQ(borderOf("42"), (std::pair{42, 30.0}));
    EXPECT_EQ(borderOf("-5"), (std::pair{-5, 1.0}));
    // A text that overflows an integer does not parse.
    store("Kadrix.ObjRectangle: size", "99999999999999999999");
    EXPECT_EQ(handlers.add<ObjRectangle>()->size, 1);
}

TEST_F(BaseObjectTest, ChangeSizeClampsAndStoresTheOption) {
    auto r = handlers.add<ObjRectangle>();
    r->size = 7;
    r->changeSize(1);
    EXPECT_EQ(r->size, 7);
    EXPECT_EQ(stored("Kadrix.ObjRectangle: size"), "7");
    EXPECT_EQ(handlers.layoutRequest, 2);
    r->changeSize(0);
    EXPECT_EQ(r->size, 6);
    r->size = 0;
    r->changeSize(-1);
    EXPECT_EQ(r->size, 0);
}

TEST_F(BaseObjectTest, SizeAndColorValues) {
    auto r = handlers.add<ObjRectangle>();
    r->setValue("size", "12");
    EXPECT_EQ(r->size, 7);
    r->setValue("size", "-3");
    EXPECT_EQ(r->size, 0);
    r->setValue("size", "x");
    EXPECT_EQ(r->size, 1);
    EXPECT_EQ(stored("Kadrix.ObjRectangle: size"), "1");
    r->setValue("color", "#00FF00");
    EXPECT_EQ(r->color, (kit::Color{0, 1, 0, 1}));
    EXPECT_EQ(r->getValue("color"), "#00FF00");
    r->setValue("color", "nonsense");
    EXPECT_EQ(r->getValue("color"), "#000000");
    EXPECT_EQ(handlers.add<ProtoObject>()->getValue("fill"), std::nullopt);
}

TEST_F(BaseObjectTest, NewObjectTakesTheDefaultColor) {
    services::Settings::shared().setDefaultColor("#112233");
    EXPECT_EQ(handlers.add<ObjRectangle>()->getValue("color"), "#112233");
}

TEST_F(BaseObjectTest, SelectReportsTheModeOnceAndUnselectResets) {
    auto r = handlers.add<ObjRectangle>();
    r->select();
    EXPECT_EQ(r->state, "selected");
    EXPECT_EQ(handlers.selectedIndex, 0);
    ASSERT_EQ(app.modes.size(), 1u);
    EXPECT_EQ(app.modes[0], "ObjRectangle");
    handlers.layoutRequest = 0;
    r->select();  // already the selected index: no new report
    EXPECT_EQ(app.modes.size(), 1u);
    EXPECT_EQ(handlers.layoutRequest, 1);
    r->unselect();
    EXPECT_EQ(r->state, "unselected");
    EXPECT_TRUE(r->layer->shouldRasterize());
    EXPECT_FALSE(handlers.selectedIndex.has_value());
    EXPECT_EQ(app.modes.back(), "default");
}

TEST_F(BaseObjectTest, AnchorPointIsTheRectOrTheSource) {
    auto r = handlers.add<ObjRectangle>();
    EXPECT_EQ(r->anchorPoint(), handlers.sourceRect);
    r->rect = {5, 6, -7, 8};
    EXPECT_EQ(r->anchorPoint(), (Rect{5, 6, -7, 8}));
}

TEST_F(BaseObjectTest, CreationDragRoundsOutwardAndShiftMakesASquare) {
    auto r = drawn(handlers, {10.4, 20.4}, {30.2, 5.7});
    EXPECT_EQ(r->rect, (Rect{10, 21, 21, -16}));
    auto s = drawn(handlers, {10.4, 20.4}, {30.2, 5.7}, kShift);
    EXPECT_EQ(s->rect, (Rect{10, 21, 21, -21}));
    auto t = drawn(handlers, {10.4, 20.4}, {12.0, 40.0}, kShift);
    EXPECT_EQ(t->rect, (Rect{10, 21, 19, 19}));
}

TEST_F(BaseObjectTest, SpaceMovesTheRectangleWhileCreating) {
    auto r = drawn(handlers, {10, 10}, {30, 40});
    ASSERT_EQ(r->rect, (Rect{10, 10, 20, 30}));
    PressedKeys::shared().pressed.insert(49);
    auto e = mouse();
    r->mouseDrag(&e, {50, 45});
    EXPECT_EQ(r->rect, (Rect{30, 15, 20, 30}));
    PressedKeys::shared().pressed.erase(49);
    r->mouseDrag(&e, {60, 60});
    EXPECT_EQ(r->rect, (Rect{30, 15, 30, 45}));
}

TEST_F(BaseObjectTest, MoveAndResizeDragsStartFromTheMouseDownRect) {
    auto r = handlers.add<ObjRectangle>();
    r->rect = {100, 100, 50, 40};
    r->state = "move";
    auto e = mouse();
    r->mouseDown(&e, {120, 120});
    r->mouseDrag(&e, {122.5, 117.5});
    EXPECT_EQ(r->rect, (Rect{103, 97, 50, 40}));
    auto s = mouse(kShift);
    r->mouseDrag(&s, {125, 125});  // d = (5, 5): a tie keeps y
    EXPECT_EQ(r->rect, (Rect{100, 105, 50, 40}));
    r->state = "bl-resize";
    r->mouseDown(&e, {100, 100});
    r->mouseDrag(&e, {104, 106});
    EXPECT_EQ(r->rect, (Rect{104, 111, 46, 34}));
    r->state = "tr-resize";
    r->mouseDown(&e, {100, 100});
    r->mouseDrag(&e, {90, 90});
    EXPECT_EQ(r->rect, (Rect{104, 111, 36, 24}));
    r->state = "x-resize";  // unknown words leave the rect at mouse-down
    r->mouseDrag(&e, {0, 0});
    EXPECT_EQ(r->rect, (Rect{104, 111, 46, 34}));
}

TEST_F(BaseObjectTest, PressOnSelectedObjectTakesTheKnobBeforeTheBody) {
    auto r = handlers.add<ObjRectangle>();
    r->rect = {100, 100, 200, 100};
    r->showBackground = true;
    r->select();
    r->draw();
    auto* bl = r->knobs[0].get();
    EXPECT_EQ(r->action({bl->dx + 9, bl->dy - 9}), "bl-resize");
    EXPECT_EQ(r->action({bl->dx + 10, bl->dy + 10}), "move");  // 10 is not within
    bl->shown = false;
    EXPECT_EQ(r->action({bl->dx, bl->dy}), "default");  // a hidden knob is never hit
    auto e = mouse();
    r->mouseDown(&e, {200, 150});
    EXPECT_EQ(r->state, "move");
}

TEST_F(BaseObjectTest, CursorWords) {
    auto r = handlers.add<ObjRectangle>();
    EXPECT_EQ(r->cursor({0, 0}), "crosshair");
    r->rect = {100, 100, 200, 100};
    r->state = "highlighted";
    EXPECT_EQ(r->cursor({150, 150}), "default");
    r->state = "move";
    EXPECT_EQ(r->cursor({0, 0}), "move");
    r->select();
    r->draw();
    EXPECT_EQ(r->cursor({r->knobs[3]->dx, r->knobs[3]->dy}), "tr-resize");
}

TEST_F(BaseObjectTest, ArrowKeysNudgeByPixelRatioSteps) {
    setView(2, 1);
    auto r = handlers.add<ObjRectangle>();
    r->rect = {100, 100, 50, 50};
    r->keyDown(nullptr, key(kit::KeyCode::RightArrow));  // unselected: nothing
    EXPECT_EQ(r->rect, (Rect{100, 100, 50, 50}));
    r->state = "selected";
    r->keyDown(nullptr, key(kit::KeyCode::RightArrow, true));
    EXPECT_EQ(r->rect, (Rect{120, 100, 50, 50}));
    r->keyDown(nullptr, key(kit::KeyCode::DownArrow, false, true));
    EXPECT_EQ(r->rect, (Rect{120, 98, 50, 52}));
    services::Settings::shared().setRealPixels(true);
    r->keyDown(nullptr, key(kit::KeyCode::LeftArrow));
    EXPECT_EQ(r->rect, (Rect{119, 98, 50, 52}));
}

TEST_F(BaseObjectTest, EscapeDeactivatesInEveryState) {
    auto r = handlers.add<ObjRectangle>();
    r->keyDown(nullptr, key(kit::KeyCode::Escape));
    EXPECT_EQ(handlers.deactivations, 1);
    EXPECT_TRUE(handlers.objects.empty());  // the empty object was dropped
}

TEST_F(BaseObjectTest, KnobDrawingHighlightAndHiddenKnobs) {
    kit::LayerPtr control = kit::Layer::make();
    Knob k(control, "tl-resize");
    EXPECT_EQ(k.layer->superlayer(), control.get());
    k.draw(20, 30);
    EXPECT_EQ(k.layer->frame(), (kit::Rect{15.5, 25.5, 9, 9}));
    k.isHighlighted = true;
    k.draw(20, 30);
    EXPECT_EQ(k.layer->frame(), (kit::Rect{15, 25, 10, 10}));
    EXPECT_EQ(k.layer->backgroundColor(), (kit::Color{0, 0, 0, 0.5}));
    k.shown = false;
    k.draw(40, 50);
    EXPECT_TRUE(k.layer->isHidden());
    EXPECT_EQ(k.dx, 40);
    EXPECT_EQ(k.dy, 50);
}

TEST_F(BaseObjectTest, HighlightKnobMarksKnobsUnderThePoint) {
    auto r = handlers.add<ObjRectangle>();
    r->rect = {100, 100, 200, 100};
    r->select();
    r->draw();
    r->highlightKnob({r->knobs[2]->dx, r->knobs[2]->dy});
    EXPECT_TRUE(r->knobs[2]->isHighlighted);
    EXPECT_FALSE(r->knobs[0]->isHighlighted);
}

TEST(PressedKeysTest, HeldUntilPointEightSecondsAfterTheLastPress) {
    kit::ManualClockScope clock;
    PressedKeys keys;
    EXPECT_EQ(keys.describe(), "");
    keys.press(kit::KeyCode::Space);
    clock.advance(0.5);
    keys.press(kit::KeyCode::Space);
    keys.press(kit::KeyCode::Shift);
    EXPECT_EQ(keys.describe(), "49, 56");  // Space and Shift
    clock.advance(0.7);
    EXPECT_TRUE(keys.pressed.count(kit::KeyCode::Space));
    clock.advance(0.2);
    EXPECT_FALSE(keys.pressed.count(kit::KeyCode::Space));
}

TEST_F(BaseObjectTest, BaseDumpIsCompactSortedJson) {
    auto o = handlers.add<ProtoObject>();
    o->rect = {10, 20, 30, 40};
    o->size = 2;
    o->color = kit::Color{1, 0, 0, 0.5};
    EXPECT_EQ(o->dump(),
              R"({"color":"#FF0000","rect":{"height":40.0,"width":30.0,"x1":10.0,"y1":20.0},"size":2})");
}

TEST_F(BaseObjectTest, BaseRestoreAcceptsOnlyCompleteRecords) {
    auto o = handlers.add<ProtoObject>();
    o->rect = {1, 2, 3, 4};
    EXPECT_FALSE(o->restore(R"({"color":"#00FF00","rect":{"height":1,"width":1,"x1":1,"y1":1}})"));
    EXPECT_EQ(o->rect, (Rect{1, 2, 3, 4}));
    EXPECT_FALSE(o->restore("not json"));
    EXPECT_FALSE(o->restore(R"({"color":"#00FF00","rect":{"height":1,"width":1,"x1":1},"size":1})"));
    EXPECT_FALSE(o->restore(R"({"color":"#00FF00","rect":{"height":1,"width":1,"x1":1,"y1":1},"size":1.5})"));
    EXPECT_EQ(o->rect, (Rect{1, 2, 3, 4}));
    EXPECT_TRUE(
        o->restore(R"({"color":"#00ff00","extra":1,"rect":{"height":5,"width":6,"x1":7,"y1":8},"size":3})"));
    EXPECT_EQ(o->rect, (Rect{7, 8, 6, 5}));
    EXPECT_EQ(o->size, 3);
    EXPECT_EQ(o->color, (kit::Color{0, 1, 0, 1}));
    // A restored size is not clamped: 9 stays 9 and round-trips.
    EXPECT_TRUE(o->restore(R"({"color":"#00ff00","rect":{"height":5,"width":6,"x1":7,"y1":8},"size":9})"));
    EXPECT_EQ(o->size, 9);
    EXPECT_NE(o->dump().find("\"size\":9"), std::string::npos);
    // One past an int is kept within it rather than wrapping to a negative size.
    EXPECT_TRUE(
        o->restore(R"({"color":"#00ff00","rect":{"height":5,"width":6,"x1":7,"y1":8},"size":4294967296})"));
    EXPECT_EQ(o->size, std::numeric_limits<int>::max());
    // The tool settings bar's way in clamps.
    o->setValue("size", "9");
    EXPECT_EQ(o->size, 7);
}

TEST_F(BaseObjectTest, NonFiniteGeometryNeverReachesADump) {
    auto o = handlers.add<ProtoObject>();
    o->rect = {std::nan(""), 0, 1, 1};
    EXPECT_EQ(o->dump(), "");
}

}  // namespace

}  // namespace objects
