#include "kit/base/Sound.h"

#include <canberra.h>

#include <mutex>

#include "kit/base/DynamicLibrary.h"

namespace kit::Sound {

namespace {

// libcanberra, loaded with the first sound rather than with the program: it
// and what it brings (its sound-file decoder, its database) cost every idle
// instance memory, and many sessions play no sound. Its functions; null when
// it cannot be loaded, which is as if there were no sound system.
struct Canberra {
    decltype(&ca_context_create) create;
    decltype(&ca_context_change_props) change_props;
    decltype(&ca_context_open) open;
    decltype(&ca_context_destroy) destroy;
    decltype(&ca_context_play) play;
};

const Canberra* loadCanberra() {
    static const DynamicLibrary lib(KADRIX_CANBERRA_LIBRARY);
    static Canberra c;
    const bool all = lib.find(c.create, "ca_context_create") &
                     lib.find(c.change_props, "ca_context_change_props") &
                     lib.find(c.open, "ca_context_open") & lib.find(c.destroy, "ca_context_destroy") &
                     lib.find(c.play, "ca_context_play");
    return all ? &c : nullptr;
}

// One context for the process, made on first use; a failure to make it
// (no sound system) is remembered so later calls cost nothing.
struct Player {
    const Canberra* lib = nullptr;
    ca_context* ctx = nullptr;
};

Player player() {
    static std::once_flag once;
    static Player p;
    std::call_once(once, [] {
        const Canberra* c = loadCanberra();
        if (!c) return;
        if (c->create(&p.ctx) != CA_SUCCESS) {
            p.ctx = nullptr;
            return;
        }
        c->change_props(p.ctx, CA_PROP_APPLICATION_NAME, "Kadrix", CA_PROP_APPLICATION_ID, "kadrix", nullptr);
        if (c->open(p.ctx) != CA_SUCCESS) {
            c->destroy(p.ctx);
            p.ctx = nullptr;
            return;
        }
        p.lib = c;
    });
    return p;
}

}  // namespace

bool play(const std::string& eventId) {
    if (eventId.empty()) return false;
    const Player p = player();
    if (!p.ctx) return false;
    return p.lib->play(p.ctx, 0, CA_PROP_EVENT_ID, eventId.c_str(), nullptr) == CA_SUCCESS;
}

}  // namespace kit::Sound
