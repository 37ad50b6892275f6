// Text recognition of the editor's selection against the `tesseract`
// command on the same pixels: a 1920×1080 screenshot of text lines, the
// selection cut from it as the crop tool does, then read by the recogniser
// the core runs on its recognition queue. The command gets the same cut as a
// PNG, the same languages, page mode (one block), engine and resolution, and
// writes its text to a file; its time includes starting the process, as a
// user of the command pays it. Both run on one thread. Counter recall_pct:
// the share of the page's words each reader found.
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>

#include "BenchSupport.h"
#include "core/AppLogic.h"
#include "imaging/Recognition.h"
#include "kit/image/ImageIO.h"
#include "kit/image/TextRecognizer.h"

namespace {

namespace fs = std::filesystem;

struct Page {
    std::string text;  // what the page says
    kit::Image selection;
    std::string png;        // the selection as a file, for the command
    std::string languages;  // the engine's language set, e.g. "eng"
    std::string error;
};

// The drawing commands and the text of page `kind`: 0, lines of one sentence
// in a screen font over white; 1, a document window: a dark title bar with
// its three buttons and title, then markdown with headings ("## Commands"),
// body lines and code lines in a monospaced font.
std::pair<std::string, std::string> pageDrawing(int kind) {
    std::string draw, text;
    auto line = [&](int y, const std::string& font, int size, const std::string& colour,
                    const std::string& t) {
        draw += " -font " + font + " -pointsize " + std::to_string(size) + " -fill '" + colour +
                "' -draw \"text 40," + std::to_string(y) + " '" + t + "'\"";
        text += t + "\n";
    };
    if (kind == 0) {
        for (int i = 0; i < 40; ++i)
            line(40 + i * 26, "DejaVu-Sans", 15, "black",
                 std::to_string(i + 1) + ". The quick brown fox jumps over the lazy dog; item " +
                     std::to_string((i * 7) % 13) + " of the list, line " + std::to_string(i + 1) + ".");
        return {draw, text};
    }
    draw =
        " -fill '#2b2b2b' -draw 'rectangle 0,0 1920,34' -fill '#ff5f57' -draw 'circle 22,17 28,17'"
        " -fill '#febc2e' -draw 'circle 44,17 50,17' -fill '#28c840' -draw 'circle 66,17 72,17'"
        " -font DejaVu-Sans -pointsize 14 -fill '#dddddd' -draw \"text 880,23 'notes.md'\"";
    text = "notes.md\n";
    int y = 80;
    const char* sections[] = {"Commands", "Options", "Examples", "Files"};
    for (int s = 0; s < 4; ++s) {
        line(y, "DejaVu-Sans-Bold", 22, "#1a1a1a", std::string("## ") + sections[s]);
        y += 38;
        for (int i = 0; i < 5; ++i, y += 24)
            line(y, "DejaVu-Sans", 15, "#333333",
                 "- Section " + std::to_string(s + 1) + " point " + std::to_string(i + 1) +
                     ": capture the screen, annotate it and save the picture in the folder.");
        for (int i = 0; i < 2; ++i, y += 24)
            line(y, "DejaVu-Sans-Mono", 14, "#7a2a9a",
                 "kadrix --grab fullscreen --then save --folder shots" + std::to_string(s * 2 + i));
        y += 14;
    }
    return {draw, text};
}

// The screenshot of page `kind`, drawn by ImageMagick so both readers see
// the same pixels.
const Page& page(int kind) {
    static std::map<int, Page> pages;
    if (auto it = pages.find(kind); it != pages.end()) return it->second;
    Page& out = pages[kind];
    const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-ocr";
    fs::create_directories(dir);
    const fs::path shot = dir / ("screen" + std::to_string(kind) + ".png");
    auto [draw, text] = pageDrawing(kind);
    out.text = text;
    const std::string cmd =
        "convert -size 1920x1080 xc:white" + draw + " '" + shot.string() + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) {
        out.error = "ImageMagick's convert is needed to draw the page";
        return out;
    }
    const kit::Image screen = kit::ImageIO::read(shot.string());
    if (screen.isNull()) {
        out.error = "the page did not load";
        return out;
    }
    // A selection over the text (kind 0: 1600 × 1040 pixels; kind 1: the
    // whole screen, title bar included). Selections under a megapixel are
    // read at twice their size, for accuracy: not the same pixels as the
    // command's.
    out.selection = kind == 0 ? core::AppLogic::cutImage(screen, {20, 20, 1600, 1040}) : screen;
    out.png = (dir / ("selection" + std::to_string(kind) + ".png")).string();
    auto bytes = kit::ImageIO::encodePNG(out.selection);
    std::ofstream(out.png, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    imaging::RecognitionSettings rs;
    out.languages =
        kit::TextRecognizer::engineLanguages(imaging::ocrLanguageChoice(rs.primaryOCRLang).languages);
    if (std::system("tesseract --version >/dev/null 2>&1") != 0)
        out.error = "the tesseract command is not installed";
    return out;
}

// The page's words (letters and digits, in lower case) with their counts.
std::map<std::string, int> wordsOf(const std::string& text) {
    std::map<std::string, int> words;
    std::string w;
    for (char ch : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(ch))) {
            w += char(std::tolower(static_cast<unsigned char>(ch)));
        } else if (!w.empty()) {
            ++words[w];
            w.clear();
        }
    }
    return words;
}

// Word recall: the share of the page's words found in `read`, each counted
// as often as the page has it.
double recallOf(const std::string& page, const std::string& read) {
    auto want = wordsOf(page), got = wordsOf(read);
    int total = 0, found = 0;
    for (auto& [word, n] : want) {
        total += n;
        found += std::min(n, got[word]);
    }
    return total ? 100.0 * found / total : 0;
}

void BM_SelectionOCR(benchmark::State& state) {
    const Page& p = page(int(state.range(0)));
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    imaging::RecognitionSettings rs;
    rs.dpr = 1.0;
    std::string read;
    for (auto _ : state) {
        imaging::ocr(p.selection, rs, [&](const std::string& text) { read = text; });
        benchmark::DoNotOptimize(read.size());
    }
    if (read.size() < p.text.size() / 2) state.SkipWithError("the recogniser read too little of the page");
    state.counters["chars"] = double(read.size());
    state.counters["recall_pct"] = recallOf(p.text, read);
}

void BM_TesseractCommand(benchmark::State& state) {
    const Page& p = page(int(state.range(0)));
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    const std::string out =
        (fs::path(p.png).parent_path() / ("command" + std::to_string(state.range(0)))).string();
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
    state.counters["recall_pct"] = recallOf(p.text, all);
}

BENCHMARK(BM_SelectionOCR)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0);
// Wall time: the command's work is in a child process, which this process's CPU
// clock never sees.
BENCHMARK(BM_TesseractCommand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-ocr");
}
