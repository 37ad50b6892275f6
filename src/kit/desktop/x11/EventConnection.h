#pragma once
// kit-private: an XCB connection of a module's own whose events are read on
// the main thread as they arrive (global event monitors, hot keys). Opened
// only under a running Qt application with an X display.
#include <xcb/xcb.h>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace kit::x11 {

class EventConnection {
public:
    // Opens the connection; null when there is no application or display.
    // `onEvent` gets every event (the caller must not free it).
    static std::unique_ptr<EventConnection> open(std::function<void(xcb_generic_event_t*)> onEvent);
    ~EventConnection();

    xcb_connection_t* conn() const { return conn_; }
    xcb_window_t root() const { return root_; }

private:
    EventConnection() = default;
    void drain();

    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    std::function<void(xcb_generic_event_t*)> onEvent_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kit::x11
