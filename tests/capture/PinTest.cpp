#include <gtest/gtest.h>

#include "capture/PinViewController.h"
#include "capture/PinWindowController.h"
#include "capture/Synthetic.h"
#include "kit/base/Dispatch.h"

using namespace capture;
using namespace capture::pinsize;
using testing_capture::HostSpy;

TEST(PinSize, OpensAtThePointSizeHalvedForLargeImagesAndNeverBelow44) {
    // 1600 × 900 pixels at ratio 2 on a 1440 × 900 screen: 800 × 450 points, 100 %.
    EXPECT_EQ(openSize(800, 450, kit::Size{1440, 900}), (kit::Size{800, 450}));
    // The same pixels at ratio 1 are 1600 points wide: halved.
    EXPECT_EQ(openSize(1600, 900, kit::Size{1440, 900}), (kit::Size{800, 450}));
    // Tall images are halved by their height alone (675 is three quarters of 900).
    EXPECT_EQ(openSize(100, 675, kit::Size{1440, 900}), (kit::Size{50, 337.5}));
    // Each side raised to 44 on its own.
    EXPECT_EQ(openSize(20, 10, kit::Size{1440, 900}), (kit::Size{44, 44}));
    EXPECT_EQ(openSize(100, 10, kit::Size{1440, 900}), (kit::Size{100, 44}));
    // Without a screen, 960 × 576 are the limits.
    EXPECT_EQ(openSize(719, 431, std::nullopt), (kit::Size{719, 431}));
    EXPECT_EQ(openSize(720, 100, std::nullopt), (kit::Size{360, 50}));
}

TEST(PinSize, ZoomStepsFollowTheGridBothWays) {
    std::vector<int> up, down;
    for (int z = 100, i = 0; i < 5; ++i) up.push_back(z = zoomStep(z, true));
    for (int z = 100, i = 0; i < 9; ++i) down.push_back(z = zoomStep(z, false));
    EXPECT_EQ(up, (std::vector<int>{125, 150, 200, 250, 325}));
    EXPECT_EQ(down, (std::vector<int>{80, 65, 50, 40, 30, 25, 20, 15, 10}));
    EXPECT_EQ(zoomStep(50, true), 65);

    // Out stops at 100 points wide, in at twice the screen's width.
    EXPECT_FALSE(zoomAllowed(50, 200, 1920, false));
    EXPECT_TRUE(zoomAllowed(51, 200, 1920, false));
    EXPECT_TRUE(zoomAllowed(100, 1000, 1000, true));
    EXPECT_FALSE(zoomAllowed(200, 1000, 1000, true));
}

TEST(PinSize, UserResizeSnapsNearHalfWholeAndDouble) {
    auto snapped = [](double ratio) { return snapResize({400 * ratio, 200 * ratio}, 400, 200); };
    EXPECT_EQ(snapped(1.06).width, 424);  // outside every band: left alone
    EXPECT_EQ(snapped(1.04), (kit::Size{400, 200}));
    EXPECT_EQ(snapped(0.53), (kit::Size{200, 100}));
    EXPECT_EQ(snapped(2.05), (kit::Size{800, 400}));
    EXPECT_EQ(snapped(0.44).width, 176);  // the bounds are exclusive
    EXPECT_EQ(snapped(2.08).width, 832);
    // A small pin never goes below 44 points a side.
    EXPECT_EQ(snapResize({30, 15}, 60, 30), (kit::Size{44, 44}));
    // Nothing to snap to before the image is known.
    EXPECT_EQ(snapResize({30, 15}, 0, 0), (kit::Size{30, 15}));
}

TEST(PinSize, PressesNearTheEdgesResizeFromThem) {
    using E = kit::Window::ResizeEdge;
    const kit::Size pin{200, 100};
    EXPECT_EQ(resizeEdges(pin, {100, 50}), 0u);
    EXPECT_EQ(resizeEdges(pin, {2, 50}), unsigned(E::Left));
    EXPECT_EQ(resizeEdges(pin, {195, 50}), unsigned(E::Right));
    EXPECT_EQ(resizeEdges(pin, {193.5, 50}), 0u);
    // y up: the band at 0 is the bottom edge.
    EXPECT_EQ(resizeEdges(pin, {100, 1}), unsigned(E::Bottom));
    EXPECT_EQ(resizeEdges(pin, {199, 99}), unsigned(E::Right | E::Top));
    EXPECT_EQ(resizeEdges(pin, {0, 0}), unsigned(E::Left | E::Bottom));
}

TEST(PinSize, PreciseScrollingAddsUpToTwentyPerStep) {
    ScrollAccumulator acc;
    EXPECT_FALSE(acc.feed(8, true));
    EXPECT_FALSE(acc.feed(8, true));
    EXPECT_TRUE(acc.feed(8, true));
    EXPECT_DOUBLE_EQ(acc.total, 4);
    EXPECT_FALSE(acc.feed(-20, true));  // -16: not past 20 yet
    EXPECT_TRUE(acc.feed(-8, true));
    EXPECT_DOUBLE_EQ(acc.total, -4);
    // A wheel notch steps at once and leaves the sum alone.
    EXPECT_TRUE(acc.feed(0, false));
    EXPECT_DOUBLE_EQ(acc.total, -4);
}

