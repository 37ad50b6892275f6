// Start-up of the core: the launch and version events, the library for a
// stored save folder, the cursor table.
#include <chrono>
#include <filesystem>
#include <fstream>

#include "CoreFixture.h"
#include "controls/CtrlHelper.h"
#include "controls/ImageAssets.h"
#include "core/Cursors.h"
#include "kit/base/Files.h"

namespace coretest {
namespace {

class RecordingLibrary : public core::LibraryHost {
public:
    std::vector<std::string> created;
    bool exists() const override { return !created.empty(); }
    void create(const std::string& folder) override { created.push_back(folder); }
};

class Startup : public CoreFixture {
protected:
    void TearDown() override {
        core::setLibrary(nullptr);
        CoreFixture::TearDown();
    }
    RecordingLibrary library;
};

TEST_F(Startup, FirstLaunchSendsLaunchOnlyAndStoresTheVersion) {
    make();
    EXPECT_EQ(types(), std::vector<std::string>{"launch"});
    ASSERT_TRUE(lastEvent("launch"));
    EXPECT_TRUE(lastEvent("launch")->contains("screens"));
    EXPECT_EQ(settings->activeAppVersion(), telemetry->vc());
}

TEST_F(Startup, OlderBuildAfterANewerOneReportsTheDowngrade) {
    const int64_t newer = telemetry->vc() + 100;
    settings->setActiveAppVersion(newer);
    make();
    EXPECT_EQ(types(), (std::vector<std::string>{"launch", "version-downgrade"}));
    ASSERT_TRUE(lastEvent("version-downgrade"));
    EXPECT_EQ(lastEvent("version-downgrade")->value("oldVC", int64_t(0)), newer);
    EXPECT_EQ(settings->activeAppVersion(), telemetry->vc());
}

TEST_F(Startup, NewerBuildReportsTheUpgradeAndTheSameBuildNothing) {
    ASSERT_GT(telemetry->vc(), 1);
    settings->setActiveAppVersion(1);
    make();
    EXPECT_EQ(types(), (std::vector<std::string>{"launch", "version-upgrade"}));
    ASSERT_TRUE(lastEvent("version-upgrade"));
    EXPECT_EQ(lastEvent("version-upgrade")->value("oldVC", int64_t(0)), 1);

    logic.reset();
    make();  // started again: the stored version is the running one
    EXPECT_EQ(types(), (std::vector<std::string>{"launch", "version-upgrade", "launch"}));
}

TEST_F(Startup, LibraryExistsOnlyForAStoredSaveFolder) {
    core::setLibrary(&library);
    make();
    EXPECT_TRUE(library.created.empty());

    logic.reset();
    auto folder = std::filesystem::temp_directory_path() / ("kadrix-core-lib-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    settings->setDefaultFolderURL(folder.string());
    make();
    ASSERT_EQ(library.created.size(), 1u);
    EXPECT_EQ(std::filesystem::path(library.created[0]), folder);
    std::filesystem::remove_all(folder);
}

// A save killed between writing and naming (kill -9 at the final-name step)
// leaves its hidden temporary file; the next start removes such files of
// ours in our folders and nothing else.
TEST_F(Startup, UnfinishedWritesOfOursGoAndEverythingElseStays) {
    namespace fs = std::filesystem;
    const fs::path saves = fs::temp_directory_path() / ("kadrix-core-leftovers-" + std::to_string(getpid()));
    const fs::path config = kit::files::configDir();
    fs::create_directories(saves);
    settings->setDefaultFolderURL(saves.string());
    auto put = [](const fs::path& path, bool old) {
        std::ofstream(path) << "partial";
        if (old) fs::last_write_time(path, fs::last_write_time(path) - std::chrono::minutes(5));
    };
    const std::vector<fs::path> leftovers{saves / ".SCR-20261208-baaa.jpeg.new-k2x9q0zt",
                                          saves / ".imagelib.kxdb.tmp-0a1b2c3d",
                                          config / ".defaults.json.tmp-zz00yy11"};
    for (auto& p : leftovers) put(p, true);
    const std::vector<fs::path> kept{
        saves / "SCR-20261208-baaa.jpeg",                // a finished save
        saves / ".SCR-20261208-baab.png.new-abc",        // not a name of ours
        saves / ".notes.tmp-ABCDEFGH",                   // nor this
        saves / ".SCR-20261208-baac.png.new-fresh123"};  // a write that may still go on
    put(kept[0], true);
    put(kept[1], true);
    put(kept[2], true);
    put(kept[3], false);
    fs::create_directory(saves / ".album.tmp-12345678");            // a folder
    fs::create_symlink(kept[0], saves / ".link.png.new-87654321");  // a link
    fs::last_write_time(saves / ".album.tmp-12345678",
                        fs::file_time_type::clock::now() - std::chrono::minutes(5));

    make();
    for (auto& p : leftovers) EXPECT_FALSE(fs::exists(p)) << p;
    for (auto& p : kept) EXPECT_TRUE(fs::exists(p)) << p;
    EXPECT_TRUE(fs::is_directory(saves / ".album.tmp-12345678"));
    EXPECT_TRUE(fs::is_symlink(saves / ".link.png.new-87654321"));
    fs::remove_all(saves);
}

TEST_F(Startup, EveryCursorOfTheTableIsMadeWithItsHotSpot) {
    auto& table = core::cursorTable();
    ASSERT_EQ(table.size(), 8u);
    EXPECT_EQ(table.front().key, "move");
    EXPECT_EQ(table.back().key, "pen");
    auto& logic = make();
    EXPECT_EQ(logic.cursors.size(), 8u);
    for (auto& entry : table) EXPECT_TRUE(logic.cursors.count(entry.key)) << entry.key;

    // A registered drawing is used with the table's hot spot.
    kit::Image drawing(32, 32);
    controls::ImageAssets::set("cursor-point", drawing);
    auto cursors = core::makeCursors();
    EXPECT_EQ(cursors.at("point").shape(), kit::Cursor::Shape::Custom);
    EXPECT_EQ(cursors.at("point").hotSpot(), (kit::Point{2, 2}));
    controls::ImageAssets::set("cursor-point", {});
}

TEST_F(Startup, HooksReachTheInstanceAndGoWithIt) {
    auto& logic = make();
    logic.installHooks();
    editor::Framer::shared()._dpr.set(3.0);
    editor::Framer::shared()._zoom.set(0.75);
    EXPECT_EQ(services::hookEditorDpr(), 3.0);
    EXPECT_EQ(services::hookEditorZoom(), 0.75);
    EXPECT_EQ(&editor::core(), &logic);
    logic.lastActiveTime = 42;
    EXPECT_EQ(services::appHooks()->lastActiveTime(), 42);

    // A hint bubble under the pointer holds the editor's pointer shapes.
    auto bubble = std::make_shared<controls::CtrlHelper>(kit::Rect{0, 0, 100, 40});
    logic.setCursor("default");
    bubble->mouseEntered({});
    EXPECT_FALSE(logic.cursorUpdating());
    logic.setCursor("crosshair");
    EXPECT_EQ(logic.currentCursor, "default");
    bubble->mouseExited({});
    EXPECT_TRUE(logic.cursorUpdating());
    logic.setCursor("crosshair");
    EXPECT_EQ(logic.currentCursor, "crosshair");

    this->logic.reset();
    EXPECT_FALSE(controls::CtrlHelper::setCursorUpdating);
    EXPECT_EQ(dynamic_cast<core::AppLogic*>(&editor::core()), nullptr);
    EXPECT_FALSE(services::appHooks()->lastActiveTime);
    EXPECT_EQ(services::hookEditorDpr(), 2.0);  // the services' default again
}

}  // namespace
}  // namespace coretest
