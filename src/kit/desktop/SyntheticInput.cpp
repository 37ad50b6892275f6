#include "kit/desktop/SyntheticInput.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <cmath>
#include <cstdlib>

#include "kit/desktop/DesktopScreens.h"
#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/x11/Connection.h"
#include "kit/desktop/x11/PointerWatch.h"

namespace kit {

using x11::Connection;

bool SyntheticInput::trusted() {
    if (auto* s = screenSourceOverride()) return s->inputTrusted();
    Connection* c = Connection::shared();
    return c && c->hasXTest();
}

void SyntheticInput::warp(Point p) {
    if (auto* s = screenSourceOverride()) return s->warp(p);
    Connection* c = Connection::shared();
    if (!c) return;
    double k = x11::globalScale();
    xcb_warp_pointer(c->conn(), XCB_WINDOW_NONE, c->root(), 0, 0, 0, 0, int16_t(std::lround(p.x * k)),
                     int16_t(std::lround(p.y * k)));
    xcb_flush(c->conn());
}

int SyntheticInput::clicksFor(double delta) {
    if (delta == 0 || !std::isfinite(delta)) return 0;
    int n = std::max(1, int(std::lround(std::fabs(delta) / kPixelsPerClick)));
    return delta > 0 ? n : -n;
}

bool SyntheticInput::scroll(double delta) {
    return scrollClicks(clicksFor(delta));
}

bool SyntheticInput::scrollClicks(int clicks) {
    if (auto* s = screenSourceOverride()) return s->scrollClicks(clicks, 0);
    Connection* c = Connection::shared();
    if (!c || !c->hasXTest()) return false;
    // Button 4 scrolls up (towards the start), 5 down.
    uint8_t button = clicks > 0 ? 4 : 5;
    for (int i = 0; i < std::abs(clicks); ++i) {
        xcb_test_fake_input(c->conn(), XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
        xcb_test_fake_input(c->conn(), XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0,
                            0);
    }
    xcb_flush(c->conn());
    return true;
}

void SyntheticInput::setCursorHidden(bool hidden) {
    if (auto* s = screenSourceOverride()) return s->setCursorHidden(hidden);
    static bool isHidden = false;  // XFixes counts hides per client: keep them paired
    Connection* c = Connection::shared();
    if (!c || !c->hasXFixes() || hidden == isHidden) return;
    if (hidden)
        xcb_xfixes_hide_cursor(c->conn(), c->root());
    else
        xcb_xfixes_show_cursor(c->conn(), c->root());
    xcb_flush(c->conn());
    isHidden = hidden;
    // Hidden only until the user moves the mouse: then it is theirs again.
    if (hidden)
        x11::onNextPointerMotion([] { setCursorHidden(false); });
    else
        x11::onNextPointerMotion({});
}

}  // namespace kit
