#pragma once
// What the library view asks of the floors above it: the popover it lives in
// (owned by the tray code of the shell), the application's commands (capture,
// open, pin, copy, preferences) and the desktop (file manager, default
// application). The shell installs its implementation at start-up; until then
// every call does nothing. Tests install a recording double.
//
// Main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Geometry.h"

namespace kit {
class Menu;
}

namespace library {

class LibViewHost {
public:
    virtual ~LibViewHost() = default;

    // ---- the popover ------------------------------------------------------
    virtual bool popoverShown() const { return false; }
    virtual void closePopover() {}
    // Transient: closes on a click elsewhere; otherwise it stays open (beside quick look).
    virtual void setPopoverTransient(bool /*transient*/) {}
    // Gives the keyboard back to the popover's window.
    virtual void focusPopover() {}
    virtual void setPopoverSize(kit::Size /*size*/) {}
    // The popover's frame on screen (y up) while shown.
    virtual std::optional<kit::Rect> popoverFrame() const { return std::nullopt; }
    // Shows the popover again at the tray icon (after the folder prompt).
    virtual void presentLibrary() {}
    virtual std::shared_ptr<kit::Menu> buildCompactMenu() { return nullptr; }
    virtual void openPreferences() {}

    // ---- application commands ---------------------------------------------
    virtual void yieldFocus() {}
    virtual void grabScreenshot(const std::string& /*mode*/, const std::string& /*method*/) {}
    virtual void startScrollingCapture(int /*direction*/, const std::string& /*method*/) {}
    virtual void instantOCR(const std::string& /*method*/) {}
    virtual void loadFromClipboard(const std::string& /*method*/) {}
    // Loads the file into the editor, which `shown` then presents; false
    // when it could not be opened.
    virtual bool openImage(const std::string& /*path*/, std::function<void()> /*shown*/) { return false; }
    virtual void pinImage(const std::string& /*path*/) {}
    // Puts the image of the file on the clipboard; false when it could not be read.
    virtual bool copyImageFile(const std::string& /*path*/) { return false; }
    // Lets the user choose the save folder; `whenReady` runs once one was chosen.
    virtual void selectDefaultFolder(std::function<void()> /*whenReady*/) {}

    // ---- the desktop --------------------------------------------------------
    virtual void revealFile(const std::string& /*path*/) {}
    virtual void openFile(const std::string& /*path*/) {}
};

LibViewHost& viewHost();
// Installs an implementation (nullptr restores the default); the caller keeps ownership.
void setViewHost(LibViewHost* host);

}  // namespace library
