#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "kit/base/Files.h"
#include "kit/image/Thumbnails.h"
#include "library/ThumbnailCache.h"
#include "services/Settings.h"
#include "support/EventLoopWait.h"
#include "support/PictureFiles.h"
#include "support/ThreadLimit.h"

using library::ThumbnailCache;
namespace th = kit::thumbnails;
namespace fs = std::filesystem;

namespace {

class ThumbnailCacheFixture : public ::testing::Test {
protected:
    void SetUp() override {
        base = kit::files::uniqueTempPath("thumbcache-", "");
        fs::create_directories(base + "/shots");
        root = base + "/thumbnails";
    }
    void TearDown() override { fs::remove_all(base); }

    ThumbnailCache::Options options(int threads = 2, bool paused = false) const {
        return {root, threads, paused};
    }

    std::string shot(const std::string& name, kit::PixelBGRA colour, int w = 640, int h = 400) {
        const std::string path = base + "/shots/" + name;
        testsupport::writePicture(path, w, h, kit::Color::rgb(colour.r, colour.g, colour.b));
        return path;
    }
    static void setTime(const std::string& path, int64_t seconds) { testsupport::setFileTime(path, seconds); }

    // Requests one thumbnail and waits for its callback.
    ThumbnailCache::Result fetch(ThumbnailCache& cache, const std::string& path, int size) {
        std::optional<ThumbnailCache::Result> got;
        cache.request(path, size, 0, [&](const ThumbnailCache::Result& r) { got = r; });
        EXPECT_TRUE(testsupport::waitFor([&] { return got.has_value(); }, 5000, 5));
        return got.value_or(ThumbnailCache::Result{});
    }

    std::string base, root;
    const kit::PixelBGRA red{0, 0, 220, 255}, blue{220, 0, 0, 255}, green{0, 220, 0, 255};
};

}  // namespace

TEST_F(ThumbnailCacheFixture, MakesTheItemSizeOnceAndReadsTheDiskCacheAfterwards) {
    const std::string file = shot("a.png", red);
    setTime(file, 1600000000);
    {
        ThumbnailCache cache(options());
        auto r = fetch(cache, file, 160);
        ASSERT_EQ(r.state, ThumbnailCache::Result::State::Ready);
        EXPECT_EQ(r.image.width(), 160);
        EXPECT_EQ(r.image.height(), 100);
        EXPECT_EQ(r.image.pixel(80, 50), red);
        EXPECT_EQ(cache.cached(file, 160).width(), 160);
        EXPECT_TRUE(cache.cached(file, 96).isNull());  // another size is another entry
    }
    // 160 pixels live in the "large" folder, written for file managers too.
    EXPECT_EQ(th::read(root, th::Flavor::Large, file, 1600000000).state, th::Lookup::State::Fresh);

    // The original's pixels change but its time does not: a new cache (a
    // restart) answers from disk without decoding the file again.
    shot("a.png", blue);
    setTime(file, 1600000000);
    ThumbnailCache restarted(options());
    EXPECT_EQ(fetch(restarted, file, 160).image.pixel(80, 50), red);
    EXPECT_EQ(fetch(restarted, file, 64).image.width(), 64);  // smaller sizes scale the disk copy
}

TEST_F(ThumbnailCacheFixture, ChangedFileTimeMakesTheThumbnailAgain) {
    const std::string file = shot("b.png", red);
    setTime(file, 1600000000);
    {
        ThumbnailCache cache(options());
        EXPECT_EQ(fetch(cache, file, 128).image.pixel(10, 10), red);
    }
    shot("b.png", green);
    setTime(file, 1600000100);
    ThumbnailCache cache(options());
    EXPECT_EQ(fetch(cache, file, 128).image.pixel(10, 10), green);
    EXPECT_EQ(th::read(root, th::Flavor::Normal, file, 1600000100).state, th::Lookup::State::Fresh);
}

