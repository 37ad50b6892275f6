// The live capture on a real X server without a compositor: run with
// QT_QPA_PLATFORM=xcb on a display with a window manager (the Xvfb
// harness), e.g.
//   QT_QPA_PLATFORM=xcb test_capture --gtest_filter='CaptureLive*'
// On the offscreen platform of the unit-test run these skip.
#include <gtest/gtest.h>
#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "capture/Synthetic.h"
#include "capture/VisionStitcher.h"
#include "kit/base/Timer.h"
#include "kit/desktop/EventMonitor.h"
#include "kit/desktop/Screen.h"
#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/x11/Connection.h"

using capture::VisionStitcher;
using namespace testing_capture;

namespace {

// A window of another program straight under the root, beneath the
// overlay. Whether the server keeps it in a picture of its own (the
// overlay's redirection) is asked the one way that tells: the server names
// that picture for a redirected window only.
class Neighbour {
public:
    Neighbour() : conn_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(conn_)) return;
        auto* version =
            xcb_composite_query_version_reply(conn_, xcb_composite_query_version(conn_, 0, 4), nullptr);
        const bool composite = version != nullptr;
        free(version);
        if (!composite) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
        window_ = xcb_generate_id(conn_);
        const uint32_t values[] = {screen->white_pixel, 1};
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, window_, screen->root, 150, 150, 200, 150, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(conn_, window_);
        free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
    }
    ~Neighbour() { xcb_disconnect(conn_); }
    Neighbour(const Neighbour&) = delete;
    Neighbour& operator=(const Neighbour&) = delete;

    bool ready() const { return window_ != 0; }
    bool redirected() {
        const xcb_pixmap_t picture = xcb_generate_id(conn_);
        xcb_generic_error_t* error =
            xcb_request_check(conn_, xcb_composite_name_window_pixmap_checked(conn_, window_, picture));
        const bool named = error == nullptr;
        free(error);
        if (named) xcb_free_pixmap(conn_, picture);
        return named;
    }
    // Whether redirected() comes to be `state` within two seconds: what our
    // own connection asked the server is answered by then.
    bool becomes(bool state) {
        if (auto* c = kit::x11::Connection::shared())
            free(xcb_get_input_focus_reply(c->conn(), xcb_get_input_focus(c->conn()), nullptr));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (redirected() != state) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    xcb_connection_t* conn_;
    xcb_window_t window_ = 0;
};

class CaptureLive : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
        auto* c = kit::x11::Connection::shared();
        if (!c || !c->hasComposite()) GTEST_SKIP() << "needs the Composite extension";
        xcb_atom_t manager = c->atom("_NET_WM_CM_S0");
        auto* owner =
            xcb_get_selection_owner_reply(c->conn(), xcb_get_selection_owner(c->conn(), manager), nullptr);
        const bool compositor = owner && owner->owner != XCB_WINDOW_NONE;
        free(owner);
        if (compositor) GTEST_SKIP() << "a compositor runs: the overlay redirects nothing";
        ASSERT_TRUE(neighbour.ready()) << "no window of another program could be made";
        ASSERT_FALSE(neighbour.redirected()) << "redirected before the capture";
        spy.install();
    }
    void TearDown() override {
        if (VisionStitcher::shared().isCapturing()) VisionStitcher::shared().stop();
        kit::setScreenSource(nullptr);
        capture::resetHost();
    }
    // Starts the live capture over the neighbour; true once it is redirected.
    bool start() {
        VisionStitcher::startLiveCapture(kit::Rect(100, 100, 300, 200), [this](const kit::Image& img) {
            result = img;
            ++calls;
        });
        return VisionStitcher::shared().isCapturing() && neighbour.becomes(true);
    }
    // Frames go by until the capture ends, at most `frames` of them.
    void framesUntilTheEnd(int frames) {
        for (int i = 0; i < frames && calls == 0; ++i) clock.advance(0.3);
    }

    kit::ManualClockScope clock;
    Neighbour neighbour;
    HostSpy spy;
    std::optional<kit::Image> result;
    int calls = 0;
};

TEST_F(CaptureLive, EscapeLeavesNoWindowRedirected) {
    ASSERT_TRUE(start()) << "the windows under the overlay are not redirected while it shows";
    kit::EventMonitor::deliver({kit::MonitorEvent::Type::KeyDown, kit::EventMonitor::kEscapeKeyCode, 0},
                               true);
    framesUntilTheEnd(2);
    ASSERT_EQ(calls, 1);
    EXPECT_TRUE(neighbour.becomes(false)) << "still redirected after Escape";
}

TEST_F(CaptureLive, TheCapturesOwnEndLeavesNoWindowRedirected) {
    ASSERT_TRUE(start()) << "the windows under the overlay are not redirected while it shows";
    framesUntilTheEnd(60);  // nothing scrolls: it ends at its time
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(result && !result->isNull()) << "the still page is its picture";
    EXPECT_TRUE(neighbour.becomes(false)) << "still redirected after the capture ended";
}

TEST_F(CaptureLive, ACaptureThatCannotReadTheScreenLeavesNoWindowRedirected) {
    kit::setScreenSource(std::make_shared<UnreadableScreen>(kit::screens()));
    ASSERT_TRUE(start()) << "the windows under the overlay are not redirected while it shows";
    framesUntilTheEnd(60);
    ASSERT_EQ(calls, 1) << "a capture that reads nothing never ended";
    EXPECT_TRUE(result && result->isNull());
    EXPECT_TRUE(neighbour.becomes(false)) << "still redirected after the capture failed";
}

}  // namespace
