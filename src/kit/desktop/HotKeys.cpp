#include "kit/desktop/HotKeys.h"

#include <xcb/xcb.h>
// xkb.h names a member "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "kit/base/Event.h"
#include "kit/desktop/x11/EventConnection.h"

namespace kit::HotKeys {

namespace {

constexpr uint16_t kLockVariants[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                      XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
// Num Lock sits on Mod2 with every layout X ships; the masks we compare keep
// only the four modifiers a shortcut can hold.
constexpr uint16_t kShortcutMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

uint16_t xModifiers(int64_t carbon) {
    uint16_t m = 0;
    if (carbon & CarbonModifier::Command) m |= XCB_MOD_MASK_CONTROL;
    if (carbon & CarbonModifier::Shift) m |= XCB_MOD_MASK_SHIFT;
    if (carbon & CarbonModifier::Option) m |= XCB_MOD_MASK_1;
    if (carbon & CarbonModifier::Control) m |= XCB_MOD_MASK_4;
    return m;
}

struct Grab {
    xcb_keycode_t keycode = 0;
    uint16_t modifiers = 0;
    bool down = false;  // a press seen and its release not yet
};

class Source {
public:
    static Source* shared() {
        static std::unique_ptr<Source> s = [] {
            auto src = std::make_unique<Source>();
            if (!src->open()) src.reset();
            return src;
        }();
        return s.get();
    }

    std::optional<uint32_t> add(xcb_keycode_t keycode, uint16_t modifiers) {
        if (!grabAll(keycode, modifiers)) return std::nullopt;
        uint32_t id = ++lastId_;
        grabs_[id] = Grab{keycode, modifiers, false};
        return id;
    }

    void remove(uint32_t id) {
        auto it = grabs_.find(id);
        if (it == grabs_.end()) return;
        Grab g = it->second;
        grabs_.erase(it);
        // Another registration of the same combination keeps the grab.
        for (auto& [other, h] : grabs_)
            if (h.keycode == g.keycode && h.modifiers == g.modifiers) return;
        for (uint16_t lock : kLockVariants)
            xcb_ungrab_key(conn_, g.keycode, root_, uint16_t(g.modifiers | lock));
        xcb_flush(conn_);
    }

    bool available(xcb_keycode_t keycode, uint16_t modifiers) {
        for (auto& [id, g] : grabs_)
            if (g.keycode == keycode && g.modifiers == modifiers) return false;
        if (!grabAll(keycode, modifiers)) return false;
        for (uint16_t lock : kLockVariants) xcb_ungrab_key(conn_, keycode, root_, uint16_t(modifiers | lock));
        xcb_flush(conn_);
        return true;
    }

    void fire(uint32_t id, Kind kind) {
        auto it = grabs_.find(id);
        if (it == grabs_.end()) return;
        if (kind == Kind::Pressed) {
            if (it->second.down) return;  // auto-repeat of a held key
            it->second.down = true;
        } else {
            if (!it->second.down) return;
            it->second.down = false;
        }
        if (handler_) {
            Handler h = handler_;  // the handler may replace itself
            h(id, kind);
        }
    }

    Handler handler_;

private:
    bool open() {
        x_ = x11::EventConnection::open([this](xcb_generic_event_t* ev) { handle(ev); });
        if (!x_) return false;
        conn_ = x_->conn();
        root_ = x_->root();
        // Held keys then repeat as presses alone, without a release between them.
        auto* ext = xcb_xkb_use_extension_reply(conn_, xcb_xkb_use_extension(conn_, 1, 0), nullptr);
        if (ext) {
            if (ext->supported) {
                auto* r = xcb_xkb_per_client_flags_reply(
                    conn_,
                    xcb_xkb_per_client_flags(conn_, XCB_XKB_ID_USE_CORE_KBD,
                                             XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                             XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
                    nullptr);
                free(r);
            }
            free(ext);
        }
        return true;
    }

    // All four lock variants, or none: a refused variant undoes the others.
    bool grabAll(xcb_keycode_t keycode, uint16_t modifiers) {
        xcb_void_cookie_t cookies[4];
        int n = 0;
        for (uint16_t lock : kLockVariants)
            cookies[n++] = xcb_grab_key_checked(conn_, 0, root_, uint16_t(modifiers | lock), keycode,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        bool ok = true;
        bool granted[4] = {};
        for (int i = 0; i < n; ++i) {
            xcb_generic_error_t* e = xcb_request_check(conn_, cookies[i]);
            granted[i] = !e;
            if (e) ok = false;
            free(e);
        }
        if (!ok) {
            for (int i = 0; i < n; ++i)
                if (granted[i]) xcb_ungrab_key(conn_, keycode, root_, uint16_t(modifiers | kLockVariants[i]));
            xcb_flush(conn_);
        }
        return ok;
    }

    void handle(xcb_generic_event_t* ev) {
        uint8_t type = ev->response_type & 0x7f;
        if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return;
        auto* k = reinterpret_cast<xcb_key_press_event_t*>(ev);
        dispatch(k->detail, uint16_t(k->state & kShortcutMask),
                 type == XCB_KEY_PRESS ? Kind::Pressed : Kind::Released);
    }

    void dispatch(xcb_keycode_t keycode, uint16_t modifiers, Kind kind) {
        std::set<uint32_t> ids;
        for (auto& [id, g] : grabs_) {
            if (g.keycode != keycode) continue;
            // A release may come after a modifier was let go: match the key alone then.
            if (kind == Kind::Pressed && g.modifiers != modifiers) continue;
            ids.insert(id);
        }
        for (uint32_t id : ids) fire(id, kind);
    }

    std::unique_ptr<x11::EventConnection> x_;
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    uint32_t lastId_ = 0;
    std::map<uint32_t, Grab> grabs_;
};

}  // namespace

void setHandler(Handler handler) {
    if (Source* s = Source::shared()) s->handler_ = std::move(handler);
}

std::optional<uint32_t> registerHotKey(int64_t keyCode, int64_t carbonModifiers) {
    Source* s = Source::shared();
    if (!s || keyCode < 0 || keyCode > 0xFFFF || carbonModifiers < 0 || carbonModifiers > 0xFFFFFFFF)
        return std::nullopt;
    auto x = x11KeycodeFromKeyCode(uint16_t(keyCode));
    if (!x || *x > 255) return std::nullopt;
    return s->add(xcb_keycode_t(*x), xModifiers(carbonModifiers));
}

void unregisterHotKey(uint32_t id) {
    if (Source* s = Source::shared()) s->remove(id);
}

bool isAvailable(int64_t keyCode, int64_t carbonModifiers) {
    Source* s = Source::shared();
    if (!s || keyCode < 0 || keyCode > 0xFFFF) return false;
    auto x = x11KeycodeFromKeyCode(uint16_t(keyCode));
    if (!x || *x > 255) return false;
    return s->available(xcb_keycode_t(*x), xModifiers(carbonModifiers));
}

}  // namespace kit::HotKeys
