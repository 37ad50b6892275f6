// Annotation hot paths: the full stroke outline build over 2000 pointer
// samples (run on every sample while a highlighter is drawn), and one layout
// pass that draws 200 annotation objects into their layers.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "BenchSupport.h"
#include "kit/draw/Layer.h"
#include "objects/FreehandHelper.h"
#include "objects/ObjArrow.h"
#include "objects/ObjCounter.h"
#include "objects/ObjLine.h"
#include "objects/ObjOval.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjectHost.h"

namespace {

using namespace objects;
using Points = objects::FreehandHelper::Points;

// A manager over a viewport at pixel ratio 2 and zoom 1.
class BenchHost : public ObjectHost {
public:
    double dpr() const override { return 2; }
};

Points wavyStroke(int n) {
    Points p;
    p.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        double t = i * 0.05;
        p.push_back(Point::at(i * 0.9 + 3 * std::sin(t * 3), 200 + 80 * std::sin(t) + 2 * std::cos(t * 7)));
    }
    return p;
}

// The reference order of the outline build, as the freehand object runs it.
Points outlineBuild(const Points& raw, double smoothing, double resolution, double width) {
    static const BenchHost view;
    Points p = objects::FreehandHelper::measureLengths(raw);
    p = objects::FreehandHelper::levelStart(p, resolution);
    p = objects::FreehandHelper::smoothCenterLine(std::move(p), smoothing, resolution, view);
    return objects::FreehandHelper::outline(p, width, 0.05, 3);
}

void BM_StrokePipeline2000(benchmark::State& state) {
    Points raw = wavyStroke(2000);
    for (auto _ : state) {
        Points shape = outlineBuild(raw, 0.9, 0.5, 40);
        kit::Path path = objects::FreehandHelper::bezierPath(shape);
        benchmark::DoNotOptimize(path.elements().data());
    }
}
BENCHMARK(BM_StrokePipeline2000)->Unit(benchmark::kMillisecond);

void BM_Draw200Objects(benchmark::State& state) {
    BenchHost manager;
    auto drawing = kit::Layer::make(), control = kit::Layer::make();
    for (int i = 0; i < 200; ++i) {
        double x = (i % 20) * 120, y = (i / 20) * 90;
        std::shared_ptr<objects::ProtoObject> o;
        switch (i % 5) {
            case 0:
                o = std::make_shared<objects::ObjRectangle>(&manager, drawing, control);
                break;
            case 1:
                o = std::make_shared<objects::ObjLine>(&manager, drawing, control);
                break;
            case 2:
                o = std::make_shared<objects::ObjArrow>(&manager, drawing, control);
                break;
            case 3:
                o = std::make_shared<objects::ObjOval>(&manager, drawing, control);
                break;
            default:
                o = std::make_shared<objects::ObjCounter>(&manager, drawing, control);
                break;
        }
        o->rect = {x + 10, y + 10, 90, 60};
        o->state = i == 0 ? "selected" : "unselected";
        manager.objects.push_back(o);
    }
    int step = 0;
    for (auto _ : state) {
        // Each pass moves every object, so every outline is rebuilt.
        ++step;
        for (auto& o : manager.objects) {
            o->rect.x1 += (step % 2) ? 1 : -1;
            o->draw();
        }
    }
}
BENCHMARK(BM_Draw200Objects)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-objects");
}
