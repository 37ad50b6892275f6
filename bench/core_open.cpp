// Opening a 40-megapixel PNG (7744 × 5166) in the editor: the file read and
// decoded, made the current screenshot with its fresh editor state, as
// "Open Image" and kadrix://load/file do it.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "EditorCore.h"
#include "editor/Framer.h"
#include "kit/image/ImageIO.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 7744, kHeight = 5166;

// Like a large desktop capture: flat window areas with lines of fine detail.
const std::string& bigPNG() {
    static const std::string path = [] {
        const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-open";
        fs::create_directories(dir);
        const fs::path file = dir / "big.png";
        kit::Image img(kWidth, kHeight);
        uint8_t* bits = img.mutableBits();
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = bits + size_t(y) * img.bytesPerRow();
            const bool detail = (y / 12) % 4 == 0;
            for (int x = 0; x < kWidth; ++x) {
                const uint8_t v = detail ? uint8_t((x * 13 + y * 7) & 0xFF) : uint8_t(0xE0 + (x / 640) * 2);
                row[4 * x] = v;
                row[4 * x + 1] = uint8_t(v ^ 0x3C);
                row[4 * x + 2] = uint8_t(0xF0 - (y / 400) * 8);
                row[4 * x + 3] = 255;
            }
        }
        auto bytes = kit::ImageIO::encodePNG(img);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return file.string();
    }();
    return path;
}

void BM_OpenLargePNG(benchmark::State& state) {
    const std::string& file = bigPNG();
    core::AppLogic& logic = benchsupport::coreWithEditor();
    for (auto _ : state) {
        if (!logic.openImage(file)) return state.SkipWithError("the file did not open");
        benchmark::DoNotOptimize(logic.imgSource().bits());
    }
    state.counters["megapixels"] = double(kWidth) * kHeight / 1e6;
    state.counters["file_MB"] = double(fs::file_size(file)) / 1e6;
}

// Timed by the wall clock: the picture is decoded in the decoder program,
// whose processor time this one's clock does not count.
BENCHMARK(BM_OpenLargePNG)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-open");
}
