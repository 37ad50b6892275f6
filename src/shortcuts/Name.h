#pragma once
// Named global shortcuts and their storage. A name ("fullscreen") keeps the
// user's shortcut in the user-defaults database under
// "KeyboardShortcuts_<name>": the shortcut's JSON text, the Boolean false once
// the user removed it (its default is then never applied again), or nothing
// when it was never set (the default is stored at the name's first use).
//
// Every store and removal keeps the hot-key registrations in step (see
// HotKeyCenter.h) and tells the observers. Main thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shortcuts/Shortcut.h"

namespace shortcuts {

struct Name {
    std::string rawValue;
    std::optional<Shortcut> defaultShortcut;

    // A name by its raw value alone: writes nothing.
    explicit Name(std::string raw) : rawValue(std::move(raw)) {}
    // A name with a default: when nothing is stored under its key yet, the
    // default is stored (registered and announced).
    Name(std::string raw, std::optional<Shortcut> defaultValue);

    bool operator==(const Name& o) const { return rawValue == o.rawValue; }
    bool operator<(const Name& o) const { return rawValue < o.rawValue; }

    std::string storageKey() const { return "KeyboardShortcuts_" + rawValue; }
};

// The notification name observers are told under.
inline constexpr const char* shortcutByNameDidChange = "KeyboardShortcuts_shortcutByNameDidChange";

std::optional<Shortcut> getShortcut(const Name& name);
// Stores the shortcut, or removes it for none.
void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name);
// Each name back to its default, or removed when it has none.
void reset(const std::vector<Name>& names);

// Change observers; the token is never 0.
using ObserverToken = uint64_t;
ObserverToken observeShortcutChanges(std::function<void(const Name&)> observer);
void removeShortcutObserver(ObserverToken token);
void postShortcutChanged(const Name& name);

}  // namespace shortcuts
