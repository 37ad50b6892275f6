// Saves cut short by the end of the process: the hidden file a save leaves
// carries the facts of its library line, and the next start finishes it
// beside whatever holds its name by then, with those facts or, when they
// are gone or damaged, those of a file found in the folder.
#include <sys/xattr.h>

#include <cstdio>
#include <filesystem>

#include "core/CutSaves.h"
#include "core/ExportFixture.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

namespace {

namespace fs = std::filesystem;

const core::SaveFacts kFullScreen{{"mode", "fullscreen"}, {"timestamp", "1700000000"}, {"dpr", "2.0"}};

class CutSaves : public ExportFixture {
protected:
    void SetUp() override {
        ExportFixture::SetUp();
        kit::files::makeDirs(folder);
        const auto png = kit::ImageIO::encodePNG(solid(16, 12, red));
        picture.assign(png.begin(), png.end());
    }
    bool keepsAttributes() const { return kit::files::keepsXattrs(folder); }
    // What a save cut at its naming leaves: the whole picture under the hidden
    // name, marked, with `facts` (raw) unless none.
    std::string leaveCutSave(const std::string& name, const std::optional<std::string>& facts) {
        char token[9];
        std::snprintf(token, sizeof token, "abcd%04d", serial++);
        return leaveCutSaveIn(folder, name, facts, token);
    }
    std::string leaveCutSaveIn(const std::string& where, const std::string& name,
                               const std::optional<std::string>& facts, const std::string& token) {
        const std::string hidden = where + "/." + name + ".new-" + token;
        EXPECT_TRUE(kit::files::writeAtomic(hidden, picture));
        core::Exporter::setXattr(hidden);
        if (facts) kit::files::setXattr(hidden, core::kSaveFactsAttribute, *facts);
        return hidden;
    }
    std::string picture;
    int serial = 0;
};

}  // namespace

TEST_F(CutSaves, AFinishedSaveComesBackWithTheFactsItCarried) {
    if (!keepsAttributes()) GTEST_SKIP() << "the test folder keeps no user attributes";
    leaveCutSave("SCR-a.png", core::saveFactsAttributeValue(kFullScreen));
    const auto finished = core::finishCutSaves(folder);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, folder + "/SCR-a.png");
    EXPECT_EQ(finished[0].facts, kFullScreen);
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-a.png"), picture);
    EXPECT_EQ(kit::files::getXattr(folder + "/SCR-a.png", core::kScreenCaptureAttribute),
              core::screenCaptureMark());
    // Its line holds them now.
    EXPECT_FALSE(kit::files::getXattr(folder + "/SCR-a.png", core::kSaveFactsAttribute));
    EXPECT_EQ(files(), std::vector<std::string>{"SCR-a.png"});
}

TEST_F(CutSaves, ASaveThatWasToReplaceAFileLandsBesideItAndThoseTakenMeanwhile) {
    kit::files::writeAtomic(folder + "/SCR-b.png", "the old version");
    kit::files::writeAtomic(folder + "/SCR-b-2.png", "taken meanwhile");
    leaveCutSave("SCR-b.png", core::saveFactsAttributeValue(kFullScreen));
    const auto finished = core::finishCutSaves(folder);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, folder + "/SCR-b-3.png");
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-b-3.png"), picture);
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-b.png"), "the old version");
    EXPECT_EQ(*kit::files::readAll(folder + "/SCR-b-2.png"), "taken meanwhile");
    EXPECT_EQ(files(), (std::vector<std::string>{"SCR-b-2.png", "SCR-b-3.png", "SCR-b.png"}));
}

TEST_F(CutSaves, FactsGoneOrDamagedGiveTheLineOfAFileFound) {
    if (!keepsAttributes()) GTEST_SKIP() << "the test folder keeps no user attributes";
    const std::vector<std::optional<std::string>> kept{
        std::nullopt,                                   // an older save, or a copy that lost them
        std::string("{\"mode\":\"fullscreen\""),        // cut short
        std::string("{\"mode\":5}"),                    // no text
        std::string("[\"mode\",\"fullscreen\"]"),       // no object
        std::string("{\"timestamp\":\"17000000ab\"}"),  // a time that is no number
        std::string("{}"),
        std::string(4000, '{'),
    };
    for (size_t i = 0; i < kept.size(); ++i) leaveCutSave("SCR-c" + std::to_string(i) + ".png", kept[i]);
    const auto finished = core::finishCutSaves(folder);
    ASSERT_EQ(finished.size(), kept.size());
    for (const auto& save : finished) {
        EXPECT_EQ(save.facts, (core::SaveFacts{{"mode", "file"}})) << save.path;
        EXPECT_EQ(*kit::files::readAll(save.path), picture) << save.path;
    }
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

// A save the way out told of in a folder a start does not look through of
// itself (a Save As beside a picture opened from a file): the next start
// finishes it, and only it, there; one in a folder not there now waits.
TEST_F(CutSaves, TheStartFindsTheSavesTheWayOutToldOfElsewhere) {
    const std::string pictures = folder + "/pictures", gone = folder + "/unmounted";
    kit::files::makeDirs(pictures);
    kit::files::writeAtomic(pictures + "/photo.png", "the old version");
    const std::string told = leaveCutSaveIn(pictures, "photo.png", std::nullopt, "told0001");
    const std::string other = leaveCutSaveIn(pictures, "other.png", std::nullopt, "else0001");
    const std::string list = kit::files::dataDir() + "/cut-saves.json";
    const std::string away = gone + "/.shot.png.new-away0001";
    ASSERT_TRUE(kit::files::writeAtomic(list, kit::json::dump(kit::Json::array({told, away, "relative"}))));
    // The save folder is looked through whole anyway.
    const auto finished = core::finishRememberedCutSaves(folder);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].path, pictures + "/photo-2.png");
    EXPECT_EQ(*kit::files::readAll(pictures + "/photo-2.png"), picture);
    EXPECT_EQ(*kit::files::readAll(pictures + "/photo.png"), "the old version");
    EXPECT_TRUE(fs::exists(other)) << "a hidden file the way out did not tell of";
    EXPECT_FALSE(fs::exists(told));
    EXPECT_EQ(kit::files::readAll(list), kit::json::dump(kit::Json::array({away})));
    // Once it is no longer there, it is no longer remembered.
    kit::files::writeAtomic(list, kit::json::dump(kit::Json::array({told})));
    EXPECT_TRUE(core::finishRememberedCutSaves(folder).empty());
    EXPECT_FALSE(fs::exists(list));
}
