// Saves cut short by the end of the process: Kadrix's own record of its
// saves names each hidden file a save made, with the facts of its library
// line, and the next start finishes those, and only those, beside whatever
// holds their name by then, with those facts or, when they are gone or
// refused, those of a file found in the folder. A record that cannot be
// read is told of and kept; a record of a Kadrix still running is left to it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "core/CutSaves.h"
#include "core/ExportFixture.h"
#include "core/SaveRecord.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

namespace {

namespace fs = std::filesystem;

const core::SaveFacts kFullScreen{{"mode", "fullscreen"}, {"timestamp", "1700000000"}, {"dpr", "2.0"}};
// The owner name of a Kadrix that has ended (no process holds its lock).
const std::string kEnded = "1-ended";

class CutSaves : public ExportFixture {
protected:
    void SetUp() override {
        ExportFixture::SetUp();
        kit::files::makeDirs(folder);
        const auto png = kit::ImageIO::encodePNG(solid(16, 12, red));
        picture.assign(png.begin(), png.end());
        records = core::saveRecordFolder();
        clearRecords();
    }
    void TearDown() override {
        clearRecords();
        ExportFixture::TearDown();
    }
    void clearRecords() {
        for (const auto& name : kit::files::listFolder(records).value_or(std::vector<std::string>{}))
            if (name.ends_with(".save") || !name.starts_with(std::to_string(::getpid()) + "-"))
                fs::remove(records + "/" + name);
    }
    bool keepsAttributes() const { return kit::files::keepsXattrs(folder); }
    std::string hiddenOf(const std::string& where, const std::string& name) {
        char token[9];
        std::snprintf(token, sizeof token, "abcd%04d", serial++);
        return where + "/." + name + ".new-" + token;
    }
    // What a save cut at its naming leaves: the whole picture under the hidden
    // name, marked, and the record of it with `facts` (raw JSON) unless none.
    std::string leaveCutSave(const std::string& name, const std::optional<std::string>& facts,
                             const std::string& where = {}) {
        const std::string hidden = hiddenOf(where.empty() ? folder : where, name);
        EXPECT_TRUE(kit::files::writeAtomic(hidden, picture));
        core::Exporter::setXattr(hidden);
        record(hidden, kit::files::folderOf(hidden) + "/" + name, facts);
        return hidden;
    }
    // The same left by another program: no record names it.
    std::string leaveCutSaveUnrecorded(const std::string& name) {
        const std::string hidden = hiddenOf(folder, name);
        EXPECT_TRUE(kit::files::writeAtomic(hidden, picture));
        core::Exporter::setXattr(hidden);
        return hidden;
    }
    // A record of an ended Kadrix, as a save writes it; `extra` JSON members.
    std::string record(const std::string& hidden, const std::string& path,
                       const std::optional<std::string>& facts, const std::string& extra = {}) {
        std::string text = "{\"owner\":\"" + kEnded + "\",\"path\":\"" + path + "\"";
        if (!hidden.empty()) text += ",\"temporary\":\"" + hidden + "\"";
        if (facts) text += ",\"facts\":" + *facts;
        text += extra + "}";
        const std::string file = records + "/" + kEnded + "-r" + std::to_string(serial++) + ".save";
        EXPECT_TRUE(kit::files::writeAtomic(file, text));
        return file;
    }
    std::vector<std::string> recordFiles() const {
        std::vector<std::string> out;
        for (const auto& name : kit::files::listFolder(records).value_or(std::vector<std::string>{}))
            if (name.ends_with(".save")) out.push_back(name);
        return out;
    }
    std::string picture;
    std::string records;
    int serial = 0;
};

std::string factsText(const core::SaveFacts& facts) {
    return core::saveFactsAttributeValue(facts);
}

}  // namespace

