#pragma once
// The preferences window: one window whose tab view holds the general, the
// shortcuts and the advanced pane. Made on the first opening and kept for
// the life of the process; while it is open the application shows in the
// taskbar, and closing it goes back to tray-only unless the editor is on
// screen.
//
// Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "kit/ui/Window.h"

namespace kit {
class TabView;
}

namespace shell {

class PrefPane;

class PreferencesWindowController : public kit::WindowDelegate {
public:
    // The one controller, made on first use (`AppDelegate::wcPreferences`).
    static PreferencesWindowController& shared();
    static bool exists();

    PreferencesWindowController();
    ~PreferencesWindowController() override;

    kit::Window& window() { return *window_; }
    kit::TabView& tabView() { return *tabs_; }

    // Shows the window in front with the keyboard, in the taskbar, and sends "preferences".
    void open();
    // Opens the window and selects every tab whose lower-cased label contains
    // `tab` (given in lower case), so the last match stays selected; with no
    // match the selection stays as it was.
    void showTab(const std::string& tab);

    // kit::WindowDelegate
    bool windowShouldClose(kit::Window&) override;
    void windowWillClose(kit::Window&) override;

private:
    void paneChanged(int index);

    std::unique_ptr<kit::Window> window_;
    std::shared_ptr<kit::TabView> tabs_;
    std::vector<std::unique_ptr<PrefPane>> panes_;
    int shownPane_ = -1;
};

// Connects the delegate's openPreferences/showPreferences to this window.
void installPreferences();

}  // namespace shell
