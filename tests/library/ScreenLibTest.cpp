// The library model: load, add and merge, de-duplication, presence, delete,
// search and facets, against a private folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "LibraryFixture.h"
#include "kit/base/Files.h"
#include "kit/image/Thumbnails.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"
#include "support/ScopedEnv.h"

using library::Record;
using library::ScreenLib;

namespace {

class Library : public LibraryFolderFixture {
protected:
    void SetUp() override {
        LibraryFolderFixture::SetUp();
        trash.emplace("XDG_DATA_HOME", folder + "/.data");  // the trash lives here
    }
    std::optional<testsupport::ScopedEnv> trash;
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

TEST_F(Library, WritesOwedAtTheEndReachTheFile) {
    ScreenLib lib(folder);
    for (const char* n : {"a.png", "b.png"}) std::ofstream(folder + "/" + n) << "x";
    lib.addOrUpdate(entry({{"filename", "a.png"}}));
    lib.addOrUpdate(entry({{"filename", "b.png"}}));
    lib.deleteFiles({folder + "/a.png"});
    ASSERT_EQ(lines(), 2u) << "a deletion's rewrite waits a moment";
    lib.finishWrites();
    EXPECT_EQ(lines(), 1u) << "the program ending does not wait for that moment";
    ScreenLib kept(folder);
    kept.loadNow();
    ASSERT_EQ(kept.snapshot().size(), 1u);
    EXPECT_EQ(kept.snapshot()[0]->content.at("filename"), "b.png");

    // A line whose append failed, and no change after it.
    const std::string libFolder = folder + "/lib", away = folder + "/lib.away";
    std::filesystem::create_directories(libFolder);
    ScreenLib failing(libFolder);
    failing.warn = [](const std::string&, const std::string&) {};
    failing.loadNow();
    std::filesystem::rename(libFolder, away);
    std::ofstream(libFolder) << "x";  // its name leads to a file: the append fails
    failing.addOrUpdate(entry({{"filename", "c.png"}}));
    std::filesystem::remove(libFolder);
    std::filesystem::rename(away, libFolder);
    failing.finishWrites();
    ScreenLib reader(libFolder);
    reader.loadNow();
    EXPECT_TRUE(reader.record("c.png")) << "the line whose append failed is written at the end";
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
    testsupport::ScopedEnv utc("TZ", "UTC");
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

TEST_F(Library, AFailedWriteIsToldOncePerSpellAndCaughtUpAtTheNextChange) {
    const std::string libFolder = folder + "/lib", away = folder + "/lib.away";
    std::filesystem::create_directories(libFolder);
    // The folder's name leads to a file: nothing is written under it, by root neither.
    auto breakFolder = [&] {
        std::filesystem::rename(libFolder, away);
        std::ofstream(libFolder) << "x";
    };
    auto mendFolder = [&] {
        std::filesystem::remove(libFolder);
        std::filesystem::rename(away, libFolder);
    };
    ScreenLib lib(libFolder);
    std::vector<std::string> notices;
    lib.warn = [&](const std::string&, const std::string& message) { notices.push_back(message); };
    lib.loadNow();
    lib.addOrUpdate(entry({{"filename", "a.png"}}));
    breakFolder();
    lib.addOrUpdate(entry({{"filename", "b.png"}}));                   // an append fails
    lib.addOrUpdate(entry({{"filename", "a.png"}, {"ocr", "text"}}));  // a rewrite fails
    lib.addOrUpdate(entry({{"filename", "c.png"}}));
    lib.loadNow();  // a reload keeps what the file is behind on
    EXPECT_EQ(lib.snapshot().size(), 3u);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(libFolder), std::string::npos) << notices[0];
    EXPECT_NE(notices[0].find("Not a directory"), std::string::npos) << notices[0];

    mendFolder();
    lib.addOrUpdate(entry({{"filename", "d.png"}}));  // the next change writes all that is missing
    {
        ScreenLib reader(libFolder);
        reader.loadNow();
        EXPECT_EQ(reader.snapshot().size(), 4u);
        ASSERT_TRUE(reader.contentOf("a.png"));
        EXPECT_EQ(reader.contentOf("a.png")->count("ocr"), 1u);
    }
    EXPECT_EQ(notices.size(), 1u);
    breakFolder();
    lib.addOrUpdate(entry({{"filename", "e.png"}}));
    EXPECT_EQ(notices.size(), 2u) << "a new spell is told again";
    mendFolder();
}

TEST_F(Library, AFileIndexedAgainWhileItsSealedLineWasUnreadableKeepsItsCaptureDetails) {
    const std::string db = folder + "/imagelib.kxdb";
    // Captured and sealed.
    library::DataLayer store(folder);
    const Record captured = {{"filename", "a.png"},    {"ts", "10"},        {"ocr", "invoice kadrix.app"},
                             {"mode", "window"},       {"app", "Terminal"}, {"objects", "ar"},
                             {"domains", "kadrix.app"}};
    ASSERT_TRUE(store.write(store.encodeRec(captured), true));
    // Then a session that could not open sealed lines (libcrypto missing
    // reads them as a store of another key does): the file is indexed again
    // as a plain record, and a rewrite puts it before the line it kept
    // unread.
    library::DataLayer blind(folder, "a key that opens nothing here");
    ASSERT_TRUE(blind.read());
    EXPECT_TRUE(blind.records.empty());
    ASSERT_TRUE(
        blind.write(R"({"filename":"a.png","mode":"file","ocr":"~","domains":"","ts":"11","width":"640"})"
                    "\n",
                    false));
    EXPECT_EQ(lines(), 2u);

    // Sealed lines open again: one entry, with the capture details.
    ScreenLib lib(folder);
    lib.loadNow();
    ASSERT_EQ(lib.snapshot().size(), 1u);
    auto a = lib.record("a.png");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->content.at("mode"), "window");
    EXPECT_EQ(a->content.at("ts"), "10");
    EXPECT_EQ(a->content.at("app"), "Terminal");
    EXPECT_EQ(a->content.at("ocr"), "invoice kadrix.app");
    EXPECT_EQ(a->content.at("domains"), "kadrix.app");
    EXPECT_EQ(lib.search("invoice").size(), 1u);
    EXPECT_EQ(a->content.at("objects"), "ar");
    EXPECT_EQ(a->content.at("width"), "640");
    EXPECT_EQ(a->facetKeys().app, "Terminal");
    EXPECT_EQ(lines(), 1u);
    ScreenLib again(folder);
    again.loadNow();
    ASSERT_TRUE(again.record("a.png"));
    EXPECT_EQ(again.record("a.png")->content, a->content) << "the merged entry is what the file holds";
}

TEST_F(Library, ADatabaseNotReadWholeIsNeverWrittenOver) {
    const std::string db = folder + "/imagelib.kxdb";
    library::DataLayer store(folder);
    const std::string stored = store.encodeRec({{"filename", "old.png"}, {"ocr", "kept"}});
    kit::files::writeAtomic(db, stored);
    // Above the read cap (sparse: it takes no room).
    std::filesystem::resize_file(db, (uintmax_t(1) << 30) + 1);
    ScreenLib lib(folder);
    std::vector<std::string> notices;
    lib.warn = [&](const std::string&, const std::string& message) { notices.push_back(message); };
    lib.loadNow();
    lib.addOrUpdate(entry({{"filename", "new.png"}}));  // appending loses nothing
    lib.addOrUpdate(entry({{"filename", "new.png"}, {"ocr", "x"}}));
    EXPECT_GT(std::filesystem::file_size(db), uintmax_t(1) << 30);
    std::string head(stored.size(), '\0');
    std::ifstream(db).read(head.data(), std::streamsize(head.size()));
    EXPECT_EQ(head, stored);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("too large"), std::string::npos) << notices[0];

