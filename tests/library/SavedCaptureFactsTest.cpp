// A save through the real core, editor and library: the annotations' facts
// reach the library record, its text search and its drawing filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "LibraryFixture.h"
#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "core/CaptureRoutes.h"
#include "core/EditorLink.h"
#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "editor/ObjectHandlers.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/WayOut.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Window.h"
#include "library/DataLayer.h"
#include "library/LibraryLink.h"
#include "objects/ObjText.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "support/TelemetryQueue.h"

namespace {

class EditorInWindow : public core::EditorLink {
public:
    kit::Window win{kit::Rect{0, 0, 900, 600}, kit::WindowStyle::Titled};
    kit::Window* window() override { return &win; }
};

class SavedCaptureFacts : public LibraryFolderFixture {
protected:
    void SetUp() override {
        LibraryFolderFixture::SetUp();
        // The save's event is read from a queue of this test's own.
        testsupport::emptyTelemetryQueue();
        services::Settings::shared().setLibAllowOCR(true);
        services::Settings::shared().setDefaultFolderURL(folder);
        core::setLibrary(&library::LibraryLink::shared());
        editor::installObjectHandlers();
        editor::resetCanvasLayers();
        logic = std::make_unique<core::AppLogic>(core::AppLogic::Services{},
                                                 std::make_unique<core::CaptureRoutes>(),
                                                 std::make_unique<EditorInWindow>());
    }
    void TearDown() override {
        editor::ObjectHandlers::shared().clear();
        logic.reset();
        core::setLibrary(nullptr);
        services::Settings::shared().setDefaultFolderURL(std::nullopt);
        LibraryFolderFixture::TearDown();
    }
    std::unique_ptr<core::AppLogic> logic;
};

TEST_F(SavedCaptureFacts, ASaveCarriesTheAnnotationsIntoTheLibrary) {
    auto lib = library::LibraryLink::shared().library();
    ASSERT_TRUE(lib);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return lib->loaded(); }, 10));
    kit::Image shot(640, 360);
    shot.fill(kit::Color::rgb(255, 255, 255));
    ASSERT_TRUE(logic->loadImage(shot, false));

    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    ASSERT_TRUE(objects.addObject("ObjArrow", services::Rect{40, 300, 200, 0}));
    // A text typed where a click put it.
    objects.createOnClick = "ObjText";
    const kit::Point at = editor::Framer::shared().imageToView({260, 200});
    kit::Event click;
    objects.mouseDown(&click, at, 0);
    objects.mouseUp(&click, at, 0);
    auto* text = dynamic_cast<objects::ObjText*>(objects.activeObj().get());
    ASSERT_TRUE(text);
    text->appendText("quarterly");
    // Black on the white screenshot, as text that recognition reads.
    text->nobg = true;
    objects.setToolValue("color", "#000000");
    objects.setToolValue("size", "4");
    objects.deactivate();

    logic->saveImage(true, true);
    std::shared_ptr<library::GrabData> saved;
    ASSERT_TRUE(kit::runMainLoopUntil(
        [&] {
            auto all = lib->snapshot();
            if (!all.empty() && all.back()->content.count("ocr")) saved = all.back();
            return saved != nullptr;
        },
        30));
    EXPECT_EQ(saved->content["labels"], "quarterly");
    EXPECT_EQ(saved->content["objects"], "AT");
    EXPECT_EQ(lib->search("quarterly").size(), 1u) << "recognised: " << saved->content["ocr"];
    auto drawings = lib->calcFilters().objects;
    EXPECT_NE(std::find(drawings.begin(), drawings.end(), library::LibFacet{1, "A"}), drawings.end());
    EXPECT_NE(std::find(drawings.begin(), drawings.end(), library::LibFacet{1, "T"}), drawings.end());

    std::optional<kit::Json> event;
    for (auto& e : services::Telemetry::shared().events())
        if (e.value("type", "") == "saveImage") event = e;
    ASSERT_TRUE(event);
    EXPECT_EQ((*event)["objectsCount"], 2);
    EXPECT_EQ((*event)["objects"], "AT");
}