TEST_F(CutSaves, AFinishedSaveComesBackWithTheFactsItsRecordKept) {
    const std::string other = leaveCutSaveUnrecorded("SCR-z.png");
    leaveCutSave("SCR-a.png", factsText(kFullScreen));
    const auto finished = core::finishRecordedSaves();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, folder + "/SCR-a.png");
    EXPECT_EQ(finished[0].facts, kFullScreen);
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-a.png"), picture);
    EXPECT_EQ(kit::files::getXattr(folder + "/SCR-a.png", core::kScreenCaptureAttribute),
              core::screenCaptureMark());
    // Its line holds them now.
    EXPECT_FALSE(kit::files::getXattr(folder + "/SCR-a.png", core::kSaveFactsAttribute));
    // Marked and whole as it is, the hidden file the record does not name is
    // no save of Kadrix's: left as it is.
    EXPECT_EQ(files(), (std::vector<std::string>{fs::path(other).filename().string(), "SCR-a.png"}));
    // The record waits for the line.
    EXPECT_EQ(recordFiles().size(), 1u);
    core::lineSettled(folder + "/SCR-a.png");
    EXPECT_TRUE(recordFiles().empty());
}

TEST_F(CutSaves, ASaveThatWasToReplaceAFileLandsBesideItAndThoseTakenMeanwhile) {
    kit::files::writeAtomic(folder + "/SCR-b.png", "the old version");
    kit::files::writeAtomic(folder + "/SCR-b-2.png", "taken meanwhile");
    leaveCutSave("SCR-b.png", factsText(kFullScreen));
    const auto finished = core::finishRecordedSaves();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, folder + "/SCR-b-3.png");
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-b-3.png"), picture);
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-b.png"), "the old version");
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-b-2.png"), "taken meanwhile");
    EXPECT_EQ(files(), (std::vector<std::string>{"SCR-b-2.png", "SCR-b-3.png", "SCR-b.png"}));
}

TEST_F(CutSaves, FactsGoneOrRefusedGiveTheLineOfAFileFoundAndAreTold) {
    const std::vector<std::optional<std::string>> kept{
        std::nullopt,                                   // a record that kept none
        std::string("{\"mode\":5}"),                    // no text
        std::string("[\"mode\",\"fullscreen\"]"),       // no object
        std::string("{\"timestamp\":\"17000000ab\"}"),  // a time that is no number
        std::string("{}"),
        "{\"mode\":\"fullscreen\",\"labels\":\"" + std::string(8000, 'l') +
            "\"}",  // longer than a save writes
    };
    for (size_t i = 0; i < kept.size(); ++i) leaveCutSave("SCR-c" + std::to_string(i) + ".png", kept[i]);
    testing::internal::CaptureStdout();
    const auto finished = core::finishRecordedSaves();
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_EQ(finished.size(), kept.size());
    for (const auto& save : finished) {
        EXPECT_EQ(save.facts, (core::SaveFacts{{"mode", "file"}})) << save.path;
        EXPECT_EQ(*kit::files::readAll(save.path), picture) << save.path;
    }
    EXPECT_NE(log.find("are left out, they are longer (8"), std::string::npos) << log;
    EXPECT_NE(log.find("are left out, their time is no number"), std::string::npos) << log;
}

// A forged attribute of the facts, longer than a save ever writes, on a save
// an earlier Kadrix's list named: refused, told, and the save finished all
// the same with the line of a file found.
TEST_F(CutSaves, FactsForgedOnAListedSaveAreRefused) {
    if (!keepsAttributes()) GTEST_SKIP() << "the test folder keeps no user attributes";
    const std::string hidden = hiddenOf(folder, "photo.png");
    ASSERT_TRUE(kit::files::writeAtomic(hidden, picture));
    core::Exporter::setXattr(hidden);
    const std::string forged = "{\"mode\":\"fullscreen\",\"labels\":\"" + std::string(3500, 'l') + "\"}";
    if (!kit::files::setXattr(hidden, core::kSaveFactsAttribute, forged))
        GTEST_SKIP() << "the test folder keeps no attribute this long";
    ASSERT_TRUE(kit::files::writeAtomic(kit::files::dataDir() + "/cut-saves.json",
                                        kit::json::dump(kit::Json::array({hidden}))));
    testing::internal::CaptureStdout();
    const auto finished = core::finishRememberedCutSaves();
    const std::string log = testing::internal::GetCapturedStdout();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].facts, (core::SaveFacts{{"mode", "file"}}));
    EXPECT_NE(log.find("the facts kept with " + hidden + " are left out, they are longer"), std::string::npos)
        << log;
}