TEST_F(ThumbnailCacheFixture, CountLimitEvictsTheLeastRecentlyUsed) {
    ThumbnailCache cache(options());
    const std::string a = shot("a.png", red), b = shot("b.png", green), c = shot("c.png", blue);
    cache.setCountLimit(2);
    fetch(cache, a, 64);
    fetch(cache, b, 64);
    EXPECT_FALSE(cache.cached(a, 64).isNull());  // a is now the most recent
    fetch(cache, c, 64);
    EXPECT_EQ(cache.count(), 2u);
    EXPECT_FALSE(cache.cached(a, 64).isNull());
    EXPECT_TRUE(cache.cached(b, 64).isNull());
    EXPECT_FALSE(cache.cached(c, 64).isNull());

    cache.setCountLimit(1);  // lowering trims at once
    EXPECT_EQ(cache.count(), 1u);
    EXPECT_FALSE(cache.cached(c, 64).isNull());

    cache.setCountLimit(-5);  // no limit, never a failure
    fetch(cache, a, 32);
    fetch(cache, b, 32);
    EXPECT_EQ(cache.count(), 3u);
}

TEST_F(ThumbnailCacheFixture, RemoveForgetsMemoryAndDisk) {
    ThumbnailCache cache(options());
    const std::string file = shot("r.png", red), other = shot("o.png", blue);
    fetch(cache, file, 64);
    fetch(cache, file, 300);
    fetch(cache, other, 64);
    ASSERT_TRUE(fs::exists(th::pathFor(root, th::Flavor::XLarge, file)));
    cache.remove(file);
    EXPECT_TRUE(cache.cached(file, 64).isNull());
    EXPECT_TRUE(cache.cached(file, 300).isNull());
    EXPECT_FALSE(cache.cached(other, 64).isNull());
    EXPECT_FALSE(fs::exists(th::pathFor(root, th::Flavor::Normal, file)));
    EXPECT_FALSE(fs::exists(th::pathFor(root, th::Flavor::XLarge, file)));
    EXPECT_TRUE(fs::exists(th::pathFor(root, th::Flavor::Normal, other)));

    // Replaced within the same second (Save As): the new pixels show.
    shot("r.png", green);
    EXPECT_EQ(fetch(cache, file, 64).image.pixel(5, 5), green);
}

TEST_F(ThumbnailCacheFixture, HigherPriorityFirstAndNewestFirstAmongEquals) {
    ThumbnailCache cache(options(1, true));
    std::vector<std::string> order;
    auto ask = [&](const std::string& name, int priority) {
        const std::string path = shot(name, red, 50, 50);
        return cache.request(path, 32, priority,
                             [&order, name](const ThumbnailCache::Result&) { order.push_back(name); });
    };
    ask("old-hidden", 0);
    ask("old-visible", 1);
    const auto dropped = ask("scrolled-away", 1);
    ask("new-visible", 1);
    ask("new-hidden", 0);
    cache.cancel(dropped);
    cache.cancel(dropped);  // twice is harmless
    cache.cancel(9999);     // unknown too
    EXPECT_EQ(cache.pending(), 4u);
    cache.resume();
    // A hang's ceiling: each thumbnail is a decoder started, slow under
    // ThreadSanitizer on a loaded machine.
    ASSERT_TRUE(testsupport::waitFor([&] { return order.size() == 4; }, 60000, 5));
    EXPECT_EQ(order, (std::vector<std::string>{"new-visible", "old-visible", "new-hidden", "old-hidden"}));
    testsupport::spin(50);
    EXPECT_EQ(order.size(), 4u);  // the cancelled one never called back
}

TEST_F(ThumbnailCacheFixture, CancelAfterTheWorkIsDoneStillSilencesTheCallback) {
    ThumbnailCache cache(options());
    const std::string file = shot("x.png", red);
    fetch(cache, file, 64);
    bool called = false;
    // A memory hit still answers later on the main thread, so it can be cancelled.
    auto token = cache.request(file, 64, 0, [&](const ThumbnailCache::Result&) { called = true; });
    cache.cancel(token);
    testsupport::spin(50);
    EXPECT_FALSE(called);
}

namespace {
size_t threadsNow() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/task")) ++n;
    return n;
}
}  // namespace

