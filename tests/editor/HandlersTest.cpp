// The input dispatcher: routing by mode, per-button ownership, keys, the
// hover walk, the cursor rules and the one re-layout per event.
#include "CanvasDoubles.h"
#include "kit/ui/View.h"

namespace canvastest {
namespace {

using kit::EventType;
namespace K = kit::KeyCode;

namespace Flag = kit::ModifierFlag;

class HandlersTest : public CanvasFixture {
protected:
    void down(int button, double x = 10, double y = 20, uint32_t flags = 0) {
        h.mouseDown(mouse(EventType::LeftMouseDown, flags), x, y, button);
    }
    void drag(int button, double x, double y, uint32_t flags = 0) {
        h.mouseDragged(mouse(EventType::LeftMouseDragged, flags), x, y, button);
    }
    void up(int button, double x = 10, double y = 20, int clicks = 1) {
        h.mouseUp(mouse(EventType::LeftMouseUp, 0, clicks), x, y, button);
    }
};

TEST_F(HandlersTest, PointerEventsWaitForAScreenshotButScrollingDoesNot) {
    core.image = {};
    down(0);
    drag(0, 30, 30);
    up(0);
    h.mouseMoved(mouse(EventType::MouseMoved), 5, 5);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(h.mmode, "default");

    kit::Event wheel = mouse(EventType::ScrollWheel);
    wheel.scrollingDeltaY = 1;
    h.scroll(wheel, 100, 100);
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);
}

TEST_F(HandlersTest, PressesGoToPanRulerObjectsOrCropInThatOrder) {
    f._dpr.set(2);
    // A plain primary press with nothing claiming it starts a crop drag, in view space.
    down(0, 10, 20);
    EXPECT_EQ(h.mmode, "croptool");
    EXPECT_EQ(calls()[0], "objects.esc");
    EXPECT_EQ(calls()[1], "crop.down 19,40 b0");
    up(0);
    EXPECT_EQ(h.mmode, "default");

    // Secondary and middle buttons pan.
    for (int b : {1, 2}) {
        down(b);
        EXPECT_EQ(h.mmode, "pan");
        EXPECT_TRUE(fh.isDragging);
        up(b);
        EXPECT_EQ(h.mmode, "default");
        EXPECT_FALSE(fh.isDragging);
    }

    // The ruler imprints on a primary press and keeps the mode.
    ruler.isOn = true;
    calls().clear();
    down(0);
    EXPECT_EQ(h.mmode, "default");
    EXPECT_EQ(count("ruler.imprint"), 1);
    EXPECT_EQ(count("crop.down"), 0);
    ruler.isOn = false;

    // A claimed press goes to the objects, unless a crop selection exists.
    objects.claims = true;
    calls().clear();
    down(4);
    EXPECT_EQ(h.mmode, "objectHandlers");
    EXPECT_EQ(count("objects.down"), 1);
    up(4, 10, 20, 2);
    EXPECT_EQ(count("objects.up"), 1);
    EXPECT_EQ(count("objects.dbl"), 1);
    crop.isOn = true;
    calls().clear();
    down(0);
    EXPECT_EQ(count("objects.down"), 0);
    EXPECT_EQ(count("crop.down"), 1);
}

TEST_F(HandlersTest, SpaceZAndYTurnThePrimaryButtonIntoPanAndZoom) {
    for (int key : {K::Space, K::Z, K::Y}) {
        h.resignKey();
        hold(key);
        down(0);
        EXPECT_EQ(h.mmode, "pan") << key;
        EXPECT_EQ(count("crop.down"), 0) << key;
        up(0);
    }
}

TEST_F(HandlersTest, SideButtonsAndHighButtons) {
    down(3);  // a side button crops like the primary one
    EXPECT_EQ(h.mmode, "croptool");
    up(3);
    down(5);  // buttons 4 and up only reach the objects' claim test
    EXPECT_EQ(h.mmode, "default");
    EXPECT_TRUE(h.pressedMouseButtons[5]);
    up(5);
    objects.claims = true;
    down(7);
    EXPECT_EQ(h.mmode, "objectHandlers");
    for (bool b : h.pressedMouseButtons) EXPECT_FALSE(b);  // not recorded
    up(7);
    EXPECT_EQ(count("objects.up"), 1);
}

TEST_F(HandlersTest, ControlClickIsIgnoredAndControlDragDragsTheImageOut) {
    down(0, 10, 20, Flag::Control);
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(h.pressedMouseButtons[0]);
    kit::View view;
    h.shotView = &view;
    drag(0, 30, 30, Flag::Control);
    EXPECT_EQ(calls(), std::vector<std::string>{"dragout"});
    // With another modifier it is an ordinary press.
    down(0, 10, 20, Flag::Control | Flag::Shift);
    EXPECT_EQ(h.mmode, "croptool");
}

TEST_F(HandlersTest, MouseUpGoesToTheComponentThatGotThatButtonsPress) {
    // Crop with the primary button, then a pan with the secondary one, and the
    // primary released first: the crop tool gets its release, pan and zoom do not.
    down(0);
    down(1);
    EXPECT_EQ(h.mmode, "pan");
    calls().clear();
    up(0);
    EXPECT_EQ(count("crop.up"), 1);
    EXPECT_TRUE(fh.isDragging);  // the pan goes on
    up(1);
    EXPECT_FALSE(fh.isDragging);
    EXPECT_EQ(h.mmode, "default");

    // A pan during an object drag returns to the object drag.
    objects.claims = true;
    down(0);
    down(1);
    up(1);
    EXPECT_EQ(h.mmode, "objectHandlers");
    drag(0, 40, 40);
    EXPECT_EQ(count("objects.drag"), 1);
    up(0);
    EXPECT_EQ(h.mmode, "default");
    EXPECT_EQ(count("objects.up"), 1);
}

TEST_F(HandlersTest, ASelectionThatShowsLetsGoOfTheObjectItsPressLeftSelected) {
    // A press that ends the typing of a text leaves the text selected; the
    // selection dragged out from it must not share the keys with that text.
    objects.activeIndex = 0;
    down(0);
    EXPECT_EQ(count("objects.esc"), 1);
    drag(0, 20, 30);  // too small yet: no selection, the text stays
    EXPECT_EQ(count("objects.esc"), 1);
    crop.isOn = true;
    drag(0, 80, 90);
    EXPECT_EQ(count("objects.esc"), 2);
    objects.activeIndex.reset();
    drag(0, 90, 100);
    EXPECT_EQ(count("objects.esc"), 2);
    up(0);
}

TEST_F(HandlersTest, KeyUpRemovesTheNormalisedModifierAndIgnoresRepeats) {
    // Right Shift went in as Shift; its release carries its own code.
    hold(K::Shift);
    kit::Event release;
    release.type = EventType::FlagsChanged;
    release.keyCode = K::RightShift;
    editor::KeyEvt k = editor::keyEvtFromEvent(release);
    EXPECT_EQ(k.code, K::Shift);
    EXPECT_EQ(k.chars, std::string());
    h.keyUp(k, &release);
    EXPECT_EQ(objects::PressedKeys::shared().pressed.count(K::Shift), 0u);

    // An auto-repeat release of a held Space leaves it held.
    hold(K::Space);
    kit::Event repeat;
    repeat.type = EventType::KeyUp;
    repeat.keyCode = K::Space;
    repeat.isARepeat = true;
    h.keyUp(editor::keyEvtFromEvent(repeat), &repeat);
    EXPECT_EQ(objects::PressedKeys::shared().pressed.count(K::Space), 1u);

    // The active object hears key-ups; the ruler always does.
    objects.activeIndex = 0;
    repeat.isARepeat = false;
    calls().clear();
    h.keyUp(editor::keyEvtFromEvent(repeat), &repeat);
    EXPECT_EQ(objects::PressedKeys::shared().pressed.count(K::Space), 0u);
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"ruler.keyUp", "objects.keyUp " + std::to_string(K::Space)}));
}

