// One frame of the editor canvas: the re-layout and the paint of what the
// 1920 × 1080 canvas shows of a 5120 × 2880 capture with 200 annotation
// objects (rectangles, arrows, texts and freehand strokes), at fit, 100 % and
// 800 %. "Warm" frames repeat a zoom whose caches exist; "cold" frames follow
// a new image, so the reduced copies of the picture are made in the frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "editor/CanvasInput.h"
#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/ShotView.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/ui/Window.h"
#include "objects/ObjArrow.h"
#include "objects/ObjFreehand.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjText.h"
#include "objects/ObjectHost.h"

namespace {

constexpr int kW = 5120, kH = 2880;

kit::Image capture() {
    return patternedCapture(kW, kH);
}

// The object manager as far as the canvas needs it: the objects' layers and
// their layout.
class BenchObjects : public objects::ObjectHost, public editor::ObjectInput {
public:
    kit::LayerPtr root = kit::Layer::make(), canvas = kit::Layer::make(), control = kit::Layer::make();
    BenchObjects() { root->addSublayer(canvas); }

    kit::LayerPtr layer() const override { return root; }
    kit::LayerPtr lcontrol() const override { return control; }
    kit::LayerPtr lcanvas() const override { return canvas; }
    void layoutObjects() override {
        for (auto& o : objects) o->draw();
    }
};

struct BenchCore : editor::CoreHost {
    kit::Image image;
    kit::Image imgSource() const override { return image; }
};

// A user's drag in view space (zoom 1, no pan: view = image points).
void drawByDrag(objects::ProtoObject& o, kit::Point from, kit::Point to, int steps) {
    o.mouseDown(nullptr, from);
    for (int i = 1; i <= steps; ++i) {
        const double t = double(i) / steps;
        o.mouseDrag(nullptr,
                    {from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t + 20 * std::sin(t * 6)});
    }
    o.mouseUp(nullptr, to);
    o.state = "unselected";
}

struct Scene {
    BenchCore core;
    BenchObjects objects;
    std::unique_ptr<kit::Window> window;
    std::shared_ptr<editor::ShotView> view;

    Scene() {
        core.image = capture();
        editor::setCore(&core);
        editor::Handlers::shared().objects = &objects;
        window = std::make_unique<kit::Window>(kit::Rect{0, 0, 1920, 1080}, kit::WindowStyle::Titled);
        view = editor::ShotView::make({0, 0, 1920, 1080});
        window->setContentView(view);
        editor::Framer& f = editor::Framer::shared();
        f._dpr.set(1);
        f._zoom.set(1);
        f.setOffset({0, 0}, {0, 0});
        f.area = {0, 0, 1920, 1080};
        f.original = f.crop = f.source = {0, 0, kW, kH};
        editor::setCanvasImage(core.image);
        auto drawing = objects.root, control = objects.control;
        for (int i = 0; i < 200; ++i) {
            const double x = 100 + (i % 20) * 240, y = 100 + (i / 20) * 260;
            std::shared_ptr<objects::ProtoObject> o;
            switch (i % 4) {
                case 0:
                    o = std::make_shared<objects::ObjRectangle>(&objects, drawing, control);
                    break;
                case 1:
                    o = std::make_shared<objects::ObjArrow>(&objects, drawing, control);
                    break;
                case 2: {
                    auto t = std::make_shared<objects::ObjText>(&objects, drawing, control);
                    t->text = "Label " + std::to_string(i);
                    t->rect = {x, y, 160, 40};
                    t->state = "unselected";
                    o = t;
                    break;
                }
                default:
                    o = std::make_shared<objects::ObjFreehand>(&objects, drawing, control);
                    break;
            }
            objects.objects.push_back(o);
            if (i % 4 != 2) drawByDrag(*o, {x, y}, {x + 180, y + 120}, 40);
        }
    }
    ~Scene() {
        editor::Handlers::shared().objects = nullptr;
        editor::resetCanvasLayers();
        editor::setCore(nullptr);
    }

    // One frame: the re-layout and a paint of the whole visible canvas.
    void frame() {
        editor::relayoutCanvas(false);
        kit::Image shown = kit::renderToImage(*view->layer(), 1);
        benchmark::DoNotOptimize(shown.bits());
    }
};

Scene& scene() {
    static Scene* s = new Scene;
    return *s;
}

void zoomTo(int which) {
    editor::Framer& f = editor::Framer::shared();
    if (which == 0) {
        f.zoomToFit({0, 0, kW, kH}, false);
    } else {
        f._zoom.set(which == 1 ? 1.0 : 8.0);
        f.setOffset({kW / 2.0, kH / 2.0}, {960, 540});
    }
}

// Frames at one zoom, caches warm.
void BM_CanvasFrame(benchmark::State& state) {
    Scene& s = scene();
    zoomTo(int(state.range(0)));
    s.frame();
    for (auto _ : state) s.frame();
}
BENCHMARK(BM_CanvasFrame)->ArgName("fit_100_800")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The two halves of a warm frame.
void BM_CanvasRelayout(benchmark::State& state) {
    scene();
    zoomTo(int(state.range(0)));
    for (auto _ : state) editor::relayoutCanvas(false);
}
BENCHMARK(BM_CanvasRelayout)->ArgName("fit_100_800")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_CanvasPaint(benchmark::State& state) {
    Scene& s = scene();
    zoomTo(int(state.range(0)));
    s.frame();
    for (auto _ : state) {
        kit::Image shown = kit::renderToImage(*s.view->layer(), 1);
        benchmark::DoNotOptimize(shown.bits());
    }
}
BENCHMARK(BM_CanvasPaint)->ArgName("fit_100_800")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The first frame with a new picture of the same size: the reduced copies
// the zoom needs are made inside the frame.
void BM_CanvasFrameCold(benchmark::State& state) {
    Scene& s = scene();
    zoomTo(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        editor::setCanvasImage(s.core.image.copy());
        state.ResumeTiming();
        s.frame();
    }
    editor::setCanvasImage(s.core.image);
}
BENCHMARK(BM_CanvasFrameCold)->ArgName("fit_100_800")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The first frame after each zoom step: every step lands on a zoom whose
// reduced picture and composited groups are not cached (more levels than the
// caches keep), as when the user zooms through a range.
void BM_CanvasFrameAfterZoomChange(benchmark::State& state) {
    Scene& s = scene();
    const std::vector<double> below = {0.25, 0.3, 0.35, 0.4, 0.45}, above = {1, 2, 4, 8, 16};
    const std::vector<double>& zooms = state.range(0) == 0 ? below : above;
    editor::Framer& f = editor::Framer::shared();
    size_t i = 0;
    for (auto _ : state) {
        f._zoom.set(zooms[i++ % zooms.size()]);
        f.setOffset({kW / 2.0, kH / 2.0}, {960, 540});
        s.frame();
    }
}
BENCHMARK(BM_CanvasFrameAfterZoomChange)
    ->ArgName("below_above_100")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-canvas");
}