    // No regular file: a FIFO takes nothing, and says so.
    std::filesystem::remove(db);
    ASSERT_EQ(mkfifo(db.c_str(), 0600), 0);
    ScreenLib piped(folder);
    piped.warn = lib.warn;
    piped.loadNow();
    piped.addOrUpdate(entry({{"filename", "lost.png"}}));
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[1].find(kit::files::kNotRegularFile), std::string::npos) << notices[1];
    EXPECT_TRUE(std::filesystem::is_fifo(db));
}

TEST_F(Library, ARewriteKeepsTheSealedLinesOfUnchangedEntries) {
    {
        ScreenLib lib(folder);
        for (const char* n : {"a.png", "b.png", "c.png"})
            lib.addOrUpdate(entry({{"filename", n}, {"ts", "1"}}));
    }
    auto fileLines = [&] {
        std::vector<std::string> out;
        std::ifstream in(folder + "/imagelib.kxdb");
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    };
    const auto before = fileLines();
    ScreenLib lib(folder);
    lib.loadNow();
    lib.addOrUpdate(entry({{"filename", "b.png"}, {"ocr", "merged"}}));
    auto after = fileLines();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_NE(after[1], before[1]);
    EXPECT_EQ(after[2], before[2]);
    // A change by the presence check reseals its entry too; the file reads back as the entries stand.
    lib.checkPresence({"a.png", "b.png"});
    after = fileLines();
    EXPECT_NE(after[2], before[2]);
    library::DataLayer reader(folder);
    ASSERT_TRUE(reader.read());
    std::vector<Record> expected;
    for (auto& e : lib.snapshot()) expected.push_back(e->content);
    EXPECT_EQ(reader.records, expected);
    EXPECT_NE(reader.records[2].at("gone"), "0");
}
