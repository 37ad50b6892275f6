// The indexer: the folder walk and its queue, single files with their capture
// facts, the progress texts, domains, and recognition of rendered text.
#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "LibraryFixture.h"
#include "core/Exporter.h"
#include "kit/base/Files.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/image/ImageIO.h"
#include "library/DataLayer.h"
#include "library/IndexMachine.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"
#include "support/EventLoopWait.h"
#include "support/PeakMemory.h"
#include "support/ScopedEnv.h"
#include "support/TestData.h"

using library::IndexMachine;
using library::ScreenLib;

namespace {

// No recognition data where the engine looks, for the scope's life: no
// recogniser can start.
class NoRecognitionData {
public:
    explicit NoRecognitionData(const std::string& scratch)
        : empty_(scratch + "/no-data"),
          made_(std::filesystem::create_directories(empty_)),
          data_("TESSDATA_PREFIX", empty_) {}
    NoRecognitionData(const NoRecognitionData&) = delete;
    NoRecognitionData& operator=(const NoRecognitionData&) = delete;

private:
    std::string empty_;
    bool made_;
    testsupport::ScopedEnv data_;
};

class Indexer : public LibraryFolderFixture {
protected:
    void SetUp() override {
        LibraryFolderFixture::SetUp();
        lib = std::make_unique<ScreenLib>(folder);
        lib->loadNow();
    }
    void TearDown() override {
        lib.reset();
        LibraryFolderFixture::TearDown();
    }
    // A small picture file: text drawn in black on white when given.
    std::string picture(const std::string& name, const QString& text = {}, int w = 64, int h = 48) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(Qt::white);
        if (!text.isEmpty()) {
            QPainter p(&img);
            QFont f("DejaVu Sans Mono");
            f.setPixelSize(28);
            p.setFont(f);
            p.setPen(Qt::black);
            p.drawText(QRect(20, 0, w - 20, h), Qt::AlignVCenter | Qt::AlignLeft, text);
        }
        std::string path = folder + "/" + name;
        img.save(QString::fromStdString(path), name.ends_with(".png") ? "PNG" : "JPG");
        return path;
    }
    std::vector<std::string> queuedNames() {
        std::vector<std::string> out;
        for (auto& p : lib->indexMachine->queue()) out.push_back(p.substr(p.find_last_of('/') + 1));
        return out;
    }
    std::unique_ptr<ScreenLib> lib;
};

}  // namespace

TEST_F(Indexer, TheWalkQueuesScreenshotImagesNewestNameFirst) {
    picture("SCR-20240101-baaa.png");
    picture("SCR-20240301-baaa.png");
    picture("Photo.PNG");
    picture("holiday.jpg");
    std::string marked = picture("marked.jpeg");
    kit::files::setXattr(marked, core::kScreenCaptureAttribute, "");
    std::ofstream(folder + "/a.gif") << "x";
    std::ofstream(folder + "/SCR-a.png.txt") << "x";
    std::filesystem::create_directories(folder + "/SCR-folder.png");
    services::Settings::shared().setLibIndexNonshots(false);
    lib->indexMachine->walk(false, {});
    auto names = queuedNames();
    bool xattrs = kit::files::getXattr(marked, core::kScreenCaptureAttribute).has_value();
    std::vector<std::string> expected{"SCR-20240301-baaa.png", "SCR-20240101-baaa.png"};
    if (xattrs)
        expected.insert(expected.begin(),
                        "marked.jpeg");  // by name, descending; tmpfs keeps no user attributes
    EXPECT_EQ(names, expected);

    services::Settings::shared().setLibIndexNonshots(true);
    lib->indexMachine->walk(false, {});
    EXPECT_EQ(queuedNames().size(), 5u);  // Photo.PNG and holiday.jpg too, never the gif, txt or folder
    services::Settings::shared().setLibIndexNonshots(false);
}

