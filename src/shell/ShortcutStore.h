#pragma once
// The global-shortcut store as the menus see it: a name's stored shortcut as
// menu keys, and its changes. Installed at start-up with setShortcutSource.
#include "shell/MenuShortcuts.h"

namespace shell {

class ShortcutStore : public ShortcutSource {
public:
    std::optional<MenuKeys> menuKeys(const std::string& name) const override;
    std::shared_ptr<void> subscribe(std::function<void(const std::string& name)> changed) override;
};

}  // namespace shell
