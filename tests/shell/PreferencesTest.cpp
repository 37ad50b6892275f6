// The preferences window: opening, tab selection by name, closing, and the shortcuts pane.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ShellFixture.h"
#include "autostart/LaunchAtLogin.h"
#include "kit/base/Defaults.h"
#include "kit/ui/Application.h"
#include "kit/ui/Button.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/TabView.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"
#include "services/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/PrefAdvancedViewController.h"
#include "shell/PrefGeneralViewController.h"
#include "shell/PrefShortcutsViewController.h"
#include "shell/PreferencesWindowController.h"
#include "support/ScratchFolder.h"

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
    static int selectedIndex() {
        return PreferencesWindowController::shared().tabView().indexOfSelectedTabViewItem();
    }
    static std::string selectedLabel() {
        return PreferencesWindowController::shared().tabView().label(selectedIndex());
    }
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
    services::Settings::shared().storeBool("everVisitedHotkeys", false);
    AppDelegate::shared().showPreferences("hotkeys");
    EXPECT_TRUE(services::Settings::shared().everVisitedHotkeys());
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
    testsupport::ScratchFolder scratch;
    const std::filesystem::path dir = scratch.path();
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    EXPECT_FALSE(PrefShortcutsViewController::keyboardSettingsCommand((dir / "a").string() + ":relative"));
    std::ofstream(dir / "b" / "systemsettings") << "";
    auto kde = PrefShortcutsViewController::keyboardSettingsCommand((dir / "a").string() + ":" +
                                                                    (dir / "b").string());
    ASSERT_TRUE(kde);
    EXPECT_EQ(*kde, (std::vector<std::string>{(dir / "b" / "systemsettings").string(), "kcm_keys"}));
    std::ofstream(dir / "a" / "gnome-control-center") << "";
    auto gnome = PrefShortcutsViewController::keyboardSettingsCommand((dir / "b").string() + ":" +
                                                                      (dir / "a").string());
    ASSERT_TRUE(gnome);
    EXPECT_EQ(gnome->back(), "keyboard") << "GNOME's settings come first";
}

// ---- General pane ---------------------------------------------------------

namespace {
void click(kit::Button& b) {
    b.performClick();
}
}  // namespace

TEST_F(PreferencesTest, TheSolidColourTakesSixHexDigitsOnly) {
    EXPECT_EQ(PrefGeneralViewController::hexDigits("#f44723 "), "F44723");
    EXPECT_EQ(PrefGeneralViewController::hexDigits("ff8800 "), "FF8800");
    EXPECT_FALSE(PrefGeneralViewController::hexDigits("F4472"));
    EXPECT_FALSE(PrefGeneralViewController::hexDigits("12345"));
    EXPECT_FALSE(PrefGeneralViewController::hexDigits("GG0000"));

    services::Settings::shared().setWindowSolidColor("#404448");
    PrefGeneralViewController pane;
    pane.tfSolidColor->setStringValue("#f44723 ");
    pane.updateSolidColor();
    EXPECT_EQ(services::Settings::shared().windowSolidColor(), "#F44723");
    EXPECT_EQ(pane.tfSolidColor->stringValue(), "#F44723");
    pane.tfSolidColor->setStringValue("F4472");
    pane.updateSolidColor();
    EXPECT_EQ(services::Settings::shared().windowSolidColor(), "#F44723") << "a bad colour keeps the setting";
    EXPECT_EQ(pane.tfSolidColor->stringValue(), "F4472") << "and the typed text";
}

TEST_F(PreferencesTest, TheScrollingLimitIsClampedAndAnUnchangedOneSendsNothing) {
    EXPECT_EQ(PrefGeneralViewController::clampedScrollingMax("1,000,000"), 400000);
    EXPECT_EQ(PrefGeneralViewController::clampedScrollingMax("5"), 10);
    EXPECT_EQ(PrefGeneralViewController::clampedScrollingMax("no digits"), 10);
    EXPECT_EQ(PrefGeneralViewController::clampedScrollingMax("30 000"), 30000);

    services::Settings::shared().setScrollingMax(20000);
    PrefGeneralViewController pane;
    size_t before = events("setting-scrollingMax").size();
    pane.updateScrollingMax();
    EXPECT_EQ(events("setting-scrollingMax").size(), before) << "nothing changed";
    pane.tfScrollingMax->setStringValue("1,000,000");
    pane.viewWillDisappear();
    EXPECT_EQ(services::Settings::shared().scrollingMax(), 400000);
    EXPECT_EQ(pane.tfScrollingMax->stringValue(), "400000");
    pane.tfScrollingMax->setStringValue("5");
    pane.updateScrollingMax();
    EXPECT_EQ(services::Settings::shared().scrollingMax(), 10);
    EXPECT_EQ(events("setting-scrollingMax").size(), before + 2);
}

