// The editor window: hiding it, presenting it and making sure the window
// manager lets it take the keyboard, and its size and place for a new image.
#include <algorithm>
#include <cmath>

#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "editor/Framer.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/image/Memory.h"
#include "kit/ui/Application.h"
#include "kit/ui/Window.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "services/Updater.h"

namespace core {

void AppLogic::later(double seconds, std::function<void()> fn) {
    // Instances made by tests may go before their timers fire.
    kit::dispatchMainAfter(seconds, [alive = std::weak_ptr<int>(life_), fn = std::move(fn)] {
        if (alive.lock()) fn();
    });
}

void AppLogic::hideMainWindow() {
    kit::Window* win = winMain();
    if (win && win->isFullScreen()) {
        // The window hides once it has left full screen: its controller sees
        // the flag and calls back.
        win->toggleFullScreen();
        hideWhenExitFS_ = true;
        return;
    }
    routes_->closePreview();
    lastActiveTime = kit::wallNow();
    lastActiveScreen = win ? std::optional(win->screen()) : std::nullopt;
    if (win) win->orderOut();
    editor_->hideTooltip();
    editor_->hidePanels();
    telemetry().event("hide");
    bool prefsShown = (winPreferences && winPreferences->isVisible()) || shell().preferencesVisible();
    if (!prefsShown) kit::Application::shared().setActivationPolicy(kit::ActivationPolicy::Accessory);
    // What only the shown editor needed (its window's buffers, the reduced
    // copies it drew from) is let go; the capture itself stays for reopening.
    kit::memory::returnFreedMemorySoon(kit::memory::DrawnCopies::all);
}

void AppLogic::yieldFocus() {
    notifier().hideNow();
    // A notice held for the picture that opens waits until the editor is in
    // front, or the line above would take it off as it showed.
    editorComing_ = true;
    // A window mapped again lands on the current virtual desktop, which is
    // what the editor wants; it is not made sticky, so it stays there.
    later(0.01, [this] { bringEditorForward(); });
    services::Updater::shared().startChecking();
}

void AppLogic::bringEditorForward() {
    kit::Application::shared().setActivationPolicy(kit::ActivationPolicy::Regular);
    activate(0);
    placeMainWindow();
    if (kit::Window* win = winMain()) {
        win->setAlphaValue(1.0);
        win->makeKeyAndOrderFront();
        later(0.02, [this] {
            if (kit::Window* w = winMain()) w->makeKey();
        });
    }
    editor_->attachAnnouncement();
    editor_->hideHelpers();
    editor_->hideTooltip();
    telemetry().event("show", {{"darkMode", editor_->darkMode()}});
    editorComing_ = false;
    postHeldNotice();
}

void AppLogic::postHeldNotice() {
    if (!heldNotice_ || editorComing_) return;
    auto [title, message] = *std::exchange(heldNotice_, std::nullopt);
    notifier().notify(title, message);
}

void AppLogic::activate(int attempt) {
    kit::Application::shared().activate();
    later(0.1, [this, attempt] {
        if (kit::Application::shared().isActive()) return;
        kit::Window* win = winMain();
        if (attempt == 0 || attempt == 1) {
            // First the window manager is asked as a task bar would ask it,
            // then every window of ours is brought forward as well.
            if (attempt == 1) kit::Application::shared().activate();
            if (win) win->requestActivation();
            telemetry().oops("activate(attempt:)",
                             "Had to try the dock activation trick, attempt #" + std::to_string(attempt));
            activate(attempt + 1);
            return;
        }
        if (win) win->requestUserAttention();
        telemetry().oops("activate(attempt:)", "App failed to activate");
    });
}

void AppLogic::showPreview(const kit::Rect& rect) {
    kit::Window* win = winMain();
    if (win && !win->isFullScreen()) win->orderOut();
    editor_->hideTooltip();
    routes_->showPreview(imgSource_, rect);
}

kit::Size AppLogic::mainWindowSize(kit::Size screen, kit::Size imagePixels, double dpr, bool preferLarge) {
    const double f = preferLarge ? 0.8 : 0.5;
    double W = std::max(836.0, screen.width * f);
    double H = std::max(screen.height * f, 0.5 * W);
    if (W > imagePixels.width / dpr) W = std::max(836.0, imagePixels.width / dpr);
    if (H > imagePixels.height / dpr) H = std::max(imagePixels.height / dpr, 0.5 * W);
    return {W, H};
}

kit::Point AppLogic::mainWindowOrigin(const kit::Rect& visibleFrame, kit::Size window) {
    const kit::Rect& V = visibleFrame;
    return {V.midX() - window.width / 2, V.midY() - window.height / 2 + (V.height() - window.height) * 0.05};
}

void AppLogic::sizeMainWindow() {
    kit::Window* win = winMain();
    if (imgSource_.isNull() || !win) return;
    auto displays = kit::Displays::all();
    kit::Size screen = displays.empty() ? kit::Size{} : kit::Displays::main().frame.size;
    editor::Framer& f = editor::Framer::shared();
    const double d = f.dpr();
    kit::Size size = mainWindowSize(screen, {double(imgSource_.width()), double(imgSource_.height())}, d,
                                    settings().preferLargeWindow());
    // The canvas gets the size; the window's own bar sits above it (where
    // the title bar would hold it on other desktops).
    placeMainWindow();
    win->setContentSize({std::floor(size.width), std::floor(size.height) + editor_->chromeHeight()});
    placeMainWindow();
    f.area = {0, 0, size.width * d, size.height * d};
}

std::optional<kit::Display> AppLogic::placementScreen() {
    if (auto screen = routes_->facts().screen) {
        // The capture's screen is known in the window-server space.
        kit::Rect frame = kit::Displays::fromWindowServer(screen->frame);
        if (auto d = kit::Displays::at(frame.center())) return d;
    }
    if (kit::Displays::all().empty()) return std::nullopt;
    return kit::Displays::main();
}

void AppLogic::placeMainWindow() {
    kit::Window* win = winMain();
    if (!win) return;
    auto screen = placementScreen();
    if (!screen) return;
    win->setFrameOrigin(mainWindowOrigin(screen->visibleFrame, win->frame().size));
}

void AppLogic::showFirstHideHelper() {
    if (capturing_ || !shell().showFirstHideHint()) return;
    firstHideClose_ = kit::Timer::once(10, [] { shell().closeFirstHideHint(); });
}

void AppLogic::clearScreenForCapture() {
    // However the capture started (shortcut, tray, link), the popover is
    // gone before the screen is frozen, as its own capture buttons do it.
    shell().closeLibraryPopover();
    firstHideOpen_.invalidate();
    if (!firstHideClose_.isValid()) return;
    firstHideClose_.invalidate();
    shell().closeFirstHideHint();
}

void AppLogic::refreshUpdateBadge() {
    shell().setNewVersionItemVisible(services::Updater::shared().hasNewVersion());
    editor_->showUpdateButton();
}

void AppLogic::newVersionFound(const std::string& version) {
    // The update check may answer from its network thread.
    kit::dispatchMain([this, version, alive = std::weak_ptr<int>(life_)] {
        if (!alive.lock()) return;
        if (version != latestVersion) telemetry().event("newVersionFound", {{"latestVersion", version}});
        latestVersion = version;
        refreshUpdateBadge();
    });
}

}  // namespace core
