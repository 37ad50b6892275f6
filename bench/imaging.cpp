// Hot paths of image analysis: the edge scout of Smart adjust (a 4 ms budget
// each), the flood fill and the dominant colours of a 5K capture (50 ms each),
// and the text recognition of a full-HD screenshot of text, compared with
// the `tesseract` command reading the same file in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tests/imaging/TextPicture.h"
#include "BenchSupport.h"
#include "imaging/ColorMagic.h"
#include "imaging/Diagnostics.h"
#include "imaging/FloodFill.h"
#include "imaging/Recognition.h"
#include "imaging/SmartAdjust.h"
#include "kit/image/ImageIO.h"

namespace {

using imaging::Capture;

constexpr int k5KWidth = 5120, k5KHeight = 2880;

void paint(kit::Image& img, int x, int y, int w, int h, int r, int g, int b) {
    kit::PixelBGRA p{uint8_t(b), uint8_t(g), uint8_t(r), 255};
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col) img.setPixel(col, row, p);
}

// A 5K capture that looks like a desktop: a light background with windows of
// solid colours and a band of soft gradient.
kit::Image desktop() {
    kit::Image img(k5KWidth, k5KHeight);
    img.fill(kit::Color::rgb(236, 238, 240));
    paint(img, 200, 150, 2000, 1990, 40, 44, 52);
    paint(img, 2600, 300, 1800, 1200, 30, 110, 200);
    paint(img, 2600, 1700, 1800, 900, 210, 90, 40);
    for (int x = 0; x < k5KWidth; ++x)
        paint(img, x, 2700, 1, 180, x * 255 / k5KWidth, 160, 255 - x * 255 / k5KWidth);
    return img;
}

const kit::Image& desktopImage() {
    static kit::Image img = desktop();
    return img;
}

void quiet() {
    // Timing lines on the console would dominate the measured loop.
    // Nor may the telemetry queue fill and post while the loop runs.
    imaging::setDiagnostics(
        {[](const std::string&, const std::string&) {}, [](const std::string&, const imaging::EventData&) {},
         [](const std::string&, double, double) {}, [](const std::string&, const std::string&) {}});
}

// A whole row and a whole column without any edge: the longest walks.
void BM_ScoutAcrossUniform5K(benchmark::State& state) {
    quiet();
    kit::Image img(k5KWidth, k5KHeight);
    img.fill(kit::Color::rgb(120, 130, 140));
    Capture cap = Capture::of(img);
    const bool vertical = state.range(0);
    for (auto _ : state) benchmark::DoNotOptimize(imaging::scout(cap, 2560, 1440, vertical, 0));
}
BENCHMARK(BM_ScoutAcrossUniform5K)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 2000 x 1990 window: close to the largest box the fill accepts.
void BM_FloodFillWindow5K(benchmark::State& state) {
    quiet();
    Capture cap = Capture::of(desktopImage());
    for (auto _ : state) benchmark::DoNotOptimize(imaging::scanlineFloodFill(cap, 1000, 1500));
}
BENCHMARK(BM_FloodFillWindow5K)->Unit(benchmark::kMillisecond);

// The background surrounds everything: the fill gives up at the area limit.
void BM_FloodFillBackground5K(benchmark::State& state) {
    quiet();
    Capture cap = Capture::of(desktopImage());
    for (auto _ : state) benchmark::DoNotOptimize(imaging::scanlineFloodFill(cap, 10, 10));
}
BENCHMARK(BM_FloodFillBackground5K)->Unit(benchmark::kMillisecond);

void BM_DominantColors5K(benchmark::State& state) {
    quiet();
    for (auto _ : state)
        benchmark::DoNotOptimize(imaging::ColorMagic::dominantColors(desktopImage(), 8, 400));
}
BENCHMARK(BM_DominantColors5K)->Unit(benchmark::kMillisecond);

// Forty lines of 16-pixel text over a full-HD screen, saved as a PNG.
std::string fullHDTextFile() {
    static const char* sentences[] = {
        "The quarterly report shows steady growth in every region we serve.",
        "Please review the attached changes before the meeting on Thursday.",
        "Build 4711 passed all checks; the release notes are in the wiki.",
        "Remember to rotate the access keys and update the deployment scripts.",
    };
    std::vector<imaging::test::TextLinePlacement> lines;
    for (int i = 0; i < 40; ++i)
        lines.push_back(
            {std::to_string(i + 1) + ". " + sentences[i % 4], 40.0 + (i % 2) * 960, 20.0 + (i / 2) * 52, 16});
    kit::Image img = imaging::test::textPicture(1920, 1080, lines);
    std::string path = (benchsupport::scratchDir() / "kadrix-bench-ocr.png").string();
    auto png = kit::ImageIO::encodePNG(img);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(png.data(), 1, png.size(), f);
        std::fclose(f);
    }
    return path;
}

// Each iteration reads the file with ours (the timed part) and with the
// command; the counters give the times and the ratios (ours / command).
void BM_OcrFullHDVersusTesseractCommand(benchmark::State& state) {
    quiet();
    const std::string path = fullHDTextFile();
    const kit::Image img = kit::ImageIO::read(path);
    const imaging::RecognitionSettings settings{"en-US", 1};
    size_t characters = 0;
    imaging::ocr(img, settings, [&](const std::string& t) { characters = t.size(); });  // loads the engine
    // As users run it, and held to one thread as ours is (its default of
    // four spin-waiting threads suffers most on a busy machine).
    const std::string command = "tesseract '" + path + "' - >/dev/null 2>&1";
    const std::string oneThread = "OMP_THREAD_LIMIT=1 " + command;
    auto run = [&](const std::string& c) {
        return secondsOf([&] {
            if (std::system(c.c_str()) != 0) state.SkipWithError("the tesseract command failed");
        });
    };
    double ours = 0, theirs = 0, theirsOneThread = 0;
    for (auto _ : state) {
        double s = secondsOf(
            [&] { imaging::ocr(img, settings, [&](const std::string& t) { characters = t.size(); }); });
        state.SetIterationTime(s);
        ours += s;
        theirs += run(command);
        theirsOneThread += run(oneThread);
    }
    const double n = double(state.iterations());
    state.counters["ours_ms"] = ours / n * 1000;
    state.counters["command_ms"] = theirs / n * 1000;
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
    state.counters["command_1thread_ms"] = theirsOneThread / n * 1000;
    state.counters["ratio_1thread"] = theirsOneThread > 0 ? ours / theirsOneThread : 0;
    state.counters["characters"] = double(characters);
}
}  // namespace

int main(int argc, char** argv) {
    // The command takes seconds a round on a small machine: one round when smoking.
    benchmark::RegisterBenchmark("BM_OcrFullHDVersusTesseractCommand", BM_OcrFullHDVersusTesseractCommand)
        ->UseManualTime()
        ->Iterations(smokeRun(argc, argv) ? 1 : 5)
        ->Unit(benchmark::kMillisecond);
    return runApplicationBenchmarks(argc, argv);
}
