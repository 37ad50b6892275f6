// From a capture to the editor's first painted frame: the root grab of a
// private Xvfb screen (1920×1080 and 3840×2160), the core's load of the image
// with its fresh editor state, and the editor window's content (tool bar,
// status and canvas) drawn once.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "BenchSupport.h"
#include "EditorCore.h"
#include "XvfbScreens.h"
#include "editor/Framer.h"
#include "kit/desktop/Grab.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"

namespace {

benchsupport::XvfbScreens screens;

void BM_CaptureToFirstFrame(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    setenv("DISPLAY", screens.displayFor(w, h).c_str(), 1);
    core::AppLogic& logic = benchsupport::coreWithEditor();
    kit::Window* win = logic.winMain();
    if (!win) return state.SkipWithError("no editor window");
    editor::Framer::shared()._dpr.set(1.0);
    for (auto _ : state) {
        kit::Image shot = kit::grabArea({0, 0, double(w), double(h)});
        if (shot.isNull()) return state.SkipWithError("no grab");
        if (!logic.loadImage(shot, false)) return state.SkipWithError("load failed");
        kit::Image frame = win->contentView()->snapshot(1.0);
        benchmark::DoNotOptimize(frame.bits());
    }
}

BENCHMARK(BM_CaptureToFirstFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-core");
}
