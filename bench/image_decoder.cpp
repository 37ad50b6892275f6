// Pictures from outside decoded in the decoder program, beside the same
// decoding in this process:
//  - BM_Open4KPng/in_process and /decoder: a 3840 × 2160 screenshot-like PNG
//    read and decoded; the decoder's route may take at most 1.2 times as
//    long as decoding here.
//  - BM_HostileFile/<n>: the files that froze the program or cost it
//    gigabytes, each opened or refused with at most 2 s of the main thread's
//    processor time (main_thread_s) and the program's own memory growing by
//    the picture alone (peak_growth_MB; at most one picture at the cap, 1 GiB,
//    plus 150 MB).
//  - BM_SizeOfAFileFromOutside: an icon file of 100,000 elements sized and
//    checked by the program's own header reading in milliseconds
//    (main_thread_s), where the toolkit's reader took 2.7 s.
//  - BM_ReadAtTheCap: a valid 16000 × 16000 PNG still opens, the program
//    holding its pixels once (pixel_copies about 1).
#include <benchmark/benchmark.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "kit/image/PngEncoder.h"

namespace {

namespace fs = std::filesystem;

const std::string& screenshotPNG() {
    static const std::string path = [] {
        const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-decoder";
        fs::create_directories(dir);
        const fs::path file = dir / "4k.png";
        const auto bytes = kit::ImageIO::encodePNG(desktopPicture(3840, 2160));
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return file.string();
    }();
    return path;
}

void BM_Open4KPng(benchmark::State& state) {
    const std::string& file = screenshotPNG();
    const bool elsewhere = state.range(0) == 1;
    for (auto _ : state) {
        std::string error;
        kit::Image image;
        if (elsewhere) {
            image = kit::ImageIO::read(file, 1.0, &error);
        } else {
            // As the program read a file before: the whole file, decoded here.
            const auto text = kit::files::readAll(file);
            image =
                kit::ImageIO::decodeInProcess(kit::ImageIO::Bytes(text->begin(), text->end()), 1.0, &error);
        }
        if (image.width() != 3840) return state.SkipWithError(("the picture did not open: " + error).c_str());
        benchmark::DoNotOptimize(image.bits());
    }
    state.SetLabel(elsewhere ? "decoder" : "in_process");
    state.counters["file_MB"] = double(fs::file_size(file)) / 1e6;
}

// Timed by the wall clock: on the decoder's route the decoding is another
// program's processor time, which this one's clock does not count.
BENCHMARK(BM_Open4KPng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double residentKB(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::string(key).size()));
    return 0;
}

const char* const kHostile[] = {
    "ico-65535-entries-one-ztxt-png.ico",    "jpeg-progressive-4096-60000-scans.jpg",
    "cur-dir16-embedded-png-16384sq.cur",    "ico-dir16-embedded-png-16384sq.ico",
    "tiff-16000sq-deflate-truncated-8k.tif", "png-ihdr-4g-by-4g-overflow.png",
    "svg-170byte-6000x4000-poster.svg",      "icns-100k-empty-elements-plus-png.png",
};

void BM_HostileFile(benchmark::State& state) {
    const std::string name = kHostile[state.range(0)];
    const std::string path = std::string(KADRIX_SOURCE_DIR) + "/tests/data/repro/" + name;
    double mainThread = 0, growth = 0;
    bool opened = false;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5";
        const double before = residentKB("VmRSS:");
        const double cpu = threadSeconds();
        std::string error;
        const kit::Image image = kit::ImageIO::read(path, 1.0, &error);
        mainThread = std::max(mainThread, threadSeconds() - cpu);
        growth = std::max(growth, (residentKB("VmHWM:") - before) * 1024);
        opened = !image.isNull();
    }
    state.SetLabel(name + (opened ? ": opens" : ": refused"));
    state.counters["main_thread_s"] = mainThread;
    state.counters["peak_growth_MB"] = growth / 1e6;
}

BENCHMARK(BM_HostileFile)
    ->DenseRange(0, std::size(kHostile) - 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The size of a file from outside, as the library's Copy and the thumbnails
// ask it, and the checks before a read: the program's own header reading.
void BM_SizeOfAFileFromOutside(benchmark::State& state) {
    const std::string path =
        std::string(KADRIX_SOURCE_DIR) + "/tests/data/repro/icns-100k-empty-elements-plus-png.png";
    double mainThread = 0;
    for (auto _ : state) {
        const double cpu = threadSeconds();
        benchmark::DoNotOptimize(kit::ImageIO::pixelSize(path));
        benchmark::DoNotOptimize(kit::ImageIO::refusalOf(path));
        mainThread = std::max(mainThread, threadSeconds() - cpu);
    }
    state.counters["main_thread_s"] = mainThread;
}

BENCHMARK(BM_SizeOfAFileFromOutside)->Unit(benchmark::kMillisecond);

void BM_ReadAtTheCap(benchmark::State& state) {
    const fs::path file = benchsupport::scratchDir() / "kadrix-bench-decoder" / "cap-16000.png";
    {
        kit::Image img(16000, 16000);
        img.fill(kit::Color::rgb(230, 236, 240));
        for (int y = 0; y < 16000; y += 97)  // a few lines of detail
            for (int x = 0; x < 16000; ++x) img.setPixel(x, y, {uint8_t(x), uint8_t(y), 40, 255});
        const auto bytes = kit::Png::encode(img);
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    // Under the program's own limits, whatever a smoke run gave the hostile
    // files: a picture at the cap takes the decoder longer than they get.
    const kit::ImageIO::DecoderLimits before = kit::ImageIO::decoderLimits();
    kit::ImageIO::setDecoderLimits({});
    double growth = 0;
    for (auto _ : state) {
        std::ofstream("/proc/self/clear_refs") << "5";
        const double resident = residentKB("VmRSS:");
        std::string error;
        const kit::Image image = kit::ImageIO::read(file.string(), 1.0, &error);
        if (image.width() != 16000) {
            state.SkipWithError(("the picture did not open: " + error).c_str());
            break;
        }
        growth = (residentKB("VmHWM:") - resident) * 1024;
    }
    kit::ImageIO::setDecoderLimits(before);
    state.counters["peak_growth_MB"] = growth / 1e6;
    state.counters["pixel_copies"] = growth / (16000.0 * 16000 * 4);
    fs::remove(file);
}

BENCHMARK(BM_ReadAtTheCap)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    // A smoke run gives the decoder less time, so the slowest files end sooner.
    if (smokeRun(argc, argv)) kit::ImageIO::setDecoderLimits({2, kit::ImageIO::decoderLimits().memoryBytes});
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-decoder");
}
