// The capture flow: the route for each mode, the first capture's question,
// the capture facts and the after-capture actions in their order.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CoreFixture.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Pasteboard.h"
#include "support/PictureFiles.h"
#include "support/ScratchFolder.h"

namespace coretest {
namespace {

using AfterGrab = core::AppLogic::AfterGrab;

// Records the exporter's commands the after-capture actions call.
class RecordingLogic : public core::AppLogic {
public:
    RecordingLogic(Services s, std::unique_ptr<core::CaptureRoutes> r, std::unique_ptr<core::EditorLink> e,
                   Log& log)
        : AppLogic(s, std::move(r), std::move(e)), log_(log) {}
    void copyImage(bool selection, bool dontHide) override {
        log_.push_back(std::string("copy") + (selection ? " selection" : "") + (dontHide ? " dontHide" : ""));
    }
    void saveImage(bool quiet, bool dontHide) override {
        log_.push_back(std::string("save") + (quiet ? " quiet" : "") + (dontHide ? " dontHide" : ""));
    }

private:
    Log& log_;
};

class CaptureFlow : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        auto r = std::make_unique<RoutesDouble>(log);
        auto e = std::make_unique<EditorDouble>(log);
        routes = r.get();
        editor = e.get();
        logic = std::make_unique<RecordingLogic>(
            core::AppLogic::Services{settings.get(), telemetry.get(), notifier.get()}, std::move(r),
            std::move(e), log);
        routes->image = solidImage(64, 48, {0, 0, 255, 255});
        settings->setAreaCaptureMode("editor");  // the question was answered
    }
    // The log without the loading steps, from the capture on.
    Log actions() const {
        Log out;
        for (auto& e : log)
            if (e.rfind("interactive", 0) == 0 || e.rfind("fullscreen", 0) == 0 ||
                e.rfind("window", 0) == 0 || e.rfind("copy", 0) == 0 ||
                (e.rfind("save", 0) == 0 && e != "saveUndo") || e.rfind("pin", 0) == 0 ||
                e.rfind("preview", 0) == 0 || e == "flash")
                out.push_back(e);
        return out;
    }
    bool editorShown() { return editor->win->isVisible(); }
};

TEST_F(CaptureFlow, EachModeTakesItsRoute) {
    settings->storeString("windowShadow", "solid");
    for (const char* mode :
         {"interactive", "interactive-repeat", "interactive-window", "window", "fullscreen", "delayed"})
        logic->grabScreenshot(mode, "menu", AfterGrab{});
    EXPECT_EQ(actions(), (Log{"interactive solid", "flash", "interactive solid repeat", "flash",
                              "interactive solid windowOnly", "flash", "window solid", "flash", "fullscreen",
                              "flash", "fullscreen", "flash"}));
}

TEST_F(CaptureFlow, UnknownModeAndCancelledCaptureDoNothingFurther) {
    logic->grabScreenshot("everything", std::nullopt, std::nullopt);
    ASSERT_TRUE(lastEvent("oops"));
    EXPECT_EQ(lastEvent("oops")->value("message", ""), "Unrecognized capture mode: everything");
    routes->image = {};
    logic->grabScreenshot("interactive", std::nullopt, std::nullopt);
    EXPECT_EQ(actions(), Log{"interactive transparent"});
    EXPECT_TRUE(logic->imgSource().isNull());
    EXPECT_FALSE(lastEvent("grab:interactive"));
}

TEST_F(CaptureFlow, WithoutPermissionTheUserIsToldAndNothingIsCaptured) {
    routes->permission = false;
    logic->grabScreenshot("fullscreen", "menu", std::nullopt);
    settle();
    EXPECT_TRUE(actions().empty());
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Kadrix needs permission to record the screen");
    ASSERT_TRUE(lastEvent("alert"));
    EXPECT_EQ(lastEvent("alert")->value("message", ""), "Kadrix needs permission to record the screen");
}

TEST_F(CaptureFlow, AfterCaptureActionsRunInTheirOrder) {
    AfterGrab all{.copy = true, .save = true, .edit = true, .thumbnail = true, .upload = true, .pin = true};
    routes->next.rect = kit::Rect{100, 200, 64, 48};
    logic->grabScreenshot("interactive", "url", all);
    EXPECT_EQ(actions(), (Log{"interactive transparent", "copy dontHide", "pin 132,224", "preview 100,200"}));
    settle(0.2);  // the save follows 0.1 s later
    EXPECT_EQ(actions().back(), "save quiet dontHide");
    ASSERT_TRUE(lastEvent("grab:interactive"));
    EXPECT_EQ(lastEvent("grab:interactive")->value("method", ""), "url");
}

