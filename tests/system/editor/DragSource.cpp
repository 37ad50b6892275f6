// kadrix-dragsource X Y FILE…: a small window at (X, Y) that drags the given
// files (as file URLs, the way a file manager offers them) when the mouse is
// pressed on it and moved. Prints "drag copy" or "drag none" with what the
// drop target answered, so a test can tell a refused drop from a taken one.
//
// kadrix-dragsource --offer TYPE FILE X Y: drags FILE's bytes as the one type
// TYPE over the window at root point (X, Y) and drops them there, whatever
// the window answers, speaking the drag protocol itself (the toolkit adds
// image types of its own to an image it drags): what a hostile program can
// send, with no window shown and no pointer moved. Prints "asked N" each
// time the target asks for the bytes, "status taken", "status refused" or
// "status none" for its answer to the entry, then "drag copy" or "drag none".
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

class Source : public QWidget {
public:
    explicit Source(QList<QUrl> urls) : urls_(std::move(urls)) {
        setWindowTitle("kadrix-dragsource");
        resize(160, 120);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor("#208040"));
        setPalette(p);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { pressed_ = e->button() == Qt::LeftButton; }
    void mouseMoveEvent(QMouseEvent*) override {
        if (!pressed_) return;
        pressed_ = false;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls_);
        drag->setMimeData(data);
        const Qt::DropAction answer = drag->exec(Qt::CopyAction);
        std::printf("drag %s\n", answer == Qt::CopyAction ? "copy" : "none");
        std::fflush(stdout);
    }

private:
    QList<QUrl> urls_;
    bool pressed_ = false;
};

namespace {

using Clock = std::chrono::steady_clock;

struct Free {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, Free>;

class Offer {
public:
    Offer(xcb_connection_t* c, const std::string& type, QByteArray bytes) : c_(c), bytes_(std::move(bytes)) {
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window_ = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, screen_->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        type_ = atom(type);
        selection_ = atom("XdndSelection");
        xcb_set_selection_owner(c, window_, selection_, XCB_CURRENT_TIME);
    }

    xcb_atom_t atom(const std::string& name) {
        Reply<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(name.size()), name.c_str()), nullptr));
        return r ? r->atom : xcb_atom_t(XCB_NONE);
    }

    // The window under root point (x, y) that takes drags: the first one
    // marked so on the way down from the root.
    xcb_window_t targetAt(int x, int y) {
        const xcb_atom_t aware = atom("XdndAware");
        xcb_window_t at = screen_->root;
        for (int depth = 0; depth < 16 && at != XCB_NONE; ++depth) {
            Reply<xcb_get_property_reply_t> p(xcb_get_property_reply(
                c_, xcb_get_property(c_, 0, at, aware, XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr));
            if (at != screen_->root && p && p->type != XCB_NONE) return at;
            Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
                c_, xcb_translate_coordinates(c_, screen_->root, at, int16_t(x), int16_t(y)), nullptr));
            at = t ? t->child : xcb_window_t(XCB_NONE);
        }
        return XCB_NONE;
    }

    void send(xcb_window_t to, const char* message, uint32_t d1, uint32_t d2, uint32_t d3, uint32_t d4) {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = to;
        e.type = atom(message);
        e.data.data32[0] = window_;
        e.data.data32[1] = d1;
        e.data.data32[2] = d2;
        e.data.data32[3] = d3;
        e.data.data32[4] = d4;
        xcb_send_event(c_, 0, to, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
        xcb_flush(c_);
    }

    // Serves the target's requests for the bytes until the message named
    // comes (its data) or the time is up (none).
    std::optional<std::array<uint32_t, 5>> awaitMessage(const char* message, std::chrono::seconds within) {
        const xcb_atom_t wanted = atom(message);
        const auto until = Clock::now() + within;
        while (Clock::now() < until) {
            Reply<xcb_generic_event_t> e(xcb_poll_for_event(c_));
            if (!e) {
                if (xcb_connection_has_error(c_)) return std::nullopt;
                usleep(2000);
                continue;
            }
            const uint8_t kind = e->response_type & 0x7f;
            if (kind == XCB_SELECTION_REQUEST)
                serve(*reinterpret_cast<xcb_selection_request_event_t*>(e.get()));
            if (kind != XCB_CLIENT_MESSAGE) continue;
            const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e.get());
            if (m->type != wanted) continue;
            std::array<uint32_t, 5> data;
            std::memcpy(data.data(), m->data.data32, sizeof data);
            return data;
        }
        return std::nullopt;
    }

private:
    // The bytes, whole, for the type offered; nothing for any other.
    void serve(const xcb_selection_request_event_t& r) {
        xcb_selection_notify_event_t n{};
        n.response_type = XCB_SELECTION_NOTIFY;
        n.time = r.time;
        n.requestor = r.requestor;
        n.selection = r.selection;
        n.target = r.target;
        n.property = XCB_NONE;
        if (r.selection == selection_ && r.target == type_) {
            n.property = r.property != XCB_NONE ? r.property : r.target;
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, r.requestor, n.property, type_, 8,
                                uint32_t(bytes_.size()), bytes_.constData());
            std::printf("asked %d\n", ++asked_);
            std::fflush(stdout);
        }
        xcb_send_event(c_, 0, r.requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&n));
        xcb_flush(c_);
    }

    xcb_connection_t* c_;
    QByteArray bytes_;
    xcb_screen_t* screen_ = nullptr;
    xcb_window_t window_ = XCB_NONE;
    xcb_atom_t type_ = XCB_NONE, selection_ = XCB_NONE;
    int asked_ = 0;
};

// Enters the window at (x, y) offering the one type, moves to the point and
// drops there, whatever the target said; the target's word on the drop.
int offerAsDrag(const std::string& type, const char* file, int x, int y) {
    QFile f(QString::fromLocal8Bit(file));
    if (!f.open(QIODevice::ReadOnly)) return 2;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 2;
    const QByteArray bytes = f.readAll();
    // One request carries the bytes: larger ones would need the protocol's
    // transfer in pieces, which no test here needs.
    if (size_t(bytes.size()) + 64 > size_t(xcb_get_maximum_request_length(c)) * 4) return 2;
    Offer offer(c, type, bytes);
    const xcb_window_t target = offer.targetAt(x, y);
    if (target == XCB_NONE) return 3;
    constexpr uint32_t kVersion = 5;
    offer.send(target, "XdndEnter", kVersion << 24, offer.atom(type), 0, 0);
    offer.send(target, "XdndPosition", 0, uint32_t(x) << 16 | uint32_t(y), XCB_CURRENT_TIME,
               offer.atom("XdndActionCopy"));
    const auto status = offer.awaitMessage("XdndStatus", std::chrono::seconds(10));
    std::printf("status %s\n", !status ? "none" : ((*status)[1] & 1) ? "taken" : "refused");
    std::fflush(stdout);
    offer.send(target, "XdndDrop", 0, XCB_CURRENT_TIME, 0, 0);
    const auto finished = offer.awaitMessage("XdndFinished", std::chrono::seconds(10));
    std::printf("drag %s\n", finished && ((*finished)[1] & 1) ? "copy" : "none");
    std::fflush(stdout);
    xcb_disconnect(c);
    return finished ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--offer") == 0)
        return offerAsDrag(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    QApplication app(argc, argv);
    if (argc < 4) return 2;
    QList<QUrl> urls;
    for (int i = 3; i < argc; ++i) urls.push_back(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i])));
    Source s(urls);
    s.move(std::atoi(argv[1]), std::atoi(argv[2]));
    s.show();
    return app.exec();
}
