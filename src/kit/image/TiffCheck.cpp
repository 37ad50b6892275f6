#include "kit/image/TiffCheck.h"

#include <algorithm>
#include <array>
#include <optional>

#include "kit/image/ImageDecode.h"

namespace kit::ImageIO::detail {

// Named apart from the other readers' helpers, which share a unit with these
// when the build joins them.
namespace tiff {

namespace {

// The fields the check reads.
enum Field { kWidth, kHeight, kBitsPerSample, kCompression, kOffsets, kByteCounts, kFields };

std::optional<Field> fieldOf(uint32_t tag) {
    switch (tag) {
        case 256:
            return kWidth;
        case 257:
            return kHeight;
        case 258:
            return kBitsPerSample;  // for each sample
        case 259:
            return kCompression;
        case 273:  // strip places
        case 324:  // tile places
            return kOffsets;
        case 279:  // strip lengths
        case 325:  // tile lengths
            return kByteCounts;
        default:
            return std::nullopt;
    }
}

// Numbers in the file's byte order.
struct Order {
    bool little = true;
    uint32_t u16(const QByteArray& d, long long at) const { return little ? le16(d, at) : be16(d, at); }
    uint32_t u32(const QByteArray& d, long long at) const { return little ? le32(d, at) : be32(d, at); }
};

// A directory entry of a field the check reads: its values' type, how many,
// and its value field, which holds them when they fit in its four bytes and
// says where they lie otherwise.
struct Entry {
    bool named = false;
    uint32_t type = 0;
    long long count = 0;  // below 2^32
    QByteArray field;
    // Bytes a value of the two types the check reads (SHORT and LONG); 0
    // for another, whose values the decoder judges.
    long long valueSize() const { return type == 3 ? 2 : type == 4 ? 4 : 0; }
};

// The values of an entry, as the file holds them.
struct Values {
    QByteArray bytes;
    long long size = 0;
    Order order;
    long long operator[](long long i) const {
        return size == 2 ? order.u16(bytes, i * 2) : order.u32(bytes, i * 4);
    }
};

// Why a part that begins at `at` and does not fit in the file is refused.
// One that begins within the file, or beyond its end by less than the
// file's own size, is taken for a file cut short (an interrupted download)
// and the user may fetch it again; a place further out is damage: a place
// garbled points anywhere in four gigabytes, and no fetching mends it.
const char* pastTheEnd(long long at, long long size) {
    return at - size > size ? kNotAnImage : kIncomplete;
}

// A file's first directory: the entries of the fields the check reads, and
// their values, each read once when asked for.
class Directory {
public:
    Directory(const ReadAt& read, long long size, Order order) : read_(read), size_(size), order_(order) {}

    // Reads the table of the directory at `at`, a block of entries at a
    // time, keeping the entries of the fields the check reads. A field named
    // twice refuses the file: a directory names each field once, in the
    // order of their tags, and readers differ in which of two they take, so
    // the check could not judge what the decoder reads (and a table of one
    // field named 65,535 times is refused after its first block).
    const char* readTable(long long at) {
        const QByteArray countBytes = read_(at, 2);
        if (countBytes.size() < 2) return pastTheEnd(at, size_);
        const long long entries = order_.u16(countBytes, 0);  // at most 65,535 of 12 bytes
        constexpr long long kBlock = 341;                     // entries of 12 bytes in a page
        for (long long first = 0; first < entries; first += kBlock) {
            const long long n = std::min(entries - first, kBlock);
            const QByteArray block = read_(at + 2 + first * 12, n * 12);  // at most 4,092 bytes
            if (block.size() < n * 12) return kIncomplete;  // the table begins in the file: it is cut
            for (long long e = 0; e < n * 12; e += 12) {
                const std::optional<Field> field = fieldOf(order_.u16(block, e));
                if (!field) continue;
                Entry& entry = entries_[*field];
                if (entry.named) return kNotAnImage;
                entry = {true, order_.u16(block, e + 2), order_.u32(block, e + 4), block.mid(e + 8, 4)};
            }
        }
        return nullptr;
    }

    const Entry& operator[](Field f) const { return entries_[f]; }

