// Every kind of PNG, the kinds of BMP other programs write and GIFs, made here
// byte by byte and read as `kadrix FILE` reads them (through the decoder
// program), each pixel compared with the values the file holds.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QByteArray>
#include <QColor>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kit/image/ImageIO.h"
#include "support/DecoderSentences.h"
#include "support/PictureFiles.h"
#include "support/TestData.h"

namespace io = kit::ImageIO;

namespace pictureKinds {

struct Rgba {
    int r, g, b, a;
};

struct Kind {
    std::string name;
    std::string bytes;
    int width = 0, height = 0;
    std::vector<Rgba> pixels;  // as stored, not premultiplied; none when refused
};

// The picture each kind must open as, or its refusal: through the decoder
// program, or decoded in this process (where a picture's memory is not
// fresh from the system, so pixels a reader leaves unwritten show).
void expectOpensAsStored(const Kind& k, bool inProcess = false) {
    SCOPED_TRACE(k.name + (inProcess ? ", in this process" : ""));
    std::string error;
    const io::Bytes bytes(k.bytes.begin(), k.bytes.end());
    const kit::Image img =
        inProcess ? io::decodeInProcess(bytes, 1.0, &error) : io::decode(bytes, 1.0, &error);
    if (k.pixels.empty()) {
        EXPECT_TRUE(img.isNull());
        EXPECT_EQ(error, "The file is not an image that can be read, or it is damaged.");
        return;
    }
    ASSERT_FALSE(img.isNull()) << error;
    ASSERT_EQ(img.width(), k.width);
    ASSERT_EQ(img.height(), k.height);
    int wrong = 0;
    std::string first;
    for (int y = 0; y < k.height; ++y)
        for (int x = 0; x < k.width; ++x) {
            const Rgba& e = k.pixels[size_t(y * k.width + x)];
            const QRgb want = qPremultiply(qRgba(e.r, e.g, e.b, e.a));
            const kit::PixelBGRA got = img.pixel(x, y);
            if (got.r != qRed(want) || got.g != qGreen(want) || got.b != qBlue(want) ||
                got.a != qAlpha(want)) {
                if (wrong++ == 0)
                    first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                            std::to_string(got.r) + "," + std::to_string(got.g) + "," +
                            std::to_string(got.b) + "," + std::to_string(got.a) + ", the file holds " +
                            std::to_string(e.r) + "," + std::to_string(e.g) + "," + std::to_string(e.b) +
                            "," + std::to_string(e.a);
            }
        }
    EXPECT_EQ(wrong, 0) << "pixels wrong, first " << first;
}

using testsupport::be32;

std::string le(uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; ++i) s.push_back(char(v >> (8 * i)));
    return s;
}

// ---- PNG ---------------------------------------------------------------------

std::string deflated(const std::string& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    out.resize(size);
    return out;
}

