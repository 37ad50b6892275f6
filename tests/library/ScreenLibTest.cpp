// The library model: load, add and merge, de-duplication, presence, delete,
// search and facets, against a private folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "LibraryFixture.h"
#include "kit/Files.h"
#include "kit/Thumbnails.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"

using library::Record;
using library::ScreenLib;

namespace {

class Library : public LibraryFolderFixture {
protected:
    void SetUp() override {
        LibraryFolderFixture::SetUp();
        setenv("XDG_DATA_HOME", (folder + "/.data").c_str(), 1);  // the trash lives here
    }
    std::shared_ptr<library::GrabData> entry(Record r) {
        return std::make_shared<library::GrabData>(std::move(r));
    }
    size_t lines() const {
        std::ifstream in(folder + "/imagelib.kxdb");
        return size_t(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
    }
};

}  // namespace

TEST_F(Library, AddAppendsOneLineAndAKnownNameMergesWithFreshCaches) {
    ScreenLib lib(folder);
    lib.addOrUpdate(entry({{"filename", "a.png"}, {"ts", "10"}, {"width", "5"}}));
    lib.addOrUpdate(entry({{"filename", "b.png"}, {"ts", "20"}}));
    EXPECT_EQ(lines(), 2u);
    auto a = lib.record("a.png");
    ASSERT_TRUE(a);
    ASSERT_TRUE(a->libObject());
    EXPECT_EQ(a->libObject()->width, 5);

    lib.addOrUpdate(entry({{"filename", "a.png"}, {"width", "8"}, {"ocr", "hello"}}));
    EXPECT_EQ(a->content.at("ts"), "10");  // kept
    ASSERT_TRUE(a->libObject());
    EXPECT_EQ(a->libObject()->width, 8);  // the merged value shows, not the cached one
    // The merge is in the file as soon as it is made: a reader now sees it.
    ScreenLib again(folder);
    again.loadNow();
    ASSERT_TRUE(again.record("a.png"));
    EXPECT_EQ(again.record("a.png")->content.at("ocr"), "hello");
    EXPECT_EQ(lines(), 2u);
}

TEST_F(Library, LoadSortsByTimeAndKeepsNamesThatDifferInCase) {
    {
        ScreenLib lib(folder);
        lib.addOrUpdate(entry({{"filename", "A.png"}, {"ts", "30"}}));
        lib.addOrUpdate(entry({{"filename", "a.png"}, {"ts", "10"}}));
        lib.addOrUpdate(entry({{"filename", "c.png"}, {"ts", "20"}}));
    }
    // A second line for a name already there (an older program's append).
    std::ofstream(folder + "/imagelib.kxdb", std::ios::app) << R"({"filename":"c.png","ts":"99"})"
                                                            << "\n";
    ScreenLib lib(folder);
    lib.loadNow();
    auto all = lib.snapshot();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]->content.at("filename"), "a.png");
    EXPECT_EQ(all[1]->content.at("filename"), "c.png");
    EXPECT_EQ(all[1]->ts(), 20);  // the first line of a name wins
    EXPECT_EQ(all[2]->content.at("filename"), "A.png");
    EXPECT_EQ(lines(), 3u);  // the duplicate was written out
}

TEST_F(Library, SwitchedOffNothingLoadsOrIsWritten) {
    services::Settings::shared().setLibEnabled(false);
    ScreenLib lib(folder);
    bool started = false;
    lib.onLoadStart = [&] { started = true; };
    lib.load();
    lib.addOrUpdate(entry({{"filename", "a.png"}}));
    EXPECT_FALSE(started);
    EXPECT_FALSE(kit::files::exists(folder + "/imagelib.kxdb"));
}

TEST_F(Library, PresenceMarksBringsBackAndForgetsAfterThirtyDays) {
    ScreenLib lib(folder);
    double now = 1'000'000;
    lib.now = [&] { return now; };
    lib.addOrUpdate(entry({{"filename", "a.png"}}));
    lib.addOrUpdate(entry({{"filename", "b.png"}}));
    EXPECT_TRUE(lib.checkPresence({"b.png"}));
    ASSERT_TRUE(lib.record("a.png"));
    EXPECT_EQ(lib.record("a.png")->gone(), 1'000'000);
    EXPECT_FALSE(lib.checkPresence({"b.png"}));  // nothing new

    now += 2'592'000;  // exactly 30 days: kept
    EXPECT_FALSE(lib.checkPresence({"b.png"}));
    EXPECT_TRUE(lib.record("a.png"));
    now += 1;
    EXPECT_FALSE(lib.checkPresence({"b.png"}));  // a removal alone flips nothing
    EXPECT_FALSE(lib.record("a.png"));
    EXPECT_EQ(lines(), 1u);

    EXPECT_TRUE(lib.checkPresence({}));
    EXPECT_TRUE(lib.checkPresence({"b.png"}));
    ASSERT_TRUE(lib.record("b.png"));
    EXPECT_EQ(lib.record("b.png")->gone(), 0);

    // A walk of a folder the library has since left marks nothing here.
    EXPECT_FALSE(lib.checkPresence({}, folder + "/old"));
    ASSERT_TRUE(lib.record("b.png"));
    EXPECT_EQ(lib.record("b.png")->gone(), 0);
    EXPECT_TRUE(lib.checkPresence({}, folder));
}

