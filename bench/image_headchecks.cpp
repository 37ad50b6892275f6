// The checks this program makes of a file from outside before its decoder
// sees it, on every open, drop, paste and library walk (on the main thread
// for the first three): each format's file built to cost its check the most,
// beside an ordinary file of the same format and about the same size.
//  - BM_HeadCheck/<pair>: the check of each, alternately, on a file already
//    open: its time (ordinary_us, hostile_us, and hostile_per_ordinary) and
//    the bytes it read (ordinary_read_KB, hostile_read_KB). A check reads
//    each part of a file once at most, its reads bounded in all: the 5 MB
//    TIFF of one field named 65,535 times costs at most twice an ordinary
//    5 MB TIFF's check (it held the main thread for minutes). A PNG of tiny
//    compressed texts and a JPEG of empty tables cost at most twice an
//    ordinary file of their format: a check looks at so many chunks or
//    markers and leaves the rest to the decoder (a decompressor set up for
//    each text took 7.9 s over 56 MB; 17 MB of tables, a marker a step).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "../tests/support/HostileHeads.h"
#include "BenchSupport.h"
#include "kit/image/ImageDecode.h"
#include "kit/image/ImageIO.h"

namespace {

namespace fs = std::filesystem;
using testsupport::numberBytes;
using testsupport::pngChunk;
using testsupport::TiffField;
using testsupport::tiffOf;
using testsupport::tiffTailAt;

constexpr long long kFiveMB = 5LL << 20;

std::string text(const kit::ImageIO::Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// `bytes` made up to 5 MB with bytes nothing reads.
std::string padded(std::string bytes) {
    if ((long long)bytes.size() < kFiveMB) bytes.resize(size_t(kFiveMB), '\0');
    return bytes;
}

// A directory of one field named 65,535 times, each naming 2^20 values.
std::string tiffOfOneFieldRepeated() {
    constexpr size_t kTimes = 65535;
    return tiffOf(std::vector<TiffField>(kTimes, {273, testsupport::kTiffLong, 1u << 20, tiffTailAt(kTimes)}),
                  std::string(size_t(4) << 20, '\0'));
}

// The most a directory that passes makes the check read: 65,535 fields and
// arrays of 2^20 values less one together.
std::string tiffOfTheLargestDirectory() {
    constexpr uint32_t kHalf = (1u << 19) - 1;
    constexpr size_t kFields = 65535;
    std::vector<TiffField> fields = {{256, testsupport::kTiffLong, 1, 1000},
                                     {257, testsupport::kTiffLong, 1, 1000},
                                     {258, testsupport::kTiffShort, 1, 8},
                                     {259, testsupport::kTiffShort, 1, 8},
                                     {273, testsupport::kTiffLong, kHalf, tiffTailAt(kFields)},
                                     {279, testsupport::kTiffLong, kHalf, tiffTailAt(kFields) + kHalf * 4}};
    // Every other tag once, none the check reads.
    for (uint32_t tag = 1; fields.size() < kFields; ++tag)
        if ((tag < 256 || tag > 259) && tag != 273 && tag != 279 && tag != 324 && tag != 325)
            fields.push_back({uint16_t(tag), testsupport::kTiffShort, 1, 0});
    return tiffOf(fields, std::string(size_t(kHalf) * 8, '\0'));
}

// A PNG of 5 MB of empty chunks: the longest walk of chunk headers.
std::string pngOfEmptyChunks() {
    std::string out = testsupport::pngHead(64, 64);
    const std::string empty = pngChunk("abCd", "");
    while ((long long)out.size() + 12 < kFiveMB) out += empty;
    return out + pngChunk("IEND", "");
}

// A PNG whose compressed texts inflate to more than the texts may take
// together: the most inflating the check does before it refuses.
std::string pngOfInflatingTexts() {
    const std::string zeros(size_t(1) << 20, '\0');
    std::string deflated(compressBound(uLong(zeros.size())), '\0');
    uLongf length = uLongf(deflated.size());
    compress2(reinterpret_cast<Bytef*>(deflated.data()), &length,
              reinterpret_cast<const Bytef*>(zeros.data()), uLong(zeros.size()), 9);
    deflated.resize(length);
    std::string out = testsupport::pngHead(64, 64);
    for (int i = 0; i < 17; ++i) out += pngChunk("zTXt", std::string("k\0\0", 3) + deflated);
    return padded(out);
}

// A PNG of 5 MB of compressed texts of nothing: a decompressor for each.
std::string pngOfTinyTexts() {
    return testsupport::pngHead(64, 64) + testsupport::repeatedTo(testsupport::pngTinyText(), kFiveMB) +
           pngChunk("IEND", "");
}

// A JPEG of 5 MB of empty tables before its frame: a marker every four bytes.
std::string jpegOfEmptyTables() {
    return "\xFF\xD8" + testsupport::repeatedTo(std::string("\xFF\xDB\x00\x02", 4), kFiveMB);
}

// A JPEG of 5 MB of fill bytes before its frame: the longest marker walk.
std::string jpegOfFillBytes() {
    return std::string("\xFF\xD8", 2) + std::string(size_t(kFiveMB), '\xFF');
}

// An icon directory of 65,535 pictures, each a PNG of its own.
std::string iconOfManyPictures() {
    const std::string png = testsupport::pngHead(16, 16) + pngChunk("IEND", "");
    constexpr size_t kPictures = 65535;
    std::vector<std::pair<uint32_t, uint32_t>> places;
    std::string body;
    for (size_t i = 0; i < kPictures; ++i) {
        places.emplace_back(uint32_t(6 + 16 * kPictures + body.size()), uint32_t(png.size()));
        body += png;
    }
    return padded(testsupport::icoOf(places, body));
}

std::string iconOfOnePicture(const std::string& png) {
    return testsupport::icoOf({{22, uint32_t(png.size())}}, png);
}

// An uncompressed BMP of w × h 24-bit pixels of noise.
std::string plainBMP(int w, int h) {
    const uint32_t stride = (uint32_t(w) * 3 + 3) / 4 * 4, size = stride * uint32_t(h);
    std::string out = "BM" + numberBytes(54 + size, 4) + numberBytes(0, 4) + numberBytes(54, 4) +
                      numberBytes(40, 4) + numberBytes(uint32_t(w), 4) + numberBytes(uint32_t(h), 4) +
                      numberBytes(1, 2) + numberBytes(24, 2) + numberBytes(0, 4) + numberBytes(size, 4) +
                      std::string(16, '\0');
    uint32_t x = 12345;
    for (uint32_t i = 0; i < size; ++i) out += char((x = x * 1664525u + 1013904223u) >> 24);
    return out;
}

// An uncompressed TGA of w × h 24-bit pixels of noise.
std::string plainTGA(int w, int h) {
    std::string out(18, '\0');
    out[2] = 2, out[16] = 24;
    out.replace(12, 4, numberBytes(uint32_t(w), 2) + numberBytes(uint32_t(h), 2));
    uint32_t x = 12345;
    for (long long i = 0; i < (long long)w * h * 3; ++i) out += char((x = x * 1664525u + 1013904223u) >> 24);
    return out;
}

// Each format's ordinary file and its costliest, about 5 MB each.
struct Pair {
    const char* name;
    std::function<std::string()> ordinary, hostile;
};

const std::string& ordinaryPNG() {
    static const std::string png = text(kit::ImageIO::encodePNG(testsupport::noisePicture(1290, 1290)));
    return png;
}

const std::string& ordinaryJPEG() {
    static const std::string jpeg =
        text(kit::ImageIO::encodeJPEG(testsupport::noisePicture(1600, 1600), 1.0));
    return jpeg;
}

const Pair kPairs[] = {
    {"tiff: a field named 65,535 times", [] { return testsupport::plainTiff(1320, 1320); },
     tiffOfOneFieldRepeated},
    {"tiff: the largest directory", [] { return testsupport::plainTiff(1320, 1320); },
     tiffOfTheLargestDirectory},
    {"png: empty chunks", ordinaryPNG, pngOfEmptyChunks},
    {"png: inflating texts", ordinaryPNG, pngOfInflatingTexts},
    {"png: tiny compressed texts", ordinaryPNG, pngOfTinyTexts},
    {"jpeg: fill bytes", ordinaryJPEG, jpegOfFillBytes},
    {"jpeg: empty tables", ordinaryJPEG, jpegOfEmptyTables},
    {"gif: a screen at the cap",
     [] { return text(kit::ImageIO::encodeGIF({testsupport::noisePicture(1950, 1950)}, 0.1)); },
     [] { return padded(std::string("GIF89a\x00\x40\x00\x40\x80\0\0", 13)); }},
    {"bmp: rows at the cap", [] { return plainBMP(1320, 1320); },
     [] {
         std::string head = plainBMP(1, 1).substr(0, 54);
         head.replace(18, 8, numberBytes(16384, 4) + numberBytes(16384, 4));
         return padded(head);
     }},
    {"tga: runs at the cap", [] { return plainTGA(1320, 1320); },
     [] {
         std::string head = plainTGA(1, 1).substr(0, 18);
         head[2] = 10;
         head.replace(12, 4, numberBytes(0xFFFF, 2) + numberBytes(0xFFFF, 2));
         return padded(head);
     }},
    {"ico: 65,535 pictures", [] { return iconOfOnePicture(ordinaryPNG()); }, iconOfManyPictures},
};

// A file of the pair's, written once and kept open as a check finds it.
struct Opened {
    explicit Opened(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        size = (long long)bytes.size();
    }
    ~Opened() {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
    long long size = 0;
};

// Bytes this process has read so far, by any call.
double bytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string line; std::getline(io, line);)
        if (line.rfind("rchar:", 0) == 0) return std::stod(line.substr(6));
    return 0;
}

void BM_HeadCheck(benchmark::State& state) {
    const Pair& pair = kPairs[state.range(0)];
    const fs::path dir = benchsupport::scratchDir() / "kadrix-bench-headchecks";
    fs::create_directories(dir);
    const Opened files[] = {Opened(dir / "ordinary", pair.ordinary()),
                            Opened(dir / "hostile", pair.hostile())};
    if (files[0].fd < 0 || files[1].fd < 0) return state.SkipWithError("the files could not be written");
    double seconds[2] = {0, 0}, read[2] = {0, 0};
    // What asking costs (the question is a read too), taken off each answer.
    const double first = bytesRead(), asked = bytesRead() - first;
    for (auto _ : state)
        for (int i = 0; i < 2; ++i) {
            const double before = bytesRead();
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(kit::ImageIO::detail::screenFile(files[i].fd, files[i].size));
            seconds[i] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            read[i] += bytesRead() - before - asked;
        }
    const double n = double(state.iterations());
    state.SetLabel(pair.name);
    state.counters["ordinary_us"] = seconds[0] / n * 1e6;
    state.counters["hostile_us"] = seconds[1] / n * 1e6;
    state.counters["hostile_per_ordinary"] = seconds[1] / seconds[0];
    state.counters["ordinary_read_KB"] = read[0] / n / 1024;
    state.counters["hostile_read_KB"] = read[1] / n / 1024;
    state.counters["ordinary_MB"] = double(files[0].size) / 1e6;
    state.counters["hostile_MB"] = double(files[1].size) / 1e6;
}

BENCHMARK(BM_HeadCheck)->DenseRange(0, std::size(kPairs) - 1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-headchecks");
}
