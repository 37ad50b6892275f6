// The backdrop's hot paths. Setting up and drawing a mesh backdrop around a
// 4K screenshot (as the editor does when the look changes) and the export
// compile of a 5K screenshot on a mesh backdrop with
// grain and a shadow (the mesh then drawn at full size). Counter: cores.
#include <benchmark/benchmark.h>

#include <thread>

#include "BenchSupport.h"
#include "backdrop/Backdrop.h"
#include "core/ExportHost.h"
#include "core/Exporter.h"
#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/draw/LayerRenderer.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace {

// A backdrop around a screenshot of w × h pixels, shown in mesh mode.
struct MeshBackdrop {
    backdrop::Backdrop b;
    services::Rect source;
    MeshBackdrop(int w, int h) : source{0, 0, double(w), double(h)} {
        b.sourceRect = [this] { return source; };
        b.pixelRatio = [] { return 2.0; };
        b.objectBounds = [] { return std::optional<services::Rect>(); };
        b.notify = [](const std::string&, const std::string&) {};
        b.applyConfig({{"isOn", 1},
                       {"mode", "mesh"},
                       {"padding", 48},
                       {"innerRadius", 12},
                       {"shadow", 0.5},
                       {"shadowRadius", 24},
                       {"noise", 0.3}});
    }
};

void BM_MeshBackdropSetupAndRender4K(benchmark::State& state) {
    MeshBackdrop m(3840, 2160);
    int seed = 0;
    for (auto _ : state) {
        // A new seed each time: nothing cached from the last round.
        m.b.applyConfig({{"meshSeed", ++seed}});
        m.b.setup(false);
        kit::Image img = kit::renderToImage(*m.b.lbackdrop(), 1.0);
        benchmark::DoNotOptimize(img.bits());
    }
    state.counters["cores"] = kit::usableCores();
}
BENCHMARK(BM_MeshBackdropSetupAndRender4K)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 5K screenshot alone in its canvas layer: the objects' cost is the
// export benchmark's; this one measures what the backdrop adds.
struct ScreenshotOnly : core::ExportHost {
    kit::Image shot = patternedCapture(5120, 2880);
    kit::LayerPtr root = kit::Layer::make();
    ScreenshotOnly() {
        root->setBounds({0, 0, double(shot.width()), double(shot.height())});
        auto canvas = kit::Layer::make();
        canvas->setFrame(root->bounds());
        canvas->setContents(shot);
        root->addSublayer(canvas);
    }
    kit::Image imgPrecompiled() const override { return shot; }
    kit::LayerPtr objectsLayer() const override { return root; }
};

void BM_ExportCompileWithMeshBackdrop5K(benchmark::State& state) {
    constexpr int W = 5120, H = 2880;
    kit::Defaults storage{""};
    services::Settings settings{storage};
    services::Telemetry telemetry{settings, [](const std::string&, const std::vector<services::EventRecord>&,
                                               services::PostCompletion) {}};
    settings.setTelemetry(&telemetry);
    ScreenshotOnly host;
    core::Exporter exporter{host, settings, telemetry};
    MeshBackdrop m(W, H);
    editor::setBackdrop(&m.b);
    for (auto _ : state) {
        kit::Image flat = exporter.compileImage();
        if (flat.width() != W + 2 * 96) state.SkipWithError("the backdrop was not drawn");
        benchmark::DoNotOptimize(flat.bits());
    }
    editor::setBackdrop(nullptr);
    state.counters["cores"] = kit::usableCores();
}
BENCHMARK(BM_ExportCompileWithMeshBackdrop5K)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-backdrop");
}
