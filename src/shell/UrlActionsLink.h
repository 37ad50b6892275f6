#pragma once
// What the kadrix:// commands do in the running application: the core's
// commands, the tray and the preferences, the library view, and a question
// to the user before a link changes a setting.
#include "core/UrlCommands.h"

namespace shell {

class UrlActionsLink : public core::UrlActions {
public:
    static UrlActionsLink& shared();

    bool captureRunning() const override;
    void yieldFocus() override;
    void grab(const std::string& mode, const std::optional<AfterGrab>& then) override;
    void startScrollingCapture(int direction, const std::optional<AfterGrab>& then) override;
    void grabDelayed(double seconds, const std::optional<AfterGrab>& then) override;
    void addCaptureToScreenshot() override;
    void instantOCR() override;
    void loadFromClipboard() override;
    void openImageDialogSoon() override;
    bool gotoUploads() override;
    void openPreferences() override;
    void showLibraryPopover() override;
    bool searchLibrary(const std::string& text) override;
    void setupLibraryStatusItem() override;
    void buildMenu() override;
    void rescanLibraryView() override;
    void handlePlimCommand(const std::string& command, const std::optional<std::string>& payload) override;
    bool consent(const std::string& title, const std::string& message) override;
    void notify(const std::string& title, const std::string& message) override;
    void warning(const std::string& title, const std::string& message) override;
};

}  // namespace shell
