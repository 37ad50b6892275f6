#pragma once
// The advanced pane: the primary text-recognition language and line breaks,
// keeping the editor on top, scroll directions, the larger editor window,
// what Esc does in the editor, usage statistics, the tray icon, the intro,
// the kind of notifications and whether kadrix:// links are obeyed. Every
// control writes its setting at once; the pane re-reads them on each showing.
#include <memory>
#include <string>
#include <vector>

#include "shell/PrefPane.h"

namespace kit {
class Button;
class PopUpButton;
}  // namespace kit

namespace shell {

class PrefAdvancedViewController : public PrefPane {
public:
    // `languages`: the recognition languages installed (their codes), in menu order.
    explicit PrefAdvancedViewController(const std::vector<std::string>& languages);
    PrefAdvancedViewController();

    void viewWillAppear() override { refresh(); }
    void refresh();

    void updatePrimaryOCR();
    void updateAlwaysOnTop();
    void updateEscSave();
    void updateNotificationType();

    // The pop-up's title of a language code (its display name, else the code).
    static std::string languageTitle(const std::string& code);
    // The code of a title (the first language named so, else the title itself).
    static std::string languageCode(const std::string& title);
    // The notification pop-up's item of a setting value, and the value of a title.
    static int notificationIndex(const std::string& value);
    static std::string notificationValue(const std::string& title);

    std::shared_ptr<kit::PopUpButton> ddlPrimaryOCR;
    std::shared_ptr<kit::Button> cbRemoveBreaksOCR, cbAlwaysOnTop, cbReverseScroll, cbReverseAutoscroll,
        cbLargerWindow, cbEscCopy, cbEscSave, cbTelemetry, cbHideMenubar, cbHideSplash;
    std::shared_ptr<kit::PopUpButton> ddlNotificationType;
    std::shared_ptr<kit::Button> cbDeeplinks;
};

}  // namespace shell
