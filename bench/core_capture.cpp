// From a capture to the editor's first painted frame: the root grab of a
// private Xvfb screen (1920×1080 and 3840×2160), the core's load of the image
// with its fresh editor state, and the canvas view drawn once.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "BenchSupport.h"
#include "XvfbScreens.h"
#include "core/AppLogic.h"
#include "editor/Framer.h"
#include "editor/ShotView.h"
#include "kit/Grab.h"
#include "kit/Window.h"

namespace {

benchsupport::XvfbScreens screens;

// The real canvas and crop tool behind a window of the bench's own.
class BenchEditor : public core::EditorLink {
public:
    explicit BenchEditor(kit::Window* win) : win_(win) {}
    kit::Window* window() override { return win_; }

private:
    kit::Window* win_;
};

void BM_CaptureToFirstFrame(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    setenv("DISPLAY", screens.displayFor(w, h).c_str(), 1);
    kit::Window win({0, 0, 960, 600}, kit::WindowStyle::Titled | kit::WindowStyle::Resizable);
    auto canvas = editor::ShotView::make({0, 0, 960, 600});
    win.setContentView(canvas);
    win.orderFront();
    core::AppLogic logic({}, std::make_unique<core::CaptureRoutes>(), std::make_unique<BenchEditor>(&win));
    editor::Framer::shared()._dpr.set(1.0);
    for (auto _ : state) {
        kit::Image shot = kit::grabArea({0, 0, double(w), double(h)});
        if (shot.isNull()) return state.SkipWithError("no grab");
        if (!logic.loadImage(shot, false)) return state.SkipWithError("load failed");
        kit::Image frame = canvas->snapshot(1.0);
        benchmark::DoNotOptimize(frame.bits());
    }
}

BENCHMARK(BM_CaptureToFirstFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-core");
}