TEST_F(HandlersTest, CommandReleaseSettlesTheViewOnceAfterTheLastRelease) {
    showImage();
    fh.enforceConstraints = false;
    editor::KeyEvt cmd;
    cmd.code = K::RightCommand;
    h.keyUp(cmd, nullptr);
    EXPECT_TRUE(fh.enforceConstraints);
    clock.advance(0.03);
    h.keyUp(cmd, nullptr);  // restarts the settle
    clock.advance(0.03);
    EXPECT_EQ(count("crop.render animated"), 0);
    clock.advance(0.03);
    EXPECT_EQ(count("crop.render animated"), 1);
}

TEST_F(HandlersTest, LosingTheKeyboardForgetsButtonsAndKeys) {
    hold(K::Space);
    down(0);
    EXPECT_TRUE(h.pressedMouseButtons[0]);
    h.resignKey();
    EXPECT_FALSE(h.pressedMouseButtons[0]);
    EXPECT_TRUE(objects::PressedKeys::shared().pressed.empty());
    EXPECT_EQ(h.mmode, "default");
    EXPECT_TRUE(h.buttonOwners().empty());
    EXPECT_FALSE(fh.isDragging);
    // The expiry timer of the forgotten key does nothing later.
    clock.advance(1);
    EXPECT_TRUE(objects::PressedKeys::shared().pressed.empty());
}

