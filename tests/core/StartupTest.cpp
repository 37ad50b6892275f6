// Start-up of the core: the launch and version events, the library for a
// stored save folder, the cursor table.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "CoreFixture.h"
#include "controls/CtrlHelper.h"
#include "controls/ImageAssets.h"
#include "core/Cursors.h"
#include "core/Exporter.h"
#include "core/SaveRecord.h"
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

// A settings write killed between writing and naming leaves its hidden
// temporary file; the next start removes such files in Kadrix's own folders
// and nothing else: in the save folder, the user's, it cannot show that a
// file named so is one of its own.
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
    const std::vector<fs::path> leftovers{config / ".defaults.json.tmp-zz00yy11",
                                          fs::path(kit::files::dataDir()) / ".shot.png.new-k2x9q0zt"};
    for (auto& p : leftovers) put(p, true);
    const std::vector<fs::path> kept{
        saves / "SCR-20261208-baaa.jpeg",                // a finished save
        saves / ".SCR-20261208-baab.png.new-abc",        // not a name of ours
        saves / ".notes.tmp-ABCDEFGH",                   // nor this
        saves / ".SCR-20261208-baac.png.new-fresh123",   // a write that may still go on
        saves / ".SCR-20261208-baaa.jpeg.new-k2x9q0zt",  // named as a save's, but no record names it
        saves / ".imagelib.kxdb.tmp-0a1b2c3d"};
    put(kept[0], true);
    put(kept[1], true);
    put(kept[2], true);
    put(kept[3], false);
    put(kept[4], true);
    put(kept[5], true);
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
// The start finishes the saves Kadrix's own record names, and no other file
// named like one: another program's, young or old, marked or not, is left
// as it is, and so is an empty file of the user's under a save's name.
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
    // The record a Kadrix that has ended kept of a hidden file it made.
    const std::string records = core::saveRecordFolder();
    int serial = 0;
    const auto recorded = [&](const fs::path& hidden, const std::string& extra = {}) {
        std::string name = hidden.filename().string().substr(1);
        name = name.substr(0, name.size() - 13);
        const std::string text = "{\"owner\":\"1-ended\",\"temporary\":\"" + hidden.string() +
                                 "\",\"path\":\"" + (saves / name).string() +
                                 "\",\"facts\":{\"mode\":\"area\"}" + extra + "}";
        ASSERT_TRUE(
            kit::files::writeAtomic(records + "/1-ended-" + std::to_string(serial++) + ".save", text));
    };
    // Whole pictures of ours: a fresh one, a JPEG, one whose name was taken
    // meanwhile, one beside its empty claim, one whose name an empty file of
    // the user's holds.
    recorded(put(".SCR-a.png.new-aaaaaaaa", whole, true, false));
    recorded(put(".SCR-b.jpeg.new-bbbbbbbb", wholeJpeg, true, true));
    recorded(put(".SCR-c.png.new-cccccccc", whole, true, true));
    put("SCR-c.png", "another program's", false, false);
    put("SCR-d.png", "", false, false);
    struct stat claim {};
    ::lstat((saves / "SCR-d.png").c_str(), &claim);
    recorded(put(".SCR-d.png.new-dddddddd", whole, true, true),
             ",\"claim\":[" + std::to_string(claim.st_dev) + "," + std::to_string(claim.st_ino) + "]");
    put("SCR-k.png", "", false, false);
    recorded(put(".SCR-k.png.new-kkkkkkkk", whole, true, false));
    // Ended as the name was given: the name holds it, the temporary name is left.
    put("SCR-e.png", whole, true, false);
    fs::create_hard_link(saves / "SCR-e.png", saves / ".SCR-e.png.new-eeeeeeee");
    recorded(saves / ".SCR-e.png.new-eeeeeeee");
    // Cut off before its end: ours goes; another's is kept, young or old.
    const auto partialOurs = put(".SCR-f.png.new-ffffffff", whole.substr(0, whole.size() - 12), true, false);
    recorded(partialOurs);
    const auto partialOld = put(".SCR-g.png.new-gggggggg", whole.substr(0, 100), true, true);
    // A writer still holds this one.
    const auto held = put(".SCR-h.png.new-hhhhhhhh", whole, true, true);
    recorded(held);
    const int holder = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    // Another program's, whatever it carries.
    const auto foreign = put(".SCR-i.png.new-ABCDEFGH", whole, false, true);
    const auto unmarked = put(".SCR-j.png.new-jjjjjjjj", whole, false, false);
    const auto forged = put(".SCR-l.png.new-llllllll", whole, true, true);

    make();
    logic.reset();
    ::close(holder);
    const auto bytes = [&](const std::string& name) { return kit::files::readAll((saves / name).string()); };
    for (const char* name : {"SCR-a.png", "SCR-c-2.png", "SCR-d.png", "SCR-e.png", "SCR-k-2.png"}) {
        EXPECT_EQ(bytes(name), whole) << name;
        if (kit::files::keepsXattrs(saves.string())) {
            EXPECT_EQ(kit::files::getXattr(saves / name, core::kScreenCaptureAttribute), mark) << name;
        }
    }
    EXPECT_EQ(bytes("SCR-b.jpeg"), wholeJpeg);
    EXPECT_EQ(bytes("SCR-c.png"), "another program's");
    EXPECT_EQ(bytes("SCR-k.png"), "") << "the user's empty file";
    EXPECT_FALSE(fs::exists(partialOurs));
    for (const auto& kept : {partialOld, held, foreign, unmarked, forged})
        EXPECT_TRUE(fs::exists(kept)) << kept;
    for (const char* none : {"SCR-g.png", "SCR-h.png", "SCR-i.png", "SCR-j.png", "SCR-l.png"})
        EXPECT_FALSE(fs::exists(saves / none)) << none;
    for (const char* gone : {".SCR-a.png.new-aaaaaaaa", ".SCR-b.jpeg.new-bbbbbbbb", ".SCR-c.png.new-cccccccc",
                             ".SCR-d.png.new-dddddddd", ".SCR-e.png.new-eeeeeeee", ".SCR-k.png.new-kkkkkkkk"})
        EXPECT_FALSE(fs::exists(saves / gone)) << gone;
    for (const auto& name : kit::files::listFolder(records).value_or(std::vector<std::string>{}))
        if (name.starts_with("1-ended")) fs::remove(records + "/" + name);
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
