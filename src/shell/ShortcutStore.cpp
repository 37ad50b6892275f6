#include "shell/ShortcutStore.h"

#include "shortcuts/Name.h"
#include "shortcuts/Names.h"

namespace shell {

namespace {

// The application's own names carry their defaults (made on first use).
shortcuts::Name nameFor(const std::string& raw) {
    for (auto& n : shortcuts::names::all())
        if (n.rawValue == raw) return n;
    return shortcuts::Name(raw);
}

}  // namespace

std::optional<MenuKeys> ShortcutStore::menuKeys(const std::string& name) const {
    auto shortcut = shortcuts::getShortcut(nameFor(name));
    if (!shortcut || shortcut->keyEquivalent().empty()) return std::nullopt;
    return MenuKeys{shortcut->keyEquivalent(), shortcut->modifiers()};
}

std::shared_ptr<void> ShortcutStore::subscribe(std::function<void(const std::string&)> changed) {
    auto token = shortcuts::observeShortcutChanges(
        [changed = std::move(changed)](const shortcuts::Name& n) { changed(n.rawValue); });
    return std::shared_ptr<void>(nullptr, [token](void*) { shortcuts::removeShortcutObserver(token); });
}

}  // namespace shell
