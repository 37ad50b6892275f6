#include "shell/AppDelegate.h"

#include <cstdio>

#include "autostart/LaunchAtLogin.h"
#include "controls/ImageAssets.h"
#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/UrlEvents.h"
#include "kit/base/WayOut.h"
#include "kit/ui/Application.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Popover.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/Window.h"
#include "services/Alerts.h"
#include "services/AppHooks.h"
#include "services/Console.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shell/CoreLink.h"
#include "shell/EditorMenu.h"
#include "shell/PreferencesWindowController.h"
#include "shell/StatusMenu.h"
#include "shell/UrlCommand.h"
#include "shortcuts/Name.h"
#include "shortcuts/Names.h"

namespace shell {

namespace {

constexpr const char* kUrlFunction = "handleGetURLEvent(_:withReplyEvent:)";
constexpr const char* kAppLogo = "24-notification-logo";

// Our windows show the program's logo, the picture the desktop entry names,
// drawn from the same SVG at the sizes window managers ask for.
void setWindowIcon(kit::Application& app) {
    std::vector<kit::Image> sizes;
    for (double scale : {1.0, 2.0, 4.0, 8.0})
        sizes.push_back(controls::ImageAssets::named(kAppLogo, {false, scale}));
    app.setIconImages(sizes);
}

// Showing the editor, the settings, the library, the uploads and the
// companion uploader's callbacks: what these do is the same whenever they
// run, so they need not wait for a picture. Every link that asks the user
// first is among them, so their one line also keeps one question at a time.
bool leavesScreenshotAlone(const std::string& urlText) {
    const UrlTakeApart parts = takeApartUrl(urlText);
    const auto* c = std::get_if<UrlCommand>(&parts);
    if (!c) return false;
    if (c->host == "plim") return true;
    const std::string& command = c->command;
    return command.empty() || command == "show" || command == "settings" ||
           command.rfind("settings/", 0) == 0 || command == "lib" || command == "lib/search" ||
           command == "uploads";
}

AppDelegate::LinkKind linkKind(const std::string& urlText) {
    const UrlTakeApart parts = takeApartUrl(urlText);
    const auto* c = std::get_if<UrlCommand>(&parts);
    if (!c || c->host == "plim") return AppDelegate::LinkKind::other;
    if (c->command == "load/clipboard") return AppDelegate::LinkKind::opensPicture;
    const bool capture = c->command.rfind("grab/", 0) == 0 && c->command != "grab/append";
    return capture ? AppDelegate::LinkKind::captures : AppDelegate::LinkKind::other;
}

}  // namespace

AppDelegate& AppDelegate::shared() {
    static AppDelegate& instance = *new AppDelegate;
    return instance;
}

AppDelegate::AppDelegate() : editorMenu_(std::make_unique<EditorMenu>()) {}

AppDelegate::~AppDelegate() {
    if (&editor::shell() == this) editor::setShell(nullptr);
    if (&core::shell() == this) core::setShell(nullptr);
}

EditorMenu& AppDelegate::editorMenu() {
    return *editorMenu_;
}

void AppDelegate::install(kit::Application& app) {
    app.onWillFinishLaunching = [this] { applicationWillFinishLaunching(); };
    app.onDidFinishLaunching = [this] { applicationDidFinishLaunching(); };
    app.onDidBecomeActive = [this] { applicationDidBecomeActive(); };
    app.onDidResignActive = [this] { applicationDidResignActive(); };
    app.addWillTerminateHook([this] { applicationWillTerminate(); });
    editor::setShell(this);
    core::setShell(this);
    setWindowIcon(app);
    StatusMenu::shared().onShowPreferences = [this] { openPreferences(); };
}

void AppDelegate::applicationWillFinishLaunching() {
    // The editor window and the core exist before launching finishes.
    if (startCore) startCore();
    kit::UrlEvents::setHandler([this](const std::string& url) { handleGetURLEvent(url); });
    kit::UrlEvents::setFileHandler([this](const std::string& path) {
        handleLinkInTurn(
            screenshotLinks_, [this, path] { openFile(path); }, LinkKind::opensPicture);
    });
}

void AppDelegate::setLaunchArguments(std::vector<std::string> urls, std::vector<std::string> files) {
    launchUrls_ = std::move(urls);
    launchFiles_ = std::move(files);
}

void AppDelegate::tellOfSettingsReset(kit::Defaults& store) {
    auto notice = store.takeResetNotice();
    if (!notice) return;
    std::string message = "Kadrix could not read its settings file, so every setting is back to its default.";
    message += notice->keptAt ? "\n\nThe old file was kept as " + *notice->keptAt + "."
                              : "\n\nThe old file could not be kept.";
    services::alertOnMain("Settings were reset", message);
}

void AppDelegate::applicationDidFinishLaunching() {
    tellOfSettingsReset(kit::Defaults::standard());
    autostart::LaunchAtLogin::migrateIfNeeded();
    auto& status = StatusMenu::shared();
    if (services::Settings::shared().libEnabled())
        status.setupLibraryStatusItem();
    else
        status.buildMenu();
    services::updateAppHooks([](services::AppHooks& hooks) {
        hooks.setStatusItemVisible = [](bool visible) {
            if (auto& icon = StatusMenu::shared().statusBarIcon) icon->setVisible(visible);
        };
        hooks.namedImage = [](const std::string& name) { return controls::ImageAssets::named(name); };
    });
    // The icon shows once the event loop runs; the editor window, about
    // half of start-up, is made after that.
    kit::dispatchMain([this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.expired()) finishLaunchingAfterIcon();
    });
}

