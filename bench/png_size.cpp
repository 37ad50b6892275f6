// The PNG encoder against a reference writer on four kinds of 1080p screen: a
// photo wallpaper with a terminal on it, a gradient desktop with windows, a
// page full of text, and a flat desktop of panels. The reference is libpng at
// zlib level 3 with its adaptive filter choice over all five filters, the
// way the usual screenshot tools write.
//   Encoder/<screen>    the encoder as a capture saves (all cores, level 3):
//                       CPU time is the whole process's, so CPU per capture;
//                       counters: KB, ratio (its size over the reference's)
//   Reference/<screen>  libpng on one core; counter: KB
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../tests/kit/image/ReferencePng.h"
#include "BenchSupport.h"
#include "kit/image/PngEncoder.h"

namespace {

constexpr int W = 1920, H = 1080;

// Lines of text as a terminal, an editor or a page shows them.
void drawText(kit::Canvas& c, const kit::Rect& area, int lines, double size, kit::Color ink,
              const std::string& family) {
    auto text = kit::Layer::make();
    text->setBounds({0, 0, double(W), double(H)});
    const kit::Font font = kit::Font::named(family, size).value_or(kit::Font::system(size));
    const char* const words[] = {"drwxr-xr-x",
                                 "kadrix",
                                 "src/kit/image",
                                 "return",
                                 "std::vector<uint8_t>",
                                 "1920x1080",
                                 "-rw-r--r--",
                                 "make[2]:",
                                 "Building",
                                 "CXX",
                                 "object",
                                 "PngEncoder.cpp.o",
                                 "42",
                                 "ok",
                                 "$",
                                 "git",
                                 "log",
                                 "--oneline"};
    for (int i = 0; i < lines; ++i) {
        std::string line;
        for (int k = 0; k < 4 + (i * 7) % 9; ++k) line += std::string(words[(i * 5 + k * 3) % 18]) + " ";
        auto t = kit::TextLayer::make();
        t->setString(line);
        t->setFont(font);
        t->setForegroundColor(ink);
        t->setFrame({area.x() + 8, area.y() + 8 + i * (size + 5), area.width() - 16, size + 4});
        text->addSublayer(t);
    }
    c.drawLayer(*text);
}

// A photo: smooth colour fields, texture at several scales and fine grain,
// as a wallpaper decoded from a camera's JPEG. Made pixel by pixel; the
// windows go on top.
kit::Image photoWallpaper() {
    std::mt19937 rng(11);
    // Value noise: random values on a grid of `cell` pixels, bilinear between.
    auto octave = [&](int cell) {
        const int gw = W / cell + 2, gh = H / cell + 2;
        std::uniform_real_distribution<float> v(-1, 1);
        std::vector<float> grid(size_t(gw) * gh);
        for (auto& g : grid) g = v(rng);
        std::vector<float> out(size_t(W) * H);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const float fx = float(x) / cell, fy = float(y) / cell;
                const int ix = int(fx), iy = int(fy);
                const float tx = fx - ix, ty = fy - iy;
                auto at = [&](int gx, int gy) { return grid[size_t(gy) * gw + gx]; };
                const float top = at(ix, iy) * (1 - tx) + at(ix + 1, iy) * tx;
                const float bottom = at(ix, iy + 1) * (1 - tx) + at(ix + 1, iy + 1) * tx;
                out[size_t(y) * W + x] = top * (1 - ty) + bottom * ty;
            }
        return out;
    };
    const auto coarse = octave(160), middle = octave(24), fine = octave(5);
    std::normal_distribution<float> grain(0, 1.6f);
    kit::Image img(W, H);
    for (int y = 0; y < H; ++y) {
        uint8_t* row = img.mutableBits() + size_t(y) * img.bytesPerRow();
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * W + x;
            const float u = float(x) / W, v = float(y) / H;
            const float texture = 40 * coarse[i] + 14 * middle[i] + 6 * fine[i];
            auto ch = [&](float base, float weight) {
                return uint8_t(std::clamp(int(std::lround(base + weight * texture + grain(rng))), 0, 255));
            };
            row[4 * x + 2] = ch(150 - 90 * v + 30 * u, 0.9f);  // red: a sky going to dusk
            row[4 * x + 1] = ch(120 + 40 * std::sin(3 * u + 1.5f * v), 1.0f);
            row[4 * x] = ch(90 + 100 * v * (1 - u), 0.7f);
            row[4 * x + 3] = 255;
        }
    }
    return img;
}

