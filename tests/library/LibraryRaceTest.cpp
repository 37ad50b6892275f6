// The library under concurrent work: appends landing during whole-file
// rewrites, an indexing run that analyses one file at a time with a bounded
// pool of recognisers, and a folder walk that cannot read the folder.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "LibraryFixture.h"
#include "kit/base/Files.h"
#include "kit/base/Image.h"
#include "kit/image/ImageIO.h"
#include "library/DataLayer.h"
#include "library/IndexMachine.h"
#include "library/LibraryLink.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"
#include "support/EventLoopWait.h"
#include "support/OwnCase.h"

using library::GrabData;
using library::IndexMachine;
using library::Record;
using library::ScreenLib;

namespace {

std::shared_ptr<GrabData> raceEntry(const std::string& name, const std::string& ts) {
    return std::make_shared<GrabData>(Record{{"filename", name}, {"ts", ts}, {"colors", "#102030"}});
}

// Threads of this process now.
size_t processThreadCount() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// An analysis that takes a moment and counts how many run at once.
struct CountingIndexer : IndexMachine {
    using IndexMachine::IndexMachine;
    ~CountingIndexer() override { stopWork(); }
    std::atomic<int> inFlight{0}, most{0}, files{0};
    void analyzeFile(const std::string& path, const std::shared_ptr<GrabData>& rec, bool forced) override {
        int now = ++inFlight;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        IndexMachine::analyzeFile(path, rec, forced);
        ++files;
        --inFlight;
    }
};

class IndexingRun : public LibraryFolderFixture {
protected:
    void SetUp() override {
        LibraryFolderFixture::SetUp();
        services::Settings::shared().setLibAllowOCR(false);
    }
    void TearDown() override {
        services::Settings::shared().setLibAllowOCR(true);
        LibraryFolderFixture::TearDown();
    }
    void pictures(int count) {
        auto png = kit::ImageIO::encodePNG(kit::Image(24, 16));
        for (int i = 0; i < count; ++i)
            std::ofstream(folder + "/SCR-" + std::to_string(100 + i) + ".png", std::ios::binary)
                .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    }
};

}  // namespace

TEST_F(LibraryFolderFixture, AppendsDuringRewritesAllReachTheFile) {
    ScreenLib lib(folder);
    {
        // Enough records that each rewrite takes a while to seal.
        library::DataLayer store(folder);
        std::string all;
        for (int i = 0; i < 3000; ++i)
            all += store.encodeRec({{"filename", "old-" + std::to_string(i) + ".png"}});
        store.write(all, false);
    }
    lib.loadNow();
    std::atomic<bool> adding{true};
    std::thread rewriter([&] {
        while (adding) lib.save();
    });
    for (int i = 0; i < 250; ++i) {
        lib.addOrUpdate(raceEntry("new-" + std::to_string(i) + ".png", std::to_string(i)));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    adding = false;
    rewriter.join();

    ScreenLib again(folder);
    again.loadNow();
    EXPECT_EQ(again.snapshot().size(), 3250u);
    int missing = 0;
    for (int i = 0; i < 250; ++i) missing += !again.record("new-" + std::to_string(i) + ".png");
    EXPECT_EQ(missing, 0);
}

TEST_F(IndexingRun, AnalysesOneFileAtATimeAndStoresEach) {
    pictures(12);
    ScreenLib lib(folder);
    auto counting = std::make_unique<CountingIndexer>(lib);
    CountingIndexer& indexer = *counting;
    lib.indexMachine = std::move(counting);
    lib.loadNow();
    int lastTotal = -1;
    indexer.statusUpdate = [&](int, int total, std::string, bool) { lastTotal = total; };
    indexer.scan(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return lastTotal == 0; }, 20000));
    EXPECT_EQ(indexer.files, 12);
    EXPECT_EQ(indexer.most, 1);
    library::DataLayer store(folder);
    store.read();
    EXPECT_EQ(store.records.size(), 12u);
}

namespace {

// A large picture of text: each recognition of it takes far longer than a
// wait of a few milliseconds.
kit::Image textPage() {
    QImage page(1600, 1200, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        QFont f("DejaVu Sans");
        f.setPixelSize(22);
        p.setFont(f);
        for (int y = 30; y < 1200; y += 34)
            p.drawText(20, y, "The quick brown fox jumps over the lazy dog 0123456789");
    }
    const std::string path = kit::files::uniqueTempPath("kadrix-ocr-pool-", ".png");
    page.save(QString::fromStdString(path));
    kit::Image image = kit::ImageIO::read(path);
    std::filesystem::remove(path);
    return image;
}

}  // namespace

TEST(Recognisers, RecognitionsThatOverrunTheirWaitAddNoMoreThreadsThanThePoolHolds) {
    const kit::Image image = textPage();
    ASSERT_FALSE(image.isNull());
    // One recognition to its end first: what the process starts once (the
    // first recogniser, its engine's helpers) is there before counting.
    IndexMachine::ocrWithTimeout(kit::Image(64, 48));
    const size_t before = processThreadCount();
    for (int i = 0; i < 12; ++i) EXPECT_EQ(IndexMachine::ocrWithTimeout(image, 0.002), "~");
    EXPECT_LE(processThreadCount(), before + size_t(IndexMachine::kRecognisers));
}

