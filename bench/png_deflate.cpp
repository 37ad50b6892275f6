// The PNG encoder on one core, on three pictures: a flat UI screenshot and a
// photo-like one (1920×1080) and a 5K desktop of panels and text.
//  - Deflate stage: zlib against ISA-L's igzip (and libdeflate, when the build
//    found Debian's libdeflate-dev) at the levels that matter, on the very
//    bytes our row filters make.
//  - Whole encoder on one core, beside `vips pngsave --compression 3` writing
//    the same pixels from a vips file (the process timed; left out, with a
//    line saying so, where the vips command is not installed).
// Counters: the compressed size in KB, the input in MB/s, and for the vips
// comparison its own CPU seconds (cpu_s: the child's user plus system time).
#include <benchmark/benchmark.h>
#include <isa-l/igzip_lib.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "XvfbScreens.h"
#include "kit/image/PngEncoder.h"

#ifdef KADRIX_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

namespace fs = std::filesystem;
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

const char* const kNames[] = {"flat UI", "photo-like", "5K desktop"};

const kit::Image& picture(int kind) {
    static kit::Image flat = flatUi(), photo = photoLike(), desk = desktopPicture(5120, 2880);
    return kind == 0 ? flat : kind == 1 ? photo : desk;
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
    std::vector<uint8_t> rows(size_t(img.width()) * 4 * img.height() + img.height());
    uLongf size = rows.size();
    if (uncompress(rows.data(), &size, idat.data(), uLong(idat.size())) != Z_OK) return {};
    rows.resize(size);
    return rows;
}

const std::vector<uint8_t>& sample(int kind) {
    static std::vector<uint8_t> rows[3] = {filteredRows(picture(0)), filteredRows(picture(1)),
                                           filteredRows(picture(2))};
    return rows[kind];
}

void report(benchmark::State& state, size_t in, size_t out) {
    state.SetLabel(kNames[state.range(0)]);
    state.counters["KB"] = double(out) / 1024;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(in));
}

void BM_Zlib(benchmark::State& state) {
    const auto& in = sample(int(state.range(0)));
    std::vector<uint8_t> out(compressBound(uLong(in.size())));
    uLongf size = 0;
    for (auto _ : state) {
        size = out.size();
        compress2(out.data(), &size, in.data(), uLong(in.size()), int(state.range(1)));
    }
    report(state, in.size(), size);
}
BENCHMARK(BM_Zlib)->ArgsProduct({{0, 1, 2}, {1, 3, 6}})->Unit(benchmark::kMillisecond);

// igzip leaves the upper halves of the AVX registers in use, which slows all
// SSE code after it on the thread (zlib's deflate 2.4 times): cleared after
// its runs, as the encoder does.
#if defined(__x86_64__)
__attribute__((target("avx"))) void clearUpperVectorsAvx() {
    _mm256_zeroupper();
}
void clearUpperVectors() {
    if (__builtin_cpu_supports("avx")) clearUpperVectorsAvx();
}
#else
void clearUpperVectors() {}
#endif

void BM_Isal(benchmark::State& state) {
    const auto& in = sample(int(state.range(0)));
    const int level = int(state.range(1));
    std::vector<uint8_t> out(in.size() + in.size() / 8 + 1024), levelBuf(ISAL_DEF_LVL3_DEFAULT);
    size_t size = 0;
    for (auto _ : state) {
        isal_zstream z;
        isal_deflate_init(&z);
        z.gzip_flag = IGZIP_ZLIB;
        z.level = uint32_t(level);
        z.level_buf = levelBuf.data();
        z.level_buf_size = uint32_t(levelBuf.size());
        z.end_of_stream = 1;
        z.next_in = const_cast<uint8_t*>(in.data());
        z.avail_in = uint32_t(in.size());
        z.next_out = out.data();
        z.avail_out = uint32_t(out.size());
        const int rc = isal_deflate(&z);
        clearUpperVectors();
        if (rc != COMP_OK) return state.SkipWithError("isal_deflate failed");
        size = z.total_out;
    }
    report(state, in.size(), size);
}
BENCHMARK(BM_Isal)->ArgsProduct({{0, 1, 2}, {1, 2, 3}})->Unit(benchmark::kMillisecond);

#ifdef KADRIX_BENCH_LIBDEFLATE
void BM_Libdeflate(benchmark::State& state) {
    const auto& in = sample(int(state.range(0)));
    libdeflate_compressor* c = libdeflate_alloc_compressor(int(state.range(1)));
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c, in.size()));
    size_t size = 0;
    for (auto _ : state) size = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
    libdeflate_free_compressor(c);
    report(state, in.size(), size);
}
BENCHMARK(BM_Libdeflate)->ArgsProduct({{0, 1, 2}, {1, 3, 4, 6}})->Unit(benchmark::kMillisecond);
#endif

// The whole encoder on one core at the level the folder writer uses.
void BM_Encoder(benchmark::State& state) {
    const kit::Image& img = picture(int(state.range(0)));
    size_t size = 0;
    for (auto _ : state) size = kit::Png::encode(img, 1, 3).size();
    report(state, size_t(img.width()) * img.height() * 4, size);
}
BENCHMARK(BM_Encoder)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// vips writing the same pixels: the picture as a vips file made once, then
// `vips pngsave` timed as a process, its CPU as a counter.
void BM_VipsPngsave(benchmark::State& state) {
    const kit::Image& img = picture(int(state.range(0)));
    fs::path dir = fs::temp_directory_path() / ("kadrix-bench-vips-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string raw = (dir / "in.rgb").string(), v = (dir / "in.v").string(),
                out = (dir / "out.png").string();
    {
        std::ofstream f(raw, std::ios::binary);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const uint8_t* p = img.row(y) + 4 * size_t(x);
                const char rgb[3] = {char(p[2]), char(p[1]), char(p[0])};
                f.write(rgb, 3);
            }
    }
    auto run = [](const std::vector<std::string>& args, rusage* use) {
        pid_t pid = benchsupport::spawn(args);
        int status = -1;
        wait4(pid, &status, 0, use);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    rusage use{};
    if (!run({"vips", "rawload", raw, v, std::to_string(img.width()), std::to_string(img.height()), "3"},
             &use)) {
        fs::remove_all(dir);
        return state.SkipWithError("vips rawload failed");
    }
    double cpu = 0;
    for (auto _ : state) {
        if (!run({"vips", "pngsave", v, out, "--compression", "3"}, &use)) {
            state.SkipWithError("vips pngsave failed");
            break;
        }
        cpu += double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
               double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    }
    size_t size = fs::exists(out) ? size_t(fs::file_size(out)) : 0;
    fs::remove_all(dir);
    report(state, size_t(img.width()) * img.height() * 4, size);
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

}  // namespace

int main(int argc, char** argv) {
    // A comparison with a command that is not there measures nothing: it is
    // not run, rather than run and given up.
    if (std::system("command -v vips >/dev/null 2>&1") == 0)
        benchmark::RegisterBenchmark("BM_VipsPngsave", BM_VipsPngsave)
            ->DenseRange(0, 2)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    else
        std::fprintf(stderr,
                     "bench_png_deflate: the vips command is not installed; BM_VipsPngsave left out\n");
    return runApplicationBenchmarks(argc, argv);
}