// Another program's files named as a save's hidden files are, in a folder a
// save of Kadrix's was cut in: none is renamed, filled, removed or changed.
TEST_F(CutSaves, TheStartTouchesNothingItsRecordDoesNotName) {
    auto aged = [](const std::string& path) {
        const struct timespec times[2] = {{std::time(nullptr) - 600, 0}, {std::time(nullptr) - 600, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
    };
    const std::string young = hiddenOf(folder, "young.png"), old = hiddenOf(folder, "old.png"),
                      forged = hiddenOf(folder, "forged.png"), open = hiddenOf(folder, "open.png"),
                      linked = hiddenOf(folder, "linked.png"), partial = hiddenOf(folder, "partial.png");
    for (const auto& path : {young, old, forged, open, partial})
        ASSERT_TRUE(kit::files::writeAtomic(path, path == partial ? picture.substr(0, 40) : picture));
    core::Exporter::setXattr(forged);
    aged(old), aged(partial);
    const kit::Descriptor writing(::open(open.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(writing.get(), LOCK_EX | LOCK_NB), 0);
    // A second link of a file outside the folder, with an attribute of its own.
    const std::string outside = folder + "-outside.png";
    ASSERT_TRUE(kit::files::writeAtomic(outside, picture));
    kit::files::setXattr(outside, "other.tag", "theirs");
    ASSERT_EQ(::link(outside.c_str(), linked.c_str()), 0);
    // An empty file of the user's under the name a save of Kadrix's was to get.
    ASSERT_TRUE(kit::files::claimPath(folder + "/SCR-e.png"));
    const std::string ours = leaveCutSave("SCR-e.png", factsText(kFullScreen));
    // A record naming a second link of a file outside is no longer Kadrix's file.
    record(linked, folder + "/linked.png", std::nullopt);

    const auto before = files();
    const auto finished = core::finishRecordedSaves();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, folder + "/SCR-e-2.png");
    EXPECT_EQ(kit::files::readAll(folder + "/SCR-e.png"), "") << "the user's empty file was filled";
    auto after = files();
    std::erase(after, std::string("SCR-e-2.png"));
    auto expected = before;
    std::erase(expected, fs::path(ours).filename().string());
    EXPECT_EQ(after, expected);
    for (const auto& path : {young, old, forged, open, linked})
        EXPECT_EQ(kit::files::readAll(path), picture) << path;
    EXPECT_EQ(kit::files::readAll(partial), picture.substr(0, 40));
    EXPECT_EQ(kit::files::getXattr(linked, core::kScreenCaptureAttribute), std::nullopt);
    if (keepsAttributes()) {
        EXPECT_EQ(kit::files::getXattr(outside, "other.tag"), "theirs");
    }
    fs::remove(outside);
}

// What a save of Kadrix's left and the record names: a picture cut off
// before its end is removed, with its own claim of the name, and a claim
// the record knows is filled; a save named whose line was owed comes back
// for its line.
TEST_F(CutSaves, TheStartCleansUpAndFillsOnlyWhatIsKadrixsOwn) {
    const std::string cut = hiddenOf(folder, "SCR-p.png");
    ASSERT_TRUE(kit::files::writeAtomic(cut, picture.substr(0, 40)));
    ASSERT_TRUE(kit::files::claimPath(folder + "/SCR-p.png"));
    struct stat claim {};
    ::lstat((folder + "/SCR-p.png").c_str(), &claim);
    const std::string claimText =
        ",\"claim\":[" + std::to_string(claim.st_dev) + "," + std::to_string(claim.st_ino) + "]";
    record(cut, folder + "/SCR-p.png", factsText(kFullScreen), claimText);

    const std::string whole = hiddenOf(folder, "SCR-q.png");
    ASSERT_TRUE(kit::files::writeAtomic(whole, picture));
    ASSERT_TRUE(kit::files::claimPath(folder + "/SCR-q.png"));
    ::lstat((folder + "/SCR-q.png").c_str(), &claim);
    record(whole, folder + "/SCR-q.png", factsText(kFullScreen),
           ",\"claim\":[" + std::to_string(claim.st_dev) + "," + std::to_string(claim.st_ino) + "]");

    ASSERT_TRUE(kit::files::writeAtomic(folder + "/SCR-n.png", picture));
    record("", folder + "/SCR-n.png", factsText(kFullScreen));
    record("", folder + "/SCR-gone.png", factsText(kFullScreen));

    const auto finished = core::finishRecordedSaves();
    std::vector<std::string> paths;
    for (const auto& save : finished) paths.push_back(save.path);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{folder + "/SCR-n.png", folder + "/SCR-q.png"}));
    EXPECT_EQ(files(), (std::vector<std::string>{"SCR-n.png", "SCR-q.png"}));
    EXPECT_EQ(kit::files::readAll(folder + "/SCR-q.png"), picture);
    // Two lines owed; their records go as each is written.
    EXPECT_EQ(recordFiles().size(), 2u);
    core::lineSettled(folder + "/SCR-n.png");
    core::lineSettled(folder + "/SCR-q.png");
    EXPECT_TRUE(recordFiles().empty());
}

