// The head checks run in the program's own process on every open, drop,
// paste and library walk. Each reads each part of a file once, its reads
// bounded in all, and judges what it reads without overflow.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "kit/image/ImageDecode.h"
#include "kit/image/ImageIO.h"
#include "support/DecoderSentences.h"
#include "support/HostileHeads.h"
#include "support/TestData.h"

namespace io = kit::ImageIO;
using testsupport::kDamaged;
using testsupport::kIncomplete;
using testsupport::kTiffLong;
using testsupport::kTiffShort;
using testsupport::tiffOf;
using testsupport::tiffTailAt;
using TiffFields = std::vector<testsupport::TiffField>;

namespace {

std::string written(const std::string& name, const std::string& bytes) {
    const char* home = std::getenv("KADRIX_HOME");
    const std::string path = (std::filesystem::path(home ? home : "/tmp") / name).string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

// Bytes this process has read so far, by any call.
long long bytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string line; std::getline(io, line);)
        if (line.rfind("rchar:", 0) == 0) return std::stoll(line.substr(6));
    return -1;
}

// A directory naming one field `times` times, each of `count` LONGs lying
// at `at`.
TiffFields repeated(uint16_t tag, size_t times, uint32_t count, uint32_t at) {
    return TiffFields(times, {tag, kTiffLong, count, at});
}

// A directory of one strip at `at`, `length` bytes long, in a file of the
// directory and `tail`.
std::string oneStrip(uint32_t at, uint32_t length, const std::string& tail) {
    return tiffOf({{256, kTiffLong, 1, 64},
                   {257, kTiffLong, 1, 48},
                   {273, kTiffLong, 1, at},
                   {279, kTiffLong, 1, length}},
                  tail);
}

constexpr uint32_t kOneStripTail = tiffTailAt(4);

}  // namespace