void AppDelegate::finishLaunchingAfterIcon() {
    if (startEditor) std::exchange(startEditor, nullptr)();
    if (registerGlobalShortcuts) registerGlobalShortcuts();
    editorMenu_->install();
    for (auto& url : std::exchange(launchUrls_, {})) handleGetURLEvent(url);
    for (auto& file : std::exchange(launchFiles_, {})) openFile(file);
}

void AppDelegate::handleGetURLEvent(const std::string& urlText) {
    // A command that neither reads nor changes the screenshot does not wait
    // behind the pictures being read: it takes its turn in a line of its own.
    LinkLine& line = leavesScreenshotAlone(urlText) ? asideLinks_ : screenshotLinks_;
    handleLinkInTurn(
        line, [this, urlText] { handleUrlNow(urlText); }, linkKind(urlText));
}

void AppDelegate::handleLinkInTurn(LinkLine& line, std::function<void()> step, LinkKind kind) {
    // A new picture does not wait behind opens still waiting for theirs (a
    // file on a folder that does not answer): it runs now, inside their
    // wait. The screenshot's turns keep the order in which pictures land,
    // and the earlier opens are given up once it has landed.
    const bool onlyOpensUnderWay = line.running > 0 && line.running == line.opening && line.waiting.empty();
    if (line.handling && kind != LinkKind::other && onlyOpensUnderWay) return runLinkStep(line, step, kind);
    line.waiting.push_back({std::move(step), kind});
    if (line.handling) return;  // the link being handled takes this one up when it is done
    line.handling = true;
    // A step that throws leaves the turn free; the steps behind it run on a later turn of the loop.
    struct TurnRelease {
        AppDelegate& self;
        LinkLine& line;
        ~TurnRelease() {
            line.handling = false;
            if (!line.waiting.empty())
                kit::dispatchMain([&s = self, &l = line] { s.handleLinkInTurn(l, [] {}); });
        }
    } release{*this, line};
    // Links still waiting when Kadrix is ending are dropped with it.
    while (!line.waiting.empty() && !kit::wayOutBegun()) {
        auto next = std::move(line.waiting.front());
        line.waiting.pop_front();
        runLinkStep(line, next.run, next.kind);
    }
}

void AppDelegate::runLinkStep(LinkLine& line, const std::function<void()>& step, LinkKind kind) {
    const int opens = kind == LinkKind::opensPicture ? 1 : 0;
    line.running += 1;
    line.opening += opens;
    struct Ended {
        LinkLine& line;
        int opens;
        ~Ended() {
            line.running -= 1;
            line.opening -= opens;
        }
    } const ended{line, opens};
    step();
}

void AppDelegate::handleUrlNow(const std::string& urlText) {
    auto result = takeApartUrl(urlText);
    if (auto* error = std::get_if<UrlError>(&result)) {
        services::Telemetry::shared().oops(kUrlFunction, error->message);
        return;
    }
    if (auto* c = std::get_if<UrlCommand>(&result))
        coreLink().handleURLCommand(c->host, c->command, c->value, c->query);
}

bool AppDelegate::openFile(const std::string& path) {
    services::Telemetry::shared().preset("openImage", {{"method", "SendTo"}});
    return coreLink().openImage(path, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired()) return;
        coreLink().yieldFocus();
        forbidAutohideFlag = true;
    });
}

