#pragma once
// The shortcuts pane: one recorder per named shortcut (the clipboard and
// library shortcuts have none here), a short guide for taking back the keys
// the desktop keeps for its own screenshots, and a button that opens the
// desktop's keyboard settings where there are any to open.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/PrefPane.h"

namespace kit {
class Button;
}

namespace shell {

class PrefShortcutsViewController : public PrefPane {
public:
    PrefShortcutsViewController();

    // Marks the pane visited (everVisitedHotkeys), which the editor's first-run guide reads.
    void viewWillAppear() override;

    void clickReassignDefault();
    void clickOpenPreferences();

    // The desktop's keyboard-shortcut settings as a command line (GNOME's or
    // KDE's, found on `path`); none when neither is installed.
    static std::optional<std::vector<std::string>> keyboardSettingsCommand(const std::string& path);

    std::shared_ptr<kit::Button> btnReassignDefault;
    std::vector<std::shared_ptr<kit::View>> vSectionReassignButton;
    std::vector<std::shared_ptr<kit::View>> vSectionReassignSteps;
    // The recorders in the order of their lines.
    std::vector<std::shared_ptr<kit::View>> recorders;
};

}  // namespace shell
