// Global shortcuts on a real X display (Xvfb with openbox): grabs on the root
// window, keys pressed with xdotool, a recorder field clicked and typed into.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include "kit/base/Defaults.h"
#include "kit/base/Event.h"
#include "kit/ui/Window.h"
#include "shortcuts/HotKeyCenter.h"
#include "shortcuts/Names.h"
#include "shortcuts/ShortcutRecorder.h"
#include "support/EventLoopWait.h"

using namespace shortcuts;
using kit::ModifierFlag::Command;
using kit::ModifierFlag::Option;
using kit::ModifierFlag::Shift;

namespace {

using testsupport::spin;

template <class Pred>
bool waitFor(Pred p, int ms = 3000) {
    return testsupport::waitFor(p, ms, 25);
}

void xdo(const QStringList& args) {
    QProcess::execute("xdotool", args);
    spin(150);  // let the server's events reach us
}

class GlobalShortcuts : public ::testing::Test {
protected:
    void SetUp() override {
        kit::Defaults::standard().removeAll();
        removeAllHandlers();
    }
    void TearDown() override {
        removeAllHandlers();
        kit::Defaults::standard().removeAll();
    }
};

}  // namespace

TEST_F(GlobalShortcuts, TheDefaultFullScreenShortcutFiresOncePerPressWhateverTheLocks) {
    const Name& full = names::fullscreen();
    setShortcut(full.defaultShortcut, full);  // this store is fresh: register the default again
    int fired = 0;
    onKeyDown(full, [&] { ++fired; });
    xdo({"key", "ctrl+shift+1"});
    EXPECT_TRUE(waitFor([&] { return fired == 1; }));

    // Held down: the server repeats the press, we fire once.
    xdo({"keydown", "ctrl+shift+1"});
    xdo({"keydown", "1"});
    xdo({"keydown", "1"});
    xdo({"keyup", "1", "keyup", "shift", "keyup", "ctrl"});
    spin(300);
    EXPECT_EQ(fired, 2);

    xdo({"key", "Num_Lock"});
    xdo({"key", "ctrl+shift+1"});
    EXPECT_TRUE(waitFor([&] { return fired == 3; })) << "with Num Lock on";
    xdo({"key", "Num_Lock"});
    xdo({"key", "Caps_Lock"});
    xdo({"key", "ctrl+shift+1"});
    EXPECT_TRUE(waitFor([&] { return fired == 4; })) << "with Caps Lock on";
    xdo({"key", "Caps_Lock"});

    // Another combination fires nothing.
    xdo({"key", "ctrl+shift+3"});
    spin(200);
    EXPECT_EQ(fired, 4);
}

TEST_F(GlobalShortcuts, PausedShortcutsFireNothingAndComeBack) {
    Name name("area");
    setShortcut(Shortcut(Key{Key::two}, Command | Shift), name);
    int fired = 0;
    onKeyDown(name, [&] { ++fired; });
    pauseDispatch();
    xdo({"key", "ctrl+shift+2"});
    spin(300);
    EXPECT_EQ(fired, 0);
    resumeDispatch();
    xdo({"key", "ctrl+shift+2"});
    EXPECT_TRUE(waitFor([&] { return fired == 1; }));
}

TEST_F(GlobalShortcuts, ACombinationAnotherClientHoldsIsReportedByTheRecorder) {
    // Another X client grabs Ctrl+Alt+K first.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    auto k = kit::x11KeycodeFromKeyCode(kit::KeyCode::K);
    ASSERT_TRUE(k);
    for (uint16_t lock : {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2})
        xcb_grab_key(other, 0, root, uint16_t(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | lock),
                     xcb_keycode_t(*k), XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    // A round trip: the grabs are in place before we ask.
    free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));

    Shortcut taken(Key{kit::KeyCode::K}, Command | Option);
    EXPECT_FALSE(canRegister(taken));
    EXPECT_TRUE(canRegister(Shortcut(Key{kit::KeyCode::J}, Command | Option)));

    std::vector<std::string> alerts;
    ShortcutRecorder::setFeedback(
        {[] {}, [&](const std::string& m, const std::string&) { alerts.push_back(m); }});
    Name name("window");
    ShortcutRecorder field(name);
    kit::Event e;
    e.type = kit::EventType::KeyDown;
    e.keyCode = kit::KeyCode::K;
    e.modifierFlags = Command | Option;
    field.handleRecordingEvent(e);
    EXPECT_TRUE(waitFor([&] { return !alerts.empty(); }));
    EXPECT_FALSE(getShortcut(name));
    ShortcutRecorder::setFeedback({});
    xcb_disconnect(other);
}

TEST_F(GlobalShortcuts, AShortcutRecordedInTheFieldFiresAtOnce) {
    Name name("repeatArea");
    int fired = 0;
    onKeyDown(name, [&] { ++fired; });

    kit::Window window(kit::Rect{200, 200, 300, 80}, kit::WindowStyle::Titled);
    window.setTitle("Recorder host");
    auto field = std::make_shared<ShortcutRecorder>(name);
    field->setFrame({80, 28, 140, 24});
    window.contentView()->addSubview(field);
    window.makeKeyAndOrderFront();
    ASSERT_TRUE(waitFor([&] { return window.isVisible(); }));
    spin(300);

    QProcess::execute("bash", {"-c", "xdotool search --name '^Recorder host$' windowactivate --sync"});
    field->makeFirstResponder();
    ASSERT_TRUE(waitFor([&] { return field->isRecording(); })) << "the field records once focused";
    EXPECT_TRUE(isPaused());
    xdo({"key", "ctrl+shift+5"});
    ASSERT_TRUE(waitFor([&] { return getShortcut(name).has_value(); }));
    EXPECT_EQ(*getShortcut(name), Shortcut(Key{kit::KeyCode::Five}, Command | Shift));
    EXPECT_EQ(field->stringValue(), "Ctrl+Shift+5");
    EXPECT_TRUE(waitFor([&] { return !isPaused(); }));

    xdo({"key", "ctrl+shift+5"});
    EXPECT_TRUE(waitFor([&] { return fired == 1; }));
}