// A PNG of a colour type and depth, with a transparent colour (or palette
// alphas) or without, interlaced or not, and the pixels it holds. Samples
// near the transparent colour differ from it only in the low byte of a
// 16-bit sample, so a match made after scaling to 8 bits shows.
Kind pngKind(int colour, int depth, bool transparent, bool interlaced) {
    constexpr int w = 13, h = 11;  // odd, so rows end inside a byte and each interlace pass is partial
    const int channels = colour == 0 || colour == 3 ? 1 : colour == 2 ? 3 : colour == 4 ? 2 : 4;
    const uint32_t top = (1u << depth) - 1;
    const auto to8 = [&](uint32_t v) { return int((uint64_t(v) * 510 + top) / (uint64_t(top) * 2)); };
    const std::vector<uint32_t> key = {0x1234 & top, 0x5678 & top, 0x9ABC & top};  // the transparent colour
    const int entries = colour == 3 ? std::min(1 << depth, 200) : 0;
    std::vector<std::vector<uint32_t>> samples(w * h);
    uint32_t seed = uint32_t(colour * 131 + depth * 17 + transparent * 7 + interlaced);
    const auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int i = 0; i < w * h; ++i) {
        auto& s = samples[size_t(i)];
        for (int c = 0; c < channels; ++c)
            s.push_back(colour == 3 ? next() % uint32_t(entries) : next() & top);
        if (colour == 0 || colour == 2) {
            if (i % 3 == 0) s.assign(key.begin(), key.begin() + channels);
            if (i % 3 == 1 && depth == 16)
                for (int c = 0; c < channels; ++c) s[size_t(c)] = (key[size_t(c)] & 0xFF00) | 0xFF;
        }
    }
    if (depth == 16 && colour == 0) samples[2] = {0x80FF};  // halves round up, not down
    std::vector<Rgba> palette;
    std::string plte, trns;
    for (int i = 0; i < entries; ++i) {
        palette.push_back({int(next() & 255), int(next() & 255), int(next() & 255), 255});
        plte += {char(palette.back().r), char(palette.back().g), char(palette.back().b)};
    }
    if (transparent && colour == 3)  // alphas for the first entries only
        for (int i = 0; i < (entries + 1) / 2; ++i)
            trns.push_back(char(palette[size_t(i)].a = int(next() & 255)));
    if (transparent && (colour == 0 || colour == 2))
        for (int c = 0; c < channels; ++c)
            trns += std::string{char(key[size_t(c)] >> 8), char(key[size_t(c)])};

    Kind k{"png colour type " + std::to_string(colour) + ", " + std::to_string(depth) + "-bit" +
               (transparent ? ", tRNS" : "") + (interlaced ? ", interlaced" : ""),
           {},
           w,
           h,
           {}};
    for (const auto& s : samples) {
        if (colour == 3) {
            k.pixels.push_back(palette[s[0]]);
        } else {
            const bool clear = transparent && std::equal(s.begin(), s.end(), key.begin());
            const int grey = to8(s[0]);
            if (channels <= 2)
                k.pixels.push_back({grey, grey, grey, channels == 2 ? to8(s[1]) : clear ? 0 : 255});
            else
                k.pixels.push_back({grey, to8(s[1]), to8(s[2]), channels == 4 ? to8(s[3]) : clear ? 0 : 255});
        }
    }
    // Rows of the whole picture, or of each of the seven interlace passes.
    struct Pass {
        int x0, y0, dx, dy;
    };
    const std::vector<Pass> passes =
        interlaced ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                   : std::vector<Pass>{{0, 0, 1, 1}};
    std::string raw;
    for (const Pass& p : passes) {
        if (p.x0 >= w || p.y0 >= h) continue;
        for (int y = p.y0; y < h; y += p.dy) {
            raw.push_back(0);  // no filter
            std::string row;
            int bits = 0;
            uint32_t acc = 0;
            for (int x = p.x0; x < w; x += p.dx)
                for (const uint32_t v : samples[size_t(y * w + x)]) {
                    if (depth == 16) {
                        row += {char(v >> 8), char(v)};
                        continue;
                    }
                    acc = (acc << depth) | v, bits += depth;
                    if (bits == 8) row.push_back(char(acc)), acc = 0, bits = 0;
                }
            if (bits) row.push_back(char(acc << (8 - bits)));
            raw += row;
        }
    }
    const std::string ihdr =
        be32(w) + be32(h) + std::string{char(depth), char(colour), 0, 0, char(interlaced)};
    k.bytes = std::string("\x89PNG\r\n\x1a\n", 8) + testsupport::pngChunk("IHDR", ihdr) +
              (plte.empty() ? "" : testsupport::pngChunk("PLTE", plte)) +
              (trns.empty() ? "" : testsupport::pngChunk("tRNS", trns)) +
              testsupport::pngChunk("IDAT", deflated(raw)) + testsupport::pngChunk("IEND", "");
    return k;
}

// ---- BMP ---------------------------------------------------------------------

struct BmpPlan {
    BmpPlan(std::string n, int header, int b, uint32_t c = 0, std::vector<uint32_t> m = {},
            std::vector<Rgba> p = {}, int g = 0, bool top = false, uint32_t clear = 0)
        : name(std::move(n)),
          headerSize(header),
          bits(b),
          compression(c),
          masks(std::move(m)),
          palette(std::move(p)),
          gap(g),
          topDown(top),
          cleared(clear) {}
    std::string name;
    int headerSize = 40;  // 12 the oldest kind, 40, 56, 108 or 124 the later ones
    int bits = 24;
    uint32_t compression = 0;
    std::vector<uint32_t> masks;  // red, green, blue(, alpha); in the header from 52 bytes, else after it
    std::vector<Rgba> palette;    // as many entries as written
    int gap = 0;                  // bytes between palette and pixels, said by the pixel offset
    bool topDown = false;
    uint32_t cleared = 0;  // bits left 0 in every pixel value
};

