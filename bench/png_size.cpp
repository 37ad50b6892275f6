// The PNG encoder on screens of ten kinds at 1080p and 4K, and on screens
// of four kinds made from seeds (bench/ScreenPictures.h), against the usual
// writers' file (zlib level 3, each row's filter by the adaptive heuristic)
// for size and against the encoder as it stood before (bench/
// PngEncoderBefore.h) for CPU, the two run in turn on the same pixels.
//   Png/<screen>/<size>/one-core         the process pinned to one core
//   Png/<screen>/<size>/threads          as many threads as the encoder takes
//   Png/seed<n>/<screen>/<size>/...      the same on a screen made from seed n
// Counters: KB and ratio (the file over the usual writers'), before_ratio
// (the earlier encoder's file over theirs); cpu_ms and before_ms, CPU time
// (user and system, all threads) of one encode, the median of five;
// cpu_ratio, the first over the second. The one pass of a smoke run takes
// the first seed alone.
#include <benchmark/benchmark.h>
#include <sched.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../tests/kit/image/ReferencePng.h"
#include "BenchSupport.h"
#include "PngEncoderBefore.h"
#include "ScreenPictures.h"
#include "kit/image/PngEncoder.h"

namespace {

struct Size {
    const char* name;
    int w, h;
};
constexpr Size kSizes[] = {{"1080p", 1920, 1080}, {"4K", 3840, 2160}};

int repeats = 5;

double processCpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// While it lives, the calling thread (and the threads it starts) runs on the
// one core it is on; the encoders then see one usable core.
class PinnedToOneCore {
public:
    PinnedToOneCore() {
        sched_getaffinity(0, sizeof before_, &before_);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
    }
    ~PinnedToOneCore() { sched_setaffinity(0, sizeof before_, &before_); }

private:
    cpu_set_t before_;
};

// A screen made once, with the size of the usual writers' file of it.
const std::pair<kit::Image, double>& screen(const std::string& name, const screens::Kind& kind,
                                            const Size& size) {
    static std::map<std::string, std::pair<kit::Image, double>> made;
    auto& entry = made[name + size.name];
    if (entry.first.isNull()) {
        entry.first = kind.make(size.w, size.h);
        entry.second = double(testsupport::referencePng(entry.first).size());
    }
    return entry;
}

void BM_Png(benchmark::State& state, const std::string& name, const screens::Kind& kind, const Size& size,
            bool oneCore) {
    const auto& [img, reference] = screen(name, kind, size);
    std::vector<double> now, before;
    size_t bytes = 0, beforeBytes = 0;
    for (auto _ : state) {
        std::optional<PinnedToOneCore> pin;
        if (oneCore) pin.emplace();
        for (int i = 0; i < repeats; ++i) {
            const double t0 = processCpuMs();
            bytes = kit::Png::encode(img, 0, 3).size();
            const double t1 = processCpuMs();
            beforeBytes = png_before::encode(img, 0, 3).size();
            now.push_back(t1 - t0);
            before.push_back(processCpuMs() - t1);
        }
    }
    state.counters["KB"] = double(bytes) / 1024;
    state.counters["ratio"] = double(bytes) / reference;
    state.counters["before_ratio"] = double(beforeBytes) / reference;
    state.counters["cpu_ms"] = median(now);
    state.counters["before_ms"] = median(before);
    state.counters["cpu_ratio"] = median(now) / median(before);
}

void registerKinds(const std::string& prefix, std::span<const screens::Kind> kinds) {
    for (const auto& kind : kinds)
        for (const auto& size : kSizes)
            for (bool oneCore : {true, false}) {
                const std::string name = prefix + kind.name;
                benchmark::RegisterBenchmark(
                    ("Png/" + name + "/" + size.name + (oneCore ? "/one-core" : "/threads")).c_str(),
                    [=, &kind](benchmark::State& state) { BM_Png(state, name, kind, size, oneCore); })
                    ->Iterations(1)
                    ->Unit(benchmark::kMillisecond);
            }
}

}  // namespace

int main(int argc, char** argv) {
    const bool smoke = smokeRun(argc, argv);
    if (smoke) repeats = 1;
    registerKinds("", screens::kKinds);
    registerKinds("seed1/", screens::kSeeded<1>);
    if (!smoke) {
        registerKinds("seed2/", screens::kSeeded<2>);
        registerKinds("seed3/", screens::kSeeded<3>);
    }
    return runApplicationBenchmarks(argc, argv);
}
