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
//  - BM_ReadBmp/<kind>/<reader>: a 3840 × 2160 BMP of 32-bit 8-8-8-8 bit
//    fields with alpha, of 32-bit and of 24-bit plain pixels, read as the
//    decoder reads it (reader 0: its checks and the program's own reader)
//    beside the toolkit's reader of the same pixels (1: its read and the
//    conversion to premultiplied pixels the decoder then made; 2: its read
//    alone). The program's reader takes no longer than the toolkit's read.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QBuffer>
#include <QImageReader>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "kit/base/Files.h"
#include "kit/image/ImageDecode.h"
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

// A BMP of the kind's pixels: 32-bit bit fields in a V5 header (masks
// 8-8-8-8, alpha 255 but for a half-transparent band, as a picture with a
// shadow), or plain 32- or 24-bit rows in the oldest Windows header.
std::string bmpOf(const kit::Image& img, int kind) {
    const auto le = [](uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s.push_back(char(v >> (8 * i)));
        return s;
    };
    const int w = img.width(), h = img.height(), bits = kind == 2 ? 24 : 32;
    const uint32_t header = kind == 0 ? 124 : 40, stride = uint32_t((w * bits + 31) / 32 * 4);
    std::string info = le(header, 4) + le(uint32_t(w), 4) + le(uint32_t(h), 4) + le(1, 2) +
                       le(uint32_t(bits), 2) + le(kind == 0 ? 3 : 0, 4) + le(stride * uint32_t(h), 4) +
                       le(2835, 4) + le(2835, 4) + le(0, 4) + le(0, 4);
    if (kind == 0) info += le(0xFF0000, 4) + le(0xFF00, 4) + le(0xFF, 4) + le(0xFF000000, 4);
    info.resize(header, '\0');
    std::string rows;
    rows.reserve(size_t(stride) * size_t(h));
    for (int y = h - 1; y >= 0; --y) {
        const size_t start = rows.size();
        for (int x = 0; x < w; ++x) {
            const kit::PixelBGRA p = img.pixel(x, y);
            rows += {char(p.b), char(p.g), char(p.r)};
            if (bits == 32) rows.push_back(char(kind == 0 && y % 200 < 20 ? 128 : 255));
        }
        rows.resize(start + stride, '\0');
    }
    const uint32_t offset = 14 + header;
    return "BM" + le(offset + uint32_t(rows.size()), 4) + le(0, 4) + le(offset, 4) + info + rows;
}

void BM_ReadBmp(benchmark::State& state) {
    static const kit::Image picture = desktopPicture(3840, 2160);
    const int kind = int(state.range(0)), reader = int(state.range(1));
    const std::string file = bmpOf(picture, kind);
    QByteArray bytes = QByteArray::fromRawData(file.data(), qsizetype(file.size()));
    for (auto _ : state) {
        QImage img;
        if (reader == 0) {
            std::string error;
            img = kit::ImageIO::detail::decode(bytes, &error);
        } else {
            QBuffer buf(&bytes);
            buf.open(QIODevice::ReadOnly);
            QImageReader toolkit(&buf, "bmp");
            toolkit.read(&img);
            if (reader == 1) img.convertTo(QImage::Format_ARGB32_Premultiplied);
        }
        if (img.width() != 3840) return state.SkipWithError("the picture did not open");
        benchmark::DoNotOptimize(img.constBits());
    }
    const char* const kinds[] = {"fields 8-8-8-8", "plain 32-bit", "plain 24-bit"};
    const char* const readers[] = {"own reader", "toolkit, premultiplied", "toolkit, its read alone"};
    state.SetLabel(std::string(kinds[kind]) + ", " + readers[reader]);
    state.counters["file_MB"] = double(file.size()) / 1e6;
}

BENCHMARK(BM_ReadBmp)->ArgsProduct({{0, 1, 2}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // A smoke run gives the decoder less time, so the slowest files end sooner.
    if (smokeRun(argc, argv)) kit::ImageIO::setDecoderLimits({2, kit::ImageIO::decoderLimits().memoryBytes});
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-decoder");
}
