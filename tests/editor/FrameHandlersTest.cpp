// Pan and zoom: wheel, trackpad and pinch steps, drag pans, the Z click and
// marquee, the zoom keys and commands, and the settle timers.
#include <algorithm>
#include <cmath>

#include "CanvasDoubles.h"
#include "services/Telemetry.h"

namespace canvastest {
namespace {

using kit::EventType;
namespace Flag = kit::ModifierFlag;

class FrameHandlersTest : public CanvasFixture {
protected:
    kit::Event wheel(double dy, bool trackpad = false, uint32_t flags = 0, double dx = 0) {
        kit::Event e = mouse(EventType::ScrollWheel, flags);
        e.scrollingDeltaX = dx;
        e.scrollingDeltaY = dy;
        e.hasPreciseScrollingDeltas = trackpad;
        return e;
    }
    void scroll(const kit::Event& e, double x = 100, double y = 100, std::array<bool, 6> buttons = {}) {
        fh.scrollWheel(e, buttons, x, y);
    }
};

TEST_F(FrameHandlersTest, WheelZoomsCoarselyAboutThePointer) {
    f._zoom.set(1);
    f.setOffset({0, 0}, {0, 0});
    const kit::Point under = f.viewToImage({120, 80});
    scroll(wheel(1), 120, 80);
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);
    kit::Point after = f.viewToImage({120, 80});
    EXPECT_NEAR(after.x, under.x, 0.5);
    EXPECT_NEAR(after.y, under.y, 0.5);
    EXPECT_FALSE(fh.enforceConstraints);
    EXPECT_EQ(editor::canvasLayers().relayoutRequest, 1);

    scroll(wheel(-1), 120, 80);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    // Horizontal-only movement does nothing.
    scroll(wheel(0, false, 0, 3), 120, 80);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    // The alternative direction turns the wheel around.
    services::Settings::shared().storeBool("altZoomDirection", true);
    scroll(wheel(1), 120, 80);
    EXPECT_DOUBLE_EQ(f.zoom(), 0.5);
}

TEST_F(FrameHandlersTest, WheelZoomSettlesOnceAfterTheGesture) {
    showImage();
    scroll(wheel(1));
    clock.advance(0.3);
    scroll(wheel(1));  // restarts the wait
    clock.advance(0.3);
    EXPECT_EQ(count("crop.render animated"), 0);
    clock.advance(0.1 + 0.05);
    EXPECT_TRUE(fh.enforceConstraints);
    EXPECT_EQ(count("crop.render animated"), 1);
    clock.advance(1);
    EXPECT_EQ(count("crop.render animated"), 1);
    // With Command held (and with a button held) nothing settles by itself.
    scroll(wheel(1, false, Flag::Command));
    clock.advance(1);
    EXPECT_EQ(count("crop.render animated"), 1);
    EXPECT_FALSE(fh.enforceConstraints);
}

TEST_F(FrameHandlersTest, TrackpadScrollPansAndCommandScrollZoomsFinely) {
    f._dpr.set(2);
    f.area = {0, 0, 200, 200};
    f.source = {0, 0, 1000, 1000};  // larger than the view: room to pan
    f.setOffset({500, 500}, {100, 100});
    const double bx = f.bpx, by = f.bpy;
    scroll(wheel(3, true, 0, 2));
    EXPECT_DOUBLE_EQ(f.bpx - bx, 2 * 2 * 2);
    EXPECT_DOUBLE_EQ(f.bpy - by, 3 * -2.0 * 2);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    // With the secondary button held the trackpad zooms coarsely.
    scroll(wheel(3, true), 100, 100, {false, true});
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);

    f._zoom.set(1);
    scroll(wheel(6, true, Flag::Command));
    scroll(wheel(4, true, Flag::Command));
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);  // 10 is not yet more than 10
    scroll(wheel(15, true, Flag::Command));
    EXPECT_DOUBLE_EQ(f.zoom(), 1.25);
    EXPECT_DOUBLE_EQ(fh.totalScrollDelta, 15);
    kit::Event momentum = wheel(30, true, Flag::Command);
    momentum.momentumPhase = kit::EventPhase::Changed;
    scroll(momentum);
    EXPECT_DOUBLE_EQ(fh.totalScrollDelta, 15);
}

TEST_F(FrameHandlersTest, PinchStepsEveryTenthAndSettlesAtTheEnd) {
    showImage();
    kit::Event e = mouse(EventType::Magnify);
    for (double m : {0.05, 0.04}) {
        e.magnification = m;
        fh.magnify(e, 100, 100);
        EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    }
    e.magnification = 0.03;
    fh.magnify(e, 100, 100);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.25);
    EXPECT_NEAR(fh.accMagnification, 0.02, 1e-12);
    EXPECT_FALSE(fh.enforceConstraints);
    e.magnification = 0;
    e.phase = kit::EventPhase::Ended;
    fh.magnify(e, 100, 100);
    EXPECT_TRUE(fh.enforceConstraints);
    clock.advance(0.06);
    EXPECT_EQ(count("crop.render animated"), 1);
}