TEST_F(Indexer, CompleteRecordsStayOutAndTheLimitLeavesRoomForTheRest) {
    services::Settings::shared().setLibAllowOCR(true);
    picture("SCR-1.png");
    picture("SCR-2.png");
    picture("SCR-3.png");
    auto add = [&](const char* name, const char* colors, const char* ocr) {
        lib->addOrUpdate(std::make_shared<library::GrabData>(
            library::Record{{"filename", name}, {"colors", colors}, {"ocr", ocr}}));
    };
    add("SCR-1.png", "#FFFFFF", "~");  // done
    add("SCR-2.png", "#FFFFFF", "");   // text still missing
    lib->indexMachine->walk(false, {});
    EXPECT_EQ(queuedNames(), (std::vector<std::string>{"SCR-3.png", "SCR-2.png"}));
    services::Settings::shared().setLibAllowOCR(false);
    lib->indexMachine->walk(false, {});
    EXPECT_EQ(queuedNames(), std::vector<std::string>{"SCR-3.png"});
    services::Settings::shared().setLibAllowOCR(true);

    services::Settings::shared().setLibLimit(3);  // 2 present records leave room for one
    lib->indexMachine->walk(false, {});
    EXPECT_EQ(queuedNames(), std::vector<std::string>{"SCR-3.png"});
    services::Settings::shared().setLibLimit(2);
    lib->indexMachine->walk(false, {});
    EXPECT_TRUE(queuedNames().empty());
}

TEST_F(Indexer, ASavedCaptureKeepsItsFactsAndTime) {
    services::Settings::shared().setLibAllowOCR(false);
    std::string path = picture("SCR-20240105-kvqe.png", {}, 40, 30);
    lib->indexMachine->indexFile(
        path,
        {{"timestamp", "123"}, {"dpr", "2"}, {"mode", "interactive"}, {"app", "Firefox"}, {"ignored", "x"}});
    auto rec = lib->record("SCR-20240105-kvqe.png");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->content.at("ts"), "123");
    EXPECT_EQ(rec->content.at("dpr"), "2.0");
    EXPECT_EQ(rec->content.at("mode"), "interactive");
    EXPECT_EQ(rec->content.at("width"), "40");
    EXPECT_EQ(rec->content.at("height"), "30");
    EXPECT_EQ(rec->content.at("basecolor"), "#FFFFFF");
    EXPECT_EQ(rec->content.at("colors"), "#000000");  // white is no dominant colour: the black stand-in
    EXPECT_FALSE(rec->content.count("ocr"));
    EXPECT_FALSE(rec->content.count("ignored"));
    EXPECT_GT(std::stoll(rec->content.at("bytes")), 0);

    lib->indexMachine->indexFile(path, {{"timestamp", "17e8"}, {"dpr", "x"}});
    EXPECT_EQ(rec->content.at("ts"), "0");
    EXPECT_EQ(rec->content.at("dpr"), "0.0");
    services::Settings::shared().setLibAllowOCR(true);
}

// A file in the save folder built to keep its decoder busy for minutes is
// given up at the decoder's time and recorded nowhere; the next is indexed.
TEST_F(Indexer, AFileItsDecoderGivesUpOnIsNotRecorded) {
    services::Settings::shared().setLibAllowOCR(false);
    const auto limits = kit::ImageIO::decoderLimits();
    kit::ImageIO::setDecoderLimits({1, limits.memoryBytes});
    const std::string busy = folder + "/SCR-20240107-busy.jpg";
    std::filesystem::copy_file(testsupport::testDataPath("repro/jpeg-progressive-4096-60000-scans.jpg"),
                               busy);
    lib->indexMachine->indexFile(busy, {});
    EXPECT_FALSE(lib->record("SCR-20240107-busy.jpg"));
    kit::ImageIO::setDecoderLimits(limits);
    lib->indexMachine->indexFile(picture("SCR-20240107-fine.png"), {});
    EXPECT_TRUE(lib->record("SCR-20240107-fine.png"));
    services::Settings::shared().setLibAllowOCR(true);
}