void AppDelegate::openPickedImage(const std::string& path) {
    services::Telemetry::shared().preset("openImage", {{"method", "OpenFileDialog"}});
    coreLink().openImage(path, [] { coreLink().yieldFocus(); });
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    services::consoleLine(std::string("applicationShouldHandleReopen ") +
                          (hasVisibleWindows ? "true" : "false"));
    kit::Window* editorWindow = editor::core().winMain();
    if (editorWindow && !editorWindow->isVisible() && !coreLink().preferencesVisible())
        coreLink().yieldFocus();
    return true;
}

void AppDelegate::applicationDidBecomeActive() {
    editorMenu_->attachToEditor();
    services::Telemetry::shared().eventUnlessLast("show", "active");
    if (editor::core().winMain()) editorLink().redrawToolbar();
}

void AppDelegate::applicationDidResignActive() {
    services::Telemetry::shared().eventUnlessLast("hide", "inactive");
    if (editor::core().winMain()) editorLink().redrawToolbar();
}

void AppDelegate::applicationWillTerminate() {
    if (terminated_) return;
    terminated_ = true;
    coreLink().cleanupTempFolder();
    auto& telemetry = services::Telemetry::shared();
    telemetry.event("quit");
    telemetry.storeQueue();
    // Written now, not a moment later: the process may be gone by then.
    if (!kit::Defaults::standard().flush())
        std::fprintf(stderr, "kadrix: could not write the unsent events\n");
}

void AppDelegate::openPreferences() {
    showPreferences("");
}

void AppDelegate::showPreferences(const std::string& tab) {
    if (presentPreferences)
        presentPreferences(tab);
    else
        services::consoleLine("The preferences window is not part of this build");
}

void AppDelegate::syncRealPixelsState() {
    bool realPixels = services::Settings::shared().realPixels();
    if (auto& item = StatusMenu::shared().item4)
        item->setState(realPixels ? kit::ControlState::On : kit::ControlState::Off);
    editorMenu_->syncRealPixels(realPixels);
}

void AppDelegate::flashSuccessIcon() {
    StatusMenu::shared().flashSuccessIcon();
}

void AppDelegate::setInsertItemEnabled(bool enabled) {
    if (auto item = miInsert.lock()) item->setEnabled(enabled);
}

void AppDelegate::setNewVersionItemVisible(bool visible) {
    if (auto& item = StatusMenu::shared().itemNewVersion) item->setHidden(!visible);
}

void AppDelegate::setUploadsItemVisible(bool visible) {
    if (auto& item = StatusMenu::shared().itemGoToUploads) item->setHidden(!visible);
}

// The one-time hint after the editor first hides: a picture under the tray
// icon showing where Kadrix went. It needs the tray to say where the icon is.
bool AppDelegate::showFirstHideHint() {
    auto& icon = StatusMenu::shared().statusBarIcon;
    auto frame = icon ? icon->trayFrame() : std::nullopt;
    if (!frame) return false;
    services::Notifier::shared().hint(*frame, "helper-firsthide");
    return true;
}

void AppDelegate::closeFirstHideHint() {
    services::Notifier::shared().closePopover();
}

void AppDelegate::closeLibraryPopover() {
    if (auto& popover = StatusMenu::shared().libPopover; popover && popover->isShown())
        popover->closeForCapture();
}

bool AppDelegate::preferencesVisible() const {
    if (PreferencesWindowController::exists() && PreferencesWindowController::shared().window().isVisible())
        return true;
    return coreLink().preferencesVisible();
}

bool AppDelegate::launchAtLoginEnabled() const {
    return autostart::LaunchAtLogin::isEnabled();
}

void AppDelegate::setLaunchAtLogin(bool enabled) {
    autostart::LaunchAtLogin::setEnabled(enabled);
}

void AppDelegate::setAutostartItemState(bool on) {
    if (auto& item = StatusMenu::shared().itemAutostart)
        item->setState(on ? kit::ControlState::On : kit::ControlState::Off);
}

std::optional<std::string> AppDelegate::captureShortcutText() const {
    // The whole screen first: it is the one a new user is given.
    for (const shortcuts::Name* name : {&shortcuts::names::fullscreen(), &shortcuts::names::area()})
        if (auto stored = shortcuts::getShortcut(*name)) return stored->displayText();
    return std::nullopt;
}

bool AppDelegate::trayIconShows() const {
    return kit::StatusItem::isTrayAvailable() && services::Settings::shared().showMenubarIcon() != 0;
}

}  // namespace shell