class Pin : public ::testing::Test {
protected:
    void SetUp() override { spy.install(); }
    void TearDown() override {
        pin.reset();
        kit::processMainEvents();
        capture::resetHost();
    }
    std::shared_ptr<PinWindowController> open(int w = 400, int h = 200) {
        pin = std::make_shared<PinWindowController>(7);
        kit::Image img(w, h);
        img.fill(kit::Color{0.8, 0.2, 0.2, 1});
        pin->pin(img, {300, 300});
        return pin;
    }
    kit::Event key(uint16_t code, uint32_t flags = 0) {
        kit::Event e;
        e.type = kit::EventType::KeyDown;
        e.keyCode = code;
        e.modifierFlags = flags;
        return e;
    }
    HostSpy spy;
    std::shared_ptr<PinWindowController> pin;
};

TEST_F(Pin, KeysZoomMoveAndCloseWithTheCoresId) {
    open();
    EXPECT_EQ(pin->window()->frame().size, (kit::Size{400, 200}));
    EXPECT_EQ(pin->currentZoom(), 100);

    pin->keyDown(key(kit::KeyCode::Equal));
    EXPECT_EQ(pin->window()->frame().size, (kit::Size{500, 250}));
    EXPECT_EQ(pin->currentZoom(), 125);
    ASSERT_EQ(spy.repeatables.back(), "pin:zoomIn");
    EXPECT_EQ(spy.lastRepeatable["scale"].get<int64_t>(), 125);
    pin->keyDown(key(kit::KeyCode::KeypadMinus));
    EXPECT_EQ(pin->currentZoom(), 100);

    const kit::Point o = pin->window()->frame().origin;
    pin->keyDown(key(kit::KeyCode::RightArrow, kit::ModifierFlag::Shift));
    pin->keyDown(key(kit::KeyCode::UpArrow));
    EXPECT_EQ(pin->window()->frame().origin, (kit::Point{o.x + 10, o.y + 1}));
    EXPECT_EQ(pin->window()->frame().size, (kit::Size{400, 200}));

    pin->keyDown(key(kit::KeyCode::Five));
    EXPECT_EQ(pin->controller()->transparency(), 50);
    EXPECT_EQ(spy.presets.back(), "pin:transparency");
    EXPECT_EQ(spy.events.back(), "pin:transparency");

    // Escape and W without Ctrl do nothing.
    pin->keyDown(key(kit::KeyCode::Escape));
    pin->keyDown(key(kit::KeyCode::W));
    EXPECT_TRUE(spy.removedPins.empty());
    pin->keyDown(key(kit::KeyCode::W, kit::ModifierFlag::Command));
    EXPECT_EQ(spy.removedPins, (std::vector<int64_t>{7}));
    EXPECT_EQ(spy.events.back(), "pin:close");
    EXPECT_FALSE(pin->window()->isVisible());
    // A second close request changes nothing.
    pin->close();
    EXPECT_EQ(spy.removedPins.size(), 1u);
}

TEST_F(Pin, ZoomReadOutSwitchesToNearestFilterAt200) {
    open();
    pin->zoomTo(200);
    EXPECT_FALSE(pin->controller()->smoothing());
    pin->zoomTo(199);
    EXPECT_TRUE(pin->controller()->smoothing());
}

TEST_F(Pin, HorizontalWheelStepsOutWhateverTheDirectionSetting) {
    open();
    kit::Event e;
    e.type = kit::EventType::ScrollWheel;
    e.scrollingDeltaY = 0;
    spy.bools["altZoomDirection"] = true;
    pin->controller()->scrollWheel(e);
    EXPECT_EQ(pin->currentZoom(), 80);
    EXPECT_EQ(spy.presets.back(), "pin:zoomOut");
    // Inertial scrolling after the fingers left is ignored.
    e.momentumPhase = kit::EventPhase::Changed;
    e.scrollingDeltaY = -3;
    pin->controller()->scrollWheel(e);
    EXPECT_EQ(pin->currentZoom(), 80);
}

TEST_F(Pin, EditKeepsThePinWhenTheEditorRefusesTheImage) {
    open();
    spy.loadSucceeds = false;
    pin->controller()->openInEditor();
    EXPECT_TRUE(spy.removedPins.empty());
    EXPECT_TRUE(pin->window()->isVisible());
    EXPECT_EQ(spy.editorCalls, (std::vector<std::string>{"loadImage"}));

    spy.loadSucceeds = true;
    pin->controller()->openInEditor();
    EXPECT_EQ(spy.editorCalls, (std::vector<std::string>{"loadImage", "loadImage", "bringUpEditor"}));
    EXPECT_EQ(spy.metadata["mode"].get<std::string>(), "pin");
    EXPECT_EQ(spy.removedPins, (std::vector<int64_t>{7}));
}

TEST_F(Pin, ContextMenuTogglesTransparencyAndCopies) {
    open();
    auto& menu = *pin->controller()->menu();
    auto find = [&](const std::string& title) -> kit::MenuItem& {
        for (auto& item : menu.items())
            if (item->title() == title) return *item;
        throw std::runtime_error("no menu item " + title);
    };
    find("Transparent").performAction();
    EXPECT_EQ(pin->controller()->transparency(), 50);
    EXPECT_EQ(find("Transparent").state(), kit::ControlState::On);
    EXPECT_EQ(spy.lastEvent["transparency"].get<int64_t>(), 50);
    find("Transparent").performAction();
    EXPECT_EQ(pin->controller()->transparency(), 100);
    find("Copy").performAction();
    EXPECT_EQ(spy.copies, 1);
    find("Double Size (200%)").performAction();
    EXPECT_EQ(pin->currentZoom(), 200);
    EXPECT_EQ(spy.events.back(), "pin:zoomTo200");
}