// Settling makes what waits before it returns and lets the workers go (a
// test changes the environment then); a later request starts them again,
// and what waited while paused is made once resumed.
TEST_F(ThumbnailCacheFixture, SettlingMakesWhatWaitsLetsTheWorkersGoAndARequestBringsThemBack) {
    ThumbnailCache cache(options(2));
    std::vector<std::string> made;
    for (const char* name : {"a.png", "b.png", "c.png"})
        cache.request(shot(name, red, 300, 200), 64, 0, [&made, name](const auto&) { made.push_back(name); });
    const size_t working = threadsNow();
    cache.settle();
    EXPECT_EQ(cache.pending(), 0u) << "what waited was made before it returned";
    EXPECT_LE(threadsNow(), working - 2) << "its two workers still run";
    EXPECT_TRUE(testsupport::waitFor([&] { return made.size() == 3; }, 5000, 5));
    EXPECT_EQ(fetch(cache, shot("d.png", blue), 64).state, ThumbnailCache::Result::State::Ready);

    ThumbnailCache paused(options(1, true));
    bool done = false;
    paused.request(shot("e.png", green), 64, 0, [&](const auto&) { done = true; });
    paused.settle();
    EXPECT_EQ(paused.pending(), 1u) << "a paused cache keeps what waits";
    paused.resume();
    EXPECT_TRUE(testsupport::waitFor([&] { return done; }, 5000, 5));
}

// Where the system gives no thread to make thumbnails on, a request fails at
// once rather than wait for a worker that never comes.
TEST_F(ThumbnailCacheFixture, WithNoThreadToMakeItARequestFailsAtOnce) {
    if (::getuid() != 0) GTEST_SKIP() << "making a user of its own needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string picture = shot("red.png", red);
            if (!testsupport::refuseThreadStarts()) std::_Exit(2);
            ThumbnailCache cache(options());
            const ThumbnailCache::Result r = fetch(cache, picture, 128);
            std::fprintf(stderr, "%s: %s\n",
                         r.state == ThumbnailCache::Result::State::Failed ? "failed" : "ready",
                         r.error.c_str());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "failed: no thread could be started to make it\n$");
}

TEST_F(ThumbnailCacheFixture, BadFilesGiveNoThumbnailAndAFailureMarker) {
    ThumbnailCache cache(options());
    const std::string bad = base + "/shots/bad.png";
    kit::files::writeAtomic(bad, "\x89PNG\r\n\x1a\n cut off here");
    setTime(bad, 1600000000);
    auto r = fetch(cache, bad, 128);
    EXPECT_EQ(r.state, ThumbnailCache::Result::State::Failed);
    EXPECT_TRUE(r.image.isNull());
    EXPECT_FALSE(r.error.empty());
    EXPECT_TRUE(th::hasFailure(root, bad, 1600000000));
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(fetch(cache, bad, 128).state, ThumbnailCache::Result::State::Failed);  // marker honoured

    // Fixed later: the marker is out of date and the picture shows.
    shot("bad.png", blue);
    setTime(bad, 1600000500);
    EXPECT_EQ(fetch(cache, bad, 128).state, ThumbnailCache::Result::State::Ready);

    auto missing = fetch(cache, base + "/shots/gone.png", 128);
    EXPECT_EQ(missing.state, ThumbnailCache::Result::State::Failed);
    EXPECT_EQ(fetch(cache, base + "/shots", 128).state, ThumbnailCache::Result::State::Failed);
}

TEST(ThumbnailCacheHook, LibraryLimitSetsTheCountLimitUpToFifty) {
    library::installThumbnailCacheHook();
    EXPECT_EQ(ThumbnailCache::shared().countLimit(),
              std::min<int64_t>(services::Settings::shared().libLimit(), 50));
    services::Settings::shared().setLibLimit(20);
    EXPECT_EQ(ThumbnailCache::shared().countLimit(), 20);
    services::Settings::shared().setLibLimit(10000);
    EXPECT_EQ(ThumbnailCache::shared().countLimit(), 50);
}
