#include "kit/desktop/x11/ClipboardRead.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "kit/base/Descriptor.h"
#include "kit/base/InputWait.h"

namespace kit::x11 {

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = ClipboardData::Outcome;

constexpr uint32_t kPieceLongs = 1u << 20;  // 4 MB a request
// How long the window an owner answers on outlives our giving up: a busy
// owner's late answer then lands on a window that exists. Put on one that
// is gone, it is an error to the owner, and a program that keeps Xlib's
// default error handler ends on it.
constexpr auto kLateAnswerRoom = std::chrono::seconds(5);

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

    // Connects to the display the program shows on, with a window of its
    // own that the owner's answer is put on.
    bool open() {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) return false;
        int screenNumber = 0;
        conn = xcb_connect(display, &screenNumber);
        if (xcb_connection_has_error(conn)) return false;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
        for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
        if (!it.data) return false;
        window = xcb_generate_id(conn);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(conn, XCB_COPY_FROM_PARENT, window, it.data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        return true;
    }

    bool lost() const { return xcb_connection_has_error(conn) != 0; }

    // The next event that `wanted` accepts; null, with the reason in `why`,
    // at `until`, when the way out begins or when the connection breaks.
    // The owner is another program: on the main thread its answer is
    // waited for with the event loop turning.
    template <typename F>
    Reply<xcb_generic_event_t> next(Clock::time_point until, F wanted, Outcome& why) const {
        Reply<xcb_generic_event_t> found;
        const InputWait waited = awaitInput(xcb_get_file_descriptor(conn), until, [&] {
            while (xcb_generic_event_t* e = xcb_poll_for_event(conn)) {
                Reply<xcb_generic_event_t> event(e);
                if (!wanted(event.get())) continue;
                found = std::move(event);
                return true;
            }
            return xcb_connection_has_error(conn) != 0;
        });
        if (!found)
            why = lost()                           ? Outcome::ConnectionLost
                  : waited == InputWait::cancelled ? Outcome::Cancelled
                                                   : Outcome::TooSlow;
        return found;
    }
};

// Keeps a session whose owner has not answered yet, on a thread of its own,
// until the answer comes or kLateAnswerRoom has passed; the answer is
// dropped. Without a thread to wait on, the session ends at once.
void outliveOwner(std::unique_ptr<Session> s) {
    const auto ends = [](Session& held) {
        const Clock::time_point until = Clock::now() + kLateAnswerRoom;
        pollfd p{xcb_get_file_descriptor(held.conn), POLLIN, 0};
        for (;;) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(held.conn)) {
                const bool answered = (e->response_type & 0x7F) == XCB_SELECTION_NOTIFY;
                std::free(e);
                if (answered) return;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
            if (held.lost() || left <= 0 || (::poll(&p, 1, int(left)) < 0 && errno != EINTR)) return;
        }
    };
    try {
        std::thread([ends, held = std::shared_ptr<Session>(std::move(s))] { ends(*held); }).detach();
    } catch (const std::system_error&) {
        // No thread: the session ends here, as it would have without one.
    }
}

// Told the time the question went out; answers when the wait for the owner ends.
using Sent = std::function<Clock::time_point(Clock::time_point)>;