// A full-screen capture pins in the middle of the main screen, not where the
// last area selection was.
TEST_F(CaptureFlow, OnlyASelectedAreaPlacesThePin) {
    routes->next.rect = kit::Rect{100, 200, 64, 48};
    logic->grabScreenshot("fullscreen", "url", AfterGrab{.pin = true});
    const auto screen = kit::mainScreen();
    ASSERT_TRUE(screen);
    const kit::Point mid = screen->frame.center();
    EXPECT_EQ(
        actions(),
        (Log{"fullscreen", "pin " + std::to_string(int(mid.x)) + "," + std::to_string(int(mid.y)), "flash"}));
}

TEST_F(CaptureFlow, FlagsAllFalseOnlyFlashTheTrayIcon) {
    settings->setAfterGrabCopy(true);  // the settings are not consulted
    logic->grabScreenshot("interactive", "url", AfterGrab{});
    settle();
    EXPECT_EQ(actions(), (Log{"interactive transparent", "flash"}));
    EXPECT_FALSE(logic->imgSource().isNull());
    EXPECT_TRUE(alerts.empty());
}

TEST_F(CaptureFlow, SettingsDecideTheActionsWhenNoneAreGiven) {
    settings->setAfterGrabShow(false);
    settings->setAfterGrabCopy(true);
    settings->setAfterGrabSave(true);
    logic->grabScreenshot("fullscreen", std::nullopt, std::nullopt);
    EXPECT_EQ(actions(), (Log{"fullscreen", "copy dontHide", "flash"}));
    settle(0.2);
    EXPECT_EQ(actions().back(), "save quiet dontHide");
    EXPECT_FALSE(editorShown());

    EXPECT_EQ(logic->afterGrabFromSettings("interactive"), (AfterGrab{.copy = true, .save = true}));
    settings->setAfterGrabShow(true);
    settings->setAreaCaptureMode("preview");
    EXPECT_EQ(logic->afterGrabFromSettings("interactive"),
              (AfterGrab{.copy = true, .save = true, .thumbnail = true}));
    EXPECT_EQ(logic->afterGrabFromSettings("window"), (AfterGrab{.copy = true, .save = true, .edit = true}));
}

TEST_F(CaptureFlow, FirstHideHintIsNeverPartOfACapture) {
    shell.trayIcon = true;
    auto hintLog = [this] {
        Log out;
        for (auto& e : log)
            if (e.rfind("hint", 0) == 0 || e == "fullscreen" || e.rfind("interactive", 0) == 0 ||
                e.rfind("scrolling", 0) == 0)
                out.push_back(e);
        return out;
    };
    // Showing: a capture takes it off the screen before the route runs.
    logic->markFirstHide();
    settle(0.2);
    logic->grabScreenshot("fullscreen", "menu", AfterGrab{});
    EXPECT_EQ(hintLog(), (Log{"hint", "hint closed", "fullscreen"}));
    settle(11);
    EXPECT_EQ(hintLog().size(), 3u) << "closed once, not again by its own timer";

    // Still to come when a capture starts: it never shows.
    log.clear();
    settings->storeBool("everHidMainWindow", false);
    logic->markFirstHide();
    logic->addCaptureToScreenshot("toolbar");
    settle(0.5);
    EXPECT_EQ(hintLog(), (Log{"interactive transparent"}));

    // Left alone, it goes after ten seconds, and a later capture has nothing to close.
    log.clear();
    settings->storeBool("everHidMainWindow", false);
    logic->markFirstHide();
    settle(0.2);
    settle(10);
    settings->storeBool("everScrollingCapture", true);
    logic->startScrollingCapture(-1, "menu", AfterGrab{});
    EXPECT_EQ(hintLog(), (Log{"hint", "hint closed", "scrolling -1"}));
}

TEST_F(CaptureFlow, FirstAreaCaptureAsksAndGoesOnWithTheAnswer) {
    settings->setAreaCaptureMode("none");
    answer = 1;  // "Show Preview"
    logic->grabScreenshot("interactive", std::nullopt, std::nullopt);
    EXPECT_TRUE(logic->imgSource().isNull()) << "nothing happens before the answer";
    settle();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Show small Preview or open the Editor?");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"Open Editor", "Show Preview"}));
    EXPECT_EQ(settings->areaCaptureMode(), "preview");
    EXPECT_EQ(actions().back().rfind("preview", 0), 0u);

    // With a caller's actions the question is not asked.
    settings->setAreaCaptureMode("none");
    logic->grabScreenshot("interactive", "url", AfterGrab{.edit = true});
    settle();
    EXPECT_EQ(alerts.size(), 1u);
}