TEST_F(PreferencesTest, AtLeastOneAfterCaptureActionStaysOn) {
    auto& s = services::Settings::shared();
    s.setAfterGrabShow(true);
    s.setAfterGrabCopy(false);
    s.setAfterGrabSave(false);
    PrefGeneralViewController pane;
    click(*pane.cbAfterGrabShow);  // show off with copy and save off
    EXPECT_FALSE(s.afterGrabShow());
    EXPECT_TRUE(s.afterGrabCopy()) << "copy takes over";
    EXPECT_EQ(pane.cbAfterGrabCopy->state(), kit::ControlState::On);
    EXPECT_FALSE(pane.rbAreaEditor->isEnabled()) << "without show the area choice is off";

    click(*pane.cbAfterGrabCopy);  // copy off with save off
    EXPECT_TRUE(s.afterGrabShow()) << "show comes back";
    EXPECT_EQ(pane.cbAfterGrabShow->state(), kit::ControlState::On);
    EXPECT_TRUE(pane.rbAreaEditor->isEnabled());

    // Save without a folder asks for one; cancelling leaves save on (saving asks again).
    s.setDefaultFolderURL(std::nullopt);
    core.calls.clear();
    click(*pane.cbAfterGrabSave);
    EXPECT_TRUE(s.afterGrabSave());
    EXPECT_EQ(core.calls, std::vector<std::string>{"selectDefaultFolder"});
    click(*pane.cbAfterGrabSave);
    EXPECT_FALSE(s.afterGrabSave());
    EXPECT_TRUE(s.afterGrabShow());
}

TEST_F(PreferencesTest, AreaCaptureModeAndThumbnailClosing) {
    services::Settings::shared().storage().remove("areaCaptureMode");
    services::Settings::shared().setAfterGrabShow(true);
    PrefGeneralViewController pane;
    pane.refresh();
    EXPECT_EQ(pane.rbAreaEditor->state(), kit::ControlState::On) << "an absent mode opens the editor";
    EXPECT_FALSE(pane.ddlThumbnailClosing->isEnabled());
    click(*pane.rbAreaPreview);
    EXPECT_EQ(services::Settings::shared().areaCaptureMode(), "preview");
    EXPECT_TRUE(pane.ddlThumbnailClosing->isEnabled());
    pane.ddlThumbnailClosing->selectItem(0);
    pane.selectThumbnailClosing();
    EXPECT_EQ(services::Settings::shared().thumbnailClosing(), "auto");
    click(*pane.rbAreaEditor);
    EXPECT_EQ(services::Settings::shared().areaCaptureMode(), "editor");
}

TEST_F(PreferencesTest, TheSaveFolderButtonShowsTheChosenFolder) {
    PrefGeneralViewController pane;
    click(*pane.btnSaveFolder);
    ASSERT_TRUE(core.folderReady);
    services::Settings::shared().setDefaultFolder("/home/me/Shots");
    core.folderReady();
    EXPECT_EQ(pane.btnSaveFolder->title(), "/home/me/Shots");
}

TEST_F(PreferencesTest, LaunchAtLoginIsReadBackAfterTheToggle) {
    autostart::LaunchAtLogin::setEnabled(false);
    PrefGeneralViewController pane;
    EXPECT_EQ(pane.cbLunchAtStartup->state(), kit::ControlState::Off);
    click(*pane.cbLunchAtStartup);
    EXPECT_TRUE(autostart::LaunchAtLogin::isEnabled());
    EXPECT_EQ(pane.cbLunchAtStartup->state(), kit::ControlState::On);

    // An entry that cannot be written (its folder is a file) must not show as checked.
    click(*pane.cbLunchAtStartup);
    auto dir = std::filesystem::path(autostart::LaunchAtLogin::entryPath()).parent_path();
    std::filesystem::remove_all(dir);
    std::ofstream(dir.string()) << "in the way";
    click(*pane.cbLunchAtStartup);
    EXPECT_FALSE(autostart::LaunchAtLogin::isEnabled());
    EXPECT_EQ(pane.cbLunchAtStartup->state(), kit::ControlState::Off);
    std::filesystem::remove(dir);
}

// ---- Advanced pane --------------------------------------------------------