// A BMP of 7 × 5 pixels whose values come from `value(x, y)` (a palette
// index, or a pixel value coded by the plan's masks or byte order).
constexpr int kBmpW = 7, kBmpH = 5;

uint32_t bmpValue(const BmpPlan& p, int x, int y) {
    const uint32_t v = uint32_t(x * 2654435761u ^ y * 40503u) * 2246822519u;
    if (p.bits <= 8) return (v >> 7) % uint32_t(p.palette.size() + (p.bits == 8 ? 3 : 0)) % (1u << p.bits);
    if (x == 0) return (0xFFFFFFFF >> (32 - p.bits)) & ~p.cleared;  // every field at its largest
    return (v >> (32 - p.bits)) & ~p.cleared;
}

Kind bmpKind(const BmpPlan& p) {
    Kind k{"bmp: " + p.name, {}, kBmpW, kBmpH, {}};
    std::string info = le(uint32_t(p.headerSize), 4);
    if (p.headerSize == 12) {
        info += le(kBmpW, 2) + le(kBmpH, 2) + le(1, 2) + le(uint32_t(p.bits), 2);
    } else {
        info += le(kBmpW, 4) + le(uint32_t(p.topDown ? -kBmpH : kBmpH), 4) + le(1, 2) +
                le(uint32_t(p.bits), 2) + le(p.compression, 4) + le(0, 4) + le(2835, 4) + le(2835, 4) +
                le(uint32_t(p.palette.size()), 4) + le(0, 4);
        std::string masks;
        for (const uint32_t m : p.masks) masks += le(m, 4);
        if (p.headerSize > 40) info += masks.substr(0, size_t(p.headerSize - 40));
        info.resize(size_t(p.headerSize), '\0');
        if (p.headerSize == 40) info += masks;
    }
    for (const Rgba& c : p.palette) {
        info += {char(c.b), char(c.g), char(c.r)};
        if (p.headerSize != 12) info.push_back(0);
    }
    info += std::string(size_t(p.gap), '\x5A');
    const int stride = (kBmpW * p.bits + 31) / 32 * 4;
    std::string rows;
    for (int r = 0; r < kBmpH; ++r) {
        const int y = p.topDown ? r : kBmpH - 1 - r;
        std::string row;
        uint32_t acc = 0;
        int bits = 0;
        for (int x = 0; x < kBmpW; ++x) {
            const uint32_t v = bmpValue(p, x, y);
            if (p.bits >= 16) {
                row += le(v, p.bits / 8);
                continue;
            }
            acc = (acc << p.bits) | v, bits += p.bits;
            if (bits == 8) row.push_back(char(acc)), acc = 0, bits = 0;
        }
        if (bits) row.push_back(char(acc << (8 - bits)));
        row.resize(size_t(stride), '\0');
        rows += row;
    }
    const uint32_t offset = uint32_t(14 + info.size());
    k.bytes = "BM" + le(offset + uint32_t(rows.size()), 4) + le(0, 4) + le(offset, 4) + info + rows;

    // A colour the file does not store reads as 0.
    const auto field = [](uint32_t v, uint32_t mask) {
        if (!mask) return 0;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        const uint64_t top = mask >> shift;
        return int((((v & mask) >> shift) * 510 + top) / (top * 2));
    };
    // Alpha values all 0 are bits a writer declared and left unset: opaque.
    const uint32_t alphaMask = p.masks.size() > 3 ? p.masks[3] : 0;
    bool alphaStored = false;
    for (int y = 0; y < kBmpH; ++y)
        for (int x = 0; x < kBmpW; ++x) alphaStored |= (bmpValue(p, x, y) & alphaMask) != 0;
    for (int y = 0; y < kBmpH; ++y)
        for (int x = 0; x < kBmpW; ++x) {
            const uint32_t v = bmpValue(p, x, y);
            if (p.bits <= 8) {
                k.pixels.push_back(v < p.palette.size() ? p.palette[v] : Rgba{0, 0, 0, 255});
                continue;
            }
            std::vector<uint32_t> m = p.masks;
            if (m.empty())
                m = p.bits == 16 ? std::vector<uint32_t>{0x7C00, 0x3E0, 0x1F}
                                 : std::vector<uint32_t>{0xFF0000, 0xFF00, 0xFF};
            k.pixels.push_back(
                {field(v, m[0]), field(v, m[1]), field(v, m[2]), alphaStored ? field(v, alphaMask) : 255});
        }
    return k;
}

