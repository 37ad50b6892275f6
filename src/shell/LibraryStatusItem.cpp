// The status item in library mode and the library popover: a click on the
// tray icon, the "library" shortcut and kadrix://lib show or hide the library
// view beside the icon.
#include "shell/LibraryStatusItem.h"

#include "core/AppLogic.h"
#include "kit/base/Displays.h"
#include "kit/desktop/Workspace.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Popover.h"
#include "kit/ui/StatusItem.h"
#include "library/LibViewController.h"
#include "library/LibraryLink.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shell/CoreLink.h"
#include "shell/StatusMenu.h"

namespace shell {

namespace {

// Where the popover opens: below the tray icon, or at the pointer when the
// icon is hidden, there is no tray, or the tray keeps the icon's place to itself.
kit::Rect anchorRect(const kit::StatusItem* icon) {
    if (icon && icon->isVisible() && kit::StatusItem::isTrayAvailable()) return icon->buttonFrame();
    kit::Point p = kit::Displays::pointerLocation();
    return kit::Rect(p.x - 1, p.y - 1, 2, 2);
}

int64_t libraryCount() {
    auto lib = library::LibraryLink::shared().library();
    return lib ? int64_t(lib->snapshot().size()) : 0;
}

}  // namespace

// ---- StatusMenu in library mode ------------------------------------------------------

void StatusMenu::setupLibraryStatusItem() {
    if (!statusBarIcon) makeStatusItem();
    statusBarIcon->setMenu(nullptr);
    statusBarIcon->onClick = [this](bool) { togglePopover(); };
    if (libPopover) return;
    library::setViewHost(&LibraryViewLink::shared());
    libController = std::make_unique<library::LibViewController>();
    library::setLibController(libController.get());
    libPopover = std::make_unique<kit::Popover>();
    libPopover->setContentSize(libController->contentSize());
    libPopover->setContentView(libController->view());
    libPopover->setContentSize(libController->contentSize());
    libPopover->onDidClose = [this] {
        if (libController) libController->viewDidDisappear();
    };
}

void StatusMenu::presentLibrary() {
    bool enabled = services::Settings::shared().libEnabled();
    if (!libPopover && enabled) setupLibraryStatusItem();
    if (!enabled) {
        buildMenu();
        return;
    }
    if (!libPopover) return;
    libPopover->setBehavior(kit::Popover::Behavior::Transient);
    libController->viewWillAppear();
    libPopover->setContentSize(libController->contentSize());
    libPopover->setBackgroundColor(libController->view()->isDarkAppearance()
                                       ? kit::Color(0.19, 0.2, 0.2, 1)
                                       : kit::Color(0.98, 0.98, 0.98, 1));
    libPopover->show(anchorRect(statusBarIcon.get()), kit::RectEdge::MinY);
    libController->viewDidAppear();
    services::Telemetry::shared().event("lib:show", {{"count", libraryCount()}});
}

void StatusMenu::togglePopover() {
    if (libPopover && libPopover->isShown())
        libPopover->close();
    else
        presentLibrary();
}

void StatusMenu::showPopover(const std::string& method) {
    if (!statusBarIcon) {
        services::Telemetry::shared().oops("showPopover(method:)", "No statusbar item");
        return;
    }
    services::Telemetry::shared().preset("lib:show", {{"method", method}});
    presentLibrary();
}

// ---- the library view's host -----------------------------------------------------------

LibraryViewLink& LibraryViewLink::shared() {
    static LibraryViewLink link;
    return link;
}

bool LibraryViewLink::popoverShown() const {
    auto& popover = StatusMenu::shared().libPopover;
    return popover && popover->isShown();
}

void LibraryViewLink::closePopover() {
    if (auto& popover = StatusMenu::shared().libPopover) popover->close();
}

void LibraryViewLink::setPopoverTransient(bool transient) {
    if (auto& popover = StatusMenu::shared().libPopover)
        popover->setBehavior(transient ? kit::Popover::Behavior::Transient
                                       : kit::Popover::Behavior::ApplicationDefined);
}

void LibraryViewLink::focusPopover() {
    if (auto& popover = StatusMenu::shared().libPopover) popover->makeKey();
}

void LibraryViewLink::setPopoverSize(kit::Size size) {
    if (auto& popover = StatusMenu::shared().libPopover) popover->setContentSize(size);
}

std::optional<kit::Rect> LibraryViewLink::popoverFrame() const {
    if (!popoverShown()) return std::nullopt;
    return StatusMenu::shared().libPopover->frame();
}

void LibraryViewLink::presentLibrary() {
    StatusMenu::shared().presentLibrary();
}

std::shared_ptr<kit::Menu> LibraryViewLink::buildCompactMenu() {
    return StatusMenu::shared().buildCompactMenu();
}

void LibraryViewLink::openPreferences() {
    auto& menu = StatusMenu::shared();
    if (menu.onShowPreferences) menu.onShowPreferences();
}

void LibraryViewLink::yieldFocus() {
    coreLink().yieldFocus();
}
void LibraryViewLink::grabScreenshot(const std::string& mode, const std::string& method) {
    coreLink().grabScreenshot(mode, method, std::nullopt);
}
void LibraryViewLink::startScrollingCapture(int direction, const std::string& method) {
    coreLink().startScrollingCapture(direction, method, std::nullopt);
}
void LibraryViewLink::instantOCR(const std::string& method) {
    coreLink().instantOCR(method);
}
void LibraryViewLink::loadFromClipboard(const std::string& method) {
    coreLink().loadFromClipboard(method);
}
bool LibraryViewLink::openImage(const std::string& path, std::function<void()> shown) {
    return coreLink().openImage(path, std::move(shown));
}

void LibraryViewLink::pinImage(const std::string& path) {
    core::AppLogic::shared().pinImage(path);
}

bool LibraryViewLink::copyImageFile(const std::string& path) {
    // The core tells the user when the file gives no picture; the library
    // view then says nothing of a copy.
    return core::AppLogic::shared().copyImageFile(path);
}

void LibraryViewLink::selectDefaultFolder(std::function<void()> whenReady) {
    coreLink().selectDefaultFolder(std::move(whenReady));
}

void LibraryViewLink::revealFile(const std::string& path) {
    kit::Workspace::revealFile(path);
}
void LibraryViewLink::openFile(const std::string& path) {
    kit::Workspace::openFile(path);
}

}  // namespace shell
