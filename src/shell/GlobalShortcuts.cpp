#include "shell/GlobalShortcuts.h"

#include "core/AppLogic.h"
#include "kit/Window.h"
#include "services/NamedTimers.h"
#include "services/Telemetry.h"
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
    if (kit::Window* w = AppLogic::shared().winMain(); w && !w->isVisible()) timerStart("KeyToRenderFullscreen");
    grab(names::fullscreen(), "fullscreen");
}

void hotkeyReopen() {
    Telemetry::shared().preset("show", {{"method", hotkeyMethod(names::reopen())}});
    AppLogic::shared().yieldFocus();
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
}

}  // namespace shell