std::vector<Rgba> somePalette(int n) {
    std::vector<Rgba> p;
    for (int i = 0; i < n; ++i)
        p.push_back({(i * 67) & 255, (i * 151 + 30) & 255, (i * 29 + 200) & 255, 255});
    return p;
}

// A run-length BMP (8 or 4 bits a pixel) of the runs given, and the picture
// it must open as: `rows` from the top, each character the palette entry
// (hex) a pixel shows, or '.' for one no run sets, which is transparent.
Kind rleKind(const std::string& name, int bits, const std::string& runs, const std::vector<std::string>& rows,
             bool topDown = false) {
    const std::vector<Rgba> palette = somePalette(16);
    const int w = int(rows[0].size()), h = int(rows.size());
    Kind k{"bmp: " + name, {}, w, h, {}};
    std::string info = le(40, 4) + le(uint32_t(w), 4) + le(uint32_t(topDown ? -h : h), 4) + le(1, 2) +
                       le(uint32_t(bits), 2) + le(bits == 8 ? 1 : 2, 4) + le(uint32_t(runs.size()), 4) +
                       le(2835, 4) + le(2835, 4) + le(16, 4) + le(0, 4);
    for (const Rgba& c : palette) info += {char(c.b), char(c.g), char(c.r), 0};
    const uint32_t offset = uint32_t(14 + info.size());
    k.bytes = "BM" + le(offset + uint32_t(runs.size()), 4) + le(0, 4) + le(offset, 4) + info + runs;
    for (const std::string& row : rows)
        for (const char c : row)
            k.pixels.push_back(c == '.' ? Rgba{0, 0, 0, 0}
                                        : palette[size_t(std::stoi(std::string(1, c), nullptr, 16))]);
    return k;
}

}  // namespace pictureKinds

using namespace pictureKinds;

TEST(PictureKinds, EveryPngKindOpensWithItsStoredValues) {
    std::vector<Kind> table;
    const std::vector<std::pair<int, std::vector<int>>> depths = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const auto& [colour, list] : depths)
        for (const int depth : list)
            for (const bool transparent : {false, true})
                for (const bool interlaced : {false, true})
                    if (!transparent || colour <= 3)
                        table.push_back(pngKind(colour, depth, transparent, interlaced));
    for (const Kind& k : table) expectOpensAsStored(k);
}

TEST(PictureKinds, BmpKindsOpenWithTheirStoredValues) {
    const std::vector<BmpPlan> plans = {
        {"24-bit", 40, 24},
        {"24-bit, rows from the top", 40, 24, 0, {}, {}, 0, true},
        {"32-bit, its fourth byte no alpha", 40, 32},
        {"16-bit 5-5-5, widened to full range", 40, 16},
        {"8-bit, short palette, pixels after a gap", 40, 8, 0, {}, somePalette(20), 6},
        {"4-bit", 40, 4, 0, {}, somePalette(16)},
        {"2-bit", 40, 2, 0, {}, somePalette(4)},
        {"1-bit", 40, 1, 0, {}, somePalette(2)},
        {"OS/2, 8-bit, short palette", 12, 8, 0, {}, somePalette(20)},
        {"OS/2, 24-bit", 12, 24},
        {"16-bit 5-6-5 fields", 40, 16, 3, {0xF800, 0x07E0, 0x001F}},
        {"16-bit fields with 1-bit alpha", 108, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}},
        {"16-bit 4-4-4-4 fields", 56, 16, 6, {0x0F00, 0x00F0, 0x000F, 0xF000}},
        {"32-bit 11-11-10 fields", 40, 32, 3, {0xFFE00000, 0x001FFC00, 0x000003FF}},
        {"32-bit 10-10-10-2 fields", 124, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
        {"32-bit BGRA fields", 124, 32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}},
        {"32-bit fields and alpha after the header",
         40,
         32,
         6,
         {0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF}},
        // A channel the file does not store (its mask 0) reads as 0; the
        // decoder died dividing by the width of such a field.
        {"16-bit fields, no red", 40, 16, 3, {0, 0x07E0, 0x001F}},
        {"16-bit fields, no green", 40, 16, 3, {0xF800, 0, 0x001F}},
        {"16-bit fields, no blue", 40, 16, 3, {0xF800, 0x07E0, 0}},
        {"32-bit fields, no red", 40, 32, 3, {0, 0x0000FF00, 0x000000FF}},
        {"32-bit fields, no green", 40, 32, 3, {0x00FF0000, 0, 0x000000FF}},
        {"32-bit fields, no blue", 124, 32, 3, {0x00FF0000, 0x0000FF00, 0, 0xFF000000}},
        {"32-bit fields, alpha mask 0", 124, 32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF, 0}},
        // Alpha bits declared and left 0 everywhere: the picture is opaque,
        // as a TGA's are.
        {"32-bit BGRA fields, alpha all 0",
         124,
         32,
         3,
         {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
         {},
         0,
         false,
         0xFF000000},
        {"16-bit fields with 1-bit alpha, all 0",
         108,
         16,
         3,
         {0x7C00, 0x03E0, 0x001F, 0x8000},
         {},
         0,
         true,
         0x8000},
        {"32-bit fields, alpha 0 or half",
         124,
         32,
         3,
         {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000},
         {},
         0,
         false,
         0x7F000000},
    };
    for (const BmpPlan& p : plans) expectOpensAsStored(bmpKind(p));

    // A mask whose bits do not lie together has no reading that is right.
    Kind gappy = bmpKind({"32-bit, a mask with a gap", 40, 32, 3, {0x00FF00FF, 0x0000FF00, 0xFF000000}});
    gappy.pixels.clear();
    expectOpensAsStored(gappy);
}

