// Start-up, files handed over, reopen and termination of the delegate.
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "editor/ViewController.h"
#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/desktop/KeyLayout.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Menu.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/Window.h"
#include "services/Alerts.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/StatusMenu.h"
#include "shortcuts/Name.h"
#include "shortcuts/Names.h"
#include "support/EventLoopWait.h"
#include "support/OwnCase.h"
#include "support/PictureFiles.h"
#include "support/ScratchFolder.h"
#include "support/SlowDecoder.h"

using namespace shell;

class AppDelegateTest : public shelltest::ShellFixture {};

TEST_F(AppDelegateTest,
       FinishingLaunchShowsTheTrayIconThenMakesTheEditorThenHandlesTheLaunchsOwnUrlsAndFiles) {
    AppDelegate delegate;
    std::vector<std::string> order;
    delegate.startEditor = [&] {
        order.push_back("editor:" + std::to_string(bool(StatusMenu::shared().statusBarIcon)));
    };
    delegate.registerGlobalShortcuts = [&] {
        order.push_back("shortcuts:" + std::to_string(bool(StatusMenu::shared().menu())));
    };
    delegate.setLaunchArguments({"kadrix://grab/area"}, {"/tmp/a.png"});
    kit::Defaults::standard().remove("LaunchAtLogin__hasMigrated");
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(kit::Defaults::standard().boolean("LaunchAtLogin__hasMigrated"));
    ASSERT_TRUE(StatusMenu::shared().statusBarIcon);
    // The icon goes up first: the rest waits for the event loop to show it.
    EXPECT_TRUE(order.empty());
    EXPECT_TRUE(core.calls.empty());
    ASSERT_TRUE(testsupport::waitFor([&] { return !core.calls.empty(); }, 2000, 5));
    EXPECT_EQ(order, (std::vector<std::string>{"editor:1", "shortcuts:1"}));
    EXPECT_EQ(core.calls,
              (std::vector<std::string>{"url grab grab/area", "openImage /tmp/a.png", "yieldFocus"}));
    EXPECT_TRUE(delegate.forbidAutohide());

    // The setting's hook reaches the tray icon.
    ASSERT_TRUE(StatusMenu::shared().statusBarIcon);
    services::Settings::shared().setShowMenubarIcon(false);
    EXPECT_FALSE(StatusMenu::shared().statusBarIcon->isVisible());
    services::Settings::shared().setShowMenubarIcon(true);
    EXPECT_TRUE(StatusMenu::shared().statusBarIcon->isVisible());
    core.calls.clear();
    order.clear();
    delegate.applicationDidFinishLaunching();
    testsupport::pump(50);
    EXPECT_TRUE(core.calls.empty()) << "the launch arguments are handled once";
    EXPECT_EQ(order, std::vector<std::string>{"shortcuts:1"}) << "the editor is made once";
}

// Links that load a picture read it with the event loop running; links
// that arrive meanwhile and leave the screenshot alone run at once, and so
// do those for a new picture (a load, a capture), which the screenshot's
// turns keep in order; those that act on the picture shown wait their turn
// behind the loads.
TEST_F(AppDelegateTest, OnlyLinksThatActOnTheScreenshotWaitBehindAPictureBeingRead) {
    AppDelegate delegate;
    testsupport::ScratchFolder scratch;
    const std::string picture = scratch.file("slow-link.png");
    testsupport::writePicture(picture, 8, 6, kit::Color::black());
    testsupport::SlowDecoder slow(0.2);
    core.urlCommandsRun = [&](const std::string&, const std::string& command, const auto&, const auto&) {
        if (command != "load/clipboard") return;
        EXPECT_FALSE(kit::ImageIO::read(picture).isNull());
        core.calls.push_back("read");
    };
    kit::dispatchMain([&] {
        for (const char* link : {"kadrix://settings", "kadrix://copy", "kadrix://load/clipboard",
                                 "kadrix://lib/search=car", "kadrix://show"})
            delegate.handleGetURLEvent(link);
    });
    delegate.handleGetURLEvent("kadrix://load/clipboard");
    EXPECT_EQ(core.calls, (std::vector<std::string>{"url load load/clipboard", "url settings settings",
                                                    "url lib lib/search", "url show show", "read",
                                                    "url copy copy", "url load load/clipboard", "read"}))
        << "the copy waits for the load before it, the load after the copy for the copy";

    // Nothing but loads under way: a new picture does not wait for them.
    core.calls.clear();
    kit::dispatchMain([&] {
        for (const char* link : {"kadrix://load/clipboard", "kadrix://grab/area", "kadrix://copy"})
            delegate.handleGetURLEvent(link);
    });
    delegate.handleGetURLEvent("kadrix://load/clipboard");
    testsupport::pump(50);
    EXPECT_EQ(core.calls, (std::vector<std::string>{"url load load/clipboard", "url load load/clipboard",
                                                    "read", "url grab grab/area", "read", "url copy copy"}));
}

