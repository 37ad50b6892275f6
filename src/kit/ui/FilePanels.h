#pragma once
// The open and save panels (the desktop's file dialogs).
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kit {

class OpenPanel {
public:
    std::string title;
    std::string directory;  // where it starts; empty: the last place
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    bool allowsMultipleSelection = false;
    // File name extensions without the dot ("png", "jpg"); empty: any file.
    std::vector<std::string> allowedTypes;
    std::string prompt;  // the confirm button's title

    // The chosen paths; empty when cancelled.
    std::vector<std::string> runModal();
};

class SavePanel {
public:
    std::string title;
    std::string directory;                  // where it starts; empty: the last place
    std::string nameFieldValue;             // the proposed file name
    std::vector<std::string> allowedTypes;  // the first is the default
    std::string prompt;
    // An optional pop-up beside the name, e.g. the image format; the chosen
    // index is read back after runModal().
    std::string accessoryLabel;
    std::vector<std::string> accessoryItems;
    int accessorySelectedIndex = 0;
    // Called when the pop-up changes, to adjust the name's extension.
    std::function<void(SavePanel&, int index)> onAccessoryChange;

    // The chosen path; nothing when cancelled.
    std::optional<std::string> runModal();
    // While the panel runs: replaces the name in the field.
    void setNameFieldValue(const std::string& name);
    // While the panel runs: the extensions shown and the one a bare name gets.
    void setAllowedTypes(const std::vector<std::string>& types);

private:
    void* dialog_ = nullptr;
};

}  // namespace kit
