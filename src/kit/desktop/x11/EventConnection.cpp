#include "kit/desktop/x11/EventConnection.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdlib>

namespace kit::x11 {

std::unique_ptr<EventConnection> EventConnection::open(std::function<void(xcb_generic_event_t*)> onEvent) {
    if (!QCoreApplication::instance()) return nullptr;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return nullptr;
    std::unique_ptr<EventConnection> c(new EventConnection);
    int screenNum = 0;
    c->conn_ = xcb_connect(display, &screenNum);
    if (!c->conn_ || xcb_connection_has_error(c->conn_)) return nullptr;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c->conn_));
    for (int i = 0; i < screenNum && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return nullptr;
    c->root_ = it.data->root;
    c->onEvent_ = std::move(onEvent);
    c->notifier_ =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c->conn_), QSocketNotifier::Read);
    EventConnection* self = c.get();
    QObject::connect(c->notifier_.get(), &QSocketNotifier::activated, [self] { self->drain(); });
    return c;
}

EventConnection::~EventConnection() {
    notifier_.reset();
    if (conn_) xcb_disconnect(conn_);
}

void EventConnection::drain() {
    while (xcb_generic_event_t* ev = xcb_poll_for_event(conn_)) {
        if (onEvent_) onEvent_(ev);
        free(ev);
    }
}

}  // namespace kit::x11
