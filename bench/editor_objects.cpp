// The object manager under load: the hit test among 500 objects, one drag
// step of one object among 200 (every object laid out again, with the
// spotlight curtain), and an undo snapshot of 200 objects. The objects are
// rectangles, arrows, texts and freehand strokes mixed, as a user leaves them.
#include <benchmark/benchmark.h>

#include <cmath>

#include "BenchSupport.h"
#include "editor/Framer.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "kit/base/Event.h"
#include "objects/ObjText.h"

namespace {

using editor::ObjectHandlers;

// n objects in a grid over a 2400 × 1600 picture at zoom 1, one spotlight among them.
void fill(ObjectHandlers& m, int n) {
    editor::Framer& f = editor::Framer::shared();
    f._dpr.set(1);
    f._zoom.set(1);
    f.source = f.crop = {0, 0, 2400, 1600};
    f.area = {0, 0, 1920, 1080};
    m.clear();
    const char* types[] = {"ObjRectangle", "ObjArrow", "ObjText", "ObjFreehand"};
    for (int i = 0; i < n; ++i) {
        const double x = (i % 25) * 95 + 5, y = (i / 25) * 75 + 5;
        m.createOnClick = i == 0 ? "ObjSpotlight" : types[i % 4];
        kit::Event e;
        m.mouseDown(&e, {x, y}, 0);
        for (int k = 1; k <= 6; ++k) m.mouseDrag(&e, {x + k * 12, y + k * 9 + 4 * std::sin(k)}, 0);
        if (auto* t = dynamic_cast<objects::ObjText*>(m.activeObj().get()))
            t->appendText("Note " + std::to_string(i));
        m.mouseUp(&e, {x + 72, y + 54}, 0);
        m.deactivate();
    }
    m.createOnClick.clear();
}

void BM_HitTest500(benchmark::State& state) {
    ObjectHandlers& m = ObjectHandlers::shared();
    fill(m, 500);
    int i = 0;
    for (auto _ : state) {
        // Over an object's edge, and over empty canvas between objects.
        const double x = (i % 25) * 95 + 5, y = ((i / 25) % 20) * 75 + 5 + (i % 2 ? 0 : 60);
        benchmark::DoNotOptimize(m.getResponder({x, y}));
        ++i;
    }
    state.counters["objects"] = double(m.objects.size());
}
BENCHMARK(BM_HitTest500)->Unit(benchmark::kMicrosecond);

void BM_DragStep200(benchmark::State& state) {
    ObjectHandlers& m = ObjectHandlers::shared();
    fill(m, 200);
    kit::Event e;
    m.mouseDown(&e, {100, 5}, 0);  // the first arrow's shaft
    int step = 0;
    for (auto _ : state) {
        ++step;
        m.mouseDrag(&e, {100.0 + (step % 40), 5.0 + (step % 30)}, 0);
        m.layoutObjects();
    }
    m.mouseUp(&e, {100, 5}, 0);
    state.counters["objects"] = double(m.objects.size());
}
BENCHMARK(BM_DragStep200)->Unit(benchmark::kMillisecond);

void BM_UndoSnapshot200(benchmark::State& state) {
    ObjectHandlers& m = ObjectHandlers::shared();
    fill(m, 200);
    for (auto _ : state) benchmark::DoNotOptimize(editor::Undo::shared().current("").full.size());
}
BENCHMARK(BM_UndoSnapshot200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-objects");
}
