#pragma once
// The application's delegate: the order of start-up, kadrix:// URLs taken
// apart for the core, files handed over by the desktop, activation, reopen
// and termination, and what the editor asks of the shell.
//
// Start-up (a second launch has already forwarded its URLs and left before
// any of this, see main): the URL and file handlers, the launch-at-login
// migration, the tray icon with its menu, the global shortcuts, then the URLs
// and files of this launch's own command line.
//
// Termination, however it comes (Quit, SIGTERM/SIGINT/SIGHUP, the display
// going away): the temporary captures are cleaned, "quit" is sent and the
// unsent telemetry queue is written to disk before the process ends.
//
// Main thread only.
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/AppHost.h"
#include "editor/EditorHost.h"

namespace kit {
class Application;
class MenuItem;
class Defaults;
}  // namespace kit

namespace shell {

class EditorMenu;

class AppDelegate : public editor::ShellHost, public core::ShellHost {
public:
    static AppDelegate& shared();
    AppDelegate();
    ~AppDelegate() override;

    // Hooks the delegate into the application (launch, activation and
    // termination callbacks, URL and file handlers) and becomes the editor's shell.
    void install(kit::Application& app);

    // True once a file handed over by the desktop was opened; never reset.
    bool forbidAutohideFlag = false;
    std::weak_ptr<kit::MenuItem> miInsert;

    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    // When `store` started empty because its file was unreadable, says so
    // once in an alert, with where the old file was kept.
    static void tellOfSettingsReset(kit::Defaults& store);
    // URLs and files given on this launch's command line, handled once
    // launching has finished.
    void setLaunchArguments(std::vector<std::string> urls, std::vector<std::string> files);

    // Links and files from outside are handled one at a time, in the order
    // they came: one that arrives while another is still being handled (its
    // question to the user is open, or its picture is being read, and the
    // wait delivers new links) waits until that one is done. Links that
    // leave the screenshot alone (show, settings, the library, uploads, the
    // companion uploader's) wait in a line of their own, so none of them
    // waits for a picture.
    void handleGetURLEvent(const std::string& urlText);
    bool openFile(const std::string& path);
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    void applicationWillTerminate();

    // Registers the handlers of the named global shortcuts; the shortcut
    // store connects here when it is part of the build.
    std::function<void()> registerGlobalShortcuts;

    // Shows the preferences window (on a tab whose label contains `tab`);
    // the preferences window connects here when it is part of the build.
    std::function<void(const std::string& tab)> presentPreferences;
    void openPreferences();
    // Called by the core after the realPixels setting changed.
    void syncRealPixelsState() override;
    // Called with the chosen file of the open panel.
    void openPickedImage(const std::string& path) override;

    EditorMenu& editorMenu();

    // editor::ShellHost
    bool forbidAutohide() const override { return forbidAutohideFlag; }
    void showPreferences(const std::string& tab) override;
    bool launchAtLoginEnabled() const override;
    void setLaunchAtLogin(bool enabled) override;
    void setAutostartItemState(bool on) override;
    std::optional<std::string> captureShortcutText() const override;
    bool trayIconShows() const override;

    // core::ShellHost
    void flashSuccessIcon() override;
    void setInsertItemEnabled(bool enabled) override;
    void setNewVersionItemVisible(bool visible) override;
    void setUploadsItemVisible(bool visible) override;
    bool preferencesVisible() const override;
    bool showFirstHideHint() override;
    void closeFirstHideHint() override;
    void closeLibraryPopover() override;

    // Creates the application core and connects the shell to it; done while
    // launching unless a test connected doubles.
    std::function<void()> startCore;
    // Makes the editor window. It waits until the tray icon is up: a user
    // sees the icon sooner, and nothing reaches the editor before then.
    std::function<void()> startEditor;

    // What a link does to the screenshot: opens a picture that replaces it
    // (a named file, the clipboard's), captures a new one, or anything else.
    enum class LinkKind { other, opensPicture, captures };

private:
    struct LinkLine {
        struct Step {
            std::function<void()> run;
            LinkKind kind;
        };
        std::deque<Step> waiting;
        bool handling = false;
        int running = 0;  // steps under way, one inside another's wait
        int opening = 0;  // of those, opens of a picture
    };
    void handleLinkInTurn(LinkLine& line, std::function<void()> step, LinkKind kind = LinkKind::other);
    void runLinkStep(LinkLine& line, const std::function<void()>& step, LinkKind kind);
    void handleUrlNow(const std::string& urlText);

    std::vector<std::string> launchUrls_, launchFiles_;
    LinkLine screenshotLinks_, asideLinks_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // What launching does once the tray icon is up: the editor, the
    // shortcuts that bring it up, the launch's own links and files.
    void finishLaunchingAfterIcon();
    std::unique_ptr<EditorMenu> editorMenu_;
    bool terminated_ = false;
};

}  // namespace shell