// A record that is not as a save writes it: told in the log, kept as it is,
// and the file it may name untouched.
TEST_F(CutSaves, ADamagedRecordIsToldAndKept) {
    const std::string hidden = hiddenOf(folder, "SCR-d.png");
    ASSERT_TRUE(kit::files::writeAtomic(hidden, picture));
    const std::vector<std::string> damaged{
        "{\"owner\":\"" + kEnded + "\",\"path\":\"" + folder + "/SCR-d.png\"",  // cut short
        "{\"owner\":\"2-other\",\"path\":\"" + folder + "/SCR-d.png\",\"temporary\":\"" + hidden + "\"}",
        "{\"owner\":\"" + kEnded + "\",\"path\":\"SCR-d.png\",\"temporary\":\"" + hidden + "\"}",
        "{\"owner\":\"" + kEnded + "\",\"path\":\"/elsewhere/SCR-d.png\",\"temporary\":\"" + hidden + "\"}",
        "{\"owner\":\"" + kEnded + "\",\"path\":\"" + folder + "/SCR-d.png\",\"temporary\":\"" + hidden +
            "\",\"claim\":\"x\"}",
        std::string(20000, ' ') + "{}",
    };
    std::vector<std::string> written;
    for (size_t i = 0; i < damaged.size(); ++i) {
        written.push_back(records + "/" + kEnded + "-d" + std::to_string(i) + ".save");
        ASSERT_TRUE(kit::files::writeAtomic(written.back(), damaged[i]));
    }
    testing::internal::CaptureStdout();
    EXPECT_TRUE(core::finishRecordedSaves().empty());
    const std::string log = testing::internal::GetCapturedStdout();
    for (size_t i = 0; i < damaged.size(); ++i) {
        EXPECT_EQ(kit::files::readAll(written[i]), damaged[i]);
        EXPECT_NE(log.find("a record of a save is kept as it is, unread: " + written[i]), std::string::npos)
            << log;
    }
    EXPECT_EQ(kit::files::readAll(hidden), picture);
    EXPECT_EQ(files(), std::vector<std::string>{fs::path(hidden).filename().string()});
}