// Run-length BMPs by the program's own reader: runs, absolute runs with
// their padding, end of line, end of picture and moves, rows from the
// bottom. A pixel no run sets is transparent (the toolkit's reader left it
// as whatever memory held, different on every read); a run past its row is
// cut at the row's end, a move past the picture ends it.
TEST(PictureKinds, RunLengthBmpsOpenWithPixelsNoRunSetsTransparent) {
    using S = std::string;
    const std::vector<Kind> kinds = {
        rleKind("RLE8, two runs a row to its end", 8, S("\3\1\4\2\0\0\3\2\4\3\0\0\3\3\4\4\0\0\0\1", 20),
                {"3334444", "2223333", "1112222"}),
        rleKind("RLE8, an absolute run with its pad, the picture ended after two rows", 8,
                S("\3\1\0\3\2\3\4\0\1\5\0\0\2\6\0\0\0\1\7\7", 20),
                {".......", ".......", "66.....", "1112345"}),
        rleKind("RLE8, runs past the row cut at its end, data ending without an end", 8,
                S("\x0A\7\0\0\2\x08\0\6\1\2\3\4\5\6\3\x09\0\0\0\0\7\x0B", 22),
                {"bbbbbbb", ".......", "8812345", "7777777"}),
        rleKind("RLE8, moves right and up, one past the picture", 8,
                S("\2\1\0\2\3\1\2\2\0\0\1\3\0\2\5\0\1\4\0\2\0\5\1\5", 24),
                {".......", "3.....4", ".....22", "11....."}),
        rleKind("RLE8, a move past the row's end", 8, S("\1\1\0\2\x20\0\4\2\0\0\1\3\0\1", 14),
                {"3......", "1......"}),
        rleKind("RLE4, alternating runs and an odd absolute run with its pad", 4,
                S("\5\x12\2\x34\0\0\0\5\x56\x78\x9A\0\2\xBB\0\0\0\1", 18),
                {".......", ".......", "56789bb", "1212134"}),
        rleKind("RLE4, runs stopping early, a run past the row", 4, S("\x09\xCD\0\0\3\xEF", 6),
                {"......", "efe...", "cdcdcd"}),
        rleKind("RLE8, rows from the top, read as they run", 8,
                S("\3\1\4\2\0\0\3\2\4\3\0\0\3\3\4\4\0\0\0\1", 20), {"1112222", "2223333", "3334444"}, true),
    };
    for (const Kind& k : kinds)
        for (const bool inProcess : {false, true}) expectOpensAsStored(k, inProcess);

    // Six bytes of runs for a 64 x 64 picture: the same pixels on every read.
    std::vector<std::string> rows(64, std::string(64, '.'));
    rows[63] = std::string(64, '5');
    const Kind cut = rleKind("RLE8, 64 x 64 from six bytes", 8, S("\x40\5\x40\5\x40\5", 6), rows);
    expectOpensAsStored(cut);
    expectOpensAsStored(cut, true);
    const io::Bytes bytes(cut.bytes.begin(), cut.bytes.end());
    const kit::Image first = io::decode(bytes, 1.0), second = io::decodeInProcess(bytes, 1.0);
    ASSERT_FALSE(first.isNull());
    ASSERT_EQ(first.height(), second.height());
    for (int y = 0; y < first.height(); ++y)
        ASSERT_EQ(0, std::memcmp(first.bits() + size_t(y) * first.bytesPerRow(),
                                 second.bits() + size_t(y) * second.bytesPerRow(), size_t(first.width()) * 4))
            << "row " << y;

    // A header with no runs after it is a file cut short.
    Kind none = rleKind("RLE8, no runs", 8, "", {"..", ".."});
    std::string error;
    EXPECT_TRUE(io::decode(io::Bytes(none.bytes.begin(), none.bytes.end()), 1.0, &error).isNull());
    EXPECT_EQ(error, testsupport::kIncomplete);
}

