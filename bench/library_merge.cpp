// Rewrites of the library database. Every merge (a record the indexer
// updates) rewrites the whole file; its cost is held to what the file's bytes
// cost: a merge at 10,000 records within twice the time to write and flush
// the same bytes, measured here side by side. And switching text reading on
// over a library of 2,000 records that have none: every record is merged
// once, each merge a whole rewrite (the recognition itself is not measured).
// Counters: the bytes each run writes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "BenchSupport.h"
#include "LibraryRecords.h"
#include "kit/base/Files.h"
#include "library/ScreenLib.h"
#include "services/Settings.h"

namespace {

constexpr int kRecords = 10000;
bool smoke = false;

// This run's own scratch folder, removed at exit (kept alive until then).
const std::string& scratch() {
    static const std::string* folder = [] {
        auto* f =
            new std::string((std::filesystem::temp_directory_path() / "kadrix-bench-merge-XXXXXX").string());
        if (!mkdtemp(f->data())) std::abort();
        std::atexit([] { std::filesystem::remove_all(scratch()); });
        return f;
    }();
    return *folder;
}

std::string newLibrary(const std::string& name, int count, bool withText) {
    const std::string folder = scratch() + "/" + name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    writeBenchLibrary(folder, count, withText);
    return folder;
}

void switchedOn() {
    services::Settings::shared().setLibEnabled(true);
    services::Settings::shared().setLibLimit(10000);
}

double fileBytes(const std::string& folder) {
    return double(std::filesystem::file_size(folder + "/" + library::DataLayer::kFileName));
}

std::shared_ptr<library::GrabData> update(int index, library::Record values) {
    values["filename"] = "SCR-" + std::to_string(index) + ".png";
    return std::make_shared<library::GrabData>(std::move(values));
}

// One record of 10,000 gets a new value: the whole file is written again.
void BM_MergeAtTenThousand(benchmark::State& state) {
    switchedOn();
    const std::string folder = newLibrary("merge", kRecords, true);
    library::ScreenLib lib(folder);
    lib.loadNow();
    int round = 0;
    for (auto _ : state) {
        ++round;
        lib.addOrUpdate(update(round * 7919 % kRecords, {{"labels", std::to_string(round)}}));
    }
    const double bytes = fileBytes(folder);
    if (lib.snapshot().size() != size_t(kRecords)) state.SkipWithError("records went missing");
    state.SetBytesProcessed(int64_t(bytes * double(state.iterations())));
    state.counters["bytes_written"] = bytes;
}
BENCHMARK(BM_MergeAtTenThousand)->UseRealTime()->Unit(benchmark::kMillisecond);

// The floor for the merge above: the same bytes written to a new file and flushed.
void BM_WriteAndFlushTheSameBytes(benchmark::State& state) {
    const std::string folder = newLibrary("raw", kRecords, true);
    const auto text = kit::files::readAll(folder + "/" + library::DataLayer::kFileName);
    const std::string path = folder + "/raw";
    for (auto _ : state) {
        ::unlink(path.c_str());
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        size_t done = 0;
        while (fd >= 0 && done < text->size()) {
            const ssize_t n = ::write(fd, text->data() + done, text->size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        if (fd < 0 || done != text->size() || ::fsync(fd) != 0) state.SkipWithError("write failed");
        if (fd >= 0) ::close(fd);
    }
    state.SetBytesProcessed(int64_t(text->size()) * int64_t(state.iterations()));
    state.counters["bytes_written"] = double(text->size());
}
BENCHMARK(BM_WriteAndFlushTheSameBytes)->UseRealTime()->Unit(benchmark::kMillisecond);

// Text reading switched on over a library whose records have no text yet:
// each record in turn gets its text and is merged, each merge a whole rewrite.
void BM_TextReadingOnOverTwoThousand(benchmark::State& state) {
    switchedOn();
    const int count = smoke ? 50 : 2000;
    std::mt19937 rng(11);
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i) texts.push_back(benchOcrText(rng, i));
    double written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string folder = newLibrary("text-on", count, false);
        library::ScreenLib lib(folder);
        lib.loadNow();
        state.ResumeTiming();
        for (int i = 0; i < count; ++i) {
            lib.addOrUpdate(update(i, {{"ocr", texts[size_t(i)]}, {"domains", "github.com"}}));
            written += fileBytes(folder);
        }
    }
    const double rounds = double(state.iterations());
    state.counters["merges"] = count;
    state.counters["bytes_written"] = written / rounds;
    state.counters["final_file_bytes"] = fileBytes(scratch() + "/text-on");
    state.SetBytesProcessed(int64_t(written));
}
BENCHMARK(BM_TextReadingOnOverTwoThousand)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    smoke = smokeRun(argc, argv);
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-library");
}