// The saves of a Kadrix that still runs, this one or another, are its own.
TEST_F(CutSaves, TheRecordsOfAKadrixStillRunningAreLeftToIt) {
    core::SaveJournal journal(factsText(kFullScreen), false);
    const std::string mine = hiddenOf(folder, "SCR-m.png");
    ASSERT_TRUE(journal.beginning(mine, folder + "/SCR-m.png", nullptr));
    ASSERT_TRUE(kit::files::writeAtomic(mine, picture));
    const std::string theirs = hiddenOf(folder, "SCR-t.png");
    ASSERT_TRUE(kit::files::writeAtomic(theirs, picture));
    const std::string live = "3-live";
    ASSERT_TRUE(kit::files::writeAtomic(records + "/" + live + "-r.save",
                                        "{\"owner\":\"" + live + "\",\"path\":\"" + folder +
                                            "/SCR-t.png\",\"temporary\":\"" + theirs + "\"}"));
    const kit::Descriptor running(
        ::open((records + "/" + live + ".owner").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    ASSERT_EQ(::flock(running.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_TRUE(core::finishRecordedSaves().empty());
    EXPECT_EQ(kit::files::readAll(mine), picture);
    EXPECT_EQ(kit::files::readAll(theirs), picture);
    EXPECT_EQ(recordFiles().size(), 2u);
    // Given up, its record goes.
    ::unlink(mine.c_str());
    journal.ended(mine, nullptr);
    EXPECT_EQ(recordFiles(), std::vector<std::string>{live + "-r.save"});
}

TEST(SaveFacts, TheyKeepToWhatAFileSystemKeepsBesideAFile) {
    core::SaveFacts facts = kFullScreen;
    facts["autoName"] = "SCR-a";
    facts["autoFolder"] = "/home/someone/shots";
    facts["app"] = "Editor";
    auto json = kit::json::parse(core::saveFactsAttributeValue(facts));
    ASSERT_TRUE(json);
    // Where the save went is no fact of the screenshot.
    EXPECT_FALSE(json->contains("autoName"));
    EXPECT_FALSE(json->contains("autoFolder"));
    EXPECT_EQ(json->value("app", ""), "Editor");
    // Long texts are left out first, the mode and the time never.
    facts["labels"] = std::string(10000, 'l');
    facts["window"] = std::string(2000, 'w');
    const std::string bounded = core::saveFactsAttributeValue(facts);
    EXPECT_LE(bounded.size(), 3072u);
    json = kit::json::parse(bounded);
    ASSERT_TRUE(json);
    EXPECT_FALSE(json->contains("labels"));
    EXPECT_EQ(json->value("window", ""), std::string(2000, 'w'));
    EXPECT_EQ(json->value("mode", ""), "fullscreen");
    EXPECT_EQ(json->value("timestamp", ""), "1700000000");
}

TEST_F(CutSaves, ASaveThatEndsKeepsTheMarkAndNotTheFacts) {
    settings->storeString("saveFormat", "PNG");
    settings->storeBool("autosaveOverwrite", true);
    host.image = solid(30, 20, red);
    host.meta = {{"mode", "fullscreen"}, {"timestamp", "1700000000"}};
    auto first = exporter->saveToFolder(folder);
    ASSERT_TRUE(first);
    host.image = solid(30, 20, blue);
    auto over = exporter->saveToFolder(folder);  // over its own file
    ASSERT_TRUE(over);
    EXPECT_EQ(*over.path, *first.path);
    EXPECT_EQ(kit::ImageIO::read(*over.path).pixel(0, 0), (kit::PixelBGRA{255, 0, 0, 255}));
    EXPECT_EQ(files(), std::vector<std::string>{fs::path(*first.path).filename().string()});
    if (!keepsAttributes()) return;
    EXPECT_EQ(kit::files::getXattr(*over.path, core::kScreenCaptureAttribute), core::screenCaptureMark());
    EXPECT_FALSE(kit::files::getXattr(*over.path, core::kSaveFactsAttribute));
}

// A save an earlier Kadrix's way out listed (before the record was kept):
// the next start finishes it, and only it, there; one in a folder not there
// now stays listed.
TEST_F(CutSaves, TheStartFinishesTheSavesAnEarlierWayOutListed) {
    const std::string pictures = folder + "/pictures", gone = folder + "/unmounted";
    kit::files::makeDirs(pictures);
    kit::files::writeAtomic(pictures + "/photo.png", "the old version");
    const std::string told = hiddenOf(pictures, "photo.png");
    const std::string other = hiddenOf(pictures, "other.png");
    for (const auto& path : {told, other}) {
        ASSERT_TRUE(kit::files::writeAtomic(path, picture));
        core::Exporter::setXattr(path);
    }
    const std::string list = kit::files::dataDir() + "/cut-saves.json";
    const std::string away = gone + "/.shot.png.new-away0001";
    ASSERT_TRUE(kit::files::writeAtomic(list, kit::json::dump(kit::Json::array({told, away, "relative"}))));
    const auto finished = core::finishRememberedCutSaves();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, pictures + "/photo-2.png");
    EXPECT_EQ(*kit::files::readAll(pictures + "/photo-2.png"), picture);
    EXPECT_EQ(*kit::files::readAll(pictures + "/photo.png"), "the old version");
    EXPECT_TRUE(fs::exists(other)) << "a hidden file the way out did not tell of";
    EXPECT_FALSE(fs::exists(told));
    EXPECT_EQ(kit::files::readAll(list), kit::json::dump(kit::Json::array({away})));
    // Once it is no longer there, it is no longer listed.
    kit::files::writeAtomic(list, kit::json::dump(kit::Json::array({told})));
    EXPECT_TRUE(core::finishRememberedCutSaves().empty());
    EXPECT_FALSE(fs::exists(list));
}
