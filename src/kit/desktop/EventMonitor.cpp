#include "kit/desktop/EventMonitor.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "kit/base/Event.h"
#include "kit/desktop/x11/EventConnection.h"
#include "kit/desktop/x11/PointerWatch.h"

namespace kit {

namespace {

struct Entry {
    EventMonitor::Token token;
    unsigned mask;
    bool global;
    EventMonitor::Handler handler;
};

std::vector<Entry>& entries() {
    static std::vector<Entry> list;
    return list;
}

unsigned maskFor(MonitorEvent::Type t) {
    switch (t) {
        case MonitorEvent::Type::LeftMouseDown:
            return EventMonitor::LeftMouseDown;
        case MonitorEvent::Type::RightMouseDown:
            return EventMonitor::RightMouseDown;
        case MonitorEvent::Type::OtherMouseDown:
            return EventMonitor::OtherMouseDown;
        case MonitorEvent::Type::KeyDown:
            return EventMonitor::KeyDown;
    }
    return 0;
}

// The same positional key codes the rest of the program sees; -1 for keys
// the table does not know.
int virtualKeyCode(int xKeycode) {
    if (xKeycode < 0) return -1;
    auto code = keyCodeFromX11(uint32_t(xKeycode));
    return code ? int(*code) : -1;
}

std::optional<MonitorEvent> fromButton(int button) {
    if (button >= 4 && button <= 7) return std::nullopt;  // wheel clicks, our own scrolling among them
    MonitorEvent e;
    e.button = button;
    e.type = button == 1   ? MonitorEvent::Type::LeftMouseDown
             : button == 3 ? MonitorEvent::Type::RightMouseDown
                           : MonitorEvent::Type::OtherMouseDown;
    return e;
}

// Raw XInput2 events on a connection of its own, read on the main thread.
class GlobalSource {
public:
    static GlobalSource* shared() {
        static std::unique_ptr<GlobalSource> s = [] {
            auto g = std::make_unique<GlobalSource>();
            if (!g->open()) g.reset();
            return g;
        }();
        return s.get();
    }
    bool open() {
        x_ = x11::EventConnection::open([this](xcb_generic_event_t* ev) { handle(ev); });
        if (!x_) return false;
        conn_ = x_->conn();
        root_ = x_->root();
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn_, &xcb_input_id);
        if (!ext || !ext->present) return false;
        opcode_ = ext->major_opcode;
        auto* v = xcb_input_xi_query_version_reply(conn_, xcb_input_xi_query_version(conn_, 2, 2), nullptr);
        if (!v) return false;
        free(v);
        select();
        return true;
    }

    void watchMotion(std::function<void()> fn) {
        bool was = bool(motionWatch_);
        motionWatch_ = std::move(fn);
        if (was != bool(motionWatch_)) select();
    }

private:
    // Pointer motion is asked for only while someone watches it: it would
    // otherwise wake us at every move of the mouse.
    void select() {
        struct {
            xcb_input_event_mask_t head;
            uint32_t mask;
        } sel;
        sel.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
        sel.head.mask_len = 1;
        sel.mask = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
        if (motionWatch_) sel.mask |= XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
        xcb_input_xi_select_events(conn_, root_, 1, &sel.head);
        xcb_flush(conn_);
    }

    void motion() {
        if (!motionWatch_) return;
        auto fn = std::move(motionWatch_);
        motionWatch_ = nullptr;
        select();
        fn();
    }

    void handle(xcb_generic_event_t* ev) {
        if ((ev->response_type & 0x7f) != XCB_GE_GENERIC) return;
        auto* ge = reinterpret_cast<xcb_ge_generic_event_t*>(ev);
        if (ge->extension != opcode_) return;
        auto* raw = reinterpret_cast<xcb_input_raw_key_press_event_t*>(ev);
        if (ge->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            MonitorEvent e;
            e.type = MonitorEvent::Type::KeyDown;
            e.keyCode = virtualKeyCode(int(raw->detail));
            EventMonitor::deliver(e, true);
        } else if (ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
            if (auto e = fromButton(int(raw->detail))) EventMonitor::deliver(*e, true);
        } else if (ge->event_type == XCB_INPUT_RAW_MOTION) {
            motion();
        }
    }

    std::unique_ptr<x11::EventConnection> x_;
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    uint8_t opcode_ = 0;
    std::function<void()> motionWatch_;
};

// Our own windows' events, seen before they are delivered and never consumed.
class LocalFilter : public QObject {
public:
    static void ensure() {
        static LocalFilter* f = nullptr;
        if (f || !qApp) return;
        f = new LocalFilter(qApp);
        qApp->installEventFilter(f);
    }
    using QObject::QObject;

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        // Every input event reaches the platform window first and then passes
        // the filter again for each widget it is sent on to: count it once, there.
        if (!obj->isWindowType()) return false;
        if (ev->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(ev);
            if (k->isAutoRepeat()) return false;
            MonitorEvent e;
            e.type = MonitorEvent::Type::KeyDown;
            e.keyCode = virtualKeyCode(int(k->nativeScanCode()));
            if (k->key() == Qt::Key_Escape) e.keyCode = EventMonitor::kEscapeKeyCode;
            EventMonitor::deliver(e, false);
        } else if (ev->type() == QEvent::MouseButtonPress) {
            auto* m = static_cast<QMouseEvent*>(ev);
            int button = m->button() == Qt::LeftButton ? 1 : m->button() == Qt::RightButton ? 3 : 2;
            if (auto e = fromButton(button)) EventMonitor::deliver(*e, false);
        }
        return false;
    }
};

EventMonitor::Token nextToken() {
    static EventMonitor::Token n = 0;
    return ++n;
}

}  // namespace

bool x11::onNextPointerMotion(std::function<void()> fn) {
    GlobalSource* g = GlobalSource::shared();
    if (!g) return false;
    g->watchMotion(std::move(fn));
    return true;
}

EventMonitor::Token EventMonitor::addGlobal(unsigned mask, Handler handler) {
    GlobalSource::shared();
    Token t = nextToken();
    entries().push_back({t, mask, true, std::move(handler)});
    return t;
}

EventMonitor::Token EventMonitor::addLocal(unsigned mask, Handler handler) {
    LocalFilter::ensure();
    Token t = nextToken();
    entries().push_back({t, mask, false, std::move(handler)});
    return t;
}

void EventMonitor::remove(Token token) {
    auto& list = entries();
    list.erase(std::remove_if(list.begin(), list.end(), [&](const Entry& e) { return e.token == token; }),
               list.end());
}

size_t EventMonitor::installedCount() {
    return entries().size();
}

void EventMonitor::deliver(const MonitorEvent& event, bool global) {
    unsigned bit = maskFor(event.type);
    // A handler may remove monitors (its own included) while we walk.
    std::vector<Entry> snapshot = entries();
    for (auto& e : snapshot) {
        if (e.global != global || !(e.mask & bit)) continue;
        auto& live = entries();
        bool stillThere =
            std::any_of(live.begin(), live.end(), [&](const Entry& x) { return x.token == e.token; });
        if (stillThere) e.handler(event);
    }
}

}  // namespace kit
