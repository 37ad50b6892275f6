#pragma once
// The shell's calls into the application core (core::AppLogic). Opening a
// file (by the desktop, the open panel or the clipboard) loads the image here
// into the core's editor; commands the core does not offer yet answer as the
// do-nothing defaults do.
#include "shell/CoreLink.h"

namespace shell {

class AppLogicLink : public CoreLink {
public:
    void yieldFocus() override;
    bool openImage(const std::string& file, std::function<void()> shown) override;
    void handleURLCommand(const std::string& host, const std::string& command,
                          const std::optional<std::string>& value,
                          const std::map<std::string, std::string>& query) override;
    void cleanupTempFolder() override;
    void grabScreenshot(const std::string& mode, const std::string& method, const AfterGrab& then) override;
    void grabDelayed(const std::string& method, const AfterGrab& then) override;
    void startScrollingCapture(int direction, const std::string& method, const AfterGrab& then) override;
    void startManualScrollingCapture(const std::string& method, const AfterGrab& then) override;
    void selectDefaultFolder(std::function<void()> whenReady) override;
    void setPreferencesWindow(kit::Window* window) override;
    void openImageDialog() override;
    void instantOCR(const std::string& method) override;
    void loadFromClipboard(const std::string& method) override;
    void gotoUploads(const std::string& method) override;
    void saveImageAs(const std::optional<std::string>& folder, const std::string& name) override;
    void printImage(const kit::Image& image) override;
    void rasterize() override;
};

}  // namespace shell