// The "zoom" and "pan" events name the gesture that made them.
TEST_F(FrameHandlersTest, EventsNameTheGesture) {
    // The events after a mark of this test's own (ids can repeat under the test clock).
    services::Telemetry::shared().event("frameHandlersTest:mark");
    auto methods = [&](const std::string& type) {
        const std::vector<kit::Json> all = services::Telemetry::shared().events();
        auto mark = std::find_if(all.rbegin(), all.rend(), [](const kit::Json& e) {
            return e.value("type", "") == "frameHandlersTest:mark";
        });
        std::vector<std::string> out;
        for (auto it = mark.base(); it != all.end(); ++it)
            if (it->value("type", "") == type)
                out.push_back(it->value("method", "") +
                              (it->contains("dragdistance") ? " " + it->value("dragdistance", "") : ""));
        return out;
    };
    scroll(wheel(1));
    scroll(wheel(0, false, 0, 4));  // horizontal only: no event
    scroll(wheel(1, true), 100, 100, {false, true});
    scroll(wheel(11, true, Flag::Command));
    kit::Event pinch = mouse(EventType::Magnify);
    pinch.magnification = 0.01;
    fh.magnify(pinch, 100, 100);
    hold(6);
    fh.mouseDown(0, 100, 100);
    fh.mouseUp(0, 157.3, 100);  // 57.3 device pixels
    fh.mouseDown(0, 100, 100);
    fh.mouseUp(0, 102, 100);
    EXPECT_EQ(methods("zoom"), (std::vector<std::string>{"wheel", "Trackpad-wheel+1", "Trackpad-wheel+Cmd",
                                                         "pinch", "z+drag 57.0", "z+click"}));

    h.resignKey();
    scroll(wheel(2, true, 0, 1));
    fh.mouseDown(2, 50, 50);
    fh.mouseDragged(2, 40, 50);
    fh.mouseUp(2, 40, 50);
    hold(49);
    fh.mouseDown(0, 50, 50);
    fh.mouseDragged(0, 40, 50);
    fh.mouseUp(0, 40, 50);
    EXPECT_EQ(methods("pan"), (std::vector<std::string>{"trackpad", "mouse:2", "mouse:Space+0"}));
}

TEST_F(FrameHandlersTest, ZoomingBeyondTheImageFirstBringsItsEdgeUnderThePointer) {
    f._zoom.set(1);
    f.setOffset({0, 0}, {0, 0});
    // The image spans 0…300 on the view; the pointer is at 500.
    fh.anchorToPointer(500, 100);
    EXPECT_DOUBLE_EQ(f.bpx, 500 - 300);
    EXPECT_DOUBLE_EQ(f.imageToView({300, 0}).x, 500);
    fh.anchorToPointer(100, -50);
    EXPECT_DOUBLE_EQ(f.imageToView({0, 0}).y, -50);
}

TEST_F(FrameHandlersTest, DragPansWithSecondaryMiddleOrSpace) {
    f.area = {0, 0, 100, 100};
    fh.mouseDown(0, 50, 50);
    fh.mouseDragged(0, 40, 40);
    EXPECT_DOUBLE_EQ(f.bpx, 0);  // the primary button alone does not pan
    fh.mouseUp(0, 40, 40);
    for (int b : {1, 2}) {
        const double bx = f.bpx;
        fh.mouseDown(b, 50, 50);
        fh.mouseDragged(b, 45, 48);
        fh.mouseDragged(b, 40, 48);
        EXPECT_DOUBLE_EQ(f.bpx, bx - 10) << b;
        fh.mouseUp(b, 40, 48);
    }
    hold(kit::KeyCode::Space);
    const double by = f.bpy;
    fh.mouseDown(0, 50, 50);
    fh.mouseDragged(0, 50, 30);
    EXPECT_DOUBLE_EQ(f.bpy, by - 20);
    fh.mouseUp(0, 50, 30);
}

