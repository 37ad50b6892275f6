#pragma once
// The library view's way up: its popover (held by the status menu), the
// application's commands and the desktop. Installed when the status item
// first switches to library mode.
#include "library/LibViewHost.h"

namespace shell {

class LibraryViewLink : public library::LibViewHost {
public:
    static LibraryViewLink& shared();

    bool popoverShown() const override;
    void closePopover() override;
    void setPopoverTransient(bool transient) override;
    void focusPopover() override;
    void setPopoverSize(kit::Size size) override;
    std::optional<kit::Rect> popoverFrame() const override;
    void presentLibrary() override;
    std::shared_ptr<kit::Menu> buildCompactMenu() override;
    void openPreferences() override;

    void yieldFocus() override;
    void grabScreenshot(const std::string& mode, const std::string& method) override;
    void startScrollingCapture(int direction, const std::string& method) override;
    void instantOCR(const std::string& method) override;
    void loadFromClipboard(const std::string& method) override;
    bool openImage(const std::string& path, std::function<void()> shown) override;
    void pinImage(const std::string& path) override;
    bool copyImageFile(const std::string& path) override;
    void selectDefaultFolder(std::function<void()> whenReady) override;

    void revealFile(const std::string& path) override;
    void openFile(const std::string& path) override;
};

}  // namespace shell
