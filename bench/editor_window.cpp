// From a loaded 1920 × 1080 capture to the editor window's first painted
// frame, offscreen: the editor takes the image (viewport, canvas image,
// welcome panel away, mode and status read-out) and the whole window is
// painted once, tool bar, read-out and canvas. Each run shows a new copy of
// the capture, so no cache of an earlier picture helps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "BenchSupport.h"
#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/MainWindowController.h"
#include "kit/base/Dispatch.h"
#include "kit/ui/Window.h"

namespace {

constexpr int kW = 1920, kH = 1080;

kit::Image capture() {
    return patternedCapture(kW, kH);
}

// The editor's side of the core's image load.
struct BenchCore : editor::CoreHost {
    kit::Image image;
    kit::Image imgSource() const override { return image; }
    void show(const kit::Image& img) {
        image = img;
        auto& c = editor::MainWindowController::shared();
        editor::Framer& f = editor::Framer::shared();
        f._dpr.set(1);
        c.setMainToolbarVisible(true);
        c.windowResized();
        services::Rect whole{0, 0, double(img.width()), double(img.height())};
        f.crop = f.source = f.original = whole;
        f.zoomToFit(whole, true);
        f._zoom.set(std::min(f.zoom(), 1.0));
        f.setOffset({whole.width / 2, whole.height / 2}, {f.area.width / 2, f.area.height / 2});
        editor::setCanvasImage(img);
        c.viewController->imgLoaded();
        c.applySelectionMode("default");
        c.showStatus(int(f.zoom() * 100), editor::statusSizeText(img.width(), img.height(), 1, false),
                     "Image size", "#3A7BD5", kit::Color::rgb(0x3A, 0x7B, 0xD5));
    }
};

void BM_LoadedCaptureToFirstFrame(benchmark::State& state) {
    static BenchCore core;
    editor::setCore(&core);
    auto& c = editor::MainWindowController::shared();
    c.window->setContentSize({1280, 800});
    const kit::Image shot = capture();
    for (auto _ : state) {
        core.show(shot.copy());
        kit::Image frame = c.window->contentView()->snapshot(1.0);
        benchmark::DoNotOptimize(frame.width());
    }
    // The frame must show the capture: its middle is the capture's middle pixel.
    kit::Image frame = c.window->contentView()->snapshot(1.0);
    kit::Rect canvas = c.viewController->shotView->frame();
    kit::PixelBGRA mid = frame.pixel(int(canvas.midX()), int(frame.height() - canvas.midY()));
    kit::PixelBGRA want = shot.pixel(kW / 2, kH / 2);
    if (std::abs(mid.g - want.g) > 40) state.SkipWithError("the painted frame does not show the capture");
    state.counters["threads"] = benchmark::Counter(double(kit::usableCores()));
}
BENCHMARK(BM_LoadedCaptureToFirstFrame)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-editor-window");
}
