// Settings are read on drawing and event paths many times a second: after
// the first read a read is one map look-up under a lock (target: < 100 ns).
#include <benchmark/benchmark.h>

#include "kit/base/Defaults.h"
#include "services/Settings.h"

static void BM_CachedSettingRead(benchmark::State& state) {
    kit::Defaults storage("");
    services::Settings settings(storage);
    settings.realPixels();  // the first read stores the default and fills the cache
    for (auto _ : state) benchmark::DoNotOptimize(settings.realPixels());
}
BENCHMARK(BM_CachedSettingRead);

static void BM_CachedTextSettingRead(benchmark::State& state) {
    kit::Defaults storage("");
    services::Settings settings(storage);
    settings.colorFormat();
    for (auto _ : state) benchmark::DoNotOptimize(settings.colorFormat());
}
BENCHMARK(BM_CachedTextSettingRead);

static void BM_CachedSettingReadFromFourThreads(benchmark::State& state) {
    static kit::Defaults storage("");
    static services::Settings settings(storage);
    for (auto _ : state) benchmark::DoNotOptimize(settings.realPixels());
}
BENCHMARK(BM_CachedSettingReadFromFourThreads)->Threads(4);

BENCHMARK_MAIN();