TEST_F(FrameHandlersTest, ZClickStepsToFourSixteenAndSixtyFour) {
    hold(kit::KeyCode::Z);
    const std::pair<double, double> steps[] = {{3, 4}, {4, 16}, {20, 64}, {64, 64}};
    for (auto [from, to] : steps) {
        f._zoom.set(from);
        f.setOffset({0, 0}, {0, 0});
        const kit::Point p = f.viewToImage({95.9, 70});
        fh.mouseDown(0, 90, 70);
        fh.mouseUp(0, 95.9, 70);  // 5.9 device pixels is still a click
        EXPECT_DOUBLE_EQ(f.zoom(), to) << from;
        kit::Point q = f.viewToImage({95.9, 70});
        EXPECT_NEAR(q.x, p.x, 0.5 / to) << from;
        EXPECT_NEAR(q.y, p.y, 0.5 / to) << from;
    }
}

TEST_F(FrameHandlersTest, ZDragShowsTheMarqueeAndFitsTheDraggedRectangle) {
    f._dpr.set(2);
    hold(kit::KeyCode::Z);
    f._zoom.set(1);
    f.setOffset({0, 0}, {0, 0});
    fh.mouseDown(0, 200, 150);
    fh.mouseDragged(0, 100, 50);  // up and left: a negative size
    EXPECT_FALSE(fh.lmarquee->isHidden());
    const kit::Rect shown = fh.lmarquee->path().bounds();
    EXPECT_EQ(shown, (kit::Rect{50, 25, 50, 50}));
    EXPECT_EQ(fh.lmarqueeInner->path(), fh.lmarquee->path());
    fh.mouseUp(0, 100, 50);
    EXPECT_TRUE(fh.lmarquee->isHidden());
    // 100 × 100 image pixels fitted into 600 × 400 with a 40-pixel margin: 3.6, snapped down to 2.
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);
    EXPECT_EQ(f.viewToImage({300, 200}), (kit::Point{150, 100}));
}

TEST_F(FrameHandlersTest, ShiftDigitKeysRunTheZoomCommands) {
    showImage();
    editor::KeyEvt::Modifiers plain, shift;
    shift.shift = true;
    editor::FrameHandlers::keyDown(24, plain);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    editor::FrameHandlers::keyDown(24, shift);
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);
    EXPECT_EQ(count("crop.render animated"), 1);  // its own animated re-layout
    EXPECT_EQ(editor::canvasLayers().relayoutRequest, 0);
    editor::FrameHandlers::keyDown(78, shift);
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    f.area = {0, 0, 1000, 1000};
    editor::FrameHandlers::keyDown(83, shift);  // fit: 300 × 200 into 980 × 980 snaps to 2
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);
    editor::FrameHandlers::keyDown(29, shift);  // actual size, centred because it fits
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    EXPECT_EQ(f.imageToView({150, 100}), (kit::Point{500, 500}));
    editor::FrameHandlers::keyDown(12, shift);  // not a zoom key
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
}

TEST_F(FrameHandlersTest, ZoomToSelectionUsesTheCropThenTheActiveObjectThenEverything) {
    showImage();
    f.area = {0, 0, 1000, 1000};
    // No selection, no object: the whole composition, like Shift+1.
    editor::FrameHandlers::zoomToSelection();
    EXPECT_DOUBLE_EQ(f.zoom(), 2.0);
    // An arrow drawn right-to-left (negative size) fits its normalised frame.
    objects.activeIndex = 0;
    editor::FrameHandlers::zoomToSelection();
    EXPECT_DOUBLE_EQ(f.zoom(), 46.0);  // 20 × 10 into 980 × 980: 49, snapped down
    EXPECT_EQ(f.viewToImage({500, 500}), (kit::Point{40, 55}));
    crop.isOn = true;
    editor::FrameHandlers::zoomToSelection();
    EXPECT_DOUBLE_EQ(f.zoom(), 22.0);  // 40 × 20 → 24.5
}

TEST_F(FrameHandlersTest, CornerZoomsNeedASelectionAndAnimateOnlyFromLowZooms) {
    showImage();
    editor::FrameHandlers::zoomToSelectionTopLeft();
    EXPECT_DOUBLE_EQ(f.zoom(), 1.0);
    EXPECT_TRUE(calls().empty());
    crop.isOn = true;
    crop.sel = {100, 80, 40, 20};
    f._zoom.set(4);
    editor::FrameHandlers::zoomToSelectionTopLeft();
    EXPECT_DOUBLE_EQ(f.zoom(), 16.0);
    EXPECT_EQ(f.imageToView({100, 100}), (kit::Point{300, 200}));
    EXPECT_EQ(count("crop.render animated"), 1);
    calls().clear();
    f._zoom.set(8);
    editor::FrameHandlers::zoomToSelectionBottomRight();
    EXPECT_EQ(f.imageToView({140, 80}), (kit::Point{300, 200}));
    EXPECT_EQ(count("crop.render animated"), 0);
    EXPECT_EQ(count("crop.render"), 1);
}

}  // namespace
}  // namespace canvastest