// Directories built to cost the check or to fool its sums, each judged from
// one read of its directory and the arrays it names. Before, the check read
// every array as often as the directory named it, up to 4 MB each time: the
// 5 MB files of one field named 65,535 times held the main thread for
// minutes. Counts beyond any real file, and bits per sample whose product
// with the pixels overflowed, were let through; strips placed anywhere past
// the end were called cut short.
TEST(HeadChecks, TiffDirectoriesAreJudgedFromOneBoundedRead) {
    constexpr size_t kTimes = 65535;
    constexpr uint32_t kMillion = 1u << 20;
    const std::string fourMB(size_t(kMillion) * 4, '\0');
    const uint32_t manyAt = tiffTailAt(kTimes);
    // Bits of 65 samples of 2^32 - 1 each: times the pixels at the cap, over 2^63.
    std::string bits;
    for (int i = 0; i < 65; ++i) bits += testsupport::numberBytes(0xFFFFFFFFu, 4);
    const TiffFields capDeflated = {{256, kTiffLong, 1, 16384},
                                    {257, kTiffLong, 1, 16384},
                                    {258, kTiffLong, 65, tiffTailAt(6)},
                                    {259, kTiffShort, 1, 8},
                                    {273, kTiffLong, 1, tiffTailAt(6) + 260},
                                    {279, kTiffLong, 1, 64}};
    // Two arrays of 2^19 SHORTs, one after the other: 2^20 values together.
    const uint32_t half = kMillion / 2;
    const auto halves = [&](bool bitsToo) {
        TiffFields f = {{273, kTiffShort, half, tiffTailAt(3)},
                        {279, kTiffShort, half, tiffTailAt(3) + half * 2}};
        f.insert(f.begin(), bitsToo ? testsupport::TiffField{258, kTiffShort, 1, 8}
                                    : testsupport::TiffField{256, kTiffLong, 1, 64});
        return tiffOf(f, std::string(size_t(half) * 4, '\0'));
    };
    // A file of the directory and 1000 bytes: 1000 + kOneStripTail bytes.
    const uint32_t size = kOneStripTail + 1000;
    const std::string thousand(1000, 'x');
    const struct {
        const char* what;
        std::string bytes;
        std::string said;
        long long mostRead;  // bytes the check may read of it
    } cases[] = {
        {"strip places named 65,535 times", tiffOf(repeated(273, kTimes, kMillion, manyAt), fourMB), kDamaged,
         64 << 10},
        {"widths named 65,535 times", tiffOf(repeated(256, kTimes, kMillion, manyAt), fourMB), kDamaged,
         64 << 10},
        {"bits per sample named 65,535 times", tiffOf(repeated(258, kTimes, kMillion, manyAt), fourMB),
         kDamaged, 64 << 10},
        {"strip and tile places both",
         tiffOf({{273, kTiffLong, 1, 0}, {279, kTiffLong, 1, 0}, {324, kTiffLong, 1, 0}}), kDamaged,
         64 << 10},
        {"2^32 - 1 strips with their lengths",
         tiffOf({{273, kTiffLong, 0xFFFFFFFF, tiffTailAt(2)}, {279, kTiffLong, 0xFFFFFFFF, tiffTailAt(2)}},
                fourMB),
         kDamaged, 64 << 10},
        {"arrays of 2^20 values together", halves(false), "", 3 << 20},
        {"arrays of 2^20 values and one more", halves(true), kDamaged, 64 << 10},
        {"bits per sample that overflowed times the pixels",
         tiffOf(capDeflated, bits + std::string(64, '\0')), kDamaged, 64 << 10},
        {"a strip starting in the file, running past its end", oneStrip(kOneStripTail, 5000, thousand),
         kIncomplete, 64 << 10},
        {"a strip beyond the end by the file's size", oneStrip(2 * size, 10, thousand), kIncomplete,
         64 << 10},
        {"a strip beyond the end by more than the file's size", oneStrip(2 * size + 1, 10, thousand),
         kDamaged, 64 << 10},
        {"a far strip after a near one",
         tiffOf({{273, kTiffLong, 2, tiffTailAt(2)}, {279, kTiffLong, 2, tiffTailAt(2) + 8}},
                testsupport::numberBytes(4000ull << 32 | (tiffTailAt(2) + 1002), 8) +
                    testsupport::numberBytes(10ull << 32 | 10, 8) + std::string(984, 'x')),
         kDamaged, 64 << 10},
        {"strip places far beyond the end",
         tiffOf({{273, kTiffLong, 2, 0x7FFFFFFF}, {279, kTiffLong, 2, tiffTailAt(2)}},
                std::string(1000, '\0')),
         kDamaged, 64 << 10},
        {"a directory just beyond the end", tiffOf({}).replace(4, 4, testsupport::numberBytes(20, 4)),
         kIncomplete, 64 << 10},
        {"a directory far beyond the end", tiffOf({}).replace(4, 4, testsupport::numberBytes(0x7FFFFFFF, 4)),
         kDamaged, 64 << 10},
        {"65,535 fields cut after their first", tiffOf(repeated(256, kTimes, 1, 64)).substr(0, 30),
         kIncomplete, 64 << 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = written("head.tif", c.bytes);
        const long long before = bytesRead();
        EXPECT_EQ(io::refusalOf(path), c.said);
        EXPECT_LE(bytesRead() - before, c.mostRead);
        EXPECT_LE(bytesRead() - before, (long long)c.bytes.size() + (16 << 10));
        // Opened, the user is told the same.
        std::string why;
        if (!c.said.empty() && c.bytes.size() < (64 << 10)) {
            EXPECT_TRUE(io::read(path, 1.0, &why).isNull());
            EXPECT_EQ(why, c.said);
        }
    }
}

// TIFF files other programs wrote, in strips and tiles, deflated, LZW or
// plain, 8 and 16 bits, grey, with alpha, in either byte order, and one laid
// out as most writers lay it out, all open with their pixels.
TEST(HeadChecks, TiffFilesOtherProgramsWroteOpen) {
    const std::string folder = testsupport::testDataPath("tiff/");
    const struct {
        const char* name;
        kit::PixelBGRA left, right;  // at (0, 0) and (63, 47)
    } files[] = {
        {"lzw-strips-64x48.tif", {0, 0, 255, 255}, {255, 0, 0, 255}},
        {"deflate16-be-64x48.tif", {0, 0, 255, 255}, {255, 0, 0, 255}},
        {"deflate-tiles-alpha-64x48.tif", {0, 0, 128, 128}, {255, 0, 0, 255}},
        {"grey-strips-64x48.tif", {64, 64, 64, 255}, {192, 192, 192, 255}},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(io::refusalOf(folder + f.name), "");
        std::string why;
        const kit::Image img = io::read(folder + f.name, 1.0, &why);
        ASSERT_EQ(img.width(), 64) << why;
        EXPECT_EQ(img.height(), 48);
        EXPECT_EQ(img.pixel(0, 0), f.left);
        EXPECT_EQ(img.pixel(63, 47), f.right);
    }
    for (const bool big : {false, true}) {
        const std::string plain = testsupport::plainTiff(300, 200, big);
        const std::string path = written("plain.tif", plain);
        EXPECT_EQ(io::refusalOf(path), "");
        std::string why;
        const kit::Image img = io::read(path, 1.0, &why);
        ASSERT_EQ(img.width(), 300) << why;
        EXPECT_EQ(img.height(), 200);
        // The first pixel's red, green and blue are the first bytes of the pixels.
        const size_t pixelsAt = plain.size() - 300 * 200 * 3;
        EXPECT_EQ(img.pixel(0, 0), (kit::PixelBGRA{uint8_t(plain[pixelsAt + 2]), uint8_t(plain[pixelsAt + 1]),
                                                   uint8_t(plain[pixelsAt]), 255}));
    }
}

namespace {

// A file of `head`, then `gap` bytes of nothing (sparse: only a reader pays
// for them), then `tail`.
std::string writtenWithGap(const std::string& name, const std::string& head, long long gap,
                           const std::string& tail) {
    const std::string path = written(name, head);
    std::filesystem::resize_file(path, head.size() + gap);
    std::ofstream(path, std::ios::binary | std::ios::app).write(tail.data(), std::streamsize(tail.size()));
    return path;
}

}  // namespace

// A PNG's text is judged by its length, an icon's picture where it lies,
// and a JPEG's frame is looked for no further than its metadata may reach,
// nor past as many chunks or markers as an ordinary file holds. Before, a
// text chunk was read whole before its length was counted, and an icon's
// PNG was read whole to be checked: each of 100 MB was read into the
// program's memory on the main thread; a JPEG's walk to its frame went as
// far as fill bytes or empty tables took it, 20 MB here, and every tiny
// compressed text was inflated.
TEST(HeadChecks, OtherFormatsAreJudgedWithinABoundOnWhatTheirChecksRead) {
    using testsupport::numberBytes;
    constexpr long long kHundredMB = 100LL << 20;
    const std::string png = testsupport::pngHead(64, 48);
    const std::string end = numberBytes(0, 4) + testsupport::pngChunk("IEND", "");
    // A JPEG's start, `between`, and the frame header of a 64 × 48 picture.
    const auto jpeg = [](const std::string& between) {
        return std::string("\xFF\xD8", 2) + between +
               std::string("\xFF\xC0\x00\x11\x08\x00\x30\x00\x40\x03", 10) + std::string(9, '\x11');
    };
    const auto over = testsupport::repeatedTo;
    const std::string metadata = std::string("\xFF\xE1\xFF\xFF", 4) + std::string(0xFFFD, 'm');
    const struct {
        const char* what;
        std::string path;
        std::string said;
        long long mostRead;
    } cases[] = {
        {"a text of 100 MB",
         writtenWithGap("text.png", png + numberBytes(kHundredMB, 4, true) + "tEXt", kHundredMB, end),
         kDamaged, 64 << 10},
        // Refused by its length before it is read, as a compressed text is read.
        {"a compressed text of 100 MB",
         writtenWithGap("ztext.png", png + numberBytes(kHundredMB, 4, true) + "zTXt", kHundredMB, end),
         kDamaged, 64 << 10},
        // Within the texts' bound, and never read: an uncompressed text needs no look.
        {"a text of 8 MB",
         writtenWithGap("text8.png", png + numberBytes(8 << 20, 4, true) + "tEXt", 8 << 20, end), "",
         64 << 10},
        // The first few looked at, the rest left to the decoder.
        {"5 MB of tiny compressed texts",
         written("ztexts.png",
                 png + over(testsupport::pngTinyText(), 5 << 20) + testsupport::pngChunk("IEND", "")),
         "", 64 << 10},
        {"an icon's picture of 100 MB",
         writtenWithGap("picture.ico",
                        testsupport::icoOf({{22, uint32_t(png.size() + 12 + kHundredMB + 12)}}, "") + png +
                            numberBytes(kHundredMB, 4, true) + "IDAT",
                        kHundredMB, end),
         "", 64 << 10},
        {"a JPEG of 20 MB of fill bytes", written("fill.jpg", jpeg(std::string(20 << 20, '\xFF'))), kDamaged,
         18 << 20},
        {"a JPEG of 20 MB of empty tables",
         written("tables.jpg", jpeg(over(std::string("\xFF\xDB\x00\x02", 4), 20 << 20))), "", 64 << 10},
        {"a JPEG of 10 MB of metadata", written("metadata.jpg", jpeg(over(metadata, 10 << 20))), "",
         11 << 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const long long before = bytesRead();
        EXPECT_EQ(io::refusalOf(c.path), c.said);
        EXPECT_LT(bytesRead() - before, c.mostRead);
        std::filesystem::remove(c.path);
    }
}

// A file shorter than its size said (cut while it is read, or a network
// file's size from a cache) is judged by the bytes it holds. Before, the
// check was handed the bytes it asked for whether they were read or not: a
// PNG of 45 bytes said to be 100,000 was judged on memory never written
// ("damaged"), and a BMP's rows were taken as there.
TEST(HeadChecks, AFileShorterThanItSaidIsJudgedByItsBytes) {
    using testsupport::numberBytes;
    // A PNG's head and an empty data chunk, its end never written.
    const std::string png = testsupport::pngHead(64, 48) + testsupport::pngChunk("IDAT", "");
    ASSERT_EQ(png.size(), 45u);
    // A BMP of 100 × 100 24-bit rows, its header alone.
    const std::string bmp = "BM" + numberBytes(54 + 30000, 4) + numberBytes(0, 4) + numberBytes(54, 4) +
                            numberBytes(40, 4) + numberBytes(100, 4) + numberBytes(100, 4) +
                            numberBytes(1, 2) + numberBytes(24, 2) + std::string(24, '\0');
    for (const auto& [what, bytes] : {std::pair{"png", png}, std::pair{"bmp", bmp}}) {
        SCOPED_TRACE(what);
        const std::string path = written(std::string("short.") + what, bytes);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(io::detail::screenFile(fd, (long long)bytes.size()).refusal, kIncomplete);
        EXPECT_EQ(io::detail::screenFile(fd, 100000).refusal, kIncomplete);
        ::close(fd);
        std::filesystem::remove(path);
    }
}
