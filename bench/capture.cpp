// Capture benchmarks.
//  - Full screen to a PNG file: kadrix-screencapture -R against scrot and
//    ImageMagick's import, each on private Xvfb screens of 1920×1080 and
//    3840×2160 showing the same windows. Processes are timed end to end.
//  - The in-process root grab of a 3840×2160 screen (no file).
//  - Registration of one frame pair at 1920×1080 and at 3840×2160 (of text
//    that never repeats, and of a terminal's look-alike lines), today's
//    beside the one before look-alike lines were told apart, and stitching
//    40 such frames.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "RegistrationBefore.h"
#include "XvfbScreens.h"
#include "capture/Registration.h"
#include "capture/ScrollCapturer.h"
#include "kit/desktop/Grab.h"

namespace {

using benchsupport::buildDir;
using benchsupport::spawn;
benchsupport::XvfbScreens screens;

bool have(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

int runQuiet(const std::vector<std::string>& args) {
    pid_t pid = spawn(args);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void fullScreenToFile(benchmark::State& state, const std::string& tool) {
    int w = int(state.range(0)), h = int(state.range(1));
    setenv("DISPLAY", screens.displayFor(w, h).c_str(), 1);
    std::string out = (benchsupport::scratchDir() / ("kadrix-bench-" + tool + ".png")).string();
    std::vector<std::string> cmd;
    if (tool == "kadrix") {
        cmd = {(buildDir() / "bin" / "kadrix-screencapture").string(), "-x",
               "-R0,0," + std::to_string(w) + "," + std::to_string(h), out};
    } else if (tool == "scrot") {
        if (!have("scrot")) return state.SkipWithError("scrot is not installed");
        cmd = {"scrot", "-o", out};
    } else {
        cmd = {"import", "-window", "root", out};
    }
    for (auto _ : state)
        if (runQuiet(cmd) != 0) return state.SkipWithError((tool + " failed").c_str());
    std::filesystem::remove(out);
}

void BM_FullScreenPNG_kadrix(benchmark::State& s) {
    fullScreenToFile(s, "kadrix");
}
void BM_FullScreenPNG_scrot(benchmark::State& s) {
    fullScreenToFile(s, "scrot");
}
void BM_FullScreenPNG_import(benchmark::State& s) {
    fullScreenToFile(s, "import");
}

void BM_RootGrabInProcess(benchmark::State& state) {
    setenv("DISPLAY", screens.displayFor(3840, 2160).c_str(), 1);
    kit::Rect all(0, 0, 3840, 2160);
    for (auto _ : state) {
        kit::Image img = kit::grabArea(all);
        if (img.isNull()) return state.SkipWithError("no grab");
        benchmark::DoNotOptimize(img.bits());
    }
}

// Text-like: mostly white with dark blocks that never repeat, in cells of
// 6 × 14 pixels at scale `k`.
kit::Image noisePage(int w, int h, int k = 1) {
    kit::Image img(w, h);
    uint8_t* p = img.mutableBits();
    uint32_t v = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, p += 4) {
            v = v * 1664525u + 1013904223u;
            uint8_t c =
                ((x / (6 * k) + (y / (14 * k)) * 7) % 5 == 0 && (v >> 28) < 9) ? uint8_t(v >> 8) % 80 : 245;
            p[0] = p[1] = p[2] = c;
            p[3] = 255;
        }
    return img;
}

const kit::Image& page() {
    static kit::Image p = noisePage(1920, 1080 + 40 * 140);
    return p;
}

// A terminal's lines at scale `k`: the same text on every line of 13 rows,
// told apart only by a number in the first columns, so the middle columns
// agree at every whole number of lines and the whole width must decide.
kit::Image terminalPage(int w, int lines, int k = 1) {
    kit::Image img(w, lines * 13 * k);
    uint8_t* p = img.mutableBits();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < w; ++x, p += 4) {
            int line = y / (13 * k), cell = x / (6 * k), gy = y % (13 * k) / k, gx = x % (6 * k) / k;
            uint32_t key = cell < 4 ? uint32_t(line >> (cell * 3) & 7) : uint32_t(cell % 23);
            bool ink = gy >= 3 && gy < 10 && gx < 5 && ((key * 2654435761u) >> (gy * 5 + gx) % 29 & 1u);
            p[0] = p[1] = p[2] = ink ? 30 : 250;
            p[3] = 255;
        }
    return img;
}

// One frame pair of a screen `range(0)` pixels tall (1080: 1920 × 1080 at
// scale 1; 2160: 3840 × 2160 at scale 2), scrolled by ten text cells or five
// terminal lines, registered by today's algorithm (range(1) 1) or by the one
// before look-alike lines were told apart (0). The old one gets the terminal
// lines wrong: only its time is compared there.
struct Pair {
    kit::Image a, b;
    int dy;
};
const Pair& pairFor(bool terminal, int height) {
    static std::map<std::pair<bool, int>, Pair> pairs;
    auto [it, fresh] = pairs.try_emplace({terminal, height});
    if (fresh) {
        int k = height / 1080, w = 1920 * k;
        int dy = terminal ? 5 * 13 * k : 137 * k;
        kit::Image page =
            terminal ? terminalPage(w, height / (13 * k) + 20, k) : noisePage(w, height + dy, k);
        it->second = {page.cropped(0, 0, w, height), page.cropped(0, dy, w, height), dy};
    }
    return it->second;
}

void registerPair(benchmark::State& state, bool terminal) {
    const Pair& p = pairFor(terminal, int(state.range(0)));
    bool today = state.range(1) != 0;
    for (auto _ : state) {
        if (today) {
            auto s = capture::registerFrames(p.a, p.b);
            if (!s || s->dy != p.dy || !s->unambiguous()) return state.SkipWithError("wrong shift");
        } else {
            auto s = registration_before::registerFrames(p.a, p.b, 0);
            if (!s || (!terminal && s->dy != p.dy)) return state.SkipWithError("wrong shift");
        }
    }
}

void BM_RegisterTextLikePair(benchmark::State& state) {
    registerPair(state, false);
}
void BM_RegisterTerminalLinesPair(benchmark::State& state) {
    registerPair(state, true);
}

void BM_Stitch40Frames1080p(benchmark::State& state) {
    std::vector<kit::Image> frames;
    for (int i = 0; i < 40; ++i) frames.push_back(page().cropped(0, i * 140, 1920, 1080));
    bool withRegistration = state.range(0) != 0;
    for (auto _ : state) {
        std::vector<int> advances;
        for (size_t i = 1; i < frames.size(); ++i)
            advances.push_back(withRegistration ? capture::registerFrames(frames[i - 1], frames[i])->dy
                                                : 140);
        kit::Image img = capture::ScrollCapturer::combineMeasured(frames, advances, -1);
        if (img.height() != 1080 + 39 * 140) return state.SkipWithError("wrong height");
    }
}

}  // namespace