// 32 KB of 1-bit PNG at the pixel cap is 1 GiB of pixels once decoded.
// Indexing it, and drawing it small as the editor shows it, hold those
// pixels once: the analysis and the drawing add at most 150 MB beside them.
TEST_F(Indexer, APictureAtTheCapIsHeldOnce) {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitizer's own memory and pace are not the program's";
#endif
    const std::string path = folder + "/SCR-20240108-huge.png";
    std::filesystem::copy_file(testsupport::testDataPath("repro/png-1bit-16384sq-valid.png"), path);
    const long long bound = kit::ImageIO::kMaxDecodedPixels * 4 + (150LL << 20);
    EXPECT_LT(testsupport::peakGrowthOf([&] { lib->indexMachine->indexFile(path, {}); }), bound);
    EXPECT_TRUE(lib->record("SCR-20240108-huge.png"));
    EXPECT_LT(testsupport::peakGrowthOf([&] {
                  auto layer = kit::Layer::make();
                  layer->setBounds({0, 0, 1200, 1200});
                  layer->setContents(kit::ImageIO::read(path));
                  EXPECT_EQ(kit::renderToImage(*layer, 1.0).width(), 1200);
              }),
              bound);
}

TEST_F(Indexer, ReindexingAsksForAKnownFileInThisFolder) {
    services::Settings::shared().setLibAllowOCR(false);
    std::string path = picture("SCR-9.png");
    lib->indexMachine->reindexFile(path);  // no record: nothing happens
    EXPECT_FALSE(lib->record("SCR-9.png"));
    lib->indexMachine->indexFile(path, {{"mode", "file"}});
    picture("SCR-9.png", {}, 80, 20);
    lib->indexMachine->reindexFile("/elsewhere/SCR-9.png");
    ASSERT_TRUE(lib->record("SCR-9.png"));
    EXPECT_EQ(lib->record("SCR-9.png")->content.at("width"), "64");
    lib->indexMachine->reindexFile(path);
    ASSERT_TRUE(lib->record("SCR-9.png"));
    EXPECT_EQ(lib->record("SCR-9.png")->content.at("width"), "80");
    services::Settings::shared().setLibAllowOCR(true);
}

TEST(IndexerTexts, RemainingTimeAndDomains) {
    EXPECT_EQ(IndexMachine::etaText(50, 1000, 30), "");
    EXPECT_EQ(IndexMachine::etaText(100, 1000, 60), "9m");
    EXPECT_EQ(IndexMachine::etaText(800, 1000, 100), "25s");
    EXPECT_EQ(IndexMachine::etaText(200, 10000, 7300.0 * 200 / 9800), "2h");  // 7300 s → 7320 → 7200

    EXPECT_EQ(IndexMachine::findDomains("See HTTPS://WWW.Example.COM/path?x=1 now\nand docs.rs"),
              "example.com\ndocs.rs");
    EXPECT_EQ(IndexMachine::findDomains("github.com and github.com"), "github.com\ngithub.com");
    EXPECT_EQ(IndexMachine::findDomains("no address here. really"), "");
    EXPECT_EQ(IndexMachine::findDomains("awww.example.org"), "awww.example.org");
}

TEST_F(Indexer, RecognisedTextAndItsDomainsReachTheRecord) {
    std::string path = picture("SCR-20240105-kvqe.png", "visit kadrix.app today", 640, 64);
    EXPECT_EQ(IndexMachine::ocrWithTimeout(kit::Image(3, 500)), "~");
    lib->indexMachine->indexFile(path, {});
    auto rec = lib->record("SCR-20240105-kvqe.png");
    ASSERT_TRUE(rec);
    EXPECT_NE(rec->content.at("ocr").find("kadrix.app"), std::string::npos) << rec->content.at("ocr");
    EXPECT_EQ(rec->content.at("domains"), "kadrix.app");
    EXPECT_EQ(lib->search("KADRIX").size(), 1u);
}

