// The tray menu: its entries and the commands they give, the shortcut keys
// they show, the report links and the success icon's timing.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "ShellFixture.h"
#include "autostart/LaunchAtLogin.h"
#include "kit/base/Timer.h"
#include "kit/desktop/KeyLayout.h"
#include "kit/ui/Menu.h"
#include "kit/ui/StatusItem.h"
#include "services/Settings.h"
#include "shell/MenuShortcuts.h"
#include "shell/ShortcutStore.h"
#include "shell/StatusMenu.h"
#include "shortcuts/Name.h"
#include "shortcuts/Names.h"

using namespace shell;

namespace {

std::vector<std::string> titles(const kit::Menu& menu) {
    std::vector<std::string> out;
    for (auto& i : menu.items()) out.push_back(i->isSeparator() ? "-" : i->title());
    return out;
}

kit::MenuItem& itemTitled(const kit::Menu& menu, const std::string& title) {
    for (auto& i : menu.items()) {
        if (i->title() == title) return *i;
        if (auto sub = i->submenu())
            for (auto& j : sub->items())
                if (j->title() == title) return *j;
    }
    throw std::runtime_error("no item " + title);
}

// A shortcut store whose shortcuts the test changes, counting live subscriptions.
struct FakeShortcuts : ShortcutSource {
    std::map<std::string, MenuKeys> keys;
    std::map<int, std::function<void(const std::string&)>> listeners;
    int next = 0;
    std::optional<MenuKeys> menuKeys(const std::string& name) const override {
        auto it = keys.find(name);
        return it == keys.end() ? std::nullopt : std::optional(it->second);
    }
    std::shared_ptr<void> subscribe(std::function<void(const std::string&)> changed) override {
        int id = ++next;
        listeners[id] = std::move(changed);
        return std::shared_ptr<void>(nullptr, [this, id](void*) { listeners.erase(id); });
    }
    void change(const std::string& name, std::optional<MenuKeys> k) {
        if (k)
            keys[name] = *k;
        else
            keys.erase(name);
        auto copy = listeners;
        for (auto& [id, fn] : copy) fn(name);
    }
};

class StatusMenuTest : public shelltest::ShellFixture {
protected:
    void TearDown() override {
        setShortcutSource(nullptr);
        services::Settings::shared().storeBool("scrollingManualEnabled", false);
        services::Settings::shared().storeString("token", "");
        ShellFixture::TearDown();
    }
    FakeShortcuts store;  // outlives the menus bound to it
    StatusMenu status;
};

}  // namespace

TEST_F(StatusMenuTest, ClassicMenuHasEveryEntryInOrder) {
    status.buildMenu();
    ASSERT_TRUE(status.menu());
    EXPECT_EQ(titles(*status.menu()),
              (std::vector<std::string>{"Update the app", "Reopen Kadrix", "-", "Capture Screen",
                                        "Capture Area", "Scrolling Capture", "Recognize Text/QR", "more", "-",
                                        "Manage Uploads", "Kadrix on Twitter", "Report a Bug", "-",
                                        "Launch at Startup", "Settings", "Quit"}));
    EXPECT_EQ(titles(*itemTitled(*status.menu(), "more").submenu()),
              (std::vector<std::string>{"Repeat Area Capture", "Capture Active Window", "Capture Any Window",
                                        "Delayed Screenshot (3s)", "Scrolling (Up)", "-", "Open File",
                                        "Load From Clipboard"}));
    EXPECT_TRUE(itemTitled(*status.menu(), "Update the app").isHidden()) << "no update known";
    EXPECT_TRUE(itemTitled(*status.menu(), "Manage Uploads").isHidden()) << "no token";
    EXPECT_EQ(itemTitled(*status.menu(), "Settings").keyEquivalentText(), "Ctrl+,");
    EXPECT_EQ(status.statusBarIcon->menu(), status.menu()) << "a click opens the menu";

    services::Settings::shared().storeBool("scrollingManualEnabled", true);
    services::Settings::shared().storeString("token", "abc");
    status.buildMenu();
    ASSERT_EQ(status.menu()->items().size(), 17u);
    EXPECT_EQ(status.menu()->items()[6]->title(), "Manual Scrolling Capture");
    EXPECT_FALSE(itemTitled(*status.menu(), "Manage Uploads").isHidden());
}

