#include "shortcuts/Strings.h"

#include <map>

namespace shortcuts {

std::string localized(const std::string& key) {
    static const std::map<std::string, std::string> table{
        {"record_shortcut", "Record Shortcut"},
        {"press_shortcut", "Press Shortcut"},
        // One argument: the menu item's title.
        {"keyboard_shortcut_used_by_menu_item", "This shortcut is taken by the menu item “%s”."},
        {"keyboard_shortcut_used_by_system", "This shortcut is taken by the desktop or another program."},
        {"keyboard_shortcuts_can_be_changed",
         "Choose another combination, or free this one in the keyboard settings of your desktop or of the "
         "program that uses it."},
    };
    auto it = table.find(key);
    return it == table.end() ? key : it->second;
}

}  // namespace shortcuts
