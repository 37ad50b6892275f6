// Export hot paths on a 5K screenshot with 20 annotations: flattening plus
// writing PNG (next to ImageMagick's convert writing the same pixels as PNG),
// the same as JPEG, the copy to the clipboard, and the two-frame GIF of two
// full-HD frames. Counters: file size in MB and the machine's core count.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "BenchSupport.h"
#include "core/ExportHost.h"
#include "core/Exporter.h"
#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "kit/image/Canvas.h"
#include "kit/image/PngEncoder.h"
#include "kit/ui/Pasteboard.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace {

namespace fs = std::filesystem;
constexpr int W = 5120, H = 2880;

// The screenshot in its canvas layer with 20 arrows, boxes and labels over it.
kit::LayerPtr annotated(const kit::Image& shot) {
    auto root = kit::Layer::make();
    root->setBounds({0, 0, double(shot.width()), double(shot.height())});
    auto canvas = kit::Layer::make();
    canvas->setFrame(root->bounds());
    canvas->setContents(shot);
    canvas->setZPosition(-200);
    root->addSublayer(canvas);
    for (int i = 0; i < 20; ++i) {
        double x = (i * 397) % (shot.width() - 300), y = (i * 211) % (shot.height() - 200);
        if (i % 3 == 2) {
            auto t = kit::TextLayer::make();
            t->setString("Note " + std::to_string(i));
            t->setFont(kit::Font::system(28, kit::FontWeight::Medium));
            t->setForegroundColor(kit::Color::white(1));
            t->setBackgroundColor(kit::Color::rgb(220, 40, 60));
            t->setFrame({x, y, 200, 40});
            root->addSublayer(t);
            continue;
        }
        auto s = kit::ShapeLayer::make();
        s->setFrame({x, y, 260, 160});
        kit::Path p;
        if (i % 3 == 0) {
            p.addRoundedRect({4, 4, 252, 152}, 8, 8);
        } else {
            p.moveTo({10, 10});
            p.lineTo({240, 140});
        }
        s->setPath(p);
        s->setFillColor(std::nullopt);
        s->setStrokeColor(kit::Color::rgb(230, 40, 60));
        s->setLineWidth(6);
        s->setShadowOpacity(0.3);
        root->addSublayer(s);
    }
    return root;
}

class BenchHost : public core::ExportHost {
public:
    kit::Image shot;
    kit::LayerPtr layer;
    kit::Image imgPrecompiled() const override { return shot; }
    kit::LayerPtr objectsLayer() const override { return layer; }
};

struct Bed {
    kit::Defaults storage{""};
    services::Settings settings{storage};
    services::Telemetry telemetry{settings, [](const std::string&, const std::vector<services::EventRecord>&,
                                               services::PostCompletion) {}};
    BenchHost host;
    core::Exporter exporter{host, settings, telemetry};
    std::string folder = (benchsupport::scratchDir() / "kadrix-bench-export").string();
    Bed() {
        settings.setTelemetry(&telemetry);
        host.shot = desktopPicture(W, H);
        host.layer = annotated(host.shot);
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void empty() {
        for (auto& e : fs::directory_iterator(folder)) fs::remove(e.path());
    }
};

Bed& bed() {
    static Bed b;
    return b;
}

void counters(benchmark::State& state, double bytes) {
    state.counters["MB"] = bytes / 1048576.0;
    state.counters["cores"] = kit::usableCores();
}

void compileAndSave(benchmark::State& state, core::SaveFormat format) {
    Bed& b = bed();
    double size = 0;
    for (auto _ : state) {
        kit::Image flat = b.exporter.compileImage();
        core::FolderWrite job{flat, b.folder, "bench", false, format, true, {}};
        core::WriteResult r = b.exporter.writeToFolder(job);
        if (!r)
            state.SkipWithError("save failed");
        else
            size = double(fs::file_size(*r.path));
        state.PauseTiming();
        b.empty();
        state.ResumeTiming();
    }
    counters(state, size);
}

void BM_CompileAndSavePNG(benchmark::State& state) {
    compileAndSave(state, core::SaveFormat::PNG);
}
BENCHMARK(BM_CompileAndSavePNG)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CompileAndSaveJPEG(benchmark::State& state) {
    compileAndSave(state, core::SaveFormat::JPEG);
}
BENCHMARK(BM_CompileAndSaveJPEG)->Unit(benchmark::kMillisecond)->UseRealTime();

// ImageMagick's convert writing the compiled pixels as PNG (its defaults),
// reading them raw from a file, as a yardstick for the save above.
void BM_ConvertWritesSamePNG(benchmark::State& state) {
    Bed& b = bed();
    if (std::system("command -v convert >/dev/null 2>&1") != 0) {
        state.SkipWithError("convert is not installed");
        return;
    }
    kit::Image flat = b.exporter.compileImage();
    std::string raw = b.folder + "/flat.bgra", out = b.folder + "/convert.png";
    std::string bytes(reinterpret_cast<const char*>(flat.bits()), flat.bytesPerRow() * size_t(flat.height()));
    kit::files::writeAtomic(raw, bytes);
    std::string cmd = "convert -size " + std::to_string(flat.width()) + "x" + std::to_string(flat.height()) +
                      " -depth 8 bgra:" + raw + " -alpha off " + out;
    double size = 0;
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("convert failed");
        size = double(fs::file_size(out));
    }
    fs::remove(raw);
    fs::remove(out);
    counters(state, size);
}
BENCHMARK(BM_ConvertWritesSamePNG)->Unit(benchmark::kMillisecond)->UseRealTime();

// The PNG encoder alone on the flattened picture, by zlib level and cores.
void BM_PngEncoder(benchmark::State& state) {
    Bed& b = bed();
    static kit::Image flat = b.exporter.compileImage();
    double size = 0;
    for (auto _ : state)
        size = double(kit::Png::encode(flat, int(state.range(1)), int(state.range(0))).size());
    counters(state, size);
}
BENCHMARK(BM_PngEncoder)
    ->Args({3, 0})
    ->Args({6, 0})
    ->Args({3, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_CopyToClipboard(benchmark::State& state) {
    Bed& b = bed();
    for (auto _ : state) {
        kit::Image flat = b.exporter.compileImage();
        bool done = false;
        b.exporter.copyToPasteboard(flat, [&](core::Exporter::CopyResult) { done = true; });
        kit::runMainLoopUntil([&] { return done; }, 30);
    }
    counters(state, 0);
}
BENCHMARK(BM_CopyToClipboard)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TwoFrameGIF(benchmark::State& state) {
    Bed& b = bed();
    kit::Image before = b.host.shot.cropped(0, 0, 1920, 1080);
    kit::Image after = b.exporter.compileImage().cropped(0, 0, 1920, 1080);
    double size = 0;
    for (auto _ : state) {
        core::WriteResult r = b.exporter.saveGIFToFolder(before, after, 0.4, b.folder, "bench");
        if (!r)
            state.SkipWithError("GIF failed");
        else
            size = double(fs::file_size(*r.path));
        state.PauseTiming();
        b.empty();
        state.ResumeTiming();
    }
    counters(state, size);
}
BENCHMARK(BM_TwoFrameGIF)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-export-home");
}
