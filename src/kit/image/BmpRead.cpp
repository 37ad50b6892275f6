#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "kit/image/ImageDecode.h"
#include "kit/image/PictureReaders.h"

namespace kit::ImageIO::detail {

namespace {

// What a BMP's headers say. The first header's size tells the kinds apart:
// 12 the oldest (16-bit sizes, 3-byte palette entries), 64 and 16 to 39
// the later OS/2 kind (whose compression numbers 3 and 4 mean codings of its
// own), 40 and more the Windows kinds (masks inside the header from 52).
struct BmpHeader {
    long long width = 0, height = 0;
    bool topDown = false;
    int bits = 0;
    uint32_t compression = 0;
    bool os2 = false;
    long long paletteAt = 0, paletteEntries = 0;
    int entryBytes = 4;
    long long pixelsAt = 0;
    uint32_t masks[4] = {};  // red, green, blue, alpha
};

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6;

std::optional<BmpHeader> bmpHeader(const QByteArray& d) {
    if (d.size() < 26 || !d.startsWith("BM")) return std::nullopt;
    BmpHeader b;
    const long long size = le32(d, 14), offset = le32(d, 10);
    long long used = 0;
    if (size == 12) {
        b.width = le16(d, 18), b.height = le16(d, 20), b.bits = int(le16(d, 24));
        b.os2 = true, b.entryBytes = 3;
    } else if (size >= 16) {
        b.width = int32_t(le32(d, 18)), b.height = int32_t(le32(d, 22)), b.bits = int(le16(d, 28));
        b.compression = size >= 20 ? le32(d, 30) : kRgb;
        used = size >= 36 ? le32(d, 46) : 0;
        b.os2 = size == 64 || size < 40;
    } else {
        return std::nullopt;
    }
    if (b.height < 0) b.height = -b.height, b.topDown = true;
    b.paletteAt = 14 + size;
    if (!b.os2 && (b.compression == kBitFields || b.compression == kAlphaBitFields)) {
        // Masks inside a header long enough to hold them, else after it.
        const long long at = size >= 52 ? 54 : b.paletteAt;
        const int n = size >= 56 || b.compression == kAlphaBitFields ? 4 : 3;
        for (int i = 0; i < n; ++i) b.masks[i] = le32(d, at + 4 * i);
        if (size < 52) b.paletteAt += 4 * n;
    } else if (b.bits == 16) {
        b.masks[0] = 0x7C00, b.masks[1] = 0x03E0, b.masks[2] = 0x001F;
    } else if (b.bits == 24 || b.bits == 32) {
        b.masks[0] = 0xFF0000, b.masks[1] = 0xFF00, b.masks[2] = 0xFF;  // the fourth byte is no alpha
    }
    if (b.bits >= 1 && b.bits <= 8) {
        const long long most = 1LL << b.bits;
        b.paletteEntries = used > 0 && used < most ? used : most;
    }
    // The pixels start where the file header says; a palette that would
    // run past that is as long as the room before it (the oldest kind has
    // no count of its own). An offset inside the headers is a writer's slip:
    // the pixels follow the palette then.
    if (offset >= b.paletteAt) {
        b.paletteEntries = std::min(b.paletteEntries, (offset - b.paletteAt) / b.entryBytes);
        b.pixelsAt = offset;
    } else {
        b.pixelsAt = b.paletteAt + b.paletteEntries * b.entryBytes;
    }
    return b;
}

// One bit field: its value in the pixel scaled to 0–255, whatever its width
// (rounded, so a field's largest value is 255 and a 1-bit field gives 0 or
// 255). A mask of no bits is a channel the file does not store: it reads
// as 0. None for bits that do not lie together.
class Field {
public:
    static std::optional<Field> of(uint32_t mask) {
        Field f;
        if (mask == 0) {
            f.table_ = {0};  // every pixel's value in no bits is 0
            return f;
        }
        f.shift_ = std::countr_zero(mask);
        f.max_ = mask >> f.shift_;
        if ((uint64_t(f.max_) + 1) & f.max_) return std::nullopt;
        if (f.max_ <= 0xFFFF) {
            f.table_.resize(size_t(f.max_) + 1);
            for (uint32_t v = 0; v <= f.max_; ++v) f.table_[v] = scale(v, f.max_);
        }
        return f;
    }
    bool present() const { return max_ != 0; }
    uint32_t raw(uint32_t pixel) const { return (pixel >> shift_) & max_; }
    int operator()(uint32_t pixel) const {
        const uint32_t v = raw(pixel);
        return table_.empty() ? scale(v, max_) : table_[v];
    }

private:
    static uint8_t scale(uint32_t v, uint32_t max) {
        return uint8_t((uint64_t(v) * 510 + max) / (uint64_t(max) * 2));
    }
    int shift_ = 0;
    uint32_t max_ = 0;
    std::vector<uint8_t> table_;  // never empty below 17 bits, so no field of none divides
};

// The colours of an indexed BMP; indices past the entries the file holds
// read as black.
std::vector<QRgb> paletteOf(const QByteArray& d, const BmpHeader& b) {
    std::vector<QRgb> palette(size_t(1) << b.bits, qRgb(0, 0, 0));
    for (long long i = 0; i < b.paletteEntries; ++i) {
        const long long at = b.paletteAt + i * b.entryBytes;
        palette[size_t(i)] = qRgb(int(byteAt(d, at + 2)), int(byteAt(d, at + 1)), int(byteAt(d, at)));
    }
    return palette;
}

// A pixel of `n` bytes (2 to 4), least significant first.
uint32_t pixelAt(const uchar* in, int n) {
    uint32_t v = in[0] | (uint32_t(in[1]) << 8);
    if (n > 2) v |= uint32_t(in[2]) << 16;
    if (n > 3) v |= uint32_t(in[3]) << 24;
    return v;
}

// Where the rows of an uncompressed BMP lie: row y of the picture (from
// the top) in the file's bytes.
struct Rows {
    const uchar* first;
    long long stride, height;
    bool topDown;
    const uchar* at(int y) const { return first + stride * (topDown ? y : height - 1 - y); }
};

// Whether any pixel stores alpha other than 0. Many writers declare an
// alpha mask and leave its bits 0 in every pixel, meaning an opaque
// picture, the rule the TGA reader keeps for declared alpha bits too. Stops
// at the first pixel that stores some.
bool storesAlpha(const Rows& rows, int width, int bytesPer, const Field& alpha) {
    for (int y = 0; y < rows.height; ++y) {
        const uchar* in = rows.at(y);
        for (int x = 0; x < width; ++x, in += bytesPer)
            if (alpha.raw(pixelAt(in, bytesPer)) != 0) return true;
    }
    return false;
}

// Rows of 32-bit pixels in the commonest order (blue, green, red, then
// alpha or an unused byte), which is the picture's own: each row goes
// across in one pass, opaque pixels as they are.
void readBgra(const Rows& rows, bool alpha, QImage& img) {
    const int w = img.width();
    for (int y = 0; y < img.height(); ++y) {
        const uchar* in = rows.at(y);
        auto* out = reinterpret_cast<QRgb*>(img.scanLine(y));
        if (!alpha) {
            for (int x = 0; x < w; ++x) {
                uint32_t v;
                std::memcpy(&v, in + 4 * x, 4);
                out[x] = v | 0xFF000000u;
            }
            continue;
        }
        for (int x = 0; x < w; ++x) {
            uint32_t v;
            std::memcpy(&v, in + 4 * x, 4);
            out[x] = v >= 0xFF000000u ? v : qPremultiply(v);
        }
    }
}

// Rows of palette indices or of pixels coded by bit fields.
void readRows(const BmpHeader& b, const Rows& rows, const std::optional<Field> (&channel)[4], bool alpha,
              const std::vector<QRgb>& palette, QImage& img) {
    const int w = img.width(), bytesPer = b.bits / 8;
    for (int y = 0; y < img.height(); ++y) {
        const uchar* in = rows.at(y);
        auto* out = reinterpret_cast<QRgb*>(img.scanLine(y));
        if (!palette.empty()) {
            const int perByte = 8 / b.bits, mask = (1 << b.bits) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - b.bits * (x % perByte + 1);
                out[x] = palette[size_t((in[x / perByte] >> shift) & mask)];
            }
        } else if (b.bits == 24 && !alpha && b.masks[0] == 0xFF0000 && b.masks[1] == 0xFF00 &&
                   b.masks[2] == 0xFF) {
            for (int x = 0; x < w; ++x, in += 3)
                out[x] = 0xFF000000u | in[0] | (in[1] << 8) | (uint32_t(in[2]) << 16);
        } else {
            for (int x = 0; x < w; ++x, in += bytesPer) {
                const uint32_t v = pixelAt(in, bytesPer);
                const QRgb c = qRgba((*channel[0])(v), (*channel[1])(v), (*channel[2])(v),
                                     alpha ? (*channel[3])(v) : 255);
                out[x] = qAlpha(c) == 255 ? c : qPremultiply(c);
            }
        }
    }
}

// Run-length coded rows of 8 or 4 bits a pixel, each byte read once. A
// count and a byte make a run (of one index, or of the byte's two indices
// in turn); a count of 0 opens an escape: the row's end, the picture's end,
// a move right and up, or a run of indices as they are, padded to whole
// 16-bit words. Rows run from the bottom, from the top where the height
// says so (the format leaves that to uncompressed rows, but the toolkit's
// reader took such files and so does this one). A run past its row is cut
// at the row's end; a move past the picture, or data that stops, ends it.
// Pixels no run sets are transparent: a colour of the palette would paint
// what the file never said.
void readRuns(const uchar* p, const uchar* end, const BmpHeader& b, const std::vector<QRgb>& palette,
              QImage& img) {
    const long long w = img.width(), h = img.height();
    for (int y = 0; y < h; ++y) std::memset(img.scanLine(y), 0, size_t(w) * 4);
    const bool four = b.bits == 4;
    const auto rowAt = [&](long long fileRow) {
        return reinterpret_cast<QRgb*>(img.scanLine(int(b.topDown ? fileRow : h - 1 - fileRow)));
    };
    long long x = 0, y = 0;
    QRgb* row = rowAt(0);
    while (y < h && end - p >= 2) {
        const int count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            const long long n = std::clamp<long long>(w - x, 0, count);
            const QRgb first = palette[size_t(four ? value >> 4 : value)];
            const QRgb second = four ? palette[size_t(value & 15)] : first;
            for (long long i = 0; i < n; ++i) row[x + i] = i & 1 ? second : first;
            x += count;
        } else if (value == 0 || value == 2) {
            if (value == 0) {
                x = 0, ++y;
            } else {
                if (end - p < 2) return;
                x += p[0], y += p[1];
                p += 2;
            }
            if (y < h) row = rowAt(y);
        } else if (value == 1) {
            return;
        } else {
            const long long bytes = four ? (value + 1) / 2 : value;
            const long long here = std::min<long long>(bytes, end - p);
            const long long n =
                std::clamp<long long>(w - x, 0, std::min<long long>(value, four ? 2 * here : here));
            for (long long i = 0; i < n; ++i)
                row[x + i] = palette[size_t(four ? (i & 1 ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i])];
            x += value;
            p += std::min<long long>((bytes + 1) & ~1LL, end - p);
        }
    }
}

}  // namespace