TEST_F(CaptureFlow, EditAfterCaptureBringsTheEditorForward) {
    logic->grabScreenshot("interactive", std::nullopt, std::nullopt);
    settle();
    EXPECT_TRUE(editorShown());
    EXPECT_TRUE(lastEvent("show"));
    EXPECT_EQ(kit::Application::shared().activationPolicy(), kit::ActivationPolicy::Regular);
}

TEST_F(CaptureFlow, CaptureFactsAndTheEventGoWithTheScreenshot) {
    routes->next = {kit::ScreenInfo{7, {0, 0, 2880, 1800}, 2.0, true}, true, "Files", "Home", std::nullopt};
    logic->grabScreenshot("window", std::nullopt, AfterGrab{});
    kit::Json meta = logic->metadata();
    EXPECT_EQ(meta["mode"], "window");
    EXPECT_EQ(meta["backdropApplied"], "true");
    EXPECT_EQ(meta["app"], "Files");
    EXPECT_EQ(meta["window"], "Home");
    EXPECT_TRUE(meta.contains("timestamp"));
    EXPECT_EQ(editor::Framer::shared().dpr(), 2.0) << "the capture screen's ratio";
    ASSERT_TRUE(logic->screenshotDate);

    kit::Json event = *lastEvent("grab:window");
    EXPECT_EQ(event["width"], 64);
    EXPECT_EQ(event["height"], 48);
    EXPECT_FALSE(event.contains("method"));

    // No background under an area: no entry.
    routes->next.backdropApplied = false;
    logic->grabScreenshot("interactive", std::nullopt, AfterGrab{});
    EXPECT_FALSE(logic->metadata().contains("backdropApplied"));
}

TEST_F(CaptureFlow, FullScreenEventCarriesTheCursorSetting) {
    logic->grabScreenshot("fullscreen", "hotkey:Ctrl+Shift+3", AfterGrab{});
    kit::Json event = *lastEvent("grab:fullscreen");
    EXPECT_EQ(event["cursor"], "auto");
    EXPECT_EQ(event["method"], "hotkey:Ctrl+Shift+3");
}

TEST_F(CaptureFlow, AddingACaptureNeedsAScreenshotAndComesBackEitherWay) {
    logic->addCaptureToScreenshot("toolbar");
    EXPECT_TRUE(logged("warning No Screenshot"));
    EXPECT_EQ(actions(), Log{});

    logic->grabScreenshot("fullscreen", std::nullopt, AfterGrab{});
    settings->storeString("windowShadow", "odd");
    routes->image = solidImage(10, 10, {});
    logic->addCaptureToScreenshot("toolbar");
    EXPECT_EQ(actions().back(), "interactive wallpaper");
    EXPECT_TRUE(logged("addImageObject 10"));
    EXPECT_EQ(log.back(), "saveUndo") << "the added capture is an undo step of its own";

    routes->image = {};
    logic->addCaptureToScreenshot("toolbar");
    settle();
    EXPECT_TRUE(editorShown()) << "a cancelled capture brings the editor back";
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

// The real editor and export commands behind the core.
class CaptureWithRealEditor : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        auto r = std::make_unique<RoutesDouble>(log);
        auto e = std::make_unique<RealEditor>();
        routes = r.get();
        win = &e->win;
        logic = std::make_unique<core::AppLogic>(
            core::AppLogic::Services{settings.get(), telemetry.get(), notifier.get()}, std::move(r),
            std::move(e));
    }
    void TearDown() override {
        core::setLibrary(nullptr);
        CoreFixture::TearDown();
    }
    // Runs posted work, due timers and the worker's replies until `done`.
    bool runUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 300 && !done(); ++i) {
            kit::processMainEvents();
            clock.advance(0.05);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    }
    kit::Window* win = nullptr;
};