    // The first value of a field of one (a width, a height, a compression),
    // 0 when it holds none the check reads.
    long long first(Field f) const {
        const Entry& e = entries_[f];
        const long long size = e.valueSize();
        if (size == 0 || e.count == 0) return 0;
        const QByteArray d =
            e.count * size <= 4 ? e.field : read_(order_.u32(e.field, 0), size);  // one value
        return d.size() < size ? 0 : Values{d, size, order_}[0];
    }

    // The values of an array field, or why they cannot be read where they
    // are said to lie. The caller holds the arrays to kMostTiffValues.
    const char* values(Field f, Values& out) const {
        const Entry& e = entries_[f];
        out.size = e.valueSize(), out.order = order_;
        const long long bytes = e.count * out.size;
        if (bytes <= 4) {
            out.bytes = e.field;
            return nullptr;
        }
        const long long at = order_.u32(e.field, 0);
        out.bytes = read_(at, bytes);  // at most kMostTiffValues values of 4 bytes
        return out.bytes.size() < bytes ? pastTheEnd(at, size_) : nullptr;
    }

private:
    const ReadAt& read_;
    long long size_;
    Order order_;
    std::array<Entry, kFields> entries_;
};

// Why the strips (or tiles) are refused: one lies past the file's end, or
// deflated ones are too short to hold the pixels declared (a deflate stream
// inflates 1032 times at most). Null when they pass, or when they are not
// in a form the check reads (the decoder judges those).
const char* stripsRefusal(const Directory& dir, long long size) {
    const Entry &offsets = dir[kOffsets], &lengths = dir[kByteCounts];
    if (!offsets.named || !lengths.named || offsets.count != lengths.count || offsets.valueSize() == 0 ||
        lengths.valueSize() == 0)
        return nullptr;
    Values places, bytes;
    if (const char* why = dir.values(kOffsets, places)) return why;
    if (const char* why = dir.values(kByteCounts, bytes)) return why;
    // At most 2^20 lengths below 2^32: the sum stays below 2^52.
    long long data = 0;
    const char* beyond = nullptr;
    for (long long i = 0; i < offsets.count; ++i) {
        const long long at = places[i], length = bytes[i];
        if (at + length > size && beyond != kNotAnImage) beyond = pastTheEnd(at, size);
        data += length;
    }
    if (beyond) return beyond;
    const long long compression = dir[kCompression].named ? dir.first(kCompression) : 1;
    if (compression != 8 && compression != 32946) return nullptr;
    const long long width = dir.first(kWidth), height = dir.first(kHeight);
    if (abovePixelCap(width, height)) return nullptr;  // the decoder refuses it by its size
    // The bits of a pixel, its samples' together (one sample of one bit when
    // the field is absent, as the format has it): at most 2^20 values below
    // 2^32, so the sum stays below 2^52.
    long long pixelBits = 1;
    if (dir[kBitsPerSample].named) {
        Values bits;
        if (dir[kBitsPerSample].valueSize() == 0) return nullptr;
        if (const char* why = dir.values(kBitsPerSample, bits)) return why;
        pixelBits = 0;
        for (long long i = 0; i < dir[kBitsPerSample].count; ++i) pixelBits += bits[i];
    }
    // Divided, not multiplied: the pixels (at most the cap, 2^28) times the
    // bits would overflow; the data's bound stays below 2^63.
    return pixelBits > 0 && width * height / 8 > (data + 1) * 1032 / pixelBits ? kNotAnImage : nullptr;
}

const char* refusal(const ReadAt& read, long long size) {
    const QByteArray head = read(0, 8);
    const Order order{head.startsWith("II")};
    Directory dir(read, size, order);
    if (const char* why = dir.readTable(order.u32(head, 4))) return why;
    // Counted before any is read.
    if (dir[kBitsPerSample].count + dir[kOffsets].count + dir[kByteCounts].count > kMostTiffValues)
        return kNotAnImage;
    return stripsRefusal(dir, size);
}

}  // namespace

}  // namespace tiff

const char* tiffRefusal(const ReadAt& read, long long size) {
    return tiff::refusal(read, size);
}

}  // namespace kit::ImageIO::detail
