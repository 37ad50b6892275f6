// The controls' work that runs per frame or per pointer move: one snake move
// with its repaint of 144 cells, the tool bar's overflow pass on a resize, the
// tooltip walk over a window's view tree, and a hint bubble's show and hide.
#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "controls/CtrlHelper.h"
#include "controls/CtrlLogoSnake.h"
#include "controls/CtrlToolbar.h"
#include "controls/hoveredToolTip.h"
#include "kit/base/Timer.h"

namespace {

void BM_SnakeMoveAndRepaint(benchmark::State& state) {
    kit::ManualClockScope clock;
    auto logo = std::make_shared<controls::CtrlLogoSnake>(kit::Rect{0, 0, 73, 33});
    logo->buildGrid();
    for (auto _ : state) {
        logo->playing = true;
        logo->game.reset();
        logo->game.bait = {0, 0};
        // Ten moves across the grid, each repainting every cell.
        for (int i = 0; i < 10; ++i) benchmark::DoNotOptimize(logo->move());
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_SnakeMoveAndRepaint);

void BM_ToolbarOverflowOnResize(benchmark::State& state) {
    auto bar = std::make_shared<controls::CtrlToolbar>(kit::Rect{0, 0, 200, 30});
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < 15; ++i)
        items.push_back({"Tool " + std::to_string(i) + " (" + char('A' + i) + ")", ""});
    bar->layoutItems(items);
    bar->select("tool 12");
    double width = 150;
    for (auto _ : state) {
        width = width > 500 ? 150 : width + 7;
        bar->setFrameSize({width, 30});
        bar->layout();
    }
}
BENCHMARK(BM_ToolbarOverflowOnResize);

void BM_HoveredToolTipOver500Views(benchmark::State& state) {
    auto root = kit::View::make({0, 0, 1000, 500});
    for (int i = 0; i < 50; ++i) {
        auto group = kit::View::make({(i % 10) * 100.0, (i / 10) * 100.0, 100, 100});
        for (int j = 0; j < 9; ++j) {
            auto leaf = kit::View::make({(j % 3) * 33.0, (j / 3) * 33.0, 30, 30});
            leaf->setToolTip("tip " + std::to_string(i * 10 + j));
            group->addSubview(leaf);
        }
        root->addSubview(group);
    }
    double x = 0;
    for (auto _ : state) {
        x = x > 990 ? 0 : x + 13;
        std::optional<std::string> tip;
        controls::hoveredToolTip(root->subviews(), {x, 250}, tip);
        benchmark::DoNotOptimize(tip);
    }
}
BENCHMARK(BM_HoveredToolTipOver500Views);

void BM_HintBubbleShowAndHide(benchmark::State& state) {
    kit::ManualClockScope clock;
    auto bubble = std::make_shared<controls::CtrlHelper>(kit::Rect{0, 0, 160, 56});
    bubble->awake();
    for (auto _ : state) {
        bubble->show();
        clock.advance(0.2);
        bubble->hide();
        clock.advance(0.3);
    }
}
BENCHMARK(BM_HintBubbleShowAndHide);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-controls");
}