// "copy" after a capture puts exactly the captured pixels on the clipboard,
// and the editor stays hidden.
TEST_F(CaptureWithRealEditor, CopyLeavesThePictureOnTheClipboard) {
    kit::Image shot = solidImage(30, 20, {40, 80, 160, 255});
    shot.setPixel(0, 0, {255, 255, 255, 255});
    routes->image = shot;
    const int before = kit::Pasteboard::general().changeCount();
    logic->grabScreenshot("interactive", "url", core::AppLogic::AfterGrab{.copy = true});
    ASSERT_TRUE(runUntil([&] { return kit::Pasteboard::general().changeCount() != before; }));
    kit::Image copied = kit::Pasteboard::general().image();
    ASSERT_EQ(copied.width(), 30);
    ASSERT_EQ(copied.height(), 20);
    EXPECT_EQ(copied.pixel(0, 0), (kit::PixelBGRA{255, 255, 255, 255}));
    EXPECT_EQ(copied.pixel(29, 19), (kit::PixelBGRA{40, 80, 160, 255}));
    EXPECT_TRUE(lastEvent("copyImage"));
    EXPECT_FALSE(win->isVisible());
    EXPECT_TRUE(logged("flash"));
}

// What the library is handed.
struct IndexedFiles : core::LibraryHost {
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> saved;
    void indexSavedFile(const std::string& path, const std::map<std::string, std::string>& facts) override {
        saved.emplace_back(path, facts);
    }
};

// "save" after a capture writes the file and hands it, with the capture's
// facts, to the library's indexer while the library is on.
TEST_F(CaptureWithRealEditor, SaveHandsTheFileToTheLibrary) {
    IndexedFiles library;
    core::setLibrary(&library);
    const char* home = std::getenv("KADRIX_HOME");  // the run's private home
    ASSERT_TRUE(home);
    const std::string folder = std::string(home) + "/indexed-shots";
    ASSERT_TRUE(kit::files::makeDirs(folder));
    settings->setDefaultFolderURL(folder);
    settings->storeString("saveFormat", "PNG");
    settings->storeBool("libEnabled", true);
    routes->image = solidImage(30, 20, {40, 80, 160, 255});
    routes->next.app = "Terminal";
    logic->grabScreenshot("interactive", "url", core::AppLogic::AfterGrab{.save = true});
    ASSERT_TRUE(runUntil([&] { return !library.saved.empty(); }));
    ASSERT_EQ(library.saved.size(), 1u);
    const auto& [path, facts] = library.saved[0];
    EXPECT_EQ(std::filesystem::path(path).parent_path().string(), folder);
    EXPECT_EQ(kit::ImageIO::read(path).width(), 30);
    EXPECT_EQ(facts.count("mode") ? facts.at("mode") : "", "interactive");
    EXPECT_EQ(facts.count("app") ? facts.at("app") : "", "Terminal");
    std::filesystem::remove_all(folder);
}