// A screenshot indexed while no recogniser could start owes its text: no walk
// offers it again while none can, the first walk once one can queues it, and
// the run that reads it keeps how and when it was taken.
TEST_F(Indexer, TextOwedWhileNoRecogniserCanStartIsReadOnceOneCanKeepingTheCapture) {
    services::Settings::shared().setLibAllowOCR(true);
    const std::string name = "SCR-20240106-kvqe.png";
    std::string path = picture(name, "visit kadrix.app today", 640, 64);
    {
        NoRecognitionData none(folder);
        lib->indexMachine->indexFile(path,
                                     {{"mode", "area"}, {"app", "Terminal"}, {"timestamp", "1700000000"}});
        auto rec = lib->record(name);
        ASSERT_TRUE(rec);
        EXPECT_EQ(rec->content.at("ocr"), "") << "not read is not the same as read and found empty";
        EXPECT_FALSE(rec->colors().empty());
        for (int walk = 0; walk < 2; ++walk) {
            lib->indexMachine->walk(false, {});
            EXPECT_TRUE(queuedNames().empty()) << "offered again while no recogniser can start";
            EXPECT_EQ(lib->indexMachine->queuedFiles, 0);
        }
    }
    lib->indexMachine->walk(false, {});
    EXPECT_EQ(queuedNames(), std::vector<std::string>{name});

    std::atomic<bool> ended{false};
    lib->indexMachine->statusUpdate = [&](int, int total, std::string, bool) {
        if (total == 0) ended = true;
    };
    lib->indexMachine->indexQueue();
    ASSERT_TRUE(testsupport::waitFor([&] { return ended.load(); }, 30000));
    EXPECT_EQ(lib->search("KADRIX").size(), 1u);
    lib->loadNow();  // what the store holds
    auto rec = lib->record(name);
    ASSERT_TRUE(rec);
    EXPECT_NE(rec->content.at("ocr").find("kadrix.app"), std::string::npos) << rec->content.at("ocr");
    EXPECT_EQ(rec->content.at("mode"), "area");
    EXPECT_EQ(rec->content.at("ts"), "1700000000");
    EXPECT_EQ(rec->content.at("app"), "Terminal");
    lib->indexMachine->walk(false, {});
    EXPECT_TRUE(queuedNames().empty());
}

TEST_F(Indexer, TheQueueFillsOnlyTheRoomLeftUnderTheLimit) {
    // 9990 records of present files, 50 new screenshots: room for 10, the newest names.
    {
        library::DataLayer store(folder);
        std::string all;
        for (int i = 0; i < 9990; ++i) {
            std::string name = "old-" + std::to_string(i) + ".png";
            std::ofstream(folder + "/" + name) << "x";
            all += store.encodeRec({{"filename", name}, {"colors", "#FFFFFF"}, {"ocr", "~"}});
        }
        store.write(all, false);
    }
    for (int i = 0; i < 50; ++i) std::ofstream(folder + "/SCR-" + std::to_string(1000 + i) + ".png") << "x";
    lib->loadNow();
    ASSERT_EQ(lib->snapshot().size(), 9990u);
    lib->indexMachine->walk(false, {});
    auto names = queuedNames();
    ASSERT_EQ(names.size(), 10u);
    EXPECT_EQ(names.front(), "SCR-1049.png");
    EXPECT_EQ(names.back(), "SCR-1040.png");
    EXPECT_EQ(lib->indexMachine->queuedFiles, 10);
    EXPECT_EQ(lib->indexMachine->availableFiles, 10041);  // every entry of the folder, the database too
}

