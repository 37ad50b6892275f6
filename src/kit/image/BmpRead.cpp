#include <algorithm>
#include <bit>
#include <cstdint>
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
// 255). Null for a mask of no bits; none for bits that do not lie together.
class Field {
public:
    static std::optional<Field> of(uint32_t mask) {
        Field f;
        if (mask == 0) return f;
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
    int operator()(uint32_t pixel) const {
        const uint32_t v = (pixel >> shift_) & max_;
        return table_.empty() ? scale(v, max_) : table_[v];
    }

private:
    static uint8_t scale(uint32_t v, uint32_t max) {
        return uint8_t((uint64_t(v) * 510 + max) / (uint64_t(max) * 2));
    }
    int shift_ = 0;
    uint32_t max_ = 0;
    std::vector<uint8_t> table_;
};

}  // namespace

bool bmpForToolkit(const QByteArray& data) {
    const auto b = bmpHeader(data);
    return b && (b->compression == kRle8 || b->compression == kRle4);
}

// Rows of palette indices or of pixels coded by bit fields, as the headers
// describe them. Kinds read wrongly before are read by the same rules as
// the ordinary ones; a coding this reader does not know (JPEG or PNG
// inside, the OS/2 kind's own codings, masks with gaps) is refused rather
// than shown garbled.
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
    if (!(b.compression == kRgb ? indexed || packed : fields && packed) || b.width <= 0 || b.height <= 0)
        return fail(kNotAnImage);
    if (abovePixelCap(b.width, b.height)) return fail(tooLarge(b.width, b.height));
    const long long stride = (b.width * b.bits + 31) / 32 * 4, rowBytes = (b.width * b.bits + 7) / 8;
    if (b.pixelsAt + stride * (b.height - 1) + rowBytes > d.size()) return fail(kIncomplete);

    std::vector<QRgb> palette(size_t(indexed ? 1 << b.bits : 0), qRgb(0, 0, 0));  // indices past it: black
    for (long long i = 0; i < b.paletteEntries; ++i) {
        const long long at = b.paletteAt + i * b.entryBytes;
        palette[size_t(i)] = qRgb(int(byteAt(d, at + 2)), int(byteAt(d, at + 1)), int(byteAt(d, at)));
    }
    std::optional<Field> channel[4];
    for (int i = 0; i < 4; ++i)
        if (!(channel[i] = Field::of(b.masks[i]))) return fail(kNotAnImage);
    // The fourth byte of an uncompressed 32-bit pixel is left unused by
    // the format, and many writers leave garbage there: only a mask makes it alpha.
    const bool alpha = channel[3]->present();

    QImage img = pixelsFor(QSize(int(b.width), int(b.height)), place);
    if (img.isNull()) return fail(kTooHungry);
    const auto* bytes = reinterpret_cast<const uchar*>(d.constData());
    const int w = int(b.width), bytesPer = b.bits / 8;
    const bool plain = !fields && (b.bits == 24 || b.bits == 32);
    for (int y = 0; y < int(b.height); ++y) {
        const uchar* in = bytes + b.pixelsAt + stride * (b.topDown ? y : b.height - 1 - y);
        auto* out = reinterpret_cast<QRgb*>(img.scanLine(y));
        if (indexed) {
            const int perByte = 8 / b.bits, mask = (1 << b.bits) - 1;
            for (int x = 0; x < w; ++x) {
                const int shift = 8 - b.bits * (x % perByte + 1);
                out[x] = palette[size_t((in[x / perByte] >> shift) & mask)];
            }
        } else if (plain) {
            for (int x = 0; x < w; ++x, in += bytesPer) out[x] = qRgb(in[2], in[1], in[0]);
        } else {
            for (int x = 0; x < w; ++x, in += bytesPer) {
                uint32_t v = in[0] | (uint32_t(in[1]) << 8);
                if (bytesPer > 2) v |= uint32_t(in[2]) << 16;
                if (bytesPer > 3) v |= uint32_t(in[3]) << 24;
                const QRgb c = qRgba((*channel[0])(v), (*channel[1])(v), (*channel[2])(v),
                                     alpha ? (*channel[3])(v) : 255);
                out[x] = qAlpha(c) == 255 ? c : qPremultiply(c);
            }
        }
    }
    return img;
}

}  // namespace kit::ImageIO::detail
