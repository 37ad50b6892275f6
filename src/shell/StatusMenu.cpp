#include "shell/StatusMenu.h"

#include "autostart/LaunchAtLogin.h"
#include "controls/ImageAssets.h"
#include "kit/desktop/Workspace.h"
#include "kit/ui/Application.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Popover.h"
#include "kit/ui/StatusItem.h"
#include "library/LibViewController.h"
#include "services/Console.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/Site.h"
#include "services/Telemetry.h"
#include "services/Updater.h"
#include "shell/Confetti.h"
#include "shell/CoreLink.h"
#include "shell/MenuShortcuts.h"

namespace shell {

namespace {

constexpr const char* kMenuMethod = "menu";
// The maker's profile page.
constexpr const char* kProfileAddress = "https://twitter.com/kadrixapp";

bool menubarIconVisible() {
    return services::Settings::shared().showMenubarIcon() != 0;
}

}  // namespace

StatusMenu& StatusMenu::shared() {
    static StatusMenu& instance = *new StatusMenu;
    return instance;
}

StatusMenu::StatusMenu() : confetti_(std::make_unique<Confetti>()) {
    onQuit = [] { kit::Application::shared().terminate(); };
}

StatusMenu::~StatusMenu() = default;

void StatusMenu::setIcon(const std::string& name) {
    iconName_ = name;
    if (statusBarIcon) statusBarIcon->setImage(statusImage(name, panelDark()));
}

std::optional<bool> StatusMenu::panelDark() {
    if (!panelDark_ && statusBarIcon) panelDark_ = statusBarIcon->panelIsDark();
    return panelDark_;
}

void StatusMenu::makeStatusItem() {
    statusBarIcon = std::make_unique<kit::StatusItem>();
    statusBarIcon->setToolTip("Kadrix");
    setIcon("kadrix-22");
    statusBarIcon->setVisible(menubarIconVisible());
    // The glyph must show on the panel's colour, which is known only once the
    // tray has placed the icon: look again until it has (for a while).
    tmrPanel_ = kit::Timer::repeating(1.0, [this] {
        if (panelDark() || ++panelTries_ >= 10) {
            tmrPanel_.invalidate();
            if (panelDark_) setIcon(iconName_);
        }
    });
    // Without a tray host the icon cannot show; everything else still works
    // (shortcuts, links), and the icon appears if a host starts later.
    if (!kit::StatusItem::isTrayAvailable())
        services::consoleLine("No system tray to show the Kadrix icon in; running without it");
}

std::shared_ptr<kit::MenuItem> StatusMenu::addItem(kit::Menu& menu, const std::string& title,
                                                   void (StatusMenu::*action)(), const std::string& icon,
                                                   const std::string& boundTo) {
    auto item = kit::MenuItem::make(title, [this, action](kit::MenuItem&) { (this->*action)(); });
    if (!icon.empty()) {
        kit::Image picture = statusImage("16-menu-" + icon);
        if (!picture.isNull()) item->setImage(picture);
    }
    item->setKeyEquivalent("", 0);
    if (!boundTo.empty()) setShortcut(item, boundTo);
    menu.addItem(item);
    return item;
}

// The items both menus end with: uploads, links, launch at startup, settings, quit.
void StatusMenu::addTail(kit::Menu& menu) {
    itemGoToUploads = addItem(menu, "Manage Uploads", &StatusMenu::gotoUploads, "");
    itemGoToUploads->setHidden(services::Settings::shared().token().empty());
    addItem(menu, "Kadrix on Twitter", &StatusMenu::gotoTwitter, "");
    addItem(menu, "Report a Bug", &StatusMenu::gotoBug, "");
    menu.addSeparator();
    itemAutostart = addItem(menu, "Launch at Startup", &StatusMenu::launchAtStartup, "");
    itemAutostart->setState(autostart::LaunchAtLogin::isEnabled() ? kit::ControlState::On
                                                                  : kit::ControlState::Off);
    auto settings = kit::MenuItem::make(
        "Settings",
        [this](kit::MenuItem&) {
            if (onShowPreferences) onShowPreferences();
        },
        ",");
    menu.addItem(settings);
    addItem(menu, "Quit", &StatusMenu::quit, "");
}

void StatusMenu::buildMenu() {
    auto menu = std::make_shared<kit::Menu>();
    itemNewVersion = addItem(*menu, "Update the app", &StatusMenu::gotoNewVersion, "update");
    itemNewVersion->setHidden(!services::Updater::shared().hasNewVersion());
    addItem(*menu, "Reopen Kadrix", &StatusMenu::show, "kadrix", "reopen");
    menu->addSeparator();
    addItem(*menu, "Capture Screen", &StatusMenu::grabFullscreen, "screen", "fullscreen");
    addItem(*menu, "Capture Area", &StatusMenu::grabArea, "area", "area");
    addItem(*menu, "Scrolling Capture", &StatusMenu::grabScrolling, "scrolling", "scrolling");
    if (services::Settings::shared().scrollingManualEnabled())
        addItem(*menu, "Manual Scrolling Capture", &StatusMenu::grabScrollingManual, "scrolling",
                "scrolling");
    addItem(*menu, "Recognize Text/QR", &StatusMenu::instantOCR, "ocr", "ocr");

    auto more = std::make_shared<kit::Menu>("more");
    addItem(*more, "Repeat Area Capture", &StatusMenu::grabAreaRepeat, "area");
    addItem(*more, "Capture Active Window", &StatusMenu::grabWindow, "window", "window");
    addItem(*more, "Capture Any Window", &StatusMenu::grabWindowInteractive, "window", "anyWindow");
    addItem(*more, "Delayed Screenshot (3s)", &StatusMenu::grabDelayed, "timer");
    addItem(*more, "Scrolling (Up)", &StatusMenu::grabScrollingUp, "scrolling-up");
    more->addSeparator();
    addItem(*more, "Open File", &StatusMenu::openFile, "file");
    addItem(*more, "Load From Clipboard", &StatusMenu::openFromClipboard, "clipboard");
    auto moreItem = addItem(*menu, "more", nullptr, "more");
    moreItem->setAction({});
    moreItem->setSubmenu(more);

    menu->addSeparator();
    addTail(*menu);

    if (!statusBarIcon) makeStatusItem();
    menu_ = menu;
    // Attaching the menu also takes back a click action of library mode.
    statusBarIcon->onClick = nullptr;
    statusBarIcon->setMenu(menu);
}

std::shared_ptr<kit::Menu> StatusMenu::buildCompactMenu() {
    auto menu = std::make_shared<kit::Menu>();
    itemNewVersion = addItem(*menu, "Update the app", &StatusMenu::gotoNewVersion, "update");
    itemNewVersion->setHidden(!services::Updater::shared().hasNewVersion());
    addItem(*menu, "Capture Active Window", &StatusMenu::grabWindow, "window", "window");
    addItem(*menu, "Delayed Capture", &StatusMenu::grabDelayed, "timer");
    addItem(*menu, "Open File", &StatusMenu::openFile, "file");
    menu->addSeparator();
    addTail(*menu);
    return menu;
}

// ---- success feedback -------------------------------------------------------

void StatusMenu::flashSuccessIcon() {
    setIcon("kadrix-22-ok");
    showConfetti();
    tmrStatusRevert = kit::Timer::once(1.5, [this] { setIcon("kadrix-22"); });
}

void StatusMenu::showConfetti() {
    if (!statusBarIcon) return;
    kit::StatusItem* item = statusBarIcon.get();
    if (kit::Application::hasCompositor())
        confetti_->startOverlay(item->buttonFrame(), statusImage("kadrix-22-ok", panelDark()));
    else
        confetti_->start(statusImage("kadrix-22-ok", panelDark()),
                         [item](const kit::Image& frame) { item->setImage(frame); });
    // The burst is over well before the icon turns back.
    killConfetti = kit::Timer::once(Confetti::kDuration, [this] {
        confetti_->stop();
        if (tmrStatusRevert.isValid()) setIcon("kadrix-22-ok");
    });
}

// ---- actions ----------------------------------------------------------------

void StatusMenu::show() {
    coreLink().yieldFocus();
}

void StatusMenu::quit() {
    if (onQuit) onQuit();
}

void StatusMenu::grabFullscreen() {
    coreLink().grabScreenshot("fullscreen", kMenuMethod, std::nullopt);
}
void StatusMenu::grabArea() {
    coreLink().grabScreenshot("interactive", kMenuMethod, std::nullopt);
}
void StatusMenu::grabAreaRepeat() {
    coreLink().grabScreenshot("interactive-repeat", kMenuMethod, std::nullopt);
}
void StatusMenu::grabWindow() {
    coreLink().grabScreenshot("window", kMenuMethod, std::nullopt);
}
void StatusMenu::grabWindowInteractive() {
    coreLink().grabScreenshot("interactive-window", kMenuMethod, std::nullopt);
}
void StatusMenu::grabScrolling() {
    coreLink().startScrollingCapture(-1, kMenuMethod, std::nullopt);
}
void StatusMenu::grabScrollingUp() {
    coreLink().startScrollingCapture(1, kMenuMethod, std::nullopt);
}
void StatusMenu::grabScrollingManual() {
    coreLink().startManualScrollingCapture(kMenuMethod, std::nullopt);
}

void StatusMenu::grabDelayed() {
    // The library popover would be in the picture.
    if (libPopover) libPopover->close();
    tmrDelayed_ = kit::Timer::once(3.0, [] { coreLink().grabDelayed(kMenuMethod, std::nullopt); });
}

void StatusMenu::instantOCR() {
    coreLink().instantOCR(kMenuMethod);
}

void StatusMenu::openFile() {
    show();
    tmrOpenFile_ = kit::Timer::once(0.1, [] { coreLink().openImageDialog(); });
}

void StatusMenu::openFromClipboard() {
    coreLink().loadFromClipboard(kMenuMethod);
}

void StatusMenu::launchAtStartup() {
    bool enable = !autostart::LaunchAtLogin::isEnabled();
    autostart::LaunchAtLogin::setEnabled(enable);
    bool now = autostart::LaunchAtLogin::isEnabled();
    if (enable && !now) services::Telemetry::shared().oops("launchAtStartup()", "Launch At Login failed");
    if (itemAutostart) itemAutostart->setState(now ? kit::ControlState::On : kit::ControlState::Off);
    services::Telemetry::shared().event("setting-autostart", {{"method", "appmenu"}, {"setting", now}});
}

void StatusMenu::gotoNewVersion() {
    services::Updater::shared().suggestAutoupdate(kMenuMethod);
}

void StatusMenu::gotoUploads() {
    services::Telemetry::shared().preset("goto:uploads", {{"method", kMenuMethod}});
    coreLink().gotoUploads(kMenuMethod);
}

void StatusMenu::link(const std::string& event, const std::string& address) {
    services::Telemetry::shared().event(event, {{"method", kMenuMethod}});
    kit::Workspace::openURL(address);
}

std::string StatusMenu::reportAddress(const std::string& page, int64_t versionCode, int64_t eventCounter) {
    return services::productSiteURL(page) + std::to_string(versionCode) + "-" +
           services::base36(eventCounter);
}

void StatusMenu::reportLink(const std::string& event, const std::string& page) {
    link(event, reportAddress(page, services::Telemetry::shared().vc(),
                              services::Settings::shared().localEventCounter()));
}

void StatusMenu::gotoTwitter() {
    link("goto:twitter", kProfileAddress);
}
void StatusMenu::gotoCoffee() {
    link("goto:coffee", services::productSiteURL("/coffee.php"));
}
void StatusMenu::gotoBug() {
    reportLink("goto:bug", "/bugreport.html?utm_source=App&v=");
}
void StatusMenu::gotoSuggestion() {
    reportLink("goto:suggestion", "/suggestion.html?utm_source=App&v=");
}

// ---- pictures -----------------------------------------------------------------

kit::Image statusImage(const std::string& name, std::optional<bool> panelDark) {
    kit::Image image = panelDark ? controls::ImageAssets::named(
                                       name, {*panelDark, controls::ImageAssets::currentLook().scale})
                                 : controls::ImageAssets::named(name);
    if (!image.isNull()) return image;
    if (name == "kadrix-22") return Confetti::drawnTrayIcon(false);
    if (name == "kadrix-22-ok") return Confetti::drawnTrayIcon(true);
    return {};
}

}  // namespace shell