// What the user asks while a capture is under way comes after it: a file
// opened during the selection, or a paste just after the capture, shows once
// the capture's actions have taken the capture's own picture.
TEST_F(CaptureWithRealEditor, ALaterPictureLandsAfterTheCapturesCopyAndSave) {
    IndexedFiles library;
    core::setLibrary(&library);
    const std::string folder = std::string(std::getenv("KADRIX_HOME")) + "/overtaken-shots";
    ASSERT_TRUE(kit::files::makeDirs(folder));
    settings->setDefaultFolderURL(folder);
    settings->storeString("saveFormat", "PNG");
    settings->storeBool("libEnabled", true);
    const std::string file = folder + "/opened.png";
    {
        auto bytes = kit::ImageIO::encodePNG(solidImage(50, 40, {9, 9, 9, 255}));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    routes->image = solidImage(30, 20, {40, 80, 160, 255});
    const auto savedWidth = [&](size_t i) { return kit::ImageIO::read(library.saved.at(i).first).width(); };

    // A file forwarded while the selection is open.
    int copies = kit::Pasteboard::general().changeCount();
    routes->meanwhile = [&] { EXPECT_TRUE(logic->openImage(file)); };
    logic->grabScreenshot("interactive", "hotkey", AfterGrab{.copy = true, .save = true});
    ASSERT_TRUE(runUntil(
        [&] { return library.saved.size() == 1 && kit::Pasteboard::general().changeCount() != copies; }));
    EXPECT_EQ(savedWidth(0), 30);
    EXPECT_EQ(library.saved[0].second.at("mode"), "interactive");
    EXPECT_EQ(kit::Pasteboard::general().image().width(), 30);
    EXPECT_EQ(logic->imgSource().width(), 50);
    EXPECT_EQ(logic->openedURL, file);

    // A picture pasted while the capture's save waits for its moment.
    ASSERT_TRUE(kit::Pasteboard::general().setImage(solidImage(60, 10, {1, 2, 3, 255})));
    logic->grabScreenshot("interactive", "hotkey", AfterGrab{.save = true});
    logic->loadFromClipboard("hotkey");
    ASSERT_TRUE(runUntil([&] { return library.saved.size() == 2 && logic->imgSource().width() == 60; }));
    EXPECT_EQ(savedWidth(1), 30);
    EXPECT_EQ(library.saved[1].second.at("mode"), "interactive");
    // The capture's file is the capture's alone: a save of the pasted
    // picture with overwriting on writes a file of its own.
    settings->storeBool("autosaveOverwrite", true);
    logic->saveImage(true, true);
    ASSERT_TRUE(runUntil([&] { return library.saved.size() == 3; }));
    EXPECT_NE(library.saved[2].first, library.saved[1].first);
    EXPECT_EQ(savedWidth(1), 30);
    EXPECT_EQ(savedWidth(2), 60);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace coretest

namespace coretest {
namespace {

class ScrollingCapture : public CoreFixture {
protected:
    void SetUp() override {
        CoreFixture::SetUp();
        make();
        routes->scrolled = solidImage(40, 300, {1, 2, 3, 255});
        settings->setAreaCaptureMode("editor");
    }
};

TEST_F(ScrollingCapture, FirstOneIsExplainedThenStartsWithTheSettingsActions) {
    settings->setAfterGrabShow(false);
    logic->startScrollingCapture(-1, "hotkey:Ctrl+Shift+6", core::AppLogic::AfterGrab{.pin = true});
    EXPECT_FALSE(logged("scrolling -1")) << "nothing starts before the explanation is read";
    settle(0.1);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Scrolling Capture");
    EXPECT_TRUE(settings->getBool("everScrollingCapture", false));
    settle(0.5);
    EXPECT_TRUE(logged("scrolling -1"));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](auto& e) { return e.rfind("pin", 0) == 0; }), 0)
        << "the request's actions were dropped";
    EXPECT_TRUE(logged("flash"));
    EXPECT_EQ(logic->imgSource().height(), 300);
}

TEST_F(ScrollingCapture, EventCarriesTheRequestsMethodAndAFailureKeepsTheScreenshot) {
    settings->storeBool("everScrollingCapture", true);
    logic->startScrollingCapture(1, "menu", core::AppLogic::AfterGrab{});
    EXPECT_TRUE(logged("scrolling 1"));
    kit::Json event = *lastEvent("grab:scrolling");
    EXPECT_EQ(event["method"], "menu");
    EXPECT_EQ(logic->metadata()["mode"], "scrolling");

    routes->scrolled = {};
    logic->startScrollingCapture(-1, "menu", std::nullopt);
    ASSERT_TRUE(lastEvent("oops"));
    EXPECT_EQ(lastEvent("oops")->value("message", ""), "Failed to get screenshot image");
    EXPECT_EQ(logic->imgSource().height(), 300);

    routes->scrollPermission = false;
    log.clear();
    logic->startScrollingCapture(-1, "menu", std::nullopt);
    EXPECT_TRUE(log.empty());
}

// A file opened while the page scrolls was asked for after the capture: it
// lands after the stitched picture, not under it. A capture that ends
// without a picture holds nothing back.
TEST_F(ScrollingCapture, AFileOpenedWhileThePageScrollsLandsAfterTheCapture) {
    settings->storeBool("everScrollingCapture", true);
    settings->setAfterGrabShow(false);
    testsupport::ScratchFolder scratch;
    const std::string file = scratch.file("opened-while-scrolling.png");
    testsupport::writePicture(file, 30, 20, kit::Color::black());
    routes->holdScroll = true;

    logic->startScrollingCapture(-1, "menu", std::nullopt);
    ASSERT_TRUE(routes->heldScroll);
    EXPECT_TRUE(logic->openImage(file));
    std::exchange(routes->heldScroll, nullptr)(routes->scrolled);
    EXPECT_EQ(logic->imgSource().width(), 30);
    EXPECT_EQ(logic->metadata()["mode"], "file");

    logic->startScrollingCapture(-1, "menu", std::nullopt);
    ASSERT_TRUE(logic->loadImage(solidImage(70, 40, {5, 5, 5, 255}), false));
    EXPECT_TRUE(logic->openImage(file));
    EXPECT_EQ(logic->imgSource().width(), 70) << "the opened file waits for the capture";
    routes->heldScroll = nullptr;  // cancelled: no picture
    EXPECT_EQ(logic->imgSource().width(), 30);
}

}  // namespace
}  // namespace coretest
