#include "shell/MenuShortcuts.h"

#include "kit/base/Dispatch.h"
#include "kit/base/Event.h"
#include "kit/ui/Menu.h"

namespace shell {

namespace {

ShortcutSource g_defaultSource;
ShortcutSource* g_source = nullptr;

// The slot under which an item keeps its binding.
const int kBindingSlot = 0;

struct Binding {
    std::string name;
    std::shared_ptr<void> subscription;
};

void apply(kit::MenuItem& item, const std::string& name) {
    auto keys = shortcutSource().menuKeys(name);
    if (keys)
        item.setKeyEquivalent(keys->keyEquivalent, keys->modifierMask);
    else
        item.setKeyEquivalent("", 0);
}

}  // namespace

std::optional<MenuKeys> ShortcutSource::menuKeys(const std::string& name) const {
    using namespace kit::ModifierFlag;
    if (name == "fullscreen") return MenuKeys{"1", Command | Shift};
    if (name == "area") return MenuKeys{"2", Command | Shift};
    if (name == "ocr") return MenuKeys{"o", Command | Option | Control};
    return std::nullopt;
}

std::shared_ptr<void> ShortcutSource::subscribe(std::function<void(const std::string&)>) {
    return nullptr;
}

ShortcutSource& shortcutSource() {
    return g_source ? *g_source : g_defaultSource;
}

void setShortcutSource(ShortcutSource* source) {
    g_source = source;
}

void setShortcut(const std::shared_ptr<kit::MenuItem>& item, const std::optional<std::string>& name) {
    if (!item) return;
    // Dropping the old binding cancels its subscription.
    item->setAssociatedObject(&kBindingSlot, nullptr);
    if (!name) {
        item->setKeyEquivalent("", 0);
        return;
    }
    apply(*item, *name);
    auto binding = std::make_shared<Binding>();
    binding->name = *name;
    std::weak_ptr<kit::MenuItem> weak = item;
    binding->subscription = shortcutSource().subscribe([weak, bound = *name](const std::string& changed) {
        if (changed != bound) return;
        auto refresh = [weak, bound] {
            if (auto live = weak.lock()) apply(*live, bound);
        };
        if (kit::isMainThread())
            refresh();
        else
            kit::dispatchMain(refresh);
    });
    item->setAssociatedObject(&kBindingSlot, binding);
}

std::optional<std::string> boundShortcut(const kit::MenuItem& item) {
    auto binding = std::static_pointer_cast<Binding>(item.associatedObject(&kBindingSlot));
    if (!binding) return std::nullopt;
    return binding->name;
}

}  // namespace shell