TEST_F(PreferencesTest, RecognitionLanguagesAreListedByNameAndStoredByCode) {
    EXPECT_EQ(PrefAdvancedViewController::languageTitle("fr-FR"), "French");
    EXPECT_EQ(PrefAdvancedViewController::languageTitle("xx-YY"), "xx-YY")
        << "an unnamed code shows as itself";
    EXPECT_EQ(PrefAdvancedViewController::languageCode("French"), "fr-FR");
    EXPECT_EQ(PrefAdvancedViewController::languageCode("xx-YY"), "xx-YY");

    services::Settings::shared().setPrimaryOCRLang("fr-FR");
    PrefAdvancedViewController pane({"en-US", "fr-FR", "zh-Hans", "zh-Hant", "xx-YY"});
    ASSERT_EQ(pane.ddlPrimaryOCR->numberOfItems(), 4) << "zh-Hant is left out";
    EXPECT_EQ(pane.ddlPrimaryOCR->itemTitle(3), "xx-YY");
    EXPECT_EQ(pane.ddlPrimaryOCR->titleOfSelectedItem(), "French");
    pane.ddlPrimaryOCR->selectItem(2);
    pane.updatePrimaryOCR();
    EXPECT_EQ(services::Settings::shared().primaryOCRLang(), "zh-Hans");
    pane.ddlPrimaryOCR->selectItem(3);
    pane.updatePrimaryOCR();
    EXPECT_EQ(services::Settings::shared().primaryOCRLang(), "xx-YY");

    size_t oops = events("oops").size() + events("error").size();
    PrefAdvancedViewController none(std::vector<std::string>{});
    EXPECT_EQ(none.ddlPrimaryOCR->numberOfItems(), 0);
    EXPECT_GT(events("oops").size() + events("error").size(), oops) << "no languages is reported";
    none.updatePrimaryOCR();
    EXPECT_EQ(services::Settings::shared().primaryOCRLang(), "en-US") << "nothing selected stores English";
}

TEST_F(PreferencesTest, NotificationTypesMapToItemsAndTitlesToValues) {
    EXPECT_EQ(PrefAdvancedViewController::notificationIndex("custom"), 0);
    EXPECT_EQ(PrefAdvancedViewController::notificationIndex("system"), 1);
    EXPECT_EQ(PrefAdvancedViewController::notificationIndex("none"), 2);
    EXPECT_EQ(PrefAdvancedViewController::notificationIndex("whatever"), 2);
    EXPECT_EQ(PrefAdvancedViewController::notificationValue("Use SYSTEM ones"), "system");
    EXPECT_EQ(PrefAdvancedViewController::notificationValue("Custom"), "custom");
    EXPECT_EQ(PrefAdvancedViewController::notificationValue("Quiet"), "none");

    PrefAdvancedViewController pane(std::vector<std::string>{"en-US"});
    for (int i = 0; i < 3; ++i) {
        pane.ddlNotificationType->selectItem(i);
        pane.updateNotificationType();
        EXPECT_EQ(
            PrefAdvancedViewController::notificationIndex(services::Settings::shared().notificationType()), i)
            << "item " << i << " stores the value that selects it again";
    }
}

TEST_F(PreferencesTest, HiddenIconAndIntroAreInvertedIntegers) {
    services::Settings::shared().storeInt("showMenubarIcon", 2);
    services::Settings::shared().storeInt("showIntro", 1);
    PrefAdvancedViewController pane(std::vector<std::string>{"en-US"});
    EXPECT_EQ(pane.cbHideMenubar->state(), kit::ControlState::On) << "a value other than 1 shows as hidden";
    EXPECT_EQ(pane.cbHideSplash->state(), kit::ControlState::Off);
    click(*pane.cbHideSplash);
    EXPECT_EQ(kit::Defaults::standard().integer("showIntro"), 0);
    click(*pane.cbHideMenubar);
    EXPECT_EQ(kit::Defaults::standard().integer("showMenubarIcon"), 1);
    EXPECT_EQ(pane.cbHideMenubar->state(), kit::ControlState::Off);
}

TEST_F(PreferencesTest, AlwaysOnTopRaisesTheEditorAtOnceAndEscSaveAsksForAFolder) {
    kit::Window editorWindow(kit::Rect{0, 0, 100, 100}, kit::WindowStyle::Titled);
    editorCore.window = &editorWindow;
    services::Settings::shared().setAlwaysOnTop(false);
    PrefAdvancedViewController pane(std::vector<std::string>{"en-US"});
    click(*pane.cbAlwaysOnTop);
    EXPECT_TRUE(services::Settings::shared().alwaysOnTop());
    EXPECT_EQ(editorWindow.level(), kit::WindowLevel::Floating);
    click(*pane.cbAlwaysOnTop);
    EXPECT_EQ(editorWindow.level(), kit::WindowLevel::Normal);
    editorCore.window = nullptr;

    services::Settings::shared().setSaveOnEsc(false);
    services::Settings::shared().setDefaultFolderURL(std::nullopt);
    pane.refresh();
    core.calls.clear();
    click(*pane.cbEscSave);
    EXPECT_TRUE(services::Settings::shared().saveOnEsc());
    EXPECT_EQ(core.calls, std::vector<std::string>{"selectDefaultFolder"});
    click(*pane.cbEscSave);
    EXPECT_EQ(core.calls.size(), 1u) << "switching it off asks nothing";
}
