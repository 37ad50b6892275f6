#pragma once
// The kadrix:// commands: what a URL opened by another program, a script or
// the companion uploader asks the application to do. The shell takes the URL
// apart (host, command, payload, query) and hands it here.
//
// Any web page can open such a link, so the commands that change settings or
// the companion connection ask the user first, naming the change; captures
// run as asked (scripts rely on them), but not while another capture runs.
// Main thread only.
#include <map>
#include <optional>
#include <string>

#include "core/AppLogic.h"

namespace core {

// What the commands do. The real set calls the core, the shell and the
// library; tests install recording doubles.
class UrlActions {
public:
    using AfterGrab = AppLogic::AfterGrab;
    virtual ~UrlActions() = default;

    virtual bool captureRunning() const = 0;
    virtual void yieldFocus() = 0;
    virtual void grab(const std::string& mode, const std::optional<AfterGrab>& then) = 0;
    virtual void startScrollingCapture(int direction, const std::optional<AfterGrab>& then) = 0;
    // Runs `grabDelayed` after the delay, on a main-loop timer.
    virtual void grabDelayed(double seconds, const std::optional<AfterGrab>& then) = 0;
    virtual void addCaptureToScreenshot() = 0;
    virtual void instantOCR() = 0;
    virtual void loadFromClipboard() = 0;
    // The editor comes forward, then the open dialog after 0.1 s.
    virtual void openImageDialogSoon() = 0;
    virtual bool gotoUploads() = 0;
    virtual void openPreferences() = 0;
    virtual void showLibraryPopover() = 0;
    // Puts the text in the library view's search field and searches; false
    // when there is no library view.
    virtual bool searchLibrary(const std::string& text) = 0;
    virtual void setupLibraryStatusItem() = 0;
    virtual void buildMenu() = 0;
    // Rescans and refreshes the library view when the library is on and shown.
    virtual void rescanLibraryView() = 0;
    virtual void handlePlimCommand(const std::string& command, const std::optional<std::string>& payload) = 0;

    // The user's word before a link changes something: true for yes.
    virtual bool consent(const std::string& title, const std::string& message) = 0;
    virtual void notify(const std::string& title, const std::string& message) = 0;
    virtual void warning(const std::string& title, const std::string& message) = 0;
};

// `query`: the URL's query items, a later item replacing an earlier one and
// an item without a value removing the name (the shell's take-apart).
void handleURLCommand(const std::string& host, const std::string& command,
                      const std::optional<std::string>& payload,
                      const std::map<std::string, std::string>& query, UrlActions& actions);

// The after-capture actions of a "then" value; absent when there is none.
// Sets `recognised` to whether any of the five words was there.
AppLogic::AfterGrab afterGrabFromThen(const std::string& value, bool& recognised);
// The delay of "grab/delayed": the payload when it is wholly a finite number
// from 0 to 3600 seconds, else 3.
double delayFromPayload(const std::optional<std::string>& payload);
// The token left after dropping every character but ASCII letters and digits.
std::string tokenFromPayload(const std::optional<std::string>& payload);

}  // namespace core