// The owner's bytes of `target`, read into a memory file; see readClipboard.
// With `sent`, the wait ends where it says, not at `until`.
ClipboardData transfer(const Session& s, xcb_atom_t target, long long maxBytes, Clock::time_point until,
                       const Sent& sent = {}) {
    const xcb_atom_t clipboard = s.atom("CLIPBOARD"), into = s.atom("KADRIX_CLIPBOARD"),
                     incr = s.atom("INCR");
    if (!clipboard || !target || !into || !incr) return {};
    xcb_convert_selection(s.conn, s.window, clipboard, target, into, XCB_CURRENT_TIME);
    xcb_flush(s.conn);
    if (sent) until = sent(Clock::now());

    Outcome why = Outcome::TooSlow;
    const auto notify = s.next(
        until, [](xcb_generic_event_t* e) { return (e->response_type & 0x7F) == XCB_SELECTION_NOTIFY; }, why);
    if (!notify) return {why};
    if (reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property == XCB_NONE)
        return {Outcome::NotOffered};

    // At most `longs` four-byte units of the property from `offset` on,
    // removing it when `remove` and all of it was read.
    const auto property = [&](bool remove, uint32_t offset, uint32_t longs) {
        return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(
            s.conn,
            xcb_get_property(s.conn, remove, s.window, into, XCB_GET_PROPERTY_TYPE_ANY, offset, longs),
            nullptr));
    };
    // The property's type and length, with no more than four of its bytes.
    const auto head = property(false, 0, 1);
    if (!head) return {s.lost() ? Outcome::ConnectionLost : Outcome::NotOffered};

    Descriptor out(::memfd_create("kadrix-clipboard", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!out.valid()) return {Outcome::NotOffered};
    long long total = 0;
    // A request for the rest of the room and one unit more: a longer value
    // shows itself by what is left after, and is never read whole.
    const auto roomLongs = [&] {
        return uint32_t(std::min<long long>((maxBytes - total) / 4 + 1, kPieceLongs));
    };
    const auto take = [&](const xcb_get_property_reply_t* r) {
        const int n = xcb_get_property_value_length(r);
        total += n;
        return total <= maxBytes && writeAll(out.get(), xcb_get_property_value(r), size_t(n));
    };

    if (head->type == incr) {
        // In pieces: the value is at least the whole size. Refused before
        // the first piece is asked for (by removing the property).
        if (xcb_get_property_value_length(head.get()) >= 4 &&
            *static_cast<const uint32_t*>(xcb_get_property_value(head.get())) > uint64_t(maxBytes))
            return {Outcome::TooLarge};
        xcb_delete_property(s.conn, s.window, into);
        xcb_flush(s.conn);
        for (;;) {
            const auto piece = s.next(
                until,
                [&](xcb_generic_event_t* e) {
                    if ((e->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
                    auto* p = reinterpret_cast<xcb_property_notify_event_t*>(e);
                    return p->atom == into && p->state == XCB_PROPERTY_NEW_VALUE;
                },
                why);
            if (!piece) return {why};
            // Read and removed in one request, which asks the owner for the
            // next; a piece longer than the room left stays where it is.
            const auto r = property(true, 0, roomLongs());
            if (!r) return {s.lost() ? Outcome::ConnectionLost : Outcome::NotOffered};
            if (xcb_get_property_value_length(r.get()) == 0 && r->bytes_after == 0) break;
            if (r->bytes_after > 0 || !take(r.get())) return {Outcome::TooLarge};
        }
        return {Outcome::Read, out.release()};
    }

    // At once: the whole length is known before a byte is read.
    const long long length = (long long)head->bytes_after + xcb_get_property_value_length(head.get());
    if (length > maxBytes) return {Outcome::TooLarge};
    for (;;) {
        const auto r = property(false, uint32_t(total / 4), roomLongs());
        if (!r) return {s.lost() ? Outcome::ConnectionLost : Outcome::NotOffered};
        if (!take(r.get())) return {Outcome::TooLarge};
        if (r->bytes_after == 0) break;
    }
    xcb_delete_property(s.conn, s.window, into);
    xcb_flush(s.conn);
    return {Outcome::Read, out.release()};
}

}  // namespace

// A session to the display for one transfer: when the owner has not
// answered by its end, it outlives the caller's wait (outliveOwner).
struct Asking {
    std::unique_ptr<Session> s = std::make_unique<Session>();
    Outcome outcome = Outcome::NoDisplay;
    ~Asking() {
        if (outcome == Outcome::TooSlow || outcome == Outcome::Cancelled) outliveOwner(std::move(s));
    }
};

ClipboardData readClipboard(const std::string& type, long long maxBytes, Clock::time_point until) {
    Asking a;
    if (!a.s->open()) return {};
    const ClipboardData read = transfer(*a.s, a.s->atom(type), maxBytes, until);
    a.outcome = read.outcome;
    return read;
}

namespace {

OfferedTypes typesOffered(Clock::time_point until, const Sent& sent) {
    Asking a;
    if (!a.s->open()) return {};
    const Session& s = *a.s;
    // Far more types than any program offers.
    constexpr long long kMaxTypes = 4096;
    const ClipboardData list = transfer(s, s.atom("TARGETS"), kMaxTypes * 4, until, sent);
    a.outcome = list.outcome;
    const Descriptor held(list.fd);
    if (list.outcome != Outcome::Read) return {list.outcome, {}};
    std::vector<xcb_atom_t> atoms(kMaxTypes);
    const ssize_t n = ::pread(held.get(), atoms.data(), atoms.size() * sizeof(xcb_atom_t), 0);
    atoms.resize(n > 0 ? size_t(n) / sizeof(xcb_atom_t) : 0);
    std::vector<xcb_get_atom_name_cookie_t> asked;
    for (xcb_atom_t a : atoms) asked.push_back(xcb_get_atom_name(s.conn, a));
    OfferedTypes out{Outcome::Read, {}};
    for (const auto& cookie : asked) {
        Reply<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(s.conn, cookie, nullptr));
        if (name)
            out.types.emplace_back(xcb_get_atom_name_name(name.get()),
                                   size_t(xcb_get_atom_name_name_length(name.get())));
    }
    return out;
}

}  // namespace

OfferedTypes offeredTypes(Clock::time_point until) {
    return typesOffered(until, {});
}

OfferedTypes offeredTypes(Clock::duration moment, const std::function<void(Clock::time_point)>& sent) {
    return typesOffered(Clock::time_point::max(), [&](Clock::time_point at) {
        if (sent) sent(at);
        return at + moment;
    });
}

}  // namespace kit::x11