TEST_F(Library, DeleteMovesKnownFilesToTheTrashOnly) {
    ScreenLib lib(folder);
    for (const char* n : {"a.png", "b.png", "stranger.png"}) std::ofstream(folder + "/" + n) << "x";
    lib.addOrUpdate(entry({{"filename", "a.png"}}));
    lib.addOrUpdate(entry({{"filename", "b.png"}}));
    // Thumbnails on disk, as the gallery left them.
    namespace th = kit::thumbnails;
    const std::string thumbA = th::pathFor(th::defaultRoot(), th::Flavor::Normal, folder + "/a.png");
    const std::string thumbStranger =
        th::pathFor(th::defaultRoot(), th::Flavor::Normal, folder + "/stranger.png");
    for (auto& t : {thumbA, thumbStranger}) {
        std::filesystem::create_directories(std::filesystem::path(t).parent_path());
        std::ofstream(t) << "png";
    }
    lib.deleteFiles({folder + "/a.png", folder + "/b.png", folder + "/stranger.png"});
    EXPECT_FALSE(kit::files::exists(thumbA)) << "a trashed file's thumbnail goes too";
    EXPECT_TRUE(kit::files::exists(thumbStranger));
    EXPECT_FALSE(kit::files::exists(folder + "/a.png"));
    EXPECT_FALSE(kit::files::exists(folder + "/b.png"));
    EXPECT_TRUE(kit::files::exists(folder + "/stranger.png"));
    bool inTrash = kit::files::exists(folder + "/.data/Trash/files/a.png");
    const std::string volumeTrash = "/tmp/.Trash-" + std::to_string(getuid());
    if (std::filesystem::exists(volumeTrash))
        for (auto& p : std::filesystem::recursive_directory_iterator(volumeTrash))
            inTrash = inTrash || p.path().filename() == "a.png";
    EXPECT_TRUE(inTrash) << "the file went to a trash, not away";
    EXPECT_FALSE(kit::files::exists("files/a.png"));
    EXPECT_TRUE(lib.snapshot().empty());
}

TEST_F(Library, SearchLooksAtTheNewestEntriesInAnyCase) {
    ScreenLib lib(folder);
    library::setLibFolderText(folder);
    lib.addOrUpdate(entry({{"filename", "old.png"}, {"ts", "1"}, {"ocr", "Invoice 2023"}}));
    lib.addOrUpdate(entry({{"filename", "mid.png"}, {"ts", "5"}, {"ocr", "nothing here"}}));
    lib.addOrUpdate(entry({{"filename", "new.png"}, {"ts", "9"}, {"ocr", "INVOICE total"}}));
    lib.addOrUpdate(entry({{"filename", "same.png"}, {"ts", "9"}, {"ocr", "invoice again"}}));
    auto hits = lib.search("invoice");
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0].path, folder + "/same.png");  // equal times: the later entry first
    EXPECT_EQ(hits[1].path, folder + "/new.png");
    EXPECT_EQ(hits[2].path, folder + "/old.png");
    EXPECT_TRUE(lib.search("").empty());

    services::Settings::shared().setLibLimit(2);
    EXPECT_EQ(lib.search("invoice").size(), 2u);  // the old one is beyond the limit
    services::Settings::shared().setLibLimit(-5);
    EXPECT_TRUE(lib.search("invoice").empty());
}

TEST_F(Library, FacetsCountEveryValueAndMonthsReadInEnglish) {
    setenv("TZ", "UTC", 1);
    tzset();
    ScreenLib lib(folder);
    lib.addOrUpdate(entry({{"filename", "a"},
                           {"ts", "1703980800"},
                           {"objects", "AAT"},
                           {"mode", "interactive"},
                           {"domains", "github.com\nexample.org"}}));  // 2023-12-31
    lib.addOrUpdate(entry({{"filename", "b"},
                           {"ts", "1704153600"},
                           {"objects", "A"},
                           {"mode", "interactive"},
                           {"domains", "github.com"},
                           {"app", "Firefox"}}));  // 2024-01-02
    lib.addOrUpdate(entry({{"filename", "c"}, {"ts", "1704240000"}, {"mode", "file"}}));
    auto f = lib.calcFilters();
    ASSERT_EQ(f.months.size(), 2u);
    EXPECT_EQ(f.months[0], (library::LibFacet{2, "January 2024"}));
    EXPECT_EQ(f.months[1], (library::LibFacet{1, "December 2023"}));
    EXPECT_EQ(f.objects[0], (library::LibFacet{2, "A"}));  // a letter counts once per entry
    EXPECT_EQ(f.objects[1], (library::LibFacet{1, "T"}));
    EXPECT_EQ(f.domains[0], (library::LibFacet{2, "github.com"}));
    EXPECT_EQ(f.mode[0], (library::LibFacet{2, "interactive"}));
    EXPECT_EQ(f.app[0], (library::LibFacet{2, ""}));
    unsetenv("TZ");
    tzset();
}

TEST_F(Library, ConcurrentAddsSearchesAndLoadsLoseNothing) {
    ScreenLib lib(folder);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            lib.search("word");
            lib.calcFilters();
            lib.record("5.png");
        }
    });
    std::thread loader([&] {
        for (int i = 0; i < 5 && !stop; ++i) lib.loadNow();
    });
    for (int i = 0; i < 60; ++i)
        lib.addOrUpdate(
            entry({{"filename", std::to_string(i) + ".png"}, {"ts", std::to_string(i)}, {"ocr", "word"}}));
    loader.join();
    stop = true;
    reader.join();
    lib.loadNow();
    EXPECT_EQ(lib.snapshot().size(), 60u);
}
