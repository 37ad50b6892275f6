// Thumbnails for the library gallery: 1,000 full-HD screenshots made into
// medium gallery items (178 pixels, as the small popover shows them) through the
// shared cache — cold (nothing on disk: every file decoded, scaled and
// written to the desktop's thumbnail folder) and warm (the disk copies read
// back by a fresh cache, as after a restart). The 1,000 files are hard links
// to one PNG, so the benchmark needs disk for one screenshot only; each has
// its own path and so its own thumbnail. Counters: thumbnails a second and
// the machine's core count.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/image/Canvas.h"
#include "kit/image/ImageIO.h"
#include "kit/image/Thumbnails.h"
#include "library/ThumbnailCache.h"

namespace {

namespace fs = std::filesystem;
// 1,000 (fewer for a quick pass).
const int kFiles = benchImages(1000);
// The medium item of the small popover (two columns of 178 points) at scale 1.
constexpr int kMediumItemPixels = 178;

// A screenshot-like picture: flat windows, title bars and rules.
kit::Image screenshot() {
    kit::Canvas c(1920, 1080);
    c.drawLinearGradient(kit::Color::rgb(40, 70, 110), kit::Color::rgb(120, 150, 190), {0, 0}, {0, 1080},
                         true);
    for (int i = 0; i < 6; ++i) {
        const double x = 60 + i * 210, y = 40 + i * 90;
        c.fillRect({x, y, 900, 600}, kit::Color::rgb(248, 248, 246 - i * 4));
        c.fillRect({x, y + 560, 900, 40}, kit::Color::rgb(220, 222, 226));
        for (int line = 0; line < 20; ++line)
            c.fillRect({x + 30, y + 40 + line * 24, 300.0 + (line * 37) % 500, 10},
                       kit::Color::rgb(60, 60, 70));
    }
    return c.image();
}

fs::path workFolder() {
    return fs::path(kit::files::tempDir()) / "bench-thumbnails";
}

struct Library {
    std::string folder, root;
    std::vector<std::string> files;
};

const Library& library() {
    static const Library lib = [] {
        Library l;
        const fs::path base = workFolder();
        fs::remove_all(base);
        l.folder = (base / "shots").string();
        l.root = (base / "cache").string();
        fs::create_directories(l.folder);
        const auto png = kit::ImageIO::encodePNG(screenshot());
        const std::string first = l.folder + "/Screenshot 0000.png";
        kit::files::writeAtomic(first, std::string(png.begin(), png.end()));
        l.files.push_back(first);
        for (int i = 1; i < kFiles; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/Screenshot %04d.png", i);
            fs::create_hard_link(first, l.folder + name);
            l.files.push_back(l.folder + name);
        }
        return l;
    }();
    return lib;
}

// Every file's thumbnail through a cache with empty memory; returns how
// many came back ready.
int makeAll(const Library& lib) {
    library::ThumbnailCache cache({lib.root, 0, false});
    int done = 0, ready = 0;
    for (const auto& f : lib.files)
        cache.request(f, kMediumItemPixels, 1, [&](const library::ThumbnailCache::Result& r) {
            ++done;
            ready += r.state == library::ThumbnailCache::Result::State::Ready;
        });
    kit::runMainLoopUntil([&] { return done == kFiles; }, 600);
    return ready;
}

void report(benchmark::State& state) {
    state.counters["thumbnails_per_s"] =
        benchmark::Counter(kFiles, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["cores"] = double(kit::usableCores());
}

void BM_ThumbnailsColdDisk(benchmark::State& state) {
    const Library& lib = library();
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(lib.root);
        state.ResumeTiming();
        if (makeAll(lib) != kFiles) state.SkipWithError("a thumbnail failed");
    }
    report(state);
}
BENCHMARK(BM_ThumbnailsColdDisk)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThumbnailsWarmDisk(benchmark::State& state) {
    const Library& lib = library();
    // The cold run before leaves every thumbnail on disk; alone, fill it first.
    if (!fs::exists(kit::thumbnails::pathFor(lib.root, kit::thumbnails::flavorFor(kMediumItemPixels),
                                             lib.files.back())))
        makeAll(lib);
    for (auto _ : state)
        if (makeAll(lib) != kFiles) state.SkipWithError("a thumbnail failed");
    report(state);
}
BENCHMARK(BM_ThumbnailsWarmDisk)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    const int rc = runApplicationBenchmarks(argc, argv, "kadrix-bench-thumbnails");
    fs::remove_all(workFolder());
    return rc;
}