TEST_F(StatusMenuTest, CompactMenu) {
    auto compact = status.buildCompactMenu();
    EXPECT_EQ(titles(*compact),
              (std::vector<std::string>{"Update the app", "Capture Active Window", "Delayed Capture",
                                        "Open File", "-", "Manage Uploads", "Kadrix on Twitter",
                                        "Report a Bug", "-", "Launch at Startup", "Settings", "Quit"}));
    EXPECT_TRUE(itemTitled(*compact, "Manage Uploads").isHidden());
    EXPECT_FALSE(status.statusBarIcon) << "built without touching the tray";
}

TEST_F(StatusMenuTest, ItemsGiveTheirCommandsWithTheMenuMethod) {
    kit::ManualClockScope clock;
    status.buildMenu();
    const std::pair<const char*, const char*> table[] = {
        {"Reopen Kadrix", "yieldFocus"},
        {"Capture Screen", "grab fullscreen menu -"},
        {"Capture Area", "grab interactive menu -"},
        {"Repeat Area Capture", "grab interactive-repeat menu -"},
        {"Capture Active Window", "grab window menu -"},
        {"Capture Any Window", "grab interactive-window menu -"},
        {"Scrolling Capture", "scrolling -1 menu -"},
        {"Scrolling (Up)", "scrolling 1 menu -"},
        {"Recognize Text/QR", "ocr menu"},
        {"Load From Clipboard", "clipboard menu"},
        {"Manage Uploads", "uploads menu"},
    };
    for (auto& [title, call] : table) {
        core.calls.clear();
        itemTitled(*status.menu(), title).performAction();
        EXPECT_EQ(core.calls, std::vector<std::string>{call}) << title;
    }

    core.calls.clear();
    itemTitled(*status.menu(), "Delayed Screenshot (3s)").performAction();
    clock.advance(2.9);
    EXPECT_TRUE(core.calls.empty()) << "not before 3 s";
    clock.advance(0.2);
    EXPECT_EQ(core.calls, std::vector<std::string>{"delayed menu -"});

    core.calls.clear();
    itemTitled(*status.menu(), "Open File").performAction();
    EXPECT_EQ(core.calls, std::vector<std::string>{"yieldFocus"});
    clock.advance(0.1);
    EXPECT_EQ(core.calls, (std::vector<std::string>{"yieldFocus", "openImageDialog"}));

    bool quit = false;
    status.onQuit = [&] { quit = true; };
    itemTitled(*status.menu(), "Quit").performAction();
    EXPECT_TRUE(quit);
}

TEST_F(StatusMenuTest, BoundItemsShowAndFollowTheirShortcuts) {
    // The built-in defaults, in Linux words.
    status.buildMenu();
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Screen").keyEquivalentText(), "Ctrl+Shift+1");
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Area").keyEquivalentText(), "Ctrl+Shift+2");
    EXPECT_EQ(itemTitled(*status.menu(), "Scrolling Capture").keyEquivalentText(), "");
    EXPECT_EQ(itemTitled(*status.menu(), "Repeat Area Capture").keyEquivalentText(), "") << "not bound";

    store.keys["area"] = {"2", kit::ModifierFlag::Command | kit::ModifierFlag::Shift};
    setShortcutSource(&store);
    status.buildMenu();
    size_t perMenu = store.listeners.size();
    EXPECT_EQ(perMenu, 7u) << "reopen, fullscreen, area, scrolling, ocr, window and anyWindow, one each";

    store.change("area", MenuKeys{"a", kit::ModifierFlag::Command | kit::ModifierFlag::Option});
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Area").keyEquivalentText(), "Ctrl+Alt+A")
        << "follows a re-record without a rebuild";
    store.change("fullscreen", MenuKeys{"9", kit::ModifierFlag::Command});
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Area").keyEquivalentText(), "Ctrl+Alt+A") << "another name";
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Screen").keyEquivalentText(), "Ctrl+9");
    store.change("area", std::nullopt);
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Area").keyEquivalentText(), "") << "removed";

    // Rebuilding leaves no subscription of the old menu behind.
    status.buildMenu();
    status.buildMenu();
    EXPECT_EQ(store.listeners.size(), perMenu);

    // Rebinding and unbinding cancel the old subscription.
    auto item = kit::MenuItem::make("x");
    setShortcut(item, std::string("area"));
    setShortcut(item, std::string("ocr"));
    EXPECT_EQ(store.listeners.size(), perMenu + 1);
    EXPECT_EQ(boundShortcut(*item), "ocr");
    store.change("area", MenuKeys{"5", kit::ModifierFlag::Command});
    EXPECT_EQ(item->keyEquivalentText(), "") << "the old name no longer reaches it";
    setShortcut(item, std::nullopt);
    EXPECT_EQ(store.listeners.size(), perMenu);
    item.reset();
    store.change("ocr", MenuKeys{"o", kit::ModifierFlag::Command});  // must not touch the gone item
}

