// Indexing a folder of 100 generated full-HD screenshots (a window with a
// title bar, a side bar, lines of text and a web address) against running the
// `tesseract` command on each file: images per second for both. The library's
// run analyses one file after the other; its recogniser keeps its engine loaded.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "../tests/imaging/TextPicture.h"
#include "BenchSupport.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "library/IndexMachine.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"

namespace {

int imageCount() {
    return benchImages(100);
}

void fillRect(kit::Image& img, int x0, int y0, int w, int h, kit::Color c) {
    uint8_t* bits = img.mutableBits();
    for (int y = y0; y < std::min(img.height(), y0 + h); ++y) {
        uint8_t* row = bits + size_t(y) * img.bytesPerRow();
        for (int x = x0; x < std::min(img.width(), x0 + w); ++x) {
            row[4 * x] = uint8_t(c.r * 255), row[4 * x + 1] = uint8_t(c.g * 255);
            row[4 * x + 2] = uint8_t(c.b * 255), row[4 * x + 3] = 255;
        }
    }
}

kit::Image screenshot(int index) {
    static const char* sentences[] = {
        "Quarterly planning notes for the design review",
        "Open the settings and choose a folder for new files",
        "The build finished with two warnings and no errors",
        "Meeting moved to Thursday at ten in room four",
        "Invoice 4711 is due at the end of the month",
        "Search results for release notes and changes",
    };
    std::mt19937 rng{uint32_t(index)};
    std::vector<imaging::test::TextLinePlacement> lines;
    lines.push_back({"Document " + std::to_string(index) + " - Editor", 760, 8, 18});
    lines.push_back({"https://docs.example.org/page/" + std::to_string(index), 320, 60, 16});
    const int count = 8 + int(rng() % 8);
    for (int i = 0; i < count; ++i) lines.push_back({sentences[rng() % 6], 320, 120.0 + i * 40, 18});
    kit::Image img = imaging::test::textPicture(1920, 1080, lines);
    fillRect(img, 0, 0, 1920, 4, kit::Color::rgb(60, 60, 70));
    fillRect(img, 0, 44, 280, 1036, kit::Color::rgb(235, 238, 242));
    fillRect(img, 1700, 900, 180, 140, kit::Color::rgb(30, 120, 220));
    return img;
}

std::string fileName(int index) {
    char name[64];
    std::snprintf(name, sizeof name, "/SCR-20240105-%04d.png", index);
    return name;
}

// The folder of screenshots, made once.
const std::string& screenshotFolder() {
    static const std::string folder = [] {
        std::string f = (benchsupport::scratchDir() / "kadrix-bench-library-index").string();
        std::filesystem::remove_all(f);
        std::filesystem::create_directories(f);
        for (int i = 0; i < imageCount(); ++i) {
            auto png = kit::ImageIO::encodePNG(screenshot(i));
            kit::files::writeAtomic(f + fileName(i), std::string(png.begin(), png.end()));
        }
        return f;
    }();
    return folder;
}

void BM_IndexFolder(benchmark::State& state) {
    const std::string folder = screenshotFolder();
    services::Settings::shared().setLibEnabled(true);
    services::Settings::shared().setLibAllowOCR(true);
    services::Settings::shared().setLibLimit(10000);
    size_t stored = 0, withText = 0;
    for (auto _ : state) {
        std::filesystem::remove(folder + "/imagelib.kxdb");
        library::ScreenLib lib(folder);
        lib.loadNow();
        auto& indexer = *lib.indexMachine;
        bool over = false;
        indexer.statusUpdate = [&](int, int total, std::string, bool) { over = total == 0; };
        double s = secondsOf([&] {
            indexer.scan(true);
            while (!over) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        });
        state.SetIterationTime(s);
        stored = lib.snapshot().size();
        withText = 0;
        for (auto& e : lib.snapshot()) withText += e->content.count("ocr") && e->content.at("ocr") != "~";
        state.counters["images_per_s"] = double(stored) / s;
    }
    if (stored != size_t(imageCount())) state.SkipWithError("files went unindexed");
    state.counters["with_text"] = double(withText);
}
BENCHMARK(BM_IndexFolder)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void BM_TesseractCommandOnEachFile(benchmark::State& state) {
    const std::string folder = screenshotFolder();
    for (auto _ : state) {
        double s = secondsOf([&] {
            for (int i = 0; i < imageCount(); ++i) {
                // Held to one thread, as each of ours is: its default of four
                // spin-waiting threads is many times slower on a busy machine.
                std::string command =
                    "OMP_THREAD_LIMIT=1 tesseract '" + folder + fileName(i) + "' - >/dev/null 2>&1";
                if (std::system(command.c_str()) != 0) state.SkipWithError("the tesseract command failed");
            }
        });
        state.SetIterationTime(s);
        state.counters["images_per_s"] = double(imageCount()) / s;
    }
}
BENCHMARK(BM_TesseractCommandOnEachFile)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-library-index");
}
