#include "shortcuts/HotKeyCenter.h"

#include <map>
#include <string>
#include <vector>

#include "kit/desktop/HotKeys.h"

namespace shortcuts {

namespace {

struct Registration {
    std::optional<uint32_t> id;  // none while paused or refused
    bool refused = false;        // the system said no at the last try
    int holders = 0;
};

struct Center {
    std::map<Name, std::vector<Action>> keyDownHandlers, keyUpHandlers;
    std::map<Shortcut, Registration> registered;
    std::map<std::string, Shortcut> heldBy;  // name → the combination it holds
    int pauses = 0;
    Backend backend;
};

Center& center() {
    static Center c;
    return c;
}

std::optional<uint32_t> grab(const Shortcut& s) {
    auto& b = center().backend;
    if (b.grab) return b.grab(s);
    static bool handlerSet = false;
    if (!handlerSet) {
        kit::HotKeys::setHandler([](uint32_t id, kit::HotKeys::Kind kind) {
            handleHotKey(id, kind == kit::HotKeys::Kind::Pressed);
        });
        handlerSet = true;
    }
    return kit::HotKeys::registerHotKey(s.carbonKeyCode, s.carbonModifiers);
}

void ungrab(uint32_t id) {
    auto& b = center().backend;
    if (b.ungrab)
        b.ungrab(id);
    else
        kit::HotKeys::unregisterHotKey(id);
}

void add(std::map<Name, std::vector<Action>>& table, const Name& name, Action action) {
    table[name].push_back(std::move(action));
    if (auto stored = getShortcut(name)) hold(name, *stored);
}

void dispatch(const std::map<Name, std::vector<Action>>& table, const Shortcut& fired) {
    // Actions may change the tables (a recorder, a rebinding): run from a copy.
    std::vector<Action> run;
    for (auto& [name, actions] : table)
        if (getShortcut(name) == fired) run.insert(run.end(), actions.begin(), actions.end());
    for (auto& a : run) a();
}

}  // namespace

void hold(const Name& name, const Shortcut& shortcut) {
    auto& c = center();
    auto held = c.heldBy.find(name.rawValue);
    if (held != c.heldBy.end()) {
        if (held->second == shortcut) return;
        release(name);
    }
    c.heldBy.emplace(name.rawValue, shortcut);
    Registration& r = c.registered[shortcut];
    if (++r.holders == 1 && c.pauses == 0) {
        r.id = grab(shortcut);
        r.refused = !r.id;
    }
}

void release(const Name& name) {
    auto& c = center();
    auto held = c.heldBy.find(name.rawValue);
    if (held == c.heldBy.end()) return;
    Shortcut s = held->second;
    c.heldBy.erase(held);
    auto r = c.registered.find(s);
    if (r == c.registered.end()) return;
    if (--r->second.holders > 0) return;
    if (r->second.id) ungrab(*r->second.id);
    c.registered.erase(r);
}

void onKeyDown(const Name& name, Action action) {
    add(center().keyDownHandlers, name, std::move(action));
}
void onKeyUp(const Name& name, Action action) {
    add(center().keyUpHandlers, name, std::move(action));
}

void disable(const Name& name) {
    release(name);
}

void enable(const Name& name) {
    if (auto stored = getShortcut(name)) hold(name, *stored);
}

void removeAllHandlers() {
    auto& c = center();
    for (auto& [s, r] : c.registered)
        if (r.id) ungrab(*r.id);
    c.registered.clear();
    c.heldBy.clear();
    c.keyDownHandlers.clear();
    c.keyUpHandlers.clear();
}

void pauseDispatch() {
    auto& c = center();
    if (c.pauses++ > 0) return;
    for (auto& [s, r] : c.registered)
        if (r.id) ungrab(*r.id), r.id.reset();
}

void resumeDispatch() {
    auto& c = center();
    if (c.pauses == 0 || --c.pauses > 0) return;
    for (auto& [s, r] : c.registered) {
        r.id = grab(s);
        r.refused = !r.id;
    }
}

bool isPaused() {
    return center().pauses > 0;
}

bool isRegistered(const Shortcut& shortcut) {
    return center().registered.count(shortcut) > 0;
}

bool isActive(const Shortcut& shortcut) {
    auto it = center().registered.find(shortcut);
    return it != center().registered.end() && it->second.id.has_value();
}

bool canRegister(const Shortcut& shortcut) {
    auto& c = center();
    auto it = c.registered.find(shortcut);
    if (it != c.registered.end() && !it->second.refused) return true;
    if (c.backend.available) return c.backend.available(shortcut);
    return kit::HotKeys::isAvailable(shortcut.carbonKeyCode, shortcut.carbonModifiers);
}

void setBackend(Backend backend) {
    center().backend = std::move(backend);
}

void handleHotKey(uint32_t id, bool pressed) {
    auto& c = center();
    if (c.pauses > 0) return;
    for (auto& [s, r] : c.registered) {
        if (r.id != id) continue;
        Shortcut fired = s;
        dispatch(pressed ? c.keyDownHandlers : c.keyUpHandlers, fired);
        return;
    }
}

}  // namespace shortcuts
