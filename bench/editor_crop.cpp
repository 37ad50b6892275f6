// Hot paths of the crop tool and the ruler on 5K captures: the ruler's scout
// along a whole 5120-pixel row and column (it runs at every pointer move while
// a ruler key is held; budget 0.5 ms), one contrast measurement over a
// 5120 × 2880 selection (30 ms) and the magic selection of a 5K capture's
// background (50 ms).
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "editor/CropTool.h"
#include "editor/CropToolContrast.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/Ruler.h"
#include "imaging/PixelMap.h"
#include "services/Settings.h"

namespace {

constexpr int kLong = 5120, kShort = 2880;

void paint(kit::Image& img, int x, int y, int w, int h, int r, int g, int b) {
    kit::PixelBGRA p{uint8_t(b), uint8_t(g), uint8_t(r), 255};
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col) img.setPixel(col, row, p);
}

// A desktop-like capture: light background, three windows, a gradient band.
kit::Image desktop(int w, int h) {
    kit::Image img(w, h);
    img.fill(kit::Color::rgb(236, 238, 240));
    paint(img, w / 25, h / 20, w * 2 / 5, h * 7 / 10, 40, 44, 52);
    paint(img, w / 2, h / 10, w * 7 / 20, h * 2 / 5, 30, 110, 200);
    paint(img, w / 2, h * 6 / 10, w * 7 / 20, h * 3 / 10, 210, 90, 40);
    for (int x = 0; x < w; ++x) paint(img, x, h - h / 16, 1, h / 16, x * 255 / w, 160, 255 - x * 255 / w);
    return img;
}

struct BenchCore : editor::CoreHost {
    imaging::Capture shot;
    imaging::Capture capture() const override { return shot; }
    kit::Image imgPrecompiled() const override { return shot.pixels; }
};

// A uniform capture, so both walks of the scout run to the ends of the line.
void BM_RulerScoutAcrossWholeLine(benchmark::State& state) {
    const bool vertical = state.range(0) != 0;
    kit::Image img = vertical ? kit::Image(kShort, kLong) : kit::Image(kLong, kShort);
    img.fill(kit::Color::rgb(200, 200, 200));
    const imaging::Capture capture = imaging::Capture::of(img);
    const imaging::PixelMap map(capture);
    for (auto _ : state) {
        auto run = editor::rulerScout(map, img.width() / 2, img.height() / 2, vertical, 1, 25);
        benchmark::DoNotOptimize(run);
    }
    state.SetLabel(vertical ? "5120-px column" : "5120-px row");
}
BENCHMARK(BM_RulerScoutAcrossWholeLine)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ContrastOfA5KSelection(benchmark::State& state) {
    const imaging::Capture capture = imaging::Capture::of(desktop(kLong, kShort));
    for (auto _ : state) benchmark::DoNotOptimize(editor::getContrast(capture, {0, 0, kLong, kShort}));
}
BENCHMARK(BM_ContrastOfA5KSelection)->Unit(benchmark::kMillisecond);

void BM_MagicSelectOfA5KBackground(benchmark::State& state) {
    services::Settings::shared().storeBool("allowTelemetry", false);
    BenchCore core;
    core.shot = imaging::Capture::of(desktop(kLong, kShort));
    editor::setCore(&core);
    using namespace editor;  // (the viewport moves into the namespace)
    editor::Framer& f = editor::Framer::shared();
    f.crop = f.source = f.original = {0, 0, kLong, kShort};
    f._zoom.set(1);
    f._dpr.set(1);
    f.setOffset({0, 0}, {0, 0});
    editor::CropTool tool;
    for (auto _ : state) {
        tool.magicSelect(10, 10);  // the light background around the windows
        benchmark::DoNotOptimize(tool.selection());
    }
    editor::setCore(nullptr);
}
BENCHMARK(BM_MagicSelectOfA5KBackground)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-editor-crop");
}
