#pragma once
// Menu items that start the command of a named global shortcut show that
// shortcut's keys and follow its changes. The shortcuts themselves live in
// the global-shortcut store, reached through ShortcutSource; until that store
// is installed the default source answers with the built-in defaults
// (fullscreen Ctrl+Shift+1, area Ctrl+Shift+2, ocr Ctrl+Alt+Super+O) and
// never changes.
//
// A binding is one change subscription per item, kept on the item itself:
// binding again or unbinding cancels the old subscription, and destroying
// the item cancels it too, so rebuilt menus leave nothing behind.
//
// Main thread; a change announced on another thread reaches the items on
// the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kit {
class MenuItem;
}

namespace shell {

// A shortcut as a menu shows it: a key equivalent character and kit
// modifier flags (command = Ctrl).
struct MenuKeys {
    std::string keyEquivalent;
    uint32_t modifierMask = 0;
    bool operator==(const MenuKeys&) const = default;
};

class ShortcutSource {
public:
    virtual ~ShortcutSource() = default;
    // The name's stored shortcut as menu keys; none when the name has none.
    virtual std::optional<MenuKeys> menuKeys(const std::string& name) const;
    // Calls `changed` with the raw name of every shortcut that changes, on
    // any thread, for as long as the returned token lives.
    virtual std::shared_ptr<void> subscribe(std::function<void(const std::string& name)> changed);
};

ShortcutSource& shortcutSource();
// Installs the global-shortcut store (nullptr restores the defaults); the caller keeps ownership.
void setShortcutSource(ShortcutSource* source);

// Binds the item to a shortcut name, or unbinds it (empty key equivalent and
// mask) when no name is given.
void setShortcut(const std::shared_ptr<kit::MenuItem>& item, const std::optional<std::string>& name);
// The name an item is bound to, if any.
std::optional<std::string> boundShortcut(const kit::MenuItem& item);

}  // namespace shell
