#include "shell/UrlActionsLink.h"

#include "kit/base/Timer.h"
#include "library/LibViewController.h"
#include "library/LibraryLink.h"
#include "services/Alerts.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/CoreLink.h"
#include "shell/StatusMenu.h"

namespace shell {

namespace {

core::AppLogic& urlLogic() {
    return core::AppLogic::shared();
}

// The core's after-capture actions as the words the shell's commands take.
AfterGrab words(const std::optional<core::AppLogic::AfterGrab>& then) {
    if (!then) return std::nullopt;
    std::vector<std::string> w;
    if (then->copy) w.push_back("copy");
    if (then->save) w.push_back("save");
    if (then->edit) w.push_back("edit");
    if (then->thumbnail) w.push_back("thumbnail");
    if (then->pin) w.push_back("pin");
    return w;
}

}  // namespace

UrlActionsLink& UrlActionsLink::shared() {
    static UrlActionsLink link;
    return link;
}

bool UrlActionsLink::captureRunning() const {
    return urlLogic().capturing();
}
void UrlActionsLink::yieldFocus() {
    urlLogic().yieldFocus();
}

void UrlActionsLink::grab(const std::string& mode, const std::optional<AfterGrab>& then) {
    urlLogic().grabScreenshot(mode, "url", then);
}

void UrlActionsLink::startScrollingCapture(int direction, const std::optional<AfterGrab>& then) {
    coreLink().startScrollingCapture(direction, "url", words(then));
}

void UrlActionsLink::grabDelayed(double seconds, const std::optional<AfterGrab>& then) {
    kit::dispatchMainAfter(seconds, [then] { urlLogic().grabDelayed("url", then); });
}

void UrlActionsLink::addCaptureToScreenshot() {
    urlLogic().addCaptureToScreenshot("url");
}
void UrlActionsLink::instantOCR() {
    coreLink().instantOCR("url");
}
void UrlActionsLink::loadFromClipboard() {
    coreLink().loadFromClipboard("url");
}

void UrlActionsLink::openImageDialogSoon() {
    urlLogic().yieldFocus();
    kit::dispatchMainAfter(0.1, [] { coreLink().openImageDialog(); });
}

bool UrlActionsLink::gotoUploads() {
    return urlLogic().gotoUploads("url");
}

void UrlActionsLink::openPreferences() {
    AppDelegate::shared().openPreferences();
}
void UrlActionsLink::showLibraryPopover() {
    StatusMenu::shared().showPopover("url");
}

bool UrlActionsLink::searchLibrary(const std::string& text) {
    auto& controller = StatusMenu::shared().libController;
    if (!controller) return false;
    controller->search(text);
    return true;
}

void UrlActionsLink::setupLibraryStatusItem() {
    StatusMenu::shared().setupLibraryStatusItem();
}
void UrlActionsLink::buildMenu() {
    StatusMenu::shared().buildMenu();
}
void UrlActionsLink::rescanLibraryView() {
    if (!services::Settings::shared().libEnabled()) return;
    library::LibViewController* controller = library::libController();
    if (!controller || !library::LibraryLink::shared().library()) return;
    controller->rescan();
    controller->refreshGallery();
}
void UrlActionsLink::handlePlimCommand(const std::string& command,
                                       const std::optional<std::string>& payload) {
    // Any page can open these links: switching where uploads go needs the user's word.
    if (command == "plim/connect" &&
        !consent(
            "Connect the companion uploader?",
            "A link asks to send your next uploads to the companion uploader instead of the web service."))
        return;
    if (command == "plim/disconnect" &&
        !consent(
            "Disconnect the companion uploader?",
            "A link asks to send your next uploads to the web service instead of the companion uploader."))
        return;
    urlLogic().handlePlimCommand(command, payload);
}

bool UrlActionsLink::consent(const std::string& title, const std::string& message) {
    return services::askConsent(title, message);
}

void UrlActionsLink::notify(const std::string& title, const std::string& message) {
    services::Notifier::shared().notify(title, message);
}

void UrlActionsLink::warning(const std::string& title, const std::string& message) {
    services::Notifier::shared().warning(title, message);
}

}  // namespace shell