TEST_F(AppDelegateTest, AFileThatDoesNotOpenLeavesTheEditorAlone) {
    AppDelegate delegate;
    core.openResult = false;
    EXPECT_FALSE(delegate.openFile("/tmp/broken.png"));
    EXPECT_EQ(core.calls, std::vector<std::string>{"openImage /tmp/broken.png"});
    EXPECT_FALSE(delegate.forbidAutohide());
}

TEST_F(AppDelegateTest, ReopenShowsTheHiddenEditorUnlessThePreferencesAreUp) {
    AppDelegate delegate;
    kit::Window window(kit::Rect{0, 0, 100, 100}, kit::WindowStyle::Titled);
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_TRUE(core.calls.empty()) << "no editor window yet";
    editorCore.window = &window;
    core.prefsVisible = true;
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_TRUE(core.calls.empty());
    core.prefsVisible = false;
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_EQ(core.calls, std::vector<std::string>{"yieldFocus"});
    editorCore.window = nullptr;
}

TEST_F(AppDelegateTest, TerminationCleansUpAndPutsTheUnsentEventsOnDisk) {
    AppDelegate delegate;
    delegate.applicationWillTerminate();
    delegate.applicationWillTerminate();
    EXPECT_EQ(core.calls, std::vector<std::string>{"cleanupTempFolder"}) << "once";
    EXPECT_EQ(events("quit").size(), 1u);
    // On disk now, not after the store's usual delay.
    auto file = kit::files::readAll(kit::Defaults::standard().path());
    ASSERT_TRUE(file);
    auto stored = kit::Json::parse(*file, nullptr, false);
    ASSERT_TRUE(stored.contains("GATelemetry"));
    ASSERT_TRUE(stored["GATelemetry"].is_array());
    EXPECT_EQ(stored["GATelemetry"].back().value("type", ""), "quit");
}

TEST_F(AppDelegateTest, ActivationEventsFollowOnlyEventsOfAnotherType) {
    AppDelegate delegate;
    size_t active = events("active").size(), inactive = events("inactive").size();
    services::Telemetry::shared().event("show");
    delegate.applicationDidBecomeActive();
    EXPECT_EQ(events("active").size(), active) << "the last event is a show already";
    services::Telemetry::shared().event("something");
    delegate.applicationDidBecomeActive();
    EXPECT_EQ(events("active").size(), active + 1);
    services::Telemetry::shared().event("hide");
    delegate.applicationDidResignActive();
    EXPECT_EQ(events("inactive").size(), inactive);
    services::Telemetry::shared().event("something");
    delegate.applicationDidResignActive();
    EXPECT_EQ(events("inactive").size(), inactive + 1);
}

TEST_F(AppDelegateTest, FirstHideHintNeedsATrayThatSaysWhereTheIconIs) {
    // No tray host here: the icon has no place, and the hint does not fall
    // back to the pointer, where it would cover what the user works on.
    AppDelegate delegate;
    delegate.registerGlobalShortcuts = [] {};
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(StatusMenu::shared().statusBarIcon);
    ASSERT_FALSE(StatusMenu::shared().statusBarIcon->trayFrame());
    EXPECT_FALSE(delegate.showFirstHideHint());
    EXPECT_EQ(services::Notifier::shared().popoverWindow(), nullptr);
}

