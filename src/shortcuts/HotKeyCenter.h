#pragma once
// Makes stored shortcuts work system-wide: the actions registered per name,
// one hot-key registration per key combination, and the dispatch of a fired
// combination to every name that currently stores it.
//
// A combination is registered once however many names use it, and counted:
// it stays grabbed while any name still holds it, so two names sharing a
// combination both keep working when one of them moves to another.
//
// Main thread only.
#include <cstdint>
#include <functional>
#include <optional>

#include "shortcuts/Name.h"

namespace shortcuts {

using Action = std::function<void()>;

// Appends the action to the name's key-down (key-up) actions and registers
// the name's stored shortcut when it is not registered yet.
void onKeyDown(const Name& name, Action action);
void onKeyUp(const Name& name, Action action);
// The name lets go of its stored shortcut / takes it again.
void disable(const Name& name);
void enable(const Name& name);
// Lets go of every registration and forgets every action.
void removeAllHandlers();

// While paused (a recorder records) fired combinations run no action. Each
// pauseDispatch() needs its resumeDispatch(); while paused our grabs are released, so the
// recorder sees the keys itself.
void pauseDispatch();
void resumeDispatch();
bool isPaused();

// Whether the combination is in the registered set (grab accepted or not) and
// whether the system accepted it.
bool isRegistered(const Shortcut& shortcut);
bool isActive(const Shortcut& shortcut);
// Whether a registration of the combination would be accepted now: true for
// one we already hold, otherwise the system is asked.
bool canRegister(const Shortcut& shortcut);

// The system side, replaceable by tests: grab a combination (its id, or
// nothing when refused), let it go, and ask whether it is free.
struct Backend {
    std::function<std::optional<uint32_t>(const Shortcut&)> grab;
    std::function<void(uint32_t id)> ungrab;
    std::function<bool(const Shortcut&)> available;
};
void setBackend(Backend backend);  // empty members: the X11 hot keys
// The backend reports a fired registration.
void handleHotKey(uint32_t id, bool pressed);

// Used by the storage steps: the name now holds `shortcut` / holds nothing.
void hold(const Name& name, const Shortcut& shortcut);
void release(const Name& name);

}  // namespace shortcuts
