// The preferences window: opening, tab selection by name, closing, and the shortcuts pane.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ShellFixture.h"
#include "kit/Application.h"
#include "kit/Defaults.h"
#include "kit/TabView.h"
#include "kit/Window.h"
#include "services/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/PrefShortcutsViewController.h"
#include "shell/PreferencesWindowController.h"

using namespace shell;

class PreferencesTest : public shelltest::ShellFixture {
protected:
    void SetUp() override {
        ShellFixture::SetUp();
        installPreferences();
    }
    void TearDown() override {
        if (PreferencesWindowController::exists()) PreferencesWindowController::shared().window().close();
        ShellFixture::TearDown();
    }
    static int selectedIndex() { return PreferencesWindowController::shared().tabView().indexOfSelectedTabViewItem(); }
    static std::string selectedLabel() { return PreferencesWindowController::shared().tabView().label(selectedIndex()); }
};

TEST_F(PreferencesTest, OpeningTwiceReusesTheWindowAndSendsTwoEvents) {
    size_t before = events("preferences").size();
    AppDelegate::shared().openPreferences();
    auto* first = &PreferencesWindowController::shared().window();
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(AppDelegate::shared().preferencesVisible());
    EXPECT_EQ(kit::Application::shared().activationPolicy(), kit::ActivationPolicy::Regular);
    AppDelegate::shared().openPreferences();
    EXPECT_EQ(&PreferencesWindowController::shared().window(), first);
    EXPECT_EQ(events("preferences").size(), before + 2);
}

TEST_F(PreferencesTest, ShowPreferencesSelectsTheTabByItsLowerCasedLabel) {
    auto& tabs = PreferencesWindowController::shared().tabView();
    tabs.selectTabViewItem(tabs.numberOfTabViewItems() - 1);
    int other = selectedIndex();
    AppDelegate::shared().showPreferences("Hotkeys");
    EXPECT_EQ(selectedIndex(), other) << "the text is not lower-cased, so a capital matches nothing";
    AppDelegate::shared().showPreferences("hotkeys");
    EXPECT_NE(selectedLabel().find("Hotkeys"), std::string::npos);
    AppDelegate::shared().showPreferences("no such tab");
    EXPECT_NE(selectedLabel().find("Hotkeys"), std::string::npos) << "no match keeps the selection";
}

TEST_F(PreferencesTest, ClosingGoesBackToTrayOnlyUnlessTheEditorIsOnScreen) {
    auto& window = PreferencesWindowController::shared().window();
    kit::Window editorWindow(kit::Rect{0, 0, 100, 100}, kit::WindowStyle::Titled);
    editorCore.window = &editorWindow;
    editorWindow.orderFront();
    AppDelegate::shared().openPreferences();
    window.performClose();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(kit::Application::shared().activationPolicy(), kit::ActivationPolicy::Regular);

    editorWindow.orderOut();
    AppDelegate::shared().openPreferences();
    window.performClose();
    EXPECT_EQ(kit::Application::shared().activationPolicy(), kit::ActivationPolicy::Accessory);
    EXPECT_FALSE(AppDelegate::shared().preferencesVisible());
    editorCore.window = nullptr;
}

TEST_F(PreferencesTest, TheShortcutsPaneMarksItselfVisitedAndListsEightRecorders) {
    Settings::shared().storeBool("everVisitedHotkeys", false);
    AppDelegate::shared().showPreferences("hotkeys");
    EXPECT_TRUE(Settings::shared().everVisitedHotkeys());
    EXPECT_TRUE(kit::Defaults::standard().boolean("everVisitedHotkeys"));

    PrefShortcutsViewController pane;
    EXPECT_EQ(pane.recorders.size(), 8u);
    EXPECT_TRUE(pane.btnReassignDefault->isHidden());
    size_t before = events("settings-reassignInitiated").size();
    pane.clickReassignDefault();
    EXPECT_EQ(events("settings-reassignInitiated").size(), before + 1);
    for (auto& v : pane.vSectionReassignSteps) EXPECT_FALSE(v->isHidden());
}

TEST_F(PreferencesTest, KeyboardSettingsAreFoundOnThePathOrNotAtAll) {
    auto dir = std::filesystem::temp_directory_path() / ("kadrix-prefs-path-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    EXPECT_FALSE(PrefShortcutsViewController::keyboardSettingsCommand((dir / "a").string() + ":relative"));
    std::ofstream(dir / "b" / "systemsettings") << "";
    auto kde = PrefShortcutsViewController::keyboardSettingsCommand((dir / "a").string() + ":" + (dir / "b").string());
    ASSERT_TRUE(kde);
    EXPECT_EQ(*kde, (std::vector<std::string>{(dir / "b" / "systemsettings").string(), "kcm_keys"}));
    std::ofstream(dir / "a" / "gnome-control-center") << "";
    auto gnome = PrefShortcutsViewController::keyboardSettingsCommand((dir / "b").string() + ":" + (dir / "a").string());
    ASSERT_TRUE(gnome);
    EXPECT_EQ(gnome->back(), "keyboard") << "GNOME's settings come first";
    std::filesystem::remove_all(dir);
}