TEST_F(Indexer, ARunStoresInQueueOrderWhileEverythingElseGoesOn) {
    services::Settings::shared().setLibAllowOCR(false);
    for (int i = 0; i < 24; ++i) picture("SCR-" + std::to_string(100 + i) + ".png", {}, 16 + i, 16);
    std::vector<std::pair<int, int>> progress;
    lib->indexMachine->statusUpdate = [&](int done, int total, std::string, bool) {
        progress.push_back({done, total});
    };
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            lib->search("x");
            lib->calcFilters();
            lib->convertToLibObjects(lib->snapshot());
            lib->record("SCR-110.png");
        }
    });
    std::thread adder([&] {
        for (int i = 0; i < 30; ++i)
            lib->addOrUpdate(std::make_shared<library::GrabData>(
                library::Record{{"filename", "x-" + std::to_string(i) + ".png"}, {"ocr", "x"}, {"ts", "5"}}));
    });
    lib->indexMachine->scan(true);
    // Only a hang's ceiling: under ThreadSanitizer on a loaded machine the run
    // beside the reader's stream of searches takes half a minute.
    EXPECT_TRUE(
        testsupport::waitFor([&] { return !progress.empty() && progress.back().second == 0; }, 120000));
    adder.join();
    // Stored in queue order: newest name first. (Read before the load below:
    // a load sorts the records by time, and the files' times may straddle a
    // second.)
    std::vector<std::string> stored;
    auto storedNames = [&] {
        stored.clear();
        library::DataLayer store(folder);
        store.read();
        for (auto& r : store.records)
            if (r.at("filename").starts_with("SCR-")) stored.push_back(r.at("filename"));
        return stored.size() == 24u;
    };
    // (Not ASSERT: returning here would leave the reader thread running.)
    EXPECT_TRUE(testsupport::waitFor(storedNames, 5000)) << stored.size() << " stored";
    EXPECT_TRUE(std::is_sorted(stored.rbegin(), stored.rend()));
    std::thread loader([&] { lib->loadNow(); });
    lib->indexMachine->walk(false, {});
    loader.join();
    stop = true;
    reader.join();

    // Every file done once, the count rising one by one, the run's end last.
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<int, int>{24, 0}));
    for (size_t i = 0; i + 1 < progress.size(); ++i) EXPECT_EQ(progress[i].first, int(i) + 1);
    // Nothing lost to the load and the walk beside the run.
    EXPECT_TRUE(storedNames()) << stored.size() << " stored";
    EXPECT_EQ(lib->snapshot().size(), 54u);
    ASSERT_TRUE(lib->record("SCR-123.png"));
    EXPECT_EQ(lib->record("SCR-123.png")->content.at("width"), "39");
    services::Settings::shared().setLibAllowOCR(true);
}

TEST_F(Indexer, AStopEndsARunAfterTheFilesInHand) {
    services::Settings::shared().setLibAllowOCR(false);
    for (int i = 0; i < 40; ++i) picture("SCR-" + std::to_string(100 + i) + ".png", {}, 400, 300);
    auto& indexer = *lib->indexMachine;
    std::vector<std::pair<int, int>> progress;
    int storedAtStop = -1;
    indexer.statusUpdate = [&](int done, int total, std::string, bool stop) {
        progress.push_back({done, total});
        if (done == 2 && total > 0 && !stop) {
            storedAtStop = indexer.processedFiles;
            indexer.pleaseStop = true;
        }
    };
    indexer.scan(true);
    ASSERT_TRUE(
        testsupport::waitFor([&] { return !progress.empty() && progress.back().second == 0; }, 30000));
    const int done = progress.back().first;
    // What was stored when the stop came, and at most the one file that was under way.
    ASSERT_GE(storedAtStop, 2);
    EXPECT_GE(done, storedAtStop);
    EXPECT_LE(done, storedAtStop + 1);
    library::DataLayer store(folder);
    store.read();
    EXPECT_EQ(int(store.records.size()), done);  // what was counted was stored
    EXPECT_FALSE(indexer.pleaseStop);
    services::Settings::shared().setLibAllowOCR(true);
}