// A GIF whose first frame, one pixel of its own colour table's first
// colour (green), lies on a larger screen: the screen around it takes the
// global table's background colour (its first, red), or is transparent when the
// frame has a transparent colour. The toolkit's reader took the background
// from the frame's table before reading it, a different colour every read.
TEST(PictureKinds, AGifsSmallFirstFrameWithItsOwnColoursLiesOnTheBackground) {
    const auto gif = [](const char* control) {
        return QByteArray::fromHex(QByteArray("47494638396140004000800000ff00000000ff21f904") + control +
                                   "2c00000000010001008000ff00ffff0002024401003b")
            .toStdString();
    };
    const Rgba green{0, 255, 0, 255}, red{255, 0, 0, 255}, clear{0, 0, 0, 0};
    Kind opaque{"gif, a background", gif("0400000000"), 64, 64, std::vector<Rgba>(64 * 64, red)};
    opaque.pixels[0] = green;
    Kind seeThrough{"gif, a transparent colour", gif("0500000100"), 64, 64,
                    std::vector<Rgba>(64 * 64, clear)};
    seeThrough.pixels[0] = green;
    for (int read = 0; read < 10; ++read)
        for (const Kind* k : {&opaque, &seeThrough})
            for (const bool inProcess : {false, true}) expectOpensAsStored(*k, inProcess);
}

// TIFF files another program wrote (deflated, in either byte order) open with
// their pixels; one whose strip runs past the file's end is told it is cut
// short, and one whose deflated strip cannot hold the picture it declares is
// refused before its reader fills that picture (it held the decoder for
// seconds of processor time and gigabytes of memory).
TEST(PictureKinds, TiffFilesOpenAndCutOnesAreRefusedFromTheirStrips) {
    const std::string folder = testsupport::testDataPath("tiff/");
    for (const std::string name : {"deflate-le-64x48.tif", "deflate-be-64x48.tif"}) {
        std::string why;
        const kit::Image img = io::read(folder + name, 1.0, &why);
        ASSERT_EQ(img.width(), 64) << name << ": " << why;
        EXPECT_EQ(img.height(), 48) << name;
    }
    EXPECT_EQ(io::read(folder + "deflate-le-64x48.tif", 1.0).pixel(0, 0).r, 255);
    EXPECT_EQ(io::read(folder + "deflate-be-64x48.tif", 1.0).pixel(0, 0).g, 255);

    std::string why;
    EXPECT_TRUE(io::read(folder + "strip-past-end-64x48.tif", 1.0, &why).isNull());
    EXPECT_EQ(why, testsupport::kIncomplete);
    EXPECT_EQ(io::refusalOf(folder + "strip-past-end-64x48.tif"), testsupport::kIncomplete);

    const std::string cut = testsupport::testDataPath("repro/tiff-16000sq-deflate-truncated-8k.tif");
    EXPECT_EQ(io::refusalOf(cut), testsupport::kDamaged);
    EXPECT_TRUE(io::read(cut, 1.0, &why).isNull());
    EXPECT_EQ(why, testsupport::kDamaged);
}
