// The library gallery as the user sees it: from opening the popover over a
// library of 1,000 screenshots to the first screenful of thumbnails painted
// (cold: nothing cached; disk: the desktop's thumbnail folder holds them;
// warm: they are in memory), and the frame time of scrolling a gallery of
// 10,000 screenshots one row at a time.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "BenchSupport.h"
#include "kit/base/Dispatch.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/CollectionView.h"
#include "kit/ui/Window.h"
#include "library/GalleryDelegate.h"
#include "library/LibViewController.h"
#include "library/ThumbnailCache.h"
#include "services/Settings.h"

namespace {

namespace fs = std::filesystem;

// A folder of `count` screenshots: a few real pictures, the rest links to them
// (each its own path, so each its own thumbnail).
std::string screenshotFolder(const std::string& name, int count) {
    std::string folder = (benchsupport::scratchDir() / name).string();
    if (fs::exists(folder + "/shot-" + std::to_string(count - 1) + ".png")) return folder;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (int i = 0; i < 8; ++i) {
        auto png = kit::ImageIO::encodePNG(patternedCapture(1440 + i * 16, 900));
        FILE* f = fopen((folder + "/real-" + std::to_string(i) + ".png").c_str(), "wb");
        fwrite(png.data(), 1, png.size(), f);
        fclose(f);
    }
    for (int i = 0; i < count; ++i)
        fs::create_symlink(folder + "/real-" + std::to_string(i % 8) + ".png",
                           folder + "/shot-" + std::to_string(i) + ".png");
    return folder;
}

std::shared_ptr<library::ScreenLib> libraryOf(const std::string& folder, int count) {
    auto lib = std::make_shared<library::ScreenLib>(folder);
    if (!fs::exists(folder + "/imagelib.kxdb")) {
        for (int i = 0; i < count; ++i)
            lib->addOrUpdate(std::make_shared<library::GrabData>(
                std::map<std::string, std::string>{{"filename", "shot-" + std::to_string(i) + ".png"},
                                                   {"ts", std::to_string(1'600'000'000 + i * 60)},
                                                   {"width", "1440"},
                                                   {"height", "900"},
                                                   {"basecolor", "#8090A0"}}));
    }
    lib->loadNow();
    return lib;
}

library::ThumbnailSource sourceOf(library::ThumbnailCache& cache) {
    library::ThumbnailSource s;
    s.cached = [&cache](const std::string& p, int px) { return cache.cached(p, px); };
    s.request = [&cache](const std::string& p, int px, int priority,
                         std::function<void(const kit::Image&)> done) {
        return cache.request(p, px, priority,
                             [done](const library::ThumbnailCache::Result& r) { done(r.image); });
    };
    s.cancel = [&cache](uint64_t t) { cache.cancel(t); };
    return s;
}

// Whether every item in view has its thumbnail in memory.
bool screenfulReady(library::GalleryDelegate& gallery) {
    auto [first, last] = gallery.collection->visibleRange();
    if (first > last) return false;
    for (int i = first; i <= last; ++i)
        if (gallery.thumbnails.cached(gallery.records[size_t(i)].path, gallery.thumbnailPixels()).isNull())
            return false;
    return true;
}

enum class Cache { Cold, Disk, Warm };

void openToFirstThumbnails(benchmark::State& state, Cache mode) {
    services::Settings::shared().setLibEnabled(true);
    std::string folder = screenshotFolder("kadrix-bench-gallery-1k", 1000);
    auto lib = libraryOf(folder, 1000);
    std::string disk = (benchsupport::scratchDir() / "kadrix-bench-gallery-thumbs").string();
    fs::remove_all(disk);
    auto cache = std::make_unique<library::ThumbnailCache>(library::ThumbnailCache::Options{disk});

    library::LibViewController controller;
    controller.model = [lib] { return lib; };
    kit::Window window(kit::Rect{100, 100, 380, 580}, kit::WindowStyle::Titled);
    window.setContentView(controller.view());
    window.makeKeyAndOrderFront();
    bool first = true;
    for (auto _ : state) {
        state.PauseTiming();
        if (mode == Cache::Cold) {
            fs::remove_all(disk);
            cache = std::make_unique<library::ThumbnailCache>(library::ThumbnailCache::Options{disk});
        } else if (mode == Cache::Disk || first) {
            cache = std::make_unique<library::ThumbnailCache>(library::ThumbnailCache::Options{disk});
        }
        controller.gallery->thumbnails = sourceOf(*cache);
        controller.gallery->setRecords({});
        kit::processMainEvents();
        uint64_t before = controller.galleryGeneration();
        state.ResumeTiming();

        controller.viewWillAppear();
        controller.refreshGallery();
        bool ok = kit::runMainLoopUntil(
            [&] { return controller.galleryGeneration() > before && screenfulReady(*controller.gallery); },
            30);
        benchmark::DoNotOptimize(controller.cvGallery->snapshot());
        if (!ok) state.SkipWithError("the thumbnails never came");
        first = false;
    }
    controller.gallery->thumbnails = {};
}

void BM_PopoverOpenToThumbnailsCold(benchmark::State& s) {
    openToFirstThumbnails(s, Cache::Cold);
}
void BM_PopoverOpenToThumbnailsDiskCache(benchmark::State& s) {
    openToFirstThumbnails(s, Cache::Disk);
}
void BM_PopoverOpenToThumbnailsWarm(benchmark::State& s) {
    openToFirstThumbnails(s, Cache::Warm);
}
BENCHMARK(BM_PopoverOpenToThumbnailsCold)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PopoverOpenToThumbnailsDiskCache)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PopoverOpenToThumbnailsWarm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// One frame of scrolling: the gallery moves one row and paints what is in view
// (thumbnails as far as they are made, the base colour elsewhere).
void BM_GalleryScrollFrame10000(benchmark::State& state) {
    std::string folder = screenshotFolder("kadrix-bench-gallery-10k", 10000);
    std::vector<library::LibObject> records;
    for (int i = 9999; i >= 0; --i)
        records.push_back(
            {folder + "/shot-" + std::to_string(i) + ".png", 1440, 900, kit::Color(0.5, 0.55, 0.6, 1)});
    std::string disk = (benchsupport::scratchDir() / "kadrix-bench-gallery-thumbs-10k").string();
    library::ThumbnailCache cache(library::ThumbnailCache::Options{disk});

    auto view = std::make_shared<kit::CollectionView>(kit::Rect{0, 0, 380, 500});
    kit::Window window(kit::Rect{100, 100, 380, 500}, kit::WindowStyle::Titled);
    window.setContentView(view);
    window.makeKeyAndOrderFront();
    library::GalleryDelegate gallery(view);
    gallery.thumbnails = sourceOf(cache);
    gallery.setRecords(std::move(records));
    kit::processMainEvents();

    int item = 0;
    const int step = view->columns();
    for (auto _ : state) {
        item = (item + step) % 10000;
        view->scrollToItem(item);
        kit::processMainEvents();
        benchmark::DoNotOptimize(view->snapshot());
    }
    state.counters["columns"] = step;
    gallery.thumbnails = {};
}
BENCHMARK(BM_GalleryScrollFrame10000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-library-gallery");
}
