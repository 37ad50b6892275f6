// Hostile and huge image files: what refusing and opening them costs.
//  - BM_PngHeaderBomb: 105 bytes of PNG claiming 60000 × 60000 (found by
//    fuzzing) must be refused in well under 0.1 s and 100 MB.
//  - BM_OpenAtTheCap: a 16000 × 16000 PNG (256 million pixels, about 1 MB on
//    disk), opened in the editor as "Open Image" does it, may hold at most two
//    copies of its pixels at its peak (pixel_copies <= 2).
//  - BM_OpenCapPicturesInARow: pictures of 16384 × 16384 (the cap) opened one
//    after another, each replacing the one before: what is held at the peak
//    of each open over the start (peak_MB_1, peak_MB_2, …) stays within the
//    picture shown, the one read and its working set, 2400 MB; after each
//    (held_MB_1, …) within one picture and the working set, 1300 MB: the old
//    picture is not held beside the new once it has taken its place.
// What is held is the process's resident high-water mark, reset before each
// measure, with the memory files the pictures come in counted whole: their
// pages are held from the moment the decoder writes them, read or not.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/kit/image/ReferencePng.h"
#include "../tests/support/PeakMemory.h"
#include "BenchSupport.h"
#include "EditorCore.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

namespace {

namespace fs = std::filesystem;

constexpr int kCapSide = 16000;

using testsupport::heldGrowthOf;

const std::string& capPNG() {
    static const std::string path = [] {
        const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-bombs";
        fs::create_directories(dir);
        const fs::path file = dir / "cap-16000.png";
        if (fs::exists(file)) return file.string();
        kit::Image img(kCapSide, kCapSide);
        img.fill(kit::Color::rgb(230, 236, 240));
        for (int y = 0; y < kCapSide; y += 97)  // a few lines of detail
            for (int x = 0; x < kCapSide; ++x) img.setPixel(x, y, {uint8_t(x), uint8_t(y), 40, 255});
        auto bytes = kit::ImageIO::encodePNG(img);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return file.string();
    }();
    return path;
}

void BM_PngHeaderBomb(benchmark::State& state) {
    const std::string path = std::string(KADRIX_SOURCE_DIR) + "/tests/data/repro/png-60000x60000-header.png";
    auto text = kit::files::readAll(path);
    if (!text) return state.SkipWithError("missing tests/data/repro/png-60000x60000-header.png");
    const kit::ImageIO::Bytes bytes(text->begin(), text->end());
    double worstGrowth = 0;
    for (auto _ : state) {
        std::string error;
        worstGrowth = std::max(worstGrowth, double(heldGrowthOf([&] {
                                                       if (!kit::ImageIO::decode(bytes, 1.0, &error).isNull())
                                                           state.SkipWithError("the bomb decoded");
                                                   }).peak));
    }
    state.counters["peak_growth_MB"] = worstGrowth / 1e6;
}

BENCHMARK(BM_PngHeaderBomb)->Unit(benchmark::kMicrosecond)->Iterations(20);

// Reads a byte of every page of the picture, as drawing it does: a picture
// mapped but never read holds no memory of this process's.
void touchPixels(const kit::Image& img) {
    const uint8_t* bits = img.bits();
    const size_t size = img.bytesPerRow() * size_t(img.height());
    uint8_t sum = 0;
    for (size_t at = 0; at < size; at += 4096) sum ^= bits[at];
    benchmark::DoNotOptimize(sum);
}

void BM_OpenAtTheCap(benchmark::State& state) {
    const std::string& file = capPNG();
    core::AppLogic& logic = benchsupport::coreWithEditor();
    double growth = 0;
    for (auto _ : state) {
        growth = double(heldGrowthOf([&] {
                            if (!logic.openImage(file)) state.SkipWithError("the file did not open");
                        }).peak);
        touchPixels(logic.imgSource());
    }
    const double pixelBytes = double(kCapSide) * kCapSide * 4;
    state.counters["peak_growth_MB"] = growth / 1e6;
    state.counters["pixel_copies"] = growth / pixelBytes;
    state.counters["file_MB"] = double(fs::file_size(file)) / 1e6;
}

// Once: the first open starts from no picture, so the growth is this open's own.
BENCHMARK(BM_OpenAtTheCap)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 1-bit grey PNG of 16384 × 16384, the pixel cap, in stripes that differ
// with `which`: a few kilobytes on disk, a gigabyte decoded.
std::string capBitsPNG(int which) {
    constexpr int kSide = 16384;
    const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-bombs";
    fs::create_directories(dir);
    const fs::path file = dir / ("cap-bits-" + std::to_string(which) + ".png");
    if (fs::exists(file)) return file.string();
    std::vector<uint8_t> rows;
    rows.reserve(size_t(kSide) * (kSide / 8 + 1));
    for (int y = 0; y < kSide; ++y) {
        rows.push_back(0);
        for (int x = 0; x < kSide / 8; ++x) rows.push_back(((y >> 6) + (x >> 2) + which) % 3 ? 0xFF : 0x00);
    }
    const auto png = testsupport::pngOfRows(kSide, kSide, 1, 0, rows, 9);
    if (png.empty()) return {};
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    return file.string();
}

void BM_OpenCapPicturesInARow(benchmark::State& state) {
    // Two files taken in turn: each open decodes a new picture all the same.
    const std::string files[] = {capBitsPNG(0), capBitsPNG(1)};
    if (files[0].empty() || files[1].empty()) return state.SkipWithError("the pictures could not be made");
    core::AppLogic& logic = benchsupport::coreWithEditor();
    const int pictures = int(state.range(0));
    // A small picture first, in place of whatever an earlier benchmark left
    // open: the start is the editor with no large picture.
    const fs::path small = benchsupport::scratchDir() / "kadrix-bench-bombs" / "small.png";
    kit::Image dot(16, 16);
    dot.fill(kit::Color::rgb(200, 40, 40));
    const auto dotBytes = kit::ImageIO::encodePNG(dot);
    std::ofstream(small, std::ios::binary)
        .write(reinterpret_cast<const char*>(dotBytes.data()), dotBytes.size());
    for (auto _ : state) {
        if (!logic.openImage(small.string())) return state.SkipWithError("the small picture did not open");
        const double start = double(testsupport::memory::heldNow());
        for (int i = 0; i < pictures; ++i) {
            const double before = double(testsupport::memory::heldNow()) - start;
            bool opened = false;
            const auto held = heldGrowthOf([&] { opened = logic.openImage(files[i % 2]); });
            if (!opened) return state.SkipWithError("a picture did not open");
            touchPixels(logic.imgSource());
            const std::string n = std::to_string(i + 1);
            state.counters["peak_MB_" + n] = (before + double(held.peak)) / 1e6;
            state.counters["held_MB_" + n] = (double(testsupport::memory::heldNow()) - start) / 1e6;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Four pictures in a row; the smoke run's one pass, two (the first replaced once).
    benchmark::RegisterBenchmark("BM_OpenCapPicturesInARow", BM_OpenCapPicturesInARow)
        ->Arg(smokeRun(argc, argv) ? 2 : 4)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-bombs");
}
