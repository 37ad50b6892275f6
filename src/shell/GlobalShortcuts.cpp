#include "shell/GlobalShortcuts.h"

#include "core/AppLogic.h"
#include "kit/base/Timer.h"
#include "kit/ui/Popover.h"
#include "kit/ui/Window.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shell/StatusMenu.h"
#include "shortcuts/HotKeyCenter.h"
#include "shortcuts/Names.h"

namespace shell {

namespace {

using core::AppLogic;
namespace names = shortcuts::names;

void grab(const shortcuts::Name& name, const std::string& mode) {
    AppLogic::shared().grabScreenshot(mode, hotkeyMethod(name));
}

void hotkeyFullscreen() {
    // The editor reads this when the capture first shows: the time from key to picture.
    if (kit::Window* w = AppLogic::shared().winMain(); w && !w->isVisible())
        services::timerStart("KeyToRenderFullscreen");
    grab(names::fullscreen(), "fullscreen");
}

void hotkeyReopen() {
    services::Telemetry::shared().preset("show", {{"method", hotkeyMethod(names::reopen())}});
    AppLogic::shared().yieldFocus();
}

// Shows the library popover, or closes it when it is shown.
void hotkeyLibrary() {
    if (!services::Settings::shared().libEnabled()) {
        services::Notifier::shared().warning("Screenshot Library is disabled",
                                             "Enable it in the app settings");
        return;
    }
    std::string method = hotkeyMethod(names::library());
    StatusMenu& menu = StatusMenu::shared();
    if (!menu.statusBarIcon) {
        services::Telemetry::shared().oops("applicationDidFinishLaunching(_:)", "No statusbar item");
        return;
    }
    services::Telemetry::shared().preset("lib:show", {{"method", method}});
    if (menu.libPopover && menu.libPopover->isShown()) {
        menu.libPopover->close();
        return;
    }
    // The hot key holds the keyboard until its keys are let go; the popover
    // shows a moment later so it can take the keyboard for its search field.
    static kit::Timer later;
    later = kit::Timer::once(0.2, [] { StatusMenu::shared().presentLibrary(); });
}

}  // namespace

std::string hotkeyMethod(const shortcuts::Name& name) {
    auto s = shortcuts::getShortcut(name);
    return "hotkey:" + (s ? s->description() : std::string());
}

void registerGlobalShortcuts() {
    using shortcuts::onKeyDown;
    onKeyDown(names::fullscreen(), hotkeyFullscreen);
    onKeyDown(names::window(), [] { grab(names::window(), "window"); });
    onKeyDown(names::anyWindow(), [] { grab(names::anyWindow(), "interactive-window"); });
    onKeyDown(names::area(), [] { grab(names::area(), "interactive"); });
    onKeyDown(names::repeatArea(), [] { grab(names::repeatArea(), "interactive-repeat"); });
    onKeyDown(names::reopen(), hotkeyReopen);
    onKeyDown(names::scrolling(), [] {
        AppLogic::shared().startScrollingCapture(-1, hotkeyMethod(names::scrolling()), std::nullopt);
    });
    onKeyDown(names::ocr(), [] { AppLogic::shared().instantOCR(hotkeyMethod(names::ocr())); });
    onKeyDown(names::loadClipboard(),
              [] { AppLogic::shared().loadFromClipboard(hotkeyMethod(names::loadClipboard())); });
    onKeyDown(names::library(), hotkeyLibrary);
}

}  // namespace shell