// Old and new side by side, on the same pairs, in one run.
static void oldAndNew(benchmark::internal::Benchmark* b) {
    b->ArgNames({"height", "today"})->Unit(benchmark::kMillisecond);
    for (int h : {1080, 2160}) b->Args({h, 0})->Args({h, 1});
}
BENCHMARK(BM_RegisterTextLikePair)->Apply(oldAndNew);
BENCHMARK(BM_RegisterTerminalLinesPair)->Apply(oldAndNew);
BENCHMARK(BM_Stitch40Frames1080p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RootGrabInProcess)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    // The three tools are timed alike: on both screens, eight runs each (one
    // in a smoke run).
    const int runs = smokeRun(argc, argv) ? 1 : 8;
    using Tool = void (*)(benchmark::State&);
    for (auto [name, tool] :
         {std::pair<const char*, Tool>{"BM_FullScreenPNG_kadrix", BM_FullScreenPNG_kadrix},
          std::pair<const char*, Tool>{"BM_FullScreenPNG_scrot", BM_FullScreenPNG_scrot},
          std::pair<const char*, Tool>{"BM_FullScreenPNG_import", BM_FullScreenPNG_import}})
        benchmark::RegisterBenchmark(name, tool)
            ->Args({1920, 1080})
            ->Args({3840, 2160})
            ->Unit(benchmark::kMillisecond)
            ->Iterations(runs);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