TEST_F(HandlersTest, CursorRulesApplyInOrder) {
    auto last = [&] { return core.cursors.back(); };
    h.updateCursor();
    EXPECT_EQ(last(), "default");
    objects.armed = "ObjArrow";
    h.updateCursor();
    EXPECT_EQ(last(), "object-cursor");
    objects.armed.clear();
    objects.states = {"creating"};
    h.updateCursor();
    EXPECT_EQ(last(), "object-cursor");
    crop.isOn = true;
    h.updateCursor();
    EXPECT_EQ(last(), "crop-cursor");

    // Space: open hand; dragging with it a closed hand, and open again once released.
    hold(K::Space);
    h.updateCursor();
    EXPECT_EQ(last(), "open-hand");
    down(0);
    drag(0, 30, 30);
    EXPECT_EQ(last(), "closed-hand");
    up(0);
    EXPECT_EQ(last(), "open-hand");
    hold(K::Z);
    down(0);
    drag(0, 30, 30);
    EXPECT_EQ(last(), "zoom");
    up(0);
    h.resignKey();
    // After a click the cursor is refreshed once more shortly after.
    down(0);
    size_t n = core.cursors.size();
    clock.advance(0.02);
    EXPECT_EQ(core.cursors.size(), n + 1);
}

TEST_F(HandlersTest, HoverHighlightsAndRelaysOutOnlyOnChange) {
    showImage();
    objects.states = {"unselected", "selected", "unselected"};
    objects.responder = 0;
    kit::Event move = mouse(EventType::MouseMoved);
    h.mouseMoved(move, 10, 10);
    EXPECT_EQ(objects.states, (std::vector<std::string>{"highlighted", "selected", "unselected"}));
    EXPECT_EQ(count("objects.layout"), 1);

    // Moving within the same object changes nothing and lays nothing out.
    calls().clear();
    h.mouseMoved(move, 11, 10);
    EXPECT_EQ(count("objects.layout"), 0);

    // Onto the selected object: the first loses its highlight, the selected one stays.
    objects.responder = 1;
    h.mouseMoved(move, 50, 10);
    EXPECT_EQ(objects.states, (std::vector<std::string>{"unselected", "selected", "unselected"}));
    EXPECT_EQ(count("objects.layout"), 1);

    // A knob highlight change of the active object counts too.
    calls().clear();
    objects.activeIndex = 1;
    objects.knobChanges = true;
    h.mouseMoved(move, 51, 10);
    EXPECT_EQ(count("objects.layout"), 1);

    // With the crop tool on, moves go to it and nothing is highlighted.
    crop.isOn = true;
    objects.responder = 0;
    calls().clear();
    h.mouseMoved(move, 10, 10);
    EXPECT_EQ(objects.states[0], "unselected");
    EXPECT_EQ(count("crop.moved"), 1);
}

TEST_F(HandlersTest, MovesSampleTheColourUnderThePointer) {
    f._dpr.set(2);
    f._zoom.set(2);
    f.setOffset({0, 0}, {0, 0});
    h.mouseMoved(mouse(EventType::MouseMoved), 20.5, 30);
    EXPECT_EQ(count("sample 20,30"), 1);
    EXPECT_EQ(count("ruler.moved 40,60"), 1);
    EXPECT_DOUBLE_EQ(h.mouseDX, 40);
    h.mouseMoved(mouse(EventType::MouseMoved, Flag::Shift), 20.5, 30);
    EXPECT_EQ(count("sample 20,30 dark"), 1);
}

TEST_F(HandlersTest, EveryEventEndsInAtMostOneRelayout) {
    showImage();
    // Several requests during one event make one re-layout; animated wins.
    objects.claims = true;
    editor::canvasLayers().relayoutRequest = 1;
    editor::layoutRequest = 2;
    down(0);
    EXPECT_EQ(count("objects.layout"), 1);
    EXPECT_EQ(count("crop.render animated"), 1);
    EXPECT_EQ(editor::canvasLayers().relayoutRequest, 0);
    EXPECT_EQ(editor::layoutRequest, 0);
    calls().clear();
    up(0);
    EXPECT_EQ(count("objects.layout"), 0);
}

TEST_F(HandlersTest, KeysAndScrollsReachTheirComponents) {
    struct Keys : editor::KeyCommands {
        void keyDown(const editor::KeyEvt& k, const kit::Event*) override {
            calls().push_back("keys " + std::to_string(k.code));
        }
    } keys;
    editor::KeyEvt k;
    k.code = K::Q;
    h.keyDown(k, nullptr);  // nothing installed: nothing happens
    EXPECT_TRUE(calls().empty());
    h.keys = &keys;
    h.keyDown(k, nullptr);
    h.keys = nullptr;
    EXPECT_EQ(calls(), std::vector<std::string>{"keys " + std::to_string(K::Q)});

    ruler.isOn = true;
    kit::Event wheel = mouse(EventType::ScrollWheel);
    wheel.scrollingDeltaY = 1;
    h.scroll(wheel, 10, 10);
    EXPECT_EQ(count("ruler.scrolled"), 1);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
}

}  // namespace
}  // namespace canvastest
