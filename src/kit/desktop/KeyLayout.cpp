#include "kit/desktop/KeyLayout.h"

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>

#include "kit/base/Event.h"
#include "kit/desktop/x11/Connection.h"

namespace kit::KeyLayout {

namespace {

struct KeymapDeleter {
    void operator()(xkb_keymap* k) const { xkb_keymap_unref(k); }
};
struct StateDeleter {
    void operator()(xkb_state* s) const { xkb_state_unref(s); }
};
struct ContextDeleter {
    void operator()(xkb_context* c) const { xkb_context_unref(c); }
};
using Keymap = std::unique_ptr<xkb_keymap, KeymapDeleter>;
using State = std::unique_ptr<xkb_state, StateDeleter>;

xkb_context* context() {
    static std::unique_ptr<xkb_context, ContextDeleter> ctx(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    return ctx.get();
}

Keymap& testKeymap() {
    static Keymap k;
    return k;
}

// The X keycode at the position of the A key, which tells whether a group
// types Latin letters.
constexpr uint16_t kLetterProbe = KeyCode::A;

std::optional<xkb_keysym_t> unshiftedSym(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t group) {
    const xkb_keysym_t* syms = nullptr;
    int n = xkb_keymap_key_get_syms_by_level(keymap, key, group, 0, &syms);
    if (n <= 0 || !syms) return std::nullopt;
    return syms[0];
}

bool asciiCapable(xkb_keymap* keymap, xkb_layout_index_t group) {
    auto probe = x11KeycodeFromKeyCode(kLetterProbe);
    if (!probe) return false;
    auto sym = unshiftedSym(keymap, *probe, group);
    return sym && *sym >= XKB_KEY_a && *sym <= XKB_KEY_z;
}

// The active group when it types Latin letters, else the first that does.
std::optional<xkb_layout_index_t> asciiGroup(xkb_keymap* keymap, xkb_layout_index_t active) {
    if (active < xkb_keymap_num_layouts(keymap) && asciiCapable(keymap, active)) return active;
    for (xkb_layout_index_t g = 0; g < xkb_keymap_num_layouts(keymap); ++g)
        if (asciiCapable(keymap, g)) return g;
    return std::nullopt;
}

std::optional<std::string> characterIn(xkb_keymap* keymap, xkb_layout_index_t active, uint16_t keyCode) {
    auto group = asciiGroup(keymap, active);
    auto key = x11KeycodeFromKeyCode(keyCode);
    if (!group || !key) return std::nullopt;
    auto sym = unshiftedSym(keymap, *key, *group);
    if (!sym) return std::nullopt;
    char buf[16] = {};
    int n = xkb_keysym_to_utf8(*sym, buf, sizeof buf);
    if (n <= 1) return std::nullopt;  // the count includes the terminating zero
    return std::string(buf);
}

}  // namespace

std::optional<std::string> character(uint16_t keyCode) {
    if (testKeymap()) return characterIn(testKeymap().get(), 0, keyCode);
    auto* x = x11::Connection::shared();
    if (!x || !context()) return std::nullopt;
    static bool setUp = xkb_x11_setup_xkb_extension(
                            x->conn(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) == 1;
    if (!setUp) return std::nullopt;
    int32_t device = xkb_x11_get_core_keyboard_device_id(x->conn());
    if (device < 0) return std::nullopt;
    // Asked afresh each time: the user may have switched layouts since.
    Keymap keymap(xkb_x11_keymap_new_from_device(context(), x->conn(), device, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) return std::nullopt;
    State state(xkb_x11_state_new_from_device(keymap.get(), x->conn(), device));
    xkb_layout_index_t active = 0;
    if (state) {
        for (xkb_layout_index_t g = 0; g < xkb_keymap_num_layouts(keymap.get()); ++g)
            if (xkb_state_layout_index_is_active(state.get(), g, XKB_STATE_LAYOUT_EFFECTIVE) > 0) active = g;
    }
    return characterIn(keymap.get(), active, keyCode);
}

bool useLayoutsForTesting(const std::string& layouts) {
    testKeymap().reset();
    if (layouts.empty()) return true;
    if (!context()) return false;
    xkb_rule_names names{};
    names.rules = "evdev";
    names.model = "pc105";
    names.layout = layouts.c_str();
    testKeymap().reset(xkb_keymap_new_from_names(context(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    return bool(testKeymap());
}

}  // namespace kit::KeyLayout