// One flipped bit in the settings file once reset every setting with only a
// line on stderr. The user hears of it once, with where the old file went.
TEST_F(AppDelegateTest, ASettingsFileThatCannotBeReadIsToldOnceWithWhereItWasKept) {
    std::vector<services::AlertRequest> shown;
    services::setAlertPresenter([&](const services::AlertRequest& r) {
        shown.push_back(r);
        return services::AlertAnswer{0, ""};
    });
    const std::string dir = kit::files::tempDir() + "/reset-settings";
    kit::files::remove(dir);
    ASSERT_TRUE(kit::files::makeDirs(dir));
    const std::string path = dir + "/defaults.json";
    {
        kit::Defaults healthy(path, 0);
        healthy.set("saveFolder", "/home/me/Shots");
        healthy.set("libEnabled", true);
        ASSERT_TRUE(healthy.flush());
    }
    std::string text = *kit::files::readAll(path);
    text[text.find(':')] ^= 0x01;  // ':' becomes ';'
    ASSERT_TRUE(kit::files::writeAtomic(path, text));

    kit::Defaults store(path, 0);
    EXPECT_FALSE(store.contains("saveFolder"));
    AppDelegate::tellOfSettingsReset(store);
    AppDelegate::tellOfSettingsReset(store);
    testsupport::waitFor([&] { return !shown.empty(); }, 2000);
    testsupport::spin(100);  // a second alert would come now
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Settings were reset");
    const size_t at = shown[0].message.find(path + ".corrupt-");
    ASSERT_NE(at, std::string::npos) << shown[0].message;
    const std::string kept = shown[0].message.substr(at, shown[0].message.size() - at - 1);
    EXPECT_EQ(kit::files::readAll(kept), text) << "the old file is kept as it was";

    // A healthy file says nothing.
    {
        kit::Defaults rewritten(path, 0);
        rewritten.set("saveFolder", "/home/me/Shots");
        ASSERT_TRUE(rewritten.flush());
    }
    kit::Defaults fine(path, 0);
    EXPECT_TRUE(fine.contains("saveFolder"));
    AppDelegate::tellOfSettingsReset(fine);
    testsupport::spin(100);
    EXPECT_EQ(shown.size(), 1u);
    services::setAlertPresenter({});
    kit::files::remove(dir);
}

// The application's store reads its file once, so start-up over a file that
// cannot be read runs in a process of its own, over a home of its own.
TEST_F(AppDelegateTest, StartingOverAnUnreadableSettingsFileTellsTheUser) {
    if (!std::getenv("KADRIX_STARTUP_CHILD")) {
        const std::string home = kit::files::uniqueTempPath("startup-", "");
        ASSERT_TRUE(kit::files::makeDirs(home + "/config"));
        ASSERT_TRUE(kit::files::writeAtomic(home + "/config/defaults.json", "{\"saveFolder\": cut off"));
        testsupport::OwnCase child("AppDelegateTest.StartingOverAnUnreadableSettingsFileTellsTheUser",
                                   {{"KADRIX_HOME", home}, {"KADRIX_STARTUP_CHILD", "1"}});
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.wait(), 0) << "the start-up's own run failed (its output is above)";
        kit::files::remove(home);
        return;
    }
    std::vector<services::AlertRequest> shown;
    services::setAlertPresenter([&](const services::AlertRequest& r) {
        shown.push_back(r);
        return services::AlertAnswer{0, ""};
    });
    AppDelegate delegate;
    delegate.registerGlobalShortcuts = [] {};
    delegate.applicationDidFinishLaunching();
    testsupport::waitFor([&] { return !shown.empty(); }, 2000);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title, "Settings were reset");
    services::setAlertPresenter({});
}

TEST_F(AppDelegateTest, TheWelcomeViewLearnsTheStoredShortcutAndThatNoTrayIsHere) {
    ASSERT_TRUE(kit::KeyLayout::useLayoutsForTesting("us"));
    AppDelegate delegate;
    using shortcuts::names::area;
    using shortcuts::names::fullscreen;
    shortcuts::setShortcut(shortcuts::Shortcut(shortcuts::Key{kit::KeyCode::Five},
                                               kit::ModifierFlag::Command | kit::ModifierFlag::Option),
                           fullscreen());
    EXPECT_EQ(delegate.captureShortcutText(), std::optional<std::string>("Ctrl+Alt+5"));
    // The whole screen's removed: the area's stands in; both removed: none.
    shortcuts::setShortcut(std::nullopt, fullscreen());
    EXPECT_EQ(delegate.captureShortcutText(), std::optional<std::string>("Ctrl+Shift+2"));
    shortcuts::setShortcut(std::nullopt, area());
    EXPECT_EQ(delegate.captureShortcutText(), std::nullopt);
    // No tray host on this display: the welcome view must not send the user there.
    EXPECT_FALSE(delegate.trayIconShows());
    EXPECT_EQ(editor::welcomeHint(delegate.captureShortcutText(), delegate.trayIconShows()).find("tray"),
              std::string::npos);
    shortcuts::reset({fullscreen(), area()});
    kit::KeyLayout::useLayoutsForTesting("");
}
