// The library's data over 10,000 sealed records with 2 KB of recognised text
// each: loading the database (target < 1 s), a text search (< 10 ms) and the
// five filter facets (< 10 ms).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "BenchSupport.h"
#include "LibraryRecords.h"
#include "kit/base/Files.h"
#include "library/DataLayer.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"

namespace {

constexpr int kRecords = 10000;

// A library folder holding the database of kRecords records, made once.
const std::string& libraryFolder() {
    static const std::string folder = [] {
        std::string f = (benchsupport::scratchDir() / "kadrix-bench-library-data").string();
        std::filesystem::remove_all(f);
        std::filesystem::create_directories(f);
        writeBenchLibrary(f, kRecords);
        return f;
    }();
    return folder;
}

library::ScreenLib& loadedLibrary() {
    static library::ScreenLib* lib = [] {
        auto* l = new library::ScreenLib(libraryFolder());
        l->loadNow();
        return l;
    }();
    return *lib;
}

void switchedOn() {
    services::Settings::shared().setLibEnabled(true);
    services::Settings::shared().setLibLimit(10000);
}

void BM_LoadTenThousandSealedRecords(benchmark::State& state) {
    switchedOn();
    const std::string folder = libraryFolder();
    size_t count = 0;
    for (auto _ : state) {
        library::ScreenLib lib(folder);
        lib.loadNow();
        count = lib.snapshot().size();
    }
    if (count != kRecords) state.SkipWithError("records went missing");
    state.counters["records"] = double(count);
}
BENCHMARK(BM_LoadTenThousandSealedRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

// Arg 0: a word in one record of a hundred; 1: a word in none (the whole text is read).
void BM_SearchTenThousand(benchmark::State& state) {
    switchedOn();
    auto& lib = loadedLibrary();
    const std::string query = state.range(0) == 0 ? "zanzibar" : "quetzalcoatl";
    size_t found = 0;
    for (auto _ : state) found = lib.search(query).size();
    if (found != (state.range(0) == 0 ? size_t(kRecords / 100) : 0u)) state.SkipWithError("wrong result");
    state.counters["found"] = double(found);
}
BENCHMARK(BM_SearchTenThousand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_FacetsTenThousand(benchmark::State& state) {
    switchedOn();
    auto& lib = loadedLibrary();
    size_t months = 0;
    for (auto _ : state) months = lib.calcFilters().months.size();
    state.counters["months"] = double(months);
}
BENCHMARK(BM_FacetsTenThousand)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-library");
}
