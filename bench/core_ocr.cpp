// Text recognition of the editor's selection against the `tesseract`
// command on the same pixels: a 1920×1080 screenshot of text lines, the
// selection cut from it as the crop tool does, then read by the recogniser
// the core runs on its recognition queue. The command gets the same cut as a
// PNG, the same languages, page mode (one block), engine and resolution, and
// writes its text to a file; its time includes starting the process, as a
// user of the command pays it. Both run on one thread.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BenchSupport.h"
#include "core/AppLogic.h"
#include "imaging/Recognition.h"
#include "kit/ImageIO.h"
#include "kit/TextRecognizer.h"

namespace {

namespace fs = std::filesystem;

struct Page {
    kit::Image selection;
    std::string png;        // the selection as a file, for the command
    std::string languages;  // the engine's language set, e.g. "eng"
    std::string error;
};

// The screenshot: text lines in a screen font over a white window, drawn by
// ImageMagick so both readers see the same pixels.
const Page& page() {
    static const Page p = [] {
        Page out;
        const fs::path dir = fs::temp_directory_path() / "kadrix-bench-ocr";
        fs::create_directories(dir);
        const fs::path shot = dir / "screen.png";
        std::string draw;
        for (int i = 0; i < 40; ++i)
            draw += " -draw \"text 40," + std::to_string(40 + i * 26) + " '" + std::to_string(i + 1) +
                    ". The quick brown fox jumps over the lazy dog; item " + std::to_string((i * 7) % 13) +
                    " of the list, line " + std::to_string(i + 1) + ".'\"";
        const std::string cmd = "convert -size 1920x1080 xc:white -font DejaVu-Sans -pointsize 15 -fill black" + draw +
                                " '" + shot.string() + "' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) {
            out.error = "ImageMagick's convert is needed to draw the page";
            return out;
        }
        const kit::Image screen = kit::ImageIO::read(shot.string());
        if (screen.isNull()) {
            out.error = "the page did not load";
            return out;
        }
        // A selection over the text: 1600 × 1040 pixels. (Selections under a
        // megapixel are read at twice their size, for accuracy: not the same
        // pixels as the command's.)
        out.selection = core::AppLogic::cutImage(screen, {20, 20, 1600, 1040});
        out.png = (dir / "selection.png").string();
        auto bytes = kit::ImageIO::encodePNG(out.selection);
        std::ofstream(out.png, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        imaging::RecognitionSettings rs;
        out.languages = kit::TextRecognizer::engineLanguages(imaging::ocrLanguageChoice(rs.primaryOCRLang).languages);
        if (std::system("tesseract --version >/dev/null 2>&1") != 0) out.error = "the tesseract command is not installed";
        return out;
    }();
    return p;
}

void BM_SelectionOCR(benchmark::State& state) {
    const Page& p = page();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    imaging::RecognitionSettings rs;
    rs.dpr = 1.0;
    size_t length = 0;
    for (auto _ : state) {
        imaging::ocr(p.selection, rs, [&](const std::string& text) { length = text.size(); });
        benchmark::DoNotOptimize(length);
    }
    if (length < 2000) state.SkipWithError("the recogniser read too little of the page");
    state.counters["chars"] = double(length);
}

void BM_TesseractCommand(benchmark::State& state) {
    const Page& p = page();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    const std::string out = (fs::path(p.png).parent_path() / "command").string();
    // One block (page mode 6, the engine's own default), the LSTM engine, 96
    // dpi, on one thread as the recogniser runs (left to its thread pool, the
    // command spins its threads against each other on a busy machine and
    // takes many times longer).
    const std::string cmd = "OMP_THREAD_LIMIT=1 tesseract '" + p.png + "' '" + out + "' -l " + p.languages +
                            " --psm 6 --oem 1 --dpi 96 -c preserve_interword_spaces=1 >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) return state.SkipWithError("the tesseract command failed");
    }
    std::ifstream text(out + ".txt");
    std::string all((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
    state.counters["chars"] = double(all.size());
}

BENCHMARK(BM_SelectionOCR)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TesseractCommand)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-ocr");
}
