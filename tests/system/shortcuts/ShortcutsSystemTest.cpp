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

// A second X client on the display: it grabs combinations on the root
// window as other programs do, and counts the presses it is given.
class OtherClient {
public:
    OtherClient() : c_(xcb_connect(nullptr, nullptr)) {
        EXPECT_FALSE(xcb_connection_has_error(c_));
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    }
    ~OtherClient() { xcb_disconnect(c_); }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    // With each lock variant, as a desktop grabs it; a round trip puts the
    // grabs in place before the caller goes on.
    void grab(uint16_t keyCode, uint16_t mods) {
        auto k = kit::x11KeycodeFromKeyCode(keyCode);
        ASSERT_TRUE(k);
        for (uint16_t lock :
             {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2})
            xcb_grab_key(c_, 0, root_, uint16_t(mods | lock), xcb_keycode_t(*k), XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC);
        free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }
    // Key presses that reached this client since the last call.
    int presses() {
        int n = 0;
        while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
            n += (e->response_type & 0x7f) == XCB_KEY_PRESS;
            free(e);
        }
        return n;
    }

private:
    xcb_connection_t* c_;
    xcb_window_t root_ = 0;
};

// A window with a recorder field for one name.
struct RecorderWindow {
    kit::Window window{kit::Rect{200, 200, 300, 80}, kit::WindowStyle::Titled};
    std::shared_ptr<ShortcutRecorder> field;

    explicit RecorderWindow(const Name& name) : field(std::make_shared<ShortcutRecorder>(name)) {
        window.setTitle("Recorder host");
        field->setFrame({80, 28, 140, 24});
        window.contentView()->addSubview(field);
    }
    // Shown, given the keyboard by the window manager and the field focused:
    // whether the field records then.
    bool startRecording() {
        window.makeKeyAndOrderFront();
        if (!waitFor([&] { return window.isVisible(); })) return false;
        spin(300);
        QProcess::execute("bash", {"-c", "xdotool search --name '^Recorder host$' windowactivate --sync"});
        field->makeFirstResponder();
        return waitFor([&] { return field->isRecording(); });
    }
};

class GlobalShortcuts : public ::testing::Test {
protected:
    void SetUp() override {
        kit::Defaults::standard().removeAll();
        removeAllHandlers();
    }
    void TearDown() override {
        ShortcutRecorder::setFeedback({});
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

TEST_F(GlobalShortcuts, ACombinationAnotherClientHoldsIsPressedIntoTheRecorderAndRefused) {
    // Another X client grabs Ctrl+Alt+K first, as a desktop's own shortcut would.
    OtherClient other;
    other.grab(kit::KeyCode::K, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    Shortcut taken(Key{kit::KeyCode::K}, Command | Option);
    EXPECT_FALSE(canRegister(taken));
    EXPECT_TRUE(canRegister(Shortcut(Key{kit::KeyCode::J}, Command | Option)));

    std::vector<std::string> alerts;
    ShortcutRecorder::setFeedback(
        {[] {}, [&](const std::string& m, const std::string&) { alerts.push_back(m); }});
    Name name("window");
    RecorderWindow host(name);
    ASSERT_TRUE(host.startRecording()) << "the field records once focused";
    auto& field = host.field;

    // While the field records, the press is ours, not the other client's:
    // the field sees it and says why it cannot have it.
    xdo({"key", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return alerts.size() == 1; })) << "the recorder never saw the press";
    EXPECT_EQ(other.presses(), 0);
    EXPECT_FALSE(getShortcut(name));

    // Recording ended, the other client has its combination again.
    ASSERT_TRUE(waitFor([&] { return field->isRecording(); })) << "the field records again after the alert";
    xdo({"key", "Escape"});
    ASSERT_TRUE(waitFor([&] { return !field->isRecording(); }));
    xdo({"key", "ctrl+alt+k"});
    EXPECT_TRUE(waitFor([&] { return other.presses() == 1; }));
    EXPECT_EQ(alerts.size(), 1u);
}

TEST_F(GlobalShortcuts, AShortcutRecordedInTheFieldFiresAtOnce) {
    Name name("repeatArea");
    int fired = 0;
    onKeyDown(name, [&] { ++fired; });

    RecorderWindow host(name);
    ASSERT_TRUE(host.startRecording()) << "the field records once focused";
    auto& field = host.field;
    EXPECT_TRUE(isPaused());
    xdo({"key", "ctrl+shift+5"});
    ASSERT_TRUE(waitFor([&] { return getShortcut(name).has_value(); }));
    EXPECT_EQ(*getShortcut(name), Shortcut(Key{kit::KeyCode::Five}, Command | Shift));
    EXPECT_EQ(field->stringValue(), "Ctrl+Shift+5");
    EXPECT_TRUE(waitFor([&] { return !isPaused(); }));

    xdo({"key", "ctrl+shift+5"});
    EXPECT_TRUE(waitFor([&] { return fired == 1; }));
}
