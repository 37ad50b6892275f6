// The editor following the user: the debounced selection mode, the status
// line, the colour under the pointer, tools, the save folder, quit or hide,
// and the editor window's size and place.
#include "CoreFixture.h"

namespace coretest {
namespace {

class EditorStatus : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
    }
};

TEST_F(EditorStatus, SizeTextsInPointsAndPixels) {
    EXPECT_EQ(core::AppLogic::sizeText(101.5, 40.2, 2.0, false), "51\u00D721\u200Apt");
    EXPECT_EQ(core::AppLogic::sizeText(101.5, 40.2, 1.0, true), "102\u00D741\u200Apx");
    EXPECT_EQ(core::AppLogic::sizeText(-101.5, -40.2, 1.0, true), "102\u00D741\u200Apx");
}

TEST_F(EditorStatus, StatusShowsTheSelectionWhileCroppingElseTheImage) {
    editor::Framer::shared()._dpr.set(2.0);
    ASSERT_TRUE(logic->loadImage(solidImage(300, 200, {}), false));
    editor->cropOn = true;
    editor->selection = {10, 10, -101.5, 40.2};
    logic->updateStatus();
    EXPECT_EQ(editor->status.size, "51\u00D721\u200Apt");
    EXPECT_EQ(editor->status.title, "Selection size");

    settings->setRealPixels(true);
    logic->updateStatus();
    EXPECT_EQ(editor->status.size, "102\u00D741\u200Apx");

    editor->cropOn = false;
    editor::Framer::shared()._zoom.set(0.666);
    logic->updateStatus();
    EXPECT_EQ(editor->status.size, "300\u00D7200\u200Apx");
    EXPECT_EQ(editor->status.title, "Image size");
    EXPECT_EQ(editor->status.zoom, 66);
}

TEST_F(EditorStatus, ModeChangesAreDebouncedAndObjectModesAlwaysReapplied) {
    logic->selectionModeChanged("selection");
    editor->cropOn = true;
    settle(0.1);
    EXPECT_TRUE(editor->modesApplied.empty()) << "a selection waits 0.13 s";
    settle(0.05);
    EXPECT_EQ(editor->modesApplied, Log{"selection"});

    logic->selectionModeChanged("selection");  // the mode in force: nothing scheduled
    settle();
    EXPECT_EQ(editor->modesApplied.size(), 1u);

    editor->cropOn = false;
    editor->active = "ObjArrow";
    logic->selectionModeChanged("ObjArrow");
    settle(0.02);
    logic->selectionModeChanged("default");
    settle(0.02);
    EXPECT_EQ(editor->modesApplied, (Log{"selection", "ObjArrow", "ObjArrow"}));
}

TEST_F(EditorStatus, ColourTextsKeepComponentsWithinRange) {
    settings->setColorFormat("HEX");
    logic->colorValue_ = {1.002, -0.01, 0.5, 1};
    logic->updateColorStrings();
    EXPECT_EQ(logic->colorDisplayString(), "#FF0080");
}

TEST_F(EditorStatus, SampledColourIsThePixelOrTheDarkestAround) {
    kit::Image img = solidImage(50, 50, {200, 200, 200, 255});
    img.setPixel(25, 24, {10, 20, 30, 255});  // row 24 from the top: y 25…26 from the bottom
    ASSERT_TRUE(logic->loadImage(img, false));
    logic->sampleColor(5, 5, false);
    EXPECT_EQ(logic->colorValue().red8(), 200);
    logic->sampleColor(20, 20, true);
    EXPECT_EQ(logic->colorValue().red8(), 30);
    EXPECT_EQ(logic->colorValue().blue8(), 10);
    EXPECT_FALSE(logic->colorDisplayString().empty());
}

TEST_F(EditorStatus, ToolsArmOnlyWithAnImageAndNoCrop) {
    EXPECT_EQ(core::AppLogic::toolbarId("ObjConceal"), "blur");
    EXPECT_EQ(core::AppLogic::toolbarId("ObjArrow"), "arrow");

    logic->selectTool("ObjArrow", "toolbar");
    EXPECT_TRUE(editor->armed.empty()) << "no image yet";
    ASSERT_TRUE(logic->loadImage(solidImage(20, 20, {}), false));
    editor->cropOn = true;
    log.clear();
    logic->selectTool("ObjArrow", "toolbar");
    EXPECT_EQ(log, Log{"deactivate"});

    editor->cropOn = false;
    logic->selectTool("ObjConceal", "key");
    EXPECT_EQ(editor->armed, "ObjConceal");
    EXPECT_TRUE(logged("toolbar blur"));
}

TEST_F(EditorStatus, QuitOrHideAsksOnceThenRemembers) {
    editor->win->orderFront();
    answer = 1;  // "Close"
    logic->quitOrHide("menu");
    settle();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Red pill or blue pill?");
    // The program stays in the tray; there is no dock or menu bar here.
    EXPECT_NE(alerts[0].message.find("stay in the tray"), std::string::npos);
    EXPECT_EQ(alerts[0].message.find("dock"), std::string::npos);
    EXPECT_EQ(settings->cmdQAction(), "close");
    EXPECT_FALSE(editor->win->isVisible());
    ASSERT_TRUE(lastEvent("hide"));
    EXPECT_EQ(lastEvent("hide")->value("method", ""), "menu");

    logic->quitOrHide("menu");
    settle();
    EXPECT_EQ(alerts.size(), 1u) << "not asked again";

    settings->setCmdQAction("?");
    answer = -1;  // dismissed: nothing stored
    logic->quitOrHide("menu");
    settle();
    EXPECT_EQ(settings->cmdQAction(), "?");
}

