#pragma once
// The tray icon and what a click on it shows: the classic menu of capture
// commands, links and application commands (a left click opens it as a
// right click does), or the shorter compact menu the library view shows from
// its options button. After a capture that opened no window the icon turns
// into the success icon for 1.5 seconds with a burst of confetti.
//
// One instance for the process (StatusMenu::shared()); main thread only.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Image.h"
#include "kit/base/Timer.h"

namespace kit {
class Menu;
class Popover;
class MenuItem;
class StatusItem;
}  // namespace kit

namespace library {
class LibViewController;
}

namespace shell {

class Confetti;

class StatusMenu {
public:
    static StatusMenu& shared();
    StatusMenu();
    virtual ~StatusMenu();
    StatusMenu(const StatusMenu&) = delete;
    StatusMenu& operator=(const StatusMenu&) = delete;

    std::shared_ptr<kit::MenuItem> item4;  // mirrors realPixels; set by the delegate when present
    std::shared_ptr<kit::MenuItem> itemAutostart;
    std::shared_ptr<kit::MenuItem> itemGoToUploads;
    std::shared_ptr<kit::MenuItem> itemNewVersion;
    std::unique_ptr<kit::StatusItem> statusBarIcon;
    kit::Timer tmrStatusRevert;
    kit::Timer killConfetti;

    virtual void makeStatusItem();
    virtual void flashSuccessIcon();
    virtual void buildMenu();
    virtual std::shared_ptr<kit::Menu> buildCompactMenu();
    // Library mode: no menu, a click (left or right) toggles the library
    // popover, which is made once and kept.
    virtual void setupLibraryStatusItem();
    // Shows the popover at the tray icon (at the pointer when the tray does
    // not say where the icon is); with the library off, the classic menu
    // comes back instead.
    virtual void presentLibrary();
    virtual void togglePopover();
    // For commands: shows the popover with their method text for telemetry.
    virtual void showPopover(const std::string& method);
    std::unique_ptr<kit::Popover> libPopover;
    std::unique_ptr<library::LibViewController> libController;
    virtual void showConfetti();

    // Menu actions (the capture commands pass the method "menu").
    void show();
    void quit();
    void grabFullscreen();
    void grabArea();
    void grabAreaRepeat();
    void grabWindow();
    void grabWindowInteractive();
    void grabScrolling();
    void grabScrollingUp();
    void grabScrollingManual();
    virtual void grabDelayed();
    void instantOCR();
    virtual void launchAtStartup();
    virtual void openFile();
    virtual void openFromClipboard();
    void gotoNewVersion();
    void gotoUploads();
    void gotoTwitter();
    void gotoBug();
    void gotoCoffee();
    void gotoSuggestion();

    // The classic menu last attached, for tests and the after-capture code.
    const std::shared_ptr<kit::Menu>& menu() const { return menu_; }
    // "Settings" runs this (the application delegate's showPreferences).
    std::function<void()> onShowPreferences;
    // "Quit" runs this (the application's terminate); tests replace it.
    std::function<void()> onQuit;
    // The page a report link opens: page + version code + "-" + base-36 event counter.
    static std::string reportAddress(const std::string& page, int64_t versionCode, int64_t eventCounter);

private:
    std::shared_ptr<kit::MenuItem> addItem(kit::Menu& menu, const std::string& title,
                                           void (StatusMenu::*action)(), const std::string& icon,
                                           const std::string& boundTo = {});
    void addTail(kit::Menu& menu);
    void link(const std::string& event, const std::string& address);
    void reportLink(const std::string& event, const std::string& page);
    void setIcon(const std::string& name);
    // The panel's darkness, read once the tray has placed the icon.
    std::optional<bool> panelDark();
    std::string iconName_ = "kadrix-22";
    std::optional<bool> panelDark_;
    kit::Timer tmrPanel_;
    int panelTries_ = 0;

    std::shared_ptr<kit::Menu> menu_;
    std::unique_ptr<Confetti> confetti_;
    kit::Timer tmrDelayed_;
    kit::Timer tmrOpenFile_;
};

// The tray pictures by name ("kadrix-22", "kadrix-22-ok", menu icons): from the
// icon set, with drawings of our own for the two tray pictures while the set
// has none. With the panel's darkness known, drawn for that panel rather than
// for our own windows' look.
kit::Image statusImage(const std::string& name, std::optional<bool> panelDark = std::nullopt);

}  // namespace shell