kit::Image photoScreen() {
    kit::Canvas c(W, H);
    c.drawImage(photoWallpaper(), {0, 0, double(W), double(H)});
    const kit::Rect terminal{360, 180, 1100, 660};
    c.fillRect({terminal.x(), terminal.y() - 30, terminal.width(), 30}, kit::Color::rgb(60, 60, 64));
    c.fillRect(terminal, kit::Color::rgb(30, 30, 34));
    drawText(c, terminal, 33, 13, kit::Color::rgb(200, 220, 200), "DejaVu Sans Mono");
    c.fillRect({0, double(H) - 32, double(W), 32}, kit::Color::rgb(20, 22, 28));
    return c.image();
}

kit::Image gradientScreen() {
    kit::Canvas c(W, H);
    c.drawLinearGradient(kit::Color::rgb(30, 70, 120), kit::Color::rgb(200, 120, 90), {0, 0},
                         {double(W), double(H)}, true);
    c.fillRect({200, 150, 900, 600}, kit::Color::rgb(246, 246, 248));
    c.fillRect({200, 150, 900, 36}, kit::Color::rgb(222, 222, 228));
    drawText(c, {200, 190, 900, 560}, 20, 14, kit::Color::rgb(40, 40, 40), "DejaVu Sans");
    c.fillRect({0, double(H) - 32, double(W), 32}, kit::Color::rgb(20, 22, 28));
    return c.image();
}

kit::Image textScreen() {
    kit::Canvas c(W, H);
    c.fill(kit::Color::rgb(255, 255, 255));
    c.fillRect({0, 0, double(W), 40}, kit::Color::rgb(236, 236, 240));
    drawText(c, {0, 40, double(W) / 2, double(H) - 40}, 52, 14, kit::Color::rgb(20, 20, 20), "DejaVu Sans");
    drawText(c, {double(W) / 2, 40, double(W) / 2, double(H) - 40}, 52, 14, kit::Color::rgb(30, 60, 140),
             "DejaVu Sans Mono");
    return c.image();
}

kit::Image flatScreen() {
    kit::Canvas c(W, H);
    c.fill(kit::Color::rgb(236, 236, 238));
    for (int i = 0; i < 5; ++i) {
        const double x = 80.0 + i * 170, y = 60.0 + i * 100;
        c.fillRect({x, y, 820, 520}, kit::Color::rgb(255, 255, 255 - i * 8));
        c.fillRect({x, y, 820, 32}, kit::Color::rgb(210, 212, 218));
        c.fillRect({x + 20, y + 460, 120, 36}, kit::Color::rgb(52, 120, 246));
    }
    drawText(c, {1500, 100, 400, 300}, 6, 14, kit::Color::rgb(30, 30, 30), "DejaVu Sans");
    c.fillRect({0, double(H) - 32, double(W), 32}, kit::Color::rgb(40, 44, 52));
    return c.image();
}

const char* const kScreens[] = {"photo", "gradient", "text", "flat"};

const kit::Image& screen(int kind) {
    static const kit::Image screens[] = {photoScreen(), gradientScreen(), textScreen(), flatScreen()};
    return screens[kind];
}

size_t referenceSize(int kind) {
    static std::vector<size_t> sizes(std::size(kScreens), 0);
    if (!sizes[kind]) sizes[kind] = testsupport::referencePng(screen(kind)).size();
    return sizes[kind];
}

void BM_Encoder(benchmark::State& state) {
    const int kind = int(state.range(0));
    const kit::Image& img = screen(kind);
    size_t size = 0;
    for (auto _ : state) size = kit::Png::encode(img, 0, 3).size();
    state.SetLabel(kScreens[kind]);
    state.counters["KB"] = double(size) / 1024;
    state.counters["ratio"] = double(size) / double(referenceSize(kind));
}

void BM_Reference(benchmark::State& state) {
    const int kind = int(state.range(0));
    const kit::Image& img = screen(kind);
    size_t size = 0;
    for (auto _ : state) size = testsupport::referencePng(img).size();
    state.SetLabel(kScreens[kind]);
    state.counters["KB"] = double(size) / 1024;
}

}  // namespace

int main(int argc, char** argv) {
    for (int kind = 0; kind < int(std::size(kScreens)); ++kind) {
        const std::string name = kScreens[kind];
        benchmark::RegisterBenchmark(("Encoder/" + name).c_str(), BM_Encoder)
            ->Arg(kind)
            ->MeasureProcessCPUTime()
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Reference/" + name).c_str(), BM_Reference)
            ->Arg(kind)
            ->Unit(benchmark::kMillisecond);
    }
    return runApplicationBenchmarks(argc, argv);
}
