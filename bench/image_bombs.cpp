// Hostile and huge image files: what refusing and opening them costs.
//  - BM_PngHeaderBomb: 105 bytes of PNG claiming 60000 × 60000 (found by
//    fuzzing) must be refused in well under 0.1 s and 100 MB.
//  - BM_OpenAtTheCap: a 16000 × 16000 PNG (256 million pixels, about 1 MB on
//    disk), opened in the editor as "Open Image" does it, may hold at most two
//    copies of its pixels at its peak (pixel_copies <= 2).
//  - BM_OpenTgaAtTheCap: the same picture as a run-length TGA, as other
//    programs write it, opened alike: its time (open_s) and what the program
//    and its decoder hold at the peak (held_peak_MB) within 1.2 times the
//    PNG's.
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
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
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

// The picture at the cap: one light colour with a few lines of detail.
kit::Image capPicture() {
    kit::Image img(kCapSide, kCapSide);
    img.fill(kit::Color::rgb(230, 236, 240));
    for (int y = 0; y < kCapSide; y += 97)  // a few lines of detail
        for (int x = 0; x < kCapSide; ++x) img.setPixel(x, y, {uint8_t(x), uint8_t(y), 40, 255});
    return img;
}

fs::path bombsDir() {
    const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-bombs";
    fs::create_directories(dir);
    return dir;
}

// A picture of 16 × 16 to open before a measure, in place of whatever an
// earlier benchmark left open.
fs::path smallPicture() {
    const fs::path small = bombsDir() / "small.png";
    kit::Image dot(16, 16);
    dot.fill(kit::Color::rgb(200, 40, 40));
    const auto bytes = kit::ImageIO::encodePNG(dot);
    std::ofstream(small, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return small;
}

const std::string& capPNG() {
    static const std::string path = [] {
        const fs::path file = bombsDir() / "cap-16000.png";
        if (fs::exists(file)) return file.string();
        auto bytes = kit::ImageIO::encodePNG(capPicture());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return file.string();
    }();
    return path;
}

// The same picture as a 32-bit run-length TGA with 8 bits of alpha, rows
// from the bottom: as most programs write one.
const std::string& capTGA() {
    static const std::string path = [] {
        const fs::path file = bombsDir() / "cap-16000.tga";
        if (fs::exists(file)) return file.string();
        const kit::Image img = capPicture();
        std::string out(18, '\0');
        out[2] = 10, out[16] = 32, out[17] = 8;
        out[12] = out[14] = char(kCapSide & 0xFF), out[13] = out[15] = char(kCapSide >> 8);
        const auto at = [&](int x, int y) {
            uint32_t v;  // B, G, R, A as the file keeps them
            std::memcpy(&v, img.row(y) + 4 * size_t(x), 4);
            return v;
        };
        const auto put = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
        for (int y = kCapSide - 1; y >= 0; --y)
            for (int x = 0; x < kCapSide;) {
                int run = 1;
                while (x + run < kCapSide && run < 128 && at(x + run, y) == at(x, y)) ++run;
                if (run > 1) {
                    out += char(0x80 | (run - 1));
                    put(at(x, y));
                    x += run;
                    continue;
                }
                int n = 1;  // pixels up to where a run begins
                while (x + n < kCapSide && n < 128 &&
                       !(x + n + 1 < kCapSide && at(x + n + 1, y) == at(x + n, y)))
                    ++n;
                out += char(n - 1);
                for (int i = 0; i < n; ++i) put(at(x + i, y));
                x += n;
            }
        std::ofstream(file, std::ios::binary).write(out.data(), std::streamsize(out.size()));
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

// What the program and its decoders hold now, in bytes: the private memory
// of each, the memory files the program has read, and the pixel file a
// decoder is writing, whose pages the system holds whether mapped or not.
// The program's own measure (heldGrowthOf) cannot see inside a decoder, where
// a reader that builds a picture of its own before the pixel file holds it.
double heldWithDecodersNow() {
    const auto kB = [](const std::string& status, const char* key) {
        const size_t at = status.find(key);
        return at == std::string::npos ? 0.0 : std::stod(status.substr(at + std::strlen(key))) * 1024;
    };
    const auto read = [](const fs::path& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const std::string self = read("/proc/self/status");
    double held = kB(self, "RssAnon:") + kB(self, "RssShmem:");
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        std::istringstream children(read(task.path() / "children"));
        for (std::string pid; children >> pid;) {
            held += kB(read("/proc/" + pid + "/status"), "RssAnon:");
            struct stat st {};
            if (::stat(("/proc/" + pid + "/fd/3").c_str(), &st) == 0) held += double(st.st_blocks) * 512;
        }
    }
    return held;
}

// How far what is held with the decoders rose above its start while `fn`
// ran, looked at every two milliseconds.
double heldWithDecodersGrowthOf(auto&& fn) {
    const double start = heldWithDecodersNow();
    std::atomic<bool> done{false};
    std::atomic<double> peak{start};
    std::thread watcher([&] {
        while (!done) {
            peak = std::max(peak.load(), heldWithDecodersNow());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    fn();
    done = true;
    watcher.join();
    return std::max(peak.load(), heldWithDecodersNow()) - start;
}

// A picture at the cap opened in the editor, from a small one: its time,
// the program's own growth and what it and its decoder hold at the peak.
void openAtTheCap(benchmark::State& state, const std::string& file) {
    core::AppLogic& logic = benchsupport::coreWithEditor();
    const fs::path small = smallPicture();
    double growth = 0, held = 0, seconds = 0;
    for (auto _ : state) {
        if (!logic.openImage(small.string())) return state.SkipWithError("the small picture did not open");
        held = heldWithDecodersGrowthOf([&] {
            growth = double(testsupport::peakGrowthOf([&] {
                seconds = secondsOf([&] {
                    if (!logic.openImage(file)) state.SkipWithError("the file did not open");
                    touchPixels(logic.imgSource());
                });
            }));
        });
    }
    const double pixelBytes = double(kCapSide) * kCapSide * 4;
    state.counters["open_s"] = seconds;
    state.counters["peak_growth_MB"] = growth / 1e6;
    state.counters["held_peak_MB"] = held / 1e6;
    state.counters["pixel_copies"] = growth / pixelBytes;
    state.counters["file_MB"] = double(fs::file_size(file)) / 1e6;
}

void BM_OpenAtTheCap(benchmark::State& state) {
    openAtTheCap(state, capPNG());
}

void BM_OpenTgaAtTheCap(benchmark::State& state) {
    openAtTheCap(state, capTGA());
}

// Once each, from a small picture: the growth is the open's own.
BENCHMARK(BM_OpenAtTheCap)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_OpenTgaAtTheCap)->Unit(benchmark::kMillisecond)->Iterations(1);

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
    const fs::path small = smallPicture();
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
