#include "kit/desktop/Screen.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "kit/base/Displays.h"
#include "kit/desktop/DesktopScreens.h"
#include "kit/desktop/ScreenSource.h"
#include "kit/desktop/x11/Connection.h"

namespace kit {

namespace {
std::shared_ptr<ScreenSource>& overrideSlot() {
    static std::shared_ptr<ScreenSource> slot;
    return slot;
}
}  // namespace

void setScreenSource(std::shared_ptr<ScreenSource> source) {
    overrideSlot() = std::move(source);
}
ScreenSource* screenSourceOverride() {
    return overrideSlot().get();
}

namespace x11 {

double globalScale() {
    // Qt scales every screen alike (QT_SCALE_FACTOR, rounded ratio policy), so
    // one factor turns logical pixels into root-window pixels.
    if (qGuiApp && qGuiApp->primaryScreen())
        return std::max(1.0, qGuiApp->primaryScreen()->devicePixelRatio());
    return 1.0;
}

std::vector<ScreenInfo> desktopScreens() {
    std::vector<ScreenInfo> out;
    if (qGuiApp) {
        // Displays lists the primary first, as the Parts expect of the main screen.
        uint32_t n = 1;
        for (const Display& d : Displays::all())
            out.push_back({n++, Displays::toWindowServer(d.frame), d.scale, d.isPrimary});
        return out;
    }
    if (Connection* c = Connection::shared())
        out.push_back({1, Rect(0, 0, c->rootWidth(), c->rootHeight()), 1.0, true});
    return out;
}

}  // namespace x11

std::vector<ScreenInfo> screens() {
    if (auto* s = screenSourceOverride()) return s->screens();
    return x11::desktopScreens();
}

std::optional<ScreenInfo> mainScreen() {
    auto list = screens();
    for (auto& s : list)
        if (s.isMain) return s;
    if (!list.empty()) return list.front();
    return std::nullopt;
}

std::optional<ScreenInfo> screenAt(Point p) {
    for (auto& s : screens())
        if (s.frame.contains(p)) return s;
    return std::nullopt;
}

std::vector<ScreenInfo> screensIntersecting(const Rect& r) {
    std::vector<ScreenInfo> out;
    for (auto& s : screens())
        if (s.frame.intersects(r.standardized())) out.push_back(s);
    return out;
}

double mainDisplayWidth() {
    auto m = mainScreen();
    return m ? m->frame.width() : 0;
}

std::optional<Point> pointerLocation() {
    if (auto* s = screenSourceOverride()) return s->pointer();
    x11::Connection* c = x11::Connection::shared();
    if (!c) return std::nullopt;
    auto* r = xcb_query_pointer_reply(c->conn(), xcb_query_pointer(c->conn(), c->root()), nullptr);
    if (!r) return std::nullopt;
    double k = x11::globalScale();
    Point p{r->root_x / k, r->root_y / k};
    free(r);
    return p;
}

bool pointerButtonHeld() {
    if (screenSourceOverride()) return false;
    x11::Connection* c = x11::Connection::shared();
    if (!c) return false;
    auto* r = xcb_query_pointer_reply(c->conn(), xcb_query_pointer(c->conn(), c->root()), nullptr);
    if (!r) return false;
    const bool held = (r->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3)) != 0;
    free(r);
    return held;
}

}  // namespace kit
