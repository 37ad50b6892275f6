#include "shortcuts/Name.h"

#include <map>

#include "kit/base/Defaults.h"
#include "shortcuts/HotKeyCenter.h"

namespace shortcuts {

namespace {

std::optional<Shortcut> readShortcut(const Name& name) {
    auto text = kit::Defaults::standard().string(name.storageKey());
    if (!text) return std::nullopt;
    return Shortcut::fromJSON(*text);
}

void storeShortcut(const Shortcut& shortcut, const Name& name) {
    std::string text = shortcut.json();
    if (text.empty()) return;
    // The name lets go of its old combination and takes the new one; a
    // combination other names still hold stays registered for them.
    release(name);
    hold(name, shortcut);
    kit::Defaults::standard().set(name.storageKey(), text);
    postShortcutChanged(name);
}

void removeShortcut(const Name& name) {
    if (!readShortcut(name)) return;
    kit::Defaults::standard().set(name.storageKey(), false);
    release(name);
    postShortcutChanged(name);
}

std::map<ObserverToken, std::function<void(const Name&)>>& observers() {
    static std::map<ObserverToken, std::function<void(const Name&)>> list;
    return list;
}

}  // namespace

Name::Name(std::string raw, std::optional<Shortcut> defaultValue)
    : rawValue(std::move(raw)), defaultShortcut(defaultValue) {
    if (defaultShortcut && !kit::Defaults::standard().contains(storageKey()))
        storeShortcut(*defaultShortcut, *this);
}

std::optional<Shortcut> getShortcut(const Name& name) {
    return readShortcut(name);
}

void setShortcut(const std::optional<Shortcut>& shortcut, const Name& name) {
    if (shortcut)
        storeShortcut(*shortcut, name);
    else
        removeShortcut(name);
}

void reset(const std::vector<Name>& names) {
    for (auto& name : names) {
        if (name.defaultShortcut)
            storeShortcut(*name.defaultShortcut, name);
        else
            removeShortcut(name);
    }
}

ObserverToken observeShortcutChanges(std::function<void(const Name&)> observer) {
    static ObserverToken last = 0;
    observers().emplace(++last, std::move(observer));
    return last;
}

void removeShortcutObserver(ObserverToken token) {
    observers().erase(token);
}

void postShortcutChanged(const Name& name) {
    // An observer may remove itself or others: deliver to a snapshot, skipping
    // any removed on the way.
    std::vector<ObserverToken> tokens;
    for (auto& [t, fn] : observers()) tokens.push_back(t);
    for (auto t : tokens) {
        auto it = observers().find(t);
        if (it != observers().end()) {
            auto fn = it->second;
            fn(name);
        }
    }
}

}  // namespace shortcuts
