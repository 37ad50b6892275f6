#include "kit/desktop/x11/Connection.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/composite.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "kit/base/Timer.h"
#include "kit/image/Memory.h"

namespace kit::x11 {

Connection* Connection::shared() {
    // Opened once; a failed open is not retried so a headless process does
    // not pay for a connection attempt on every call.
    static std::unique_ptr<Connection> instance = [] {
        std::unique_ptr<Connection> c(new Connection);
        if (!c->open()) c.reset();
        return c;
    }();
    return instance.get();
}

bool Connection::open() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    int screenNum = 0;
    conn_ = xcb_connect(display, &screenNum);
    if (!conn_ || xcb_connection_has_error(conn_)) {
        if (conn_) xcb_disconnect(conn_);
        conn_ = nullptr;
        return false;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
    for (int i = 0; i < screenNum && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) return false;
    screen_ = it.data;
    root_ = screen_->root;

    auto present = [this](xcb_extension_t* ext) {
        const xcb_query_extension_reply_t* r = xcb_get_extension_data(conn_, ext);
        return r && r->present;
    };
    shm_ = present(&xcb_shm_id);
    xtest_ = present(&xcb_test_id);
    composite_ = present(&xcb_composite_id);
    if (present(&xcb_xfixes_id)) {
        // XFixes wants its version negotiated before any other request.
        auto* r = xcb_xfixes_query_version_reply(conn_, xcb_xfixes_query_version(conn_, 4, 0), nullptr);
        xfixes_ = r != nullptr;
        free(r);
    }
    if (composite_) {
        auto* r = xcb_composite_query_version_reply(conn_, xcb_composite_query_version(conn_, 0, 4), nullptr);
        composite_ = r != nullptr;
        free(r);
    }
    return true;
}

Connection::~Connection() {
    releaseSegment();
    if (conn_) xcb_disconnect(conn_);
}

xcb_atom_t Connection::atom(const char* name) {
    for (auto& [n, a] : atoms_)
        if (n == name) return a;
    auto* r = xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, uint16_t(strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(r);
    atoms_.emplace_back(name, a);
    return a;
}

std::optional<std::vector<uint8_t>> Connection::property(xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                                                         uint32_t maxLongs) {
    auto* r = xcb_get_property_reply(conn_, xcb_get_property(conn_, 0, w, prop, type, 0, maxLongs), nullptr);
    if (!r) return std::nullopt;
    std::optional<std::vector<uint8_t>> out;
    if (r->type != XCB_ATOM_NONE) {
        auto* p = static_cast<const uint8_t*>(xcb_get_property_value(r));
        int len = xcb_get_property_value_length(r);
        out.emplace(p, p + len);
    }
    free(r);
    return out;
}

std::vector<uint32_t> Connection::cardinals(xcb_window_t w, const char* prop, const char* type) {
    xcb_atom_t t = std::strcmp(type, "CARDINAL") == 0 ? xcb_atom_t(XCB_ATOM_CARDINAL)
                   : std::strcmp(type, "WINDOW") == 0 ? xcb_atom_t(XCB_ATOM_WINDOW)
                   : std::strcmp(type, "ATOM") == 0   ? xcb_atom_t(XCB_ATOM_ATOM)
                   : std::strcmp(type, "PIXMAP") == 0 ? xcb_atom_t(XCB_ATOM_PIXMAP)
                                                      : atom(type);
    auto bytes = property(w, atom(prop), t);
    std::vector<uint32_t> out;
    if (!bytes) return out;
    out.resize(bytes->size() / 4);
    if (!out.empty()) std::memcpy(out.data(), bytes->data(), out.size() * 4);
    return out;
}

std::optional<uint32_t> Connection::cardinal(xcb_window_t w, const char* prop) {
    auto v = cardinals(w, prop);
    if (v.empty()) return std::nullopt;
    return v.front();
}

std::optional<std::string> Connection::text(xcb_window_t w, const char* prop, const char* type) {
    xcb_atom_t t = std::strcmp(type, "STRING") == 0 ? xcb_atom_t(XCB_ATOM_STRING) : atom(type);
    auto bytes = property(w, atom(prop), t);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

const Connection::Segment* Connection::segment(size_t bytes) {
    if (!shm_) return nullptr;
    // The grab reads the segment before the event loop turns again, so the
    // release can never come in between.
    const uint64_t use = ++segmentUses_;
    dispatchMainAfter(kSegmentKeepSeconds, [this, use] {
        if (segmentUses_ != use) return;
        // No grab for a while: the captures of this batch are done.
        releaseSegment();
        memory::returnFreedMemorySoon();
    });
    if (segment_.data && segment_.size >= bytes) return &segment_;
    releaseSegment();
    size_t size = (bytes + 0xFFFF) & ~size_t(0xFFFF);
    shmId_ = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId_ < 0) {
        shm_ = false;  // e.g. no SysV IPC here: fall back to plain GetImage from now on
        return nullptr;
    }
    void* p = shmat(shmId_, nullptr, 0);
    if (p == reinterpret_cast<void*>(-1)) {
        shmctl(shmId_, IPC_RMID, nullptr);
        shmId_ = -1;
        shm_ = false;
        return nullptr;
    }
    uint32_t seg = xcb_generate_id(conn_);
    xcb_generic_error_t* err =
        xcb_request_check(conn_, xcb_shm_attach_checked(conn_, seg, uint32_t(shmId_), 0));
    // Once the server holds it, the id can go: the segment dies with the last detach.
    shmctl(shmId_, IPC_RMID, nullptr);
    if (err) {
        free(err);
        shmdt(p);
        shmId_ = -1;
        shm_ = false;  // a remote server cannot share our memory
        return nullptr;
    }
    segment_ = {seg, static_cast<uint8_t*>(p), size};
    return &segment_;
}

void Connection::releaseSegment() {
    if (!segment_.data) return;
    xcb_shm_detach(conn_, segment_.seg);
    xcb_flush(conn_);
    shmdt(segment_.data);
    segment_ = {};
    shmId_ = -1;
}

}  // namespace kit::x11
