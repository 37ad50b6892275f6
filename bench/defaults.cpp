// A settings read after the first: the hot path of every drawing and event
// handler that consults a preference. One map look-up under the store's mutex.
#include "kit/base/Defaults.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A store with as many keys as the application keeps (about 60 settings plus
// tool options), in memory: reads never touch the file either way.
kit::Defaults& store() {
    static kit::Defaults* d = [] {
        auto* s = new kit::Defaults("");
        for (int i = 0; i < 120; ++i) s->set("ObjectsModule.ObjTool" + std::to_string(i) + ": size", i);
        s->set("realPixels", false);
        s->set("fileNameTemplate", "SCR-%Y%m%d-%t");
        s->set("libLimit", 500);
        return s;
    }();
    return *d;
}

void DefaultsBooleanRead(benchmark::State& state) {
    auto& d = store();
    for (auto _ : state) benchmark::DoNotOptimize(d.boolean("realPixels"));
}
BENCHMARK(DefaultsBooleanRead)->Threads(1)->Threads(2);

void DefaultsIntegerRead(benchmark::State& state) {
    auto& d = store();
    for (auto _ : state) benchmark::DoNotOptimize(d.integer("libLimit"));
}
BENCHMARK(DefaultsIntegerRead);

void DefaultsStringRead(benchmark::State& state) {
    auto& d = store();
    for (auto _ : state) benchmark::DoNotOptimize(d.string("fileNameTemplate"));
}
BENCHMARK(DefaultsStringRead);

}  // namespace

BENCHMARK_MAIN();
