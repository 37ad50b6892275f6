#include "kit/desktop/x11/ClipboardRead.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kit::x11 {

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = ClipboardData::Outcome;

template <typename T>
struct Freed {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Freed<T>>;

struct Session {
    xcb_connection_t* conn = nullptr;
    xcb_window_t window = 0;
    ~Session() {
        if (!conn) return;
        if (window) xcb_destroy_window(conn, window);
        xcb_disconnect(conn);
    }

    xcb_atom_t atom(const std::string& name) const {
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            conn, xcb_intern_atom(conn, 0, uint16_t(name.size()), name.c_str()), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_NONE);
    }

    // The next event that `wanted` accepts; null at `until` or when the
    // connection breaks.
    template <typename F>
    Reply<xcb_generic_event_t> next(Clock::time_point until, F wanted) const {
        for (;;) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(conn)) {
                Reply<xcb_generic_event_t> event(e);
                if (wanted(event.get())) return event;
            }
            if (xcb_connection_has_error(conn)) return nullptr;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) return nullptr;
            pollfd p{xcb_get_file_descriptor(conn), POLLIN, 0};
            if (::poll(&p, 1, int(std::min<long long>(left.count(), 1000))) < 0 && errno != EINTR)
                return nullptr;
        }
    }
};

bool appendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

}  // namespace

ClipboardData readClipboard(const std::string& type, long long maxBytes, Clock::time_point until) {
    Session s;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return {};
    int screenNumber = 0;
    s.conn = xcb_connect(display, &screenNumber);
    if (xcb_connection_has_error(s.conn)) return {};
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(s.conn));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
    if (!it.data) return {};
    s.window = xcb_generate_id(s.conn);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(s.conn, XCB_COPY_FROM_PARENT, s.window, it.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const xcb_atom_t clipboard = s.atom("CLIPBOARD"), target = s.atom(type),
                     into = s.atom("KADRIX_CLIPBOARD"), incr = s.atom("INCR");
    if (!clipboard || !target || !into || !incr) return {};
    xcb_convert_selection(s.conn, s.window, clipboard, target, into, XCB_CURRENT_TIME);
    xcb_flush(s.conn);

    const auto notify = s.next(
        until, [](xcb_generic_event_t* e) { return (e->response_type & 0x7F) == XCB_SELECTION_NOTIFY; });
    if (!notify) return {Outcome::TooSlow};
    if (reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property == XCB_NONE)
        return {Outcome::NotOffered};

    // The property's type and length, without its bytes.
    const auto property = [&](bool remove, uint32_t offset, uint32_t longs) {
        return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(
            s.conn,
            xcb_get_property(s.conn, remove, s.window, into, XCB_GET_PROPERTY_TYPE_ANY, offset, longs),
            nullptr));
    };
    const auto head = property(false, 0, 1);
    if (!head) return {Outcome::NotOffered};

    ClipboardData out{Outcome::Read, ::memfd_create("kadrix-clipboard", MFD_CLOEXEC | MFD_ALLOW_SEALING)};
    if (out.fd < 0) return {Outcome::NotOffered};
    const auto giveUp = [&](Outcome why) {
        ::close(out.fd);
        return ClipboardData{why};
    };
    long long total = 0;
    const auto take = [&](const xcb_get_property_reply_t* r) {
        const int n = xcb_get_property_value_length(r);
        total += n;
        return total <= maxBytes &&
               appendAll(out.fd, static_cast<const uint8_t*>(xcb_get_property_value(r)), size_t(n));
    };

    if (head->type == incr) {
        // In pieces: the value is at least the whole size.
        if (xcb_get_property_value_length(head.get()) >= 4 &&
            *static_cast<const uint32_t*>(xcb_get_property_value(head.get())) > uint64_t(maxBytes))
            return giveUp(Outcome::TooLarge);
        xcb_delete_property(s.conn, s.window, into);
        xcb_flush(s.conn);
        for (;;) {
            const auto piece = s.next(until, [&](xcb_generic_event_t* e) {
                if ((e->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
                auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
                return p->atom == into && p->state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!piece) return giveUp(Outcome::TooSlow);
            // Read and removed in one request, which asks the owner for the next.
            const auto r = property(true, 0, UINT32_MAX / 4);
            if (!r) return giveUp(Outcome::TooSlow);
            if (xcb_get_property_value_length(r.get()) == 0) break;
            if (!take(r.get())) return giveUp(Outcome::TooLarge);
        }
        return out;
    }

    // At once: the whole length is known before a byte is read.
    const long long length = (long long)head->bytes_after + xcb_get_property_value_length(head.get());
    if (length > maxBytes) return giveUp(Outcome::TooLarge);
    constexpr uint32_t kPieceLongs = 1u << 20;  // 4 MB a request
    for (uint32_t offset = 0;; offset += kPieceLongs) {
        const auto r = property(false, offset, kPieceLongs);
        if (!r) return giveUp(Outcome::TooSlow);
        if (!take(r.get())) return giveUp(Outcome::TooLarge);
        if (r->bytes_after == 0) break;
    }
    xcb_delete_property(s.conn, s.window, into);
    xcb_flush(s.conn);
    return out;
}

}  // namespace kit::x11