TEST_F(SavedCaptureFacts, ASaveJustBeforeTheEndHasItsLineThoughItsAnalysisHadNotEnded) {
    auto lib = library::LibraryLink::shared().library();
    ASSERT_TRUE(lib);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return lib->loaded(); }, 10));
    // A decoder that never answers in time: the analysis is still under way at the end.
    const std::string slow = kit::files::uniqueTempPath("slow-decoder-", ".sh");
    ASSERT_TRUE(kit::files::writeAtomic(slow, "#!/bin/sh\nexec sleep 3\n", 0700));
    kit::ImageIO::setDecoderProgram(slow);
    kit::Image shot(640, 360);
    shot.fill(kit::Color::rgb(255, 255, 255));
    ASSERT_TRUE(logic->loadImage(shot, false));
    logic->metadataRef()["mode"] = "window";
    logic->metadataRef()["app"] = "Terminal";
    logic->metadataRef()["window"] = "build log";
    ASSERT_TRUE(editor::ObjectHandlers::shared().addObject("ObjArrow", services::Rect{40, 300, 200, 0}));

    // One save handed to the library, its analysis under way.
    logic->saveImage(true, true);
    ASSERT_TRUE(
        kit::runMainLoopUntil([] { return library::LibraryLink::shared().savesInFlight() == 0; }, 10));
    // One whose file is written while the main thread has not handed it over yet.
    logic->saveImage(true, true);
    auto pictures = [&] {
        size_t n = 0;
        for (auto& f : std::filesystem::directory_iterator(folder)) n += f.path().extension() == ".png";
        return n;
    };
    for (int i = 0; i < 1000 && pictures() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(pictures(), 2u);
    // The program's way out.
    logic->handOverWrittenSaves();
    library::LibraryLink::shared().finishWrites();

    library::ScreenLib reader(folder);
    reader.loadNow();
    // The analyses still under way end (at the decoder's deadline) before
    // the next test changes what they read.
    EXPECT_TRUE(
        kit::runMainLoopUntil([] { return library::LibraryLink::shared().indexingSaves() == 0; }, 30));
    kit::ImageIO::setDecoderProgram("");
    kit::files::remove(slow);
    const auto all = reader.snapshot();
    ASSERT_EQ(all.size(), 2u);
    for (auto& saved : all) {
        auto& facts = saved->content;
        EXPECT_EQ(facts["mode"], "window");
        EXPECT_EQ(facts["app"], "Terminal");
        EXPECT_EQ(facts["window"], "build log");
        EXPECT_EQ(facts["objects"], "A");
        EXPECT_EQ(facts["width"], "640");
        EXPECT_NE(facts["ts"], "");
        // Without the analysis: the next indexing takes it up again.
        EXPECT_TRUE(saved->colors().empty());
        EXPECT_EQ(facts.count("ocr"), 0u);
    }
}

// The way out ends the decoder the save's analysis waits for, and the
// analysis gives up storing nothing: the save stays owed all the same, and
// the way out writes its line. Run in a process of its own, which the way
// out ends for good.
TEST_F(SavedCaptureFacts, ASaveWhoseAnalysisTheWayOutEndedStillHasItsLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto saveThenEnd = [this] {
        auto lib = library::LibraryLink::shared().library();
        if (!lib || !kit::runMainLoopUntil([&] { return lib->loaded(); }, 10)) std::_Exit(3);
        const std::string slow = kit::files::uniqueTempPath("slow-decoder-", ".sh");
        kit::files::writeAtomic(slow, "#!/bin/sh\nexec sleep 3\n", 0700);
        kit::ImageIO::setDecoderProgram(slow);
        kit::Image shot(640, 360);
        shot.fill(kit::Color::rgb(255, 255, 255));
        logic->loadImage(shot, false);
        logic->metadataRef()["mode"] = "area";
        logic->saveImage(true, true);
        if (!kit::runMainLoopUntil([] { return library::LibraryLink::shared().savesInFlight() == 0; }, 10))
            std::_Exit(3);
        kit::beginWayOut();
        // The analysis, its decoder ended, is given the time to give up.
        kit::runMainLoopUntil([] { return library::LibraryLink::shared().indexingSaves() == 0; }, 1);
        logic->handOverWrittenSaves();
        library::LibraryLink::shared().finishWrites();
        kit::files::remove(slow);
        library::ScreenLib reader(folder);
        reader.loadNow();
        const auto all = reader.snapshot();
        std::fprintf(stderr, "lines: %zu, mode %s\n", all.size(),
                     all.empty() ? "-" : all.front()->content["mode"].c_str());
        std::fflush(stderr);
        std::_Exit(0);
    };
    EXPECT_EXIT(saveThenEnd(), ::testing::ExitedWithCode(0), "lines: 1, mode area\n");
}

TEST_F(SavedCaptureFacts, ASaveWhileTheLibraryIsStillLoadingKeepsItsRecord) {
    auto lib = library::LibraryLink::shared().library();
    ASSERT_TRUE(lib);
    ASSERT_TRUE(kit::runMainLoopUntil([&] { return lib->loaded(); }, 10));
    // A folder chosen that already holds a large library: its load is under
    // way when the first save is written.
    {
        library::DataLayer store(folder);
        std::string lines;
        for (int i = 0; i < 10000; ++i)
            lines += store.encodeRec({{"filename", "SCR-old-" + std::to_string(i) + ".png"},
                                      {"ts", std::to_string(1'600'000'000 + i)},
                                      {"ocr", std::string(1500, 'w')}});
        ASSERT_TRUE(store.write(lines, false));
    }
    lib->load();
    kit::Image shot(640, 360);
    shot.fill(kit::Color::rgb(255, 255, 255));
    ASSERT_TRUE(logic->loadImage(shot, false));
    logic->saveImage(true, true);
    auto& link = library::LibraryLink::shared();
    ASSERT_TRUE(
        kit::runMainLoopUntil([&] { return link.savesInFlight() == 0 && link.indexingSaves() == 0; }, 30));

    library::ScreenLib reader(folder);
    reader.loadNow();
    const auto all = reader.snapshot();
    ASSERT_EQ(all.size(), 10001u);
    EXPECT_EQ(all.back()->content["width"], "640");
    EXPECT_TRUE(lib->record(all.back()->content["filename"]));
}

}  // namespace