// Rows of palette indices, of pixels coded by bit fields or run-length
// coded, as the headers describe them. Kinds read wrongly before are read
// by the same rules as the ordinary ones; a coding this reader does not
// know (JPEG or PNG inside, the OS/2 kind's own codings, masks with gaps)
// is refused rather than shown garbled.
QImage readBMP(const QByteArray& d, std::string* error, const PlacePixels& place) {
    const auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return QImage();
    };
    const auto header = bmpHeader(d);
    if (!header) return fail(kNotAnImage);
    const BmpHeader& b = *header;
    const bool fields = !b.os2 && (b.compression == kBitFields || b.compression == kAlphaBitFields);
    const bool indexed = b.bits == 1 || b.bits == 2 || b.bits == 4 || b.bits == 8;
    const bool packed = b.bits == 16 || b.bits == 24 || b.bits == 32;
    const bool runs = (b.compression == kRle8 && b.bits == 8) || (b.compression == kRle4 && b.bits == 4);
    if (!(b.compression == kRgb ? indexed || packed : (fields && packed) || runs) || b.width <= 0 ||
        b.height <= 0)
        return fail(kNotAnImage);
    if (abovePixelCap(b.width, b.height)) return fail(tooLarge(b.width, b.height));
    const auto* bytes = reinterpret_cast<const uchar*>(d.constData());
    if (runs) {
        if (b.pixelsAt >= d.size()) return fail(kIncomplete);
        QImage img = pixelsFor(QSize(int(b.width), int(b.height)), place);
        if (img.isNull()) return fail(kTooHungry);
        readRuns(bytes + b.pixelsAt, bytes + d.size(), b, paletteOf(d, b), img);
        return img;
    }
    const long long stride = (b.width * b.bits + 31) / 32 * 4, rowBytes = (b.width * b.bits + 7) / 8;
    if (b.pixelsAt + stride * (b.height - 1) + rowBytes > d.size()) return fail(kIncomplete);

    std::optional<Field> channel[4];
    for (int i = 0; i < 4; ++i)
        if (!(channel[i] = Field::of(b.masks[i]))) return fail(kNotAnImage);
    const Rows rows{bytes + b.pixelsAt, stride, b.height, b.topDown};
    // The fourth byte of an uncompressed 32-bit pixel is left unused by
    // the format, and many writers leave garbage there: only a mask makes it alpha.
    const bool alpha = channel[3]->present() && storesAlpha(rows, int(b.width), b.bits / 8, *channel[3]);

    QImage img = pixelsFor(QSize(int(b.width), int(b.height)), place);
    if (img.isNull()) return fail(kTooHungry);
    if (b.bits == 32 && b.masks[0] == 0xFF0000 && b.masks[1] == 0xFF00 && b.masks[2] == 0xFF &&
        (!alpha || b.masks[3] == 0xFF000000))
        readBgra(rows, alpha, img);
    else
        readRows(b, rows, channel, alpha, indexed ? paletteOf(d, b) : std::vector<QRgb>(), img);
    return img;
}

}  // namespace kit::ImageIO::detail
