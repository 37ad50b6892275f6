// The PNG encoder's deflate stage, one core, zlib against libdeflate at the
// levels that matter, on the very bytes our row filters make from a flat UI
// screenshot and from a photo-like one (1920×1080). Counters: the compressed
// size in KB and the input in MB/s. libdeflate is measured when the build
// found it (Debian libdeflate-dev); zlib always.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "kit/Canvas.h"
#include "kit/PngEncoder.h"
#include "kit/TextLayer.h"

#ifdef KADRIX_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

constexpr int W = 1920, H = 1080;

// Windows, panels and lines of text on a flat desktop.
kit::Image flatUi() {
    kit::Canvas c(W, H);
    c.fillRect({0, 0, double(W), double(H)}, kit::Color::rgb(236, 236, 238));
    for (int i = 0; i < 6; ++i)
        c.fillRect({40.0 + i * 150, 30.0 + i * 90, 900, 600}, kit::Color::rgb(255, 255, 255 - i * 6));
    c.fillRect({0, double(H) - 28, double(W), 28}, kit::Color::rgb(40, 44, 52));
    auto text = kit::Layer::make();
    text->setBounds({0, 0, double(W), double(H)});
    for (int i = 0; i < 60; ++i) {
        auto t = kit::TextLayer::make();
        t->setString("The quick brown fox jumps over the lazy dog, line " + std::to_string(i));
        t->setFont(kit::Font::system(14));
        t->setForegroundColor(kit::Color::rgb(30, 30, 30));
        t->setFrame({60.0 + (i % 3) * 560, 40.0 + (i / 3) * 48, 540, 20});
        text->addSublayer(t);
    }
    c.drawLayer(*text);
    return c.image();
}

// Smooth colour fields with fine grain, as a photo wallpaper or a video frame.
kit::Image photoLike() {
    kit::Image img(W, H);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < H; ++y) {
        uint8_t* row = img.mutableBits() + size_t(y) * img.bytesPerRow();
        for (int x = 0; x < W; ++x) {
            double u = x / double(W), v = y / double(H);
            auto ch = [&](double base) { return uint8_t(std::clamp(int(base) + grain(rng), 0, 255)); };
            row[4 * x] = ch(120 + 100 * std::sin(6 * u + 2 * v));
            row[4 * x + 1] = ch(110 + 90 * std::cos(5 * v - 3 * u));
            row[4 * x + 2] = ch(128 + 80 * std::sin(9 * u * v));
            row[4 * x + 3] = 255;
        }
    }
    return img;
}

// The filtered rows the encoder deflates: its own output, inflated again.
std::vector<uint8_t> filteredRows(const kit::Image& img) {
    std::vector<uint8_t> png = kit::Png::encode(img, 1, 1), idat;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t len =
            uint32_t(png[at]) << 24 | uint32_t(png[at + 1]) << 16 | uint32_t(png[at + 2]) << 8 | png[at + 3];
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0)
            idat.insert(idat.end(), &png[at + 8], &png[at + 8 + len]);
        at += 12 + len;
    }
    std::vector<uint8_t> rows(size_t(W) * 4 * H + H);
    uLongf size = rows.size();
    if (uncompress(rows.data(), &size, idat.data(), uLong(idat.size())) != Z_OK) return {};
    rows.resize(size);
    return rows;
}

const std::vector<uint8_t>& sample(int kind) {
    static std::vector<uint8_t> flat = filteredRows(flatUi()), photo = filteredRows(photoLike());
    return kind == 0 ? flat : photo;
}

void report(benchmark::State& state, const std::vector<uint8_t>& in, size_t out) {
    state.SetLabel(state.range(0) == 0 ? "flat UI" : "photo-like");
    state.counters["KB"] = double(out) / 1024;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in.size()));
}

void BM_Zlib(benchmark::State& state) {
    const auto& in = sample(int(state.range(0)));
    std::vector<uint8_t> out(compressBound(uLong(in.size())));
    uLongf size = 0;
    for (auto _ : state) {
        size = out.size();
        compress2(out.data(), &size, in.data(), uLong(in.size()), int(state.range(1)));
    }
    report(state, in, size);
}
BENCHMARK(BM_Zlib)->ArgsProduct({{0, 1}, {1, 3, 6}})->Unit(benchmark::kMillisecond);

#ifdef KADRIX_BENCH_LIBDEFLATE
void BM_Libdeflate(benchmark::State& state) {
    const auto& in = sample(int(state.range(0)));
    libdeflate_compressor* c = libdeflate_alloc_compressor(int(state.range(1)));
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c, in.size()));
    size_t size = 0;
    for (auto _ : state) size = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
    libdeflate_free_compressor(c);
    report(state, in, size);
}
BENCHMARK(BM_Libdeflate)->ArgsProduct({{0, 1}, {1, 3, 4, 6}})->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv);
}
