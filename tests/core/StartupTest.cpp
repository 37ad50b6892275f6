// Start-up of the core: the launch and version events, the library for a
// stored save folder, the cursor table.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "CoreFixture.h"
#include "controls/CtrlHelper.h"
#include "controls/ImageAssets.h"
#include "core/Cursors.h"
#include "core/Exporter.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "support/ScratchFolder.h"

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
    testsupport::ScratchFolder scratch;
    const std::filesystem::path folder = scratch.path();
    settings->setDefaultFolderURL(folder.string());
    make();
    ASSERT_EQ(library.created.size(), 1u);
    EXPECT_EQ(std::filesystem::path(library.created[0]), folder);
}

// A save killed between writing and naming (kill -9 at the final-name step)
// leaves its hidden temporary file; the next start removes such files of
// ours in our folders and nothing else.
TEST_F(Startup, UnfinishedWritesOfOursGoAndEverythingElseStays) {
    namespace fs = std::filesystem;
    testsupport::ScratchFolder scratch;
    const fs::path saves = scratch.file("saves");
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
    logic.reset();  // its clean-up of the save folder ended
    for (auto& p : leftovers) EXPECT_FALSE(fs::exists(p)) << p;
    for (auto& p : kept) EXPECT_TRUE(fs::exists(p)) << p;
    EXPECT_TRUE(fs::is_directory(saves / ".album.tmp-12345678"));
    EXPECT_TRUE(fs::is_symlink(saves / ".link.png.new-87654321"));
    fs::remove_all(saves);
}

// Saves cut off by the end of the process before their files had their
// names: the next start finishes each whole picture of ours under the name
// it was to have (else by the clash rule, never replacing a file) with the
// screen-capture mark, takes back a claim left empty, and removes what is
// cut off before its end once it is a minute old. Another program's files,
// a write still going on and its lock holder are left alone.
TEST_F(Startup, CutSavesAreFinishedUnderTheirNamesAndTheirPartsGo) {
    namespace fs = std::filesystem;
    testsupport::ScratchFolder scratch;
    const fs::path saves = scratch.file("saves");
    fs::remove_all(saves);
    fs::create_directories(saves);
    settings->setDefaultFolderURL(saves.string());
    kit::Image picture(40, 30);
    picture.fill(kit::Color{0.2, 0.6, 0.9, 1});
    const auto png = kit::ImageIO::encodePNG(picture);
    const auto jpeg = kit::ImageIO::encodeJPEG(picture, 0.9);
    const std::string whole(png.begin(), png.end()), wholeJpeg(jpeg.begin(), jpeg.end());
    const std::string mark = core::screenCaptureMark();
    const auto put = [&](const std::string& name, const std::string& bytes, bool marked, bool old) {
        const fs::path path = saves / name;
        std::ofstream(path, std::ios::binary) << bytes;
        if (marked) kit::files::setXattr(path, core::kScreenCaptureAttribute, mark);
        if (old) fs::last_write_time(path, fs::last_write_time(path) - std::chrono::minutes(5));
        return path;
    };
    const bool attributes = kit::files::keepsXattrs(saves.string());
    // Whole pictures of ours: a fresh one (no writer holds it), a JPEG, one
    // whose name was taken meanwhile, one beside its empty claim.
    put(".SCR-a.png.new-aaaaaaaa", whole, true, false);
    put(".SCR-b.jpeg.new-bbbbbbbb", wholeJpeg, true, true);
    put(".SCR-c.png.new-cccccccc", whole, true, true);
    put("SCR-c.png", "another program's", false, false);
    put(".SCR-d.png.new-dddddddd", whole, true, true);
    put("SCR-d.png", "", false, false);
    // Ended as the name was given: the name holds it, the temporary name is left.
    put("SCR-e.png", whole, true, false);
    fs::create_hard_link(saves / "SCR-e.png", saves / ".SCR-e.png.new-eeeeeeee");
    // Cut off before its end: removed when old, kept while a write may go on.
    const auto partialOld = put(".SCR-f.png.new-ffffffff", whole.substr(0, whole.size() - 12), true, true);
    const auto partialNew = put(".SCR-g.png.new-gggggggg", whole.substr(0, 100), true, false);
    // A writer still holds this one.
    const auto held = put(".SCR-h.png.new-hhhhhhhh", whole, true, true);
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    // Another program's: a name like ours but not ours, and (where the file
    // system keeps attributes) a whole picture without our mark.
    const auto foreign = put(".SCR-i.png.new-ABCDEFGH", whole, false, true);
    const auto unmarked = put(".SCR-j.png.new-jjjjjjjj", whole, false, false);

    make();
    logic.reset();
    ::close(holder);
    const auto bytes = [&](const std::string& name) { return kit::files::readAll((saves / name).string()); };
    for (const char* name : {"SCR-a.png", "SCR-c-2.png", "SCR-d.png", "SCR-e.png"}) {
        EXPECT_EQ(bytes(name), whole) << name;
        if (attributes) {
            EXPECT_EQ(kit::files::getXattr(saves / name, core::kScreenCaptureAttribute), mark) << name;
        }
    }
    EXPECT_EQ(bytes("SCR-b.jpeg"), wholeJpeg);
    EXPECT_EQ(bytes("SCR-c.png"), "another program's");
    EXPECT_FALSE(fs::exists(partialOld));
    EXPECT_TRUE(fs::exists(partialNew));
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(foreign));
    EXPECT_FALSE(fs::exists(saves / "SCR-i.png"));
    EXPECT_EQ(fs::exists(unmarked), attributes);
    EXPECT_EQ(fs::exists(saves / "SCR-j.png"), !attributes);
    for (const char* gone : {".SCR-a.png.new-aaaaaaaa", ".SCR-b.jpeg.new-bbbbbbbb", ".SCR-c.png.new-cccccccc",
                             ".SCR-d.png.new-dddddddd", ".SCR-e.png.new-eeeeeeee"})
        EXPECT_FALSE(fs::exists(saves / gone)) << gone;
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
