// The windows a capture can go to instead of the editor, with a 4K capture
// (3840 × 2160): a new capture shown as the thumbnail, and a pin's repaint
// and zoom step. Each pass paints the content as the window would (a
// snapshot of its view), so the cost of scaling the capture down is in it:
// a repaint (the tool bar coming and going) must not scale the whole capture
// again.
#include "BenchSupport.h"
#include "capture/CaptureHost.h"
#include "capture/PinViewController.h"
#include "capture/PinWindowController.h"
#include "capture/PreviewViewController.h"
#include "capture/PreviewWindowController.h"

namespace {

// Telemetry stays out of the measure.
void quietHost() {
    capture::CaptureHost h;
    h.event = [](const std::string&, const kit::Json&) {};
    h.preset = h.event;
    h.repeatableEvent = h.event;
    capture::setHost(h);
}

const kit::Image& capture4K() {
    static const kit::Image img = patternedCapture(3840, 2160);
    return img;
}

}  // namespace

// Every capture is new to the painter: no scaled copy of it is kept yet.
static void BM_PreviewShowNewCapture(benchmark::State& state) {
    quietHost();
    auto wc = std::make_shared<capture::PreviewWindowController>();
    for (auto _ : state) {
        state.PauseTiming();
        const kit::Image img = capture4K().copy();
        state.ResumeTiming();
        wc->showPreview(img, {0, 0, 3840, 2160});
        benchmark::DoNotOptimize(wc->content()->snapshot());
        state.PauseTiming();
        wc->hidePreview();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PreviewShowNewCapture)->Unit(benchmark::kMillisecond);

static void BM_PinRepaint(benchmark::State& state) {
    quietHost();
    auto pin = std::make_shared<capture::PinWindowController>(1);
    pin->pin(capture4K(), {960, 540});
    benchmark::DoNotOptimize(pin->controller()->snapshot());
    for (auto _ : state) benchmark::DoNotOptimize(pin->controller()->snapshot());
    pin->close();
}
BENCHMARK(BM_PinRepaint)->Unit(benchmark::kMillisecond);

// In and out again: each step is a size the painter has not drawn yet, or
// the one before it.
static void BM_PinZoomStep(benchmark::State& state) {
    quietHost();
    auto pin = std::make_shared<capture::PinWindowController>(1);
    pin->pin(capture4K(), {960, 540});
    bool in = true;
    for (auto _ : state) {
        pin->zoom(in);
        in = !in;
        benchmark::DoNotOptimize(pin->controller()->snapshot());
    }
    pin->close();
}
BENCHMARK(BM_PinZoomStep)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-capture-windows");
}