TEST_F(EditorStatus, FolderChoiceIsRefusedWhileIndexingAndCancelChangesNothing) {
    struct BusyLibrary : core::LibraryHost {
        bool exists() const override { return true; }
        bool busy() const override { return true; }
    } busy;
    core::setLibrary(&busy);
    bool ran = false;
    int asked = 0;
    logic->folderChooser_ = [&](kit::OpenPanel&) {
        ++asked;
        return std::vector<std::string>{};
    };
    logic->selectDefaultFolder([&] { ran = true; });
    EXPECT_TRUE(logged("warning Can't change folder while indexing"));
    EXPECT_EQ(asked, 0);

    core::setLibrary(nullptr);
    logic->selectDefaultFolder([&] { ran = true; });
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(ran);
    EXPECT_EQ(settings->defaultFolder(), "");

    logic->folderChooser_ = [](kit::OpenPanel& p) {
        EXPECT_EQ(p.title, "Choose default folder");
        EXPECT_TRUE(p.canChooseDirectories);
        return std::vector<std::string>{"/tmp"};
    };
    logic->selectDefaultFolder([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(settings->defaultFolder(), "/tmp");
    EXPECT_EQ(logic->folderWithAccessURL, "/tmp");
}

TEST_F(EditorStatus, WindowSizeFollowsScreenAndImage) {
    using core::AppLogic;
    // A small capture: at least 836 points wide, at least half as high.
    EXPECT_EQ(AppLogic::mainWindowSize({1920, 1080}, {300, 100}, 1.0, false), (kit::Size{836, 418}));
    // A large one: half the screen, or 0.8 with the large-window setting.
    EXPECT_EQ(AppLogic::mainWindowSize({1920, 1080}, {3840, 2160}, 1.0, false), (kit::Size{960, 540}));
    EXPECT_EQ(AppLogic::mainWindowSize({1920, 1080}, {3840, 2160}, 1.0, true), (kit::Size{1536, 864}));
    // At ratio 2 the image counts in points.
    EXPECT_EQ(AppLogic::mainWindowSize({2880, 1800}, {2000, 1000}, 2.0, false), (kit::Size{1000, 500}));
    // No screen: the minimum.
    EXPECT_EQ(AppLogic::mainWindowSize({0, 0}, {3000, 3000}, 1.0, false), (kit::Size{836, 418}));

    // Centred, 5 % of the free height above the middle.
    EXPECT_EQ(AppLogic::mainWindowOrigin({0, 0, 1920, 1080}, {960, 540}), (kit::Point{480, 270 + 27}));
    kit::Point o = AppLogic::mainWindowOrigin({1920, 40, 1440, 860}, {836, 418});
    EXPECT_EQ(o.x, 2222);
    EXPECT_NEAR(o.y, 261 + 22.1, 1e-9);
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

class EditorWindow : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
    }
};

TEST_F(EditorWindow, HidingGoesToTheTrayUnlessThePreferencesShow) {
    kit::Application& app = kit::Application::shared();
    app.setActivationPolicy(kit::ActivationPolicy::Regular);
    editor->win->orderFront();
    logic->hideMainWindow();
    EXPECT_FALSE(editor->win->isVisible());
    EXPECT_TRUE(lastEvent("hide"));
    EXPECT_EQ(app.activationPolicy(), kit::ActivationPolicy::Accessory);
    EXPECT_GT(logic->lastActiveTime, 0);

    kit::Window prefs({0, 0, 300, 200}, kit::WindowStyle::Titled);
    prefs.orderFront();
    logic->winPreferences = &prefs;
    app.setActivationPolicy(kit::ActivationPolicy::Regular);
    editor->win->orderFront();
    logic->hideMainWindow();
    EXPECT_FALSE(editor->win->isVisible());
    EXPECT_EQ(app.activationPolicy(), kit::ActivationPolicy::Regular);
    logic->winPreferences = nullptr;
}

TEST_F(EditorWindow, HidingFromFullScreenOnlyLeavesFullScreenFirst) {
    editor->win->orderFront();
    editor->win->toggleFullScreen();
    if (!editor->win->isFullScreen()) GTEST_SKIP() << "this platform has no full screen";
    const size_t events = telemetry->events().size();
    logic->hideMainWindow();
    EXPECT_TRUE(logic->hideWhenExitFS());
    EXPECT_EQ(telemetry->events().size(), events) << "no hide yet";
}

TEST_F(EditorWindow, NewVersionIsReportedOncePerVersionText) {
    logic->newVersionFound("3.1.0");
    logic->newVersionFound("3.1.0");
    settle();
    logic->newVersionFound("3.2.0");
    settle();
    EXPECT_EQ(logic->latestVersion, "3.2.0");
    std::vector<std::string> found;
    for (auto& e : telemetry->events())
        if (e.value("type", "") == "newVersionFound") found.push_back(e.value("latestVersion", ""));
    EXPECT_EQ(found, (std::vector<std::string>{"3.1.0", "3.2.0"}));
}

}  // namespace
}  // namespace coretest
