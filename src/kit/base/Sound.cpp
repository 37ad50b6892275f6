#include "kit/base/Sound.h"

#include <canberra.h>

#include <mutex>

namespace kit::Sound {

namespace {

// One context for the process, made on first use; a failure to make it
// (no sound system) is remembered so later calls cost nothing.
ca_context* context() {
    static std::once_flag once;
    static ca_context* ctx = nullptr;
    std::call_once(once, [] {
        if (ca_context_create(&ctx) != CA_SUCCESS) {
            ctx = nullptr;
            return;
        }
        ca_context_change_props(ctx, CA_PROP_APPLICATION_NAME, "Kadrix", CA_PROP_APPLICATION_ID, "kadrix",
                                nullptr);
        if (ca_context_open(ctx) != CA_SUCCESS) {
            ca_context_destroy(ctx);
            ctx = nullptr;
        }
    });
    return ctx;
}

}  // namespace

bool play(const std::string& eventId) {
    if (eventId.empty()) return false;
    ca_context* ctx = context();
    if (!ctx) return false;
    return ca_context_play(ctx, 0, CA_PROP_EVENT_ID, eventId.c_str(), nullptr) == CA_SUCCESS;
}

}  // namespace kit::Sound