// The case below, in a process of its own: it ends with every recogniser
// still reading its page.
TEST(RecognisersAtTheEnd, LeaveThePagesBeingRead) {
    if (!std::getenv("KADRIX_END_WHILE_READING"))
        GTEST_SKIP() << "only run by Recognisers.TheProcessEndsWhileTheyRead";
    const kit::Image image = textPage();
    ASSERT_FALSE(image.isNull());
    // A way out that takes its time, as a durable write of the settings
    // does on a busy disk: whatever the end of the process tears down before
    // this runs, the recognisers meet while it waits.
    const auto slowWayOut = [] { std::this_thread::sleep_for(std::chrono::seconds(1)); };
    std::atexit(slowWayOut);
    std::at_quick_exit(slowWayOut);
    // One recognition to its end first, so the engine and its dictionaries
    // are loaded when the process ends.
    IndexMachine::ocrWithTimeout(kit::Image(64, 48));
    for (int i = 0; i < IndexMachine::kRecognisers; ++i)
        EXPECT_EQ(IndexMachine::ocrWithTimeout(image, 0.002), "~");
}

// The recognisers' threads run to the end of the process, and a process
// that ends while they read must not pull the engine's shared dictionaries
// from under them (a free of memory freed already, seen as a crash at exit
// after every case had passed).
TEST(Recognisers, TheProcessEndsWhileTheyRead) {
    for (int round = 0; round < 2; ++round) {
        testsupport::OwnCase child("RecognisersAtTheEnd.LeaveThePagesBeingRead", "KADRIX_END_WHILE_READING",
                                   "1");
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.wait(), 0) << "round " << round
                                   << ": the process did not end by itself with status 0";
    }
}

TEST_F(IndexingRun, AWalkThatCannotReadTheFolderEndsTheRunAndKeepsTheReason) {
    pictures(2);
    ScreenLib lib(folder);
    auto& indexer = *lib.indexMachine;
    std::vector<int> totals;
    indexer.statusUpdate = [&](int, int total, std::string, bool) { totals.push_back(total); };
    // Not loaded yet: refused, and the run is over at once.
    indexer.scan(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return !totals.empty(); }, 2000));
    EXPECT_EQ(totals, std::vector<int>{0});
    EXPECT_FALSE(indexer.indexInitiated);

    lib.loadNow();
    std::filesystem::rename(folder, folder + "-away");
    totals.clear();
    indexer.scan(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return !totals.empty(); }, 5000));
    EXPECT_EQ(totals, std::vector<int>{0});
    EXPECT_FALSE(indexer.indexInitiated);
    EXPECT_FALSE(indexer.scanInProgress);
    EXPECT_EQ(indexer.walkError(), "No such file or directory");

    // Back again: the next scan indexes, and the reason is gone.
    std::filesystem::rename(folder + "-away", folder);
    totals.clear();
    indexer.scan(true);
    ASSERT_TRUE(testsupport::waitFor([&] { return !totals.empty() && totals.back() == 0; }, 10000));
    EXPECT_EQ(indexer.walkError(), "");
    EXPECT_EQ(lib.snapshot().size(), 2u);
}

// A saved capture is handed to the library to index while the library view
// walks the folder: until its record is written, the walk used to count it
// as a new file and offered to add it ("1 new images found").
TEST_F(IndexingRun, AWalkLeavesASavedFileToTheIndexingItWasHandedTo) {
    struct SlowIndexer : IndexMachine {
        using IndexMachine::IndexMachine;
        ~SlowIndexer() override { stopWork(); }
        void analyzeFile(const std::string& path, const std::shared_ptr<GrabData>& rec,
                         bool forced) override {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            IndexMachine::analyzeFile(path, rec, forced);
        }
    };
    library::LibraryLink& link = library::LibraryLink::shared();
    link.create(folder);
    auto lib = link.library();
    ASSERT_TRUE(lib);
    // The link's own load reads the machine on a worker: it ends first.
    ASSERT_TRUE(testsupport::waitFor([&] { return lib->loaded(); }, 5000));
    lib->indexMachine = std::make_unique<SlowIndexer>(*lib);
    lib->loadNow();
    pictures(1);
    const std::string saved = folder + "/SCR-100.png";

    link.indexSavedFile(saved, {{"mode", "file"}});
    lib->indexMachine->walk(false, {});
    EXPECT_EQ(lib->indexMachine->queuedFiles, 0);
    EXPECT_TRUE(lib->indexMachine->queue().empty());

    // Indexed: the record holds the analysis.
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            auto rec = lib->record("SCR-100.png");
            return rec && !rec->colors().empty();
        },
        5000));
    // And handed back: the file is the walks' again. With the analysis gone
    // from its record, a walk offers it beside a new file; while the indexing
    // still held it, a walk would offer the new file alone.
    lib->addOrUpdate(std::make_shared<GrabData>(Record{{"filename", "SCR-100.png"}, {"colors", ""}}));
    pictures(2);
    const std::vector<std::string> both{folder + "/SCR-101.png", folder + "/SCR-100.png"};
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            lib->indexMachine->walk(false, {});
            return lib->indexMachine->queue() == both;
        },
        5000))
        << "the walk offers " << lib->indexMachine->queue().size() << " file(s)";
}