TEST_F(StatusMenuTest, ReportLinkEndsWithVersionAndBase36Counter) {
    std::string address = StatusMenu::reportAddress("/bugreport.html?utm_source=App&v=", 1020300, 71);
    EXPECT_NE(address.find("/bugreport.html?utm_source=App&v=1020300-1z"), std::string::npos) << address;
    EXPECT_EQ(address.substr(address.size() - 3), "-1z");
}

TEST_F(StatusMenuTest, SuccessIconRevertsOneAndAHalfSecondsAfterTheLastSuccess) {
    kit::ManualClockScope clock;
    status.buildMenu();
    kit::Image normal = statusImage("kadrix-22"), ok = statusImage("kadrix-22-ok");
    ASSERT_FALSE(normal == ok);
    status.flashSuccessIcon();
    clock.advance(1.0);
    EXPECT_TRUE(status.statusBarIcon->image() == ok);
    status.flashSuccessIcon();
    clock.advance(1.4);
    EXPECT_TRUE(status.statusBarIcon->image() == ok) << "the second success restarted the time";
    clock.advance(0.2);
    EXPECT_TRUE(status.statusBarIcon->image() == normal);
}

TEST_F(StatusMenuTest, LaunchAtStartupTogglesTheEntryAndTheCheckMark) {
    autostart::LaunchAtLogin::setEnabled(false);
    status.buildMenu();
    auto& item = itemTitled(*status.menu(), "Launch at Startup");
    EXPECT_EQ(item.state(), kit::ControlState::Off);
    item.performAction();
    EXPECT_TRUE(autostart::LaunchAtLogin::isEnabled());
    EXPECT_EQ(item.state(), kit::ControlState::On);
    auto sent = events("setting-autostart");
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().value("method", ""), "appmenu");
    EXPECT_EQ(sent.back().value("setting", false), true);
    item.performAction();
    EXPECT_FALSE(autostart::LaunchAtLogin::isEnabled());
    EXPECT_EQ(item.state(), kit::ControlState::Off);
}

TEST_F(StatusMenuTest, TheShortcutStoreReachesTheMenu) {
    ASSERT_TRUE(kit::KeyLayout::useLayoutsForTesting("us"));
    ShortcutStore shortcutStore;
    setShortcutSource(&shortcutStore);
    status.buildMenu();
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Screen").keyEquivalentText(), "Ctrl+Shift+1")
        << "the default";
    shortcuts::setShortcut(shortcuts::Shortcut(shortcuts::Key{kit::KeyCode::Four},
                                               kit::ModifierFlag::Command | kit::ModifierFlag::Option),
                           shortcuts::names::area());
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Area").keyEquivalentText(), "Ctrl+Alt+4")
        << "a re-recorded shortcut shows at once";
    shortcuts::setShortcut(std::nullopt, shortcuts::names::area());
    EXPECT_EQ(itemTitled(*status.menu(), "Capture Area").keyEquivalentText(), "");
    shortcuts::reset({shortcuts::names::area()});
    kit::KeyLayout::useLayoutsForTesting("");
}
