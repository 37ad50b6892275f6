// The tray icon in library mode: the popover made once, the toggle, the
// fall-back to the classic menu with the library off, one "lib:show" event
// per showing, and the library links reaching the view.
#include <gtest/gtest.h>

#include "ShellFixture.h"
#include "core/AppLogic.h"
#include "core/CaptureRoutes.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Popover.h"
#include "kit/ui/StatusItem.h"
#include "kit/ui/TextField.h"
#include "library/LibViewController.h"
#include "services/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/StatusMenu.h"
#include "shell/UrlActionsLink.h"

using namespace shell;

namespace {

class LibraryStatusItemTest : public shelltest::ShellFixture {
protected:
    void SetUp() override {
        ShellFixture::SetUp();
        services::Settings::shared().setLibEnabled(true);
    }
    void TearDown() override {
        if (status.libPopover) status.libPopover->close();
        services::Settings::shared().setLibEnabled(false);
        library::setLibController(nullptr);
        ShellFixture::TearDown();
    }
    StatusMenu status;
};

// The screen as the capture takes it: whether the library popover was on it.
struct ScreenWitness : core::CaptureRoutes {
    std::vector<std::string> seen;
    bool hasScreenRecordingPermission() override { return true; }
    bool scrollPermissionsGranted() override { return true; }
    kit::Image fullscreen() override { return take("fullscreen"); }
    kit::Image interactive(capture::WindowShadow, bool, bool, bool) override { return take("area"); }
    void startScrolling(int, std::function<void(const kit::Image&)>) override { take("scrolling"); }
    kit::Image take(const std::string& what) {
        const auto& popover = StatusMenu::shared().libPopover;
        seen.push_back(what + (popover && popover->isShown() ? " with the popover" : ""));
        return {};
    }
};

}  // namespace

// A capture started by a shortcut, a link or the tray finds the popover open
// (a hot key does not close it); the screen is taken without it.
TEST_F(LibraryStatusItemTest, EveryCaptureTakesThePopoverOffTheScreenFirst) {
    AppDelegate delegate;
    core::setShell(&delegate);
    auto witness = std::make_unique<ScreenWitness>();
    ScreenWitness& screen = *witness;
    core::AppLogic logic({}, std::move(witness), std::make_unique<core::EditorLink>());
    services::Settings::shared().storeBool("everScrollingCapture", true);
    StatusMenu& menu = StatusMenu::shared();
    menu.setupLibraryStatusItem();
    const std::vector<std::function<void()>> captures{
        [&] { logic.grabScreenshot("interactive", "hotkey:Ctrl+Shift+4"); },
        [&] { logic.grabScreenshot("fullscreen", "url"); },
        [&] { logic.instantOCR("hotkey:Ctrl+Shift+2"); },
        [&] { logic.startScrollingCapture(-1, "menu", std::nullopt); },
    };
    for (const auto& capture : captures) {
        menu.presentLibrary();
        ASSERT_TRUE(menu.libPopover->isShown());
        capture();
    }
    EXPECT_EQ(screen.seen, (std::vector<std::string>{"area", "fullscreen", "area", "scrolling"}));
    menu.libPopover->close();
}

TEST_F(LibraryStatusItemTest, ClicksTogglePopoverMadeOnce) {
    status.buildMenu();
    status.setupLibraryStatusItem();
    ASSERT_TRUE(status.statusBarIcon);
    EXPECT_FALSE(status.statusBarIcon->menu());
    kit::Popover* popover = status.libPopover.get();
    ASSERT_TRUE(popover);
    ASSERT_TRUE(status.libController);

    status.statusBarIcon->onClick(true);  // a right click opens it as a left one does
    EXPECT_TRUE(popover->isShown());
    EXPECT_EQ(popover->contentSize().width, 380);
    status.statusBarIcon->onClick(false);
    EXPECT_FALSE(popover->isShown());
    status.statusBarIcon->onClick(false);
    EXPECT_TRUE(popover->isShown());
    // Presenting again while shown keeps it shown.
    status.presentLibrary();
    EXPECT_TRUE(popover->isShown());

    status.setupLibraryStatusItem();
    EXPECT_EQ(status.libPopover.get(), popover);
}

TEST_F(LibraryStatusItemTest, WithTheLibraryOffTheFirstClickBringsBackTheMenu) {
    status.setupLibraryStatusItem();
    services::Settings::shared().setLibEnabled(false);
    status.statusBarIcon->onClick(false);
    EXPECT_FALSE(status.libPopover->isShown());
    EXPECT_TRUE(status.statusBarIcon->menu());  // the next click opens it
}

TEST_F(LibraryStatusItemTest, ShowPopoverSendsOneEventWithMethodAndCount) {
    status.setupLibraryStatusItem();
    size_t before = events("lib:show").size();
    status.showPopover("url");
    auto shown = events("lib:show");
    ASSERT_EQ(shown.size(), before + 1);
    EXPECT_EQ(shown.back().value("method", ""), "url");
    EXPECT_TRUE(shown.back().contains("count"));
}

TEST_F(LibraryStatusItemTest, ShowPopoverWithoutAnIconShowsNothing) {
    size_t before = events("oops").size();
    status.showPopover("url");
    EXPECT_FALSE(status.libPopover);
    EXPECT_EQ(events("oops").size(), before + 1);
}

TEST_F(LibraryStatusItemTest, LibrarySearchLinkFillsTheSearchField) {
    auto& shared = StatusMenu::shared();
    shared.setupLibraryStatusItem();
    EXPECT_TRUE(UrlActionsLink::shared().searchLibrary("invoice"));
    EXPECT_EQ(shared.libController->tbSearch->stringValue(), "invoice");
    shared.libPopover->close();
}
