#include "kit/image/ImageDecode.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "kit/image/PictureReaders.h"
#include "kit/image/TiffCheck.h"

namespace kit::ImageIO::detail {

const char* const kNotAnImage = "The file is not an image that can be read, or it is damaged.";
const char* const kIncomplete = "The image file is incomplete: it ends before its last pixels.";
const char* const kTooHungry = "The image needs more memory to read than a picture may take.";

std::string tooLarge(long long w, long long h) {
    return "The image is too large to open: " + std::to_string(w) + " × " + std::to_string(h) +
           " pixels (at most 256 megapixels).";
}

std::string drawingTooLarge(long long w, long long h) {
    return "The drawing is too large to open: " + std::to_string(w) + " × " + std::to_string(h) +
           " pixels (at most 64 megapixels for a drawing).";
}

bool abovePixelCap(long long w, long long h) {
    // Divided, not multiplied: a header's two 32-bit numbers overflow a product.
    return w > 0 && h > 0 && w > kMaxDecodedPixels / h;
}

namespace {

// The decoder's own limit sits at the pixel cap: Qt's default (256 MB) is
// below a whole-desktop capture across several high-resolution screens, and
// anything above the cap is refused before it is decoded anyway.
void setDecoderAllocationLimit() {
    if (QImageReader::allocationLimit() != kAllocationLimitMB)
        QImageReader::setAllocationLimit(kAllocationLimitMB);
}

// Why JPEG data is refused, or null when it runs to its end-of-image
// marker. The decoder fills what a cut-off file lacks with grey and calls it
// a success. The marker segments before the first scan are skipped by their
// lengths (an embedded thumbnail has its own end marker); inside the scans a
// 0xFF byte is followed by 0x00 or a restart marker, so 0xFF 0xD9 there can
// only be the end. Bytes between segments that start no marker are damage,
// not an early end: the file may well go on to its end marker.
const char* jpegRefusal(const QByteArray& d) {
    const auto at = [&](qsizetype i) { return uint8_t(d[i]); };
    qsizetype i = 2;
    while (i + 4 <= d.size()) {
        if (at(i) != 0xFF) return kNotAnImage;
        const uint8_t m = at(i + 1);
        if (m == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (m == 0xD9) return nullptr;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
            i += 2;
            continue;
        }
        const qsizetype len = (qsizetype(at(i + 2)) << 8) | at(i + 3);
        if (m == 0xDA)
            return d.indexOf(QByteArrayView("\xFF\xD9", 2), i + 2 + len) >= 0 ? nullptr : kIncomplete;
        i += 2 + len;
    }
    return kIncomplete;
}

// Whether GIF data ends with the trailer byte; a file cut off inside its
// first frame decodes to a partly blank picture otherwise.
bool gifComplete(const QByteArray& d) {
    qsizetype end = d.size();
    while (end > 0 && d[end - 1] == 0) --end;  // padding some writers leave
    return end > 0 && uint8_t(d[end - 1]) == 0x3B;
}

template <typename T = QImage>
T fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return {};
}

// The bytes read of a file before anything about it is decided: a file
// whose head fails the checks below is refused after this much.
constexpr long long kHeadBytes = 64 * 1024;

// Where the checks read: data at hand, or an open file read only at the
// places asked for, so a header is judged without reading the rest; or a
// part of either (an icon's picture), read where it lies.
class Source {
public:
    explicit Source(const QByteArray& data) : data_(&data), size_(data.size()) {}
    Source(int fd, long long size) : fd_(fd), size_(size) {}

    long long size() const { return size_; }
    // The whole data at hand; null for a file, or for a part of the data.
    const QByteArray* whole() const {
        return data_ && base_ == 0 && size_ == data_->size() ? data_ : nullptr;
    }

    // The `length` bytes at `at` (fewer at the end), as a source of their own.
    Source part(long long at, long long length) const {
        Source p = *this;
        at = std::clamp<long long>(at, 0, size_);
        p.base_ = base_ + at;
        p.size_ = std::clamp<long long>(length, 0, size_ - at);
        // What the window holds of the part is its own window: many small
        // parts read through one window cost no read each.
        const long long held = windowAt_ + window_.size() - at;
        p.window_ = at >= windowAt_ && held > 0
                        ? window_.mid(qsizetype(at - windowAt_), qsizetype(std::min(held, p.size_)))
                        : QByteArray();
        p.windowAt_ = 0;
        return p;
    }

    // Up to n bytes at `at` (fewer at the end); read through a small window,
    // so walking a file's chunk headers costs a read per window, not per chunk.
    QByteArray read(long long at, long long n) const { return view(at, n).toByteArray(); }

    // The same bytes where they lie, valid until the next read through the
    // window: a walk of many small headers copies none of them.
    QByteArrayView view(long long at, long long n) const {
        n = std::clamp<long long>(std::min(n, size_ - at), 0, size_);
        if (n == 0 || at < 0) return {};
        if (data_) return QByteArrayView(*data_).sliced(qsizetype(base_ + at), qsizetype(n));
        if (at < windowAt_ || at + n > windowAt_ + window_.size()) {
            // A window where the reads step along (small chunks, fill bytes);
            // where they leap (past large chunks) just the bytes asked for.
            const bool leap = at - (windowAt_ + window_.size()) > kWindow;
            window_ = pread(at, leap ? n : std::max<long long>(n, kWindow));
            windowAt_ = at;
        }
        // A file shorter than it said holds fewer: only the bytes read are handed out.
        n = std::min<long long>(n, windowAt_ + window_.size() - at);
        if (n <= 0) return {};
        return QByteArrayView(window_).sliced(qsizetype(at - windowAt_), qsizetype(n));
    }

    static constexpr long long kWindow = 4096;

    // Up to n bytes at `at`, read at once (no window kept).
    QByteArray pread(long long at, long long n) const {
        n = std::clamp<long long>(std::min(n, size_ - at), 0, size_);
        if (n == 0 || at < 0) return {};
        if (data_) return data_->mid(qsizetype(base_ + at), qsizetype(n));
        QByteArray out(qsizetype(n), Qt::Uninitialized);
        long long got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd_, out.data() + got, size_t(n - got), off_t(base_ + at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += r;
        }
        // The file ends where its bytes did (cut while it is read, or a
        // network file's size from a cache): what follows is judged by that.
        if (got < n) size_ = at + got;
        out.truncate(qsizetype(got));
        return out;
    }

private:
    const QByteArray* data_ = nullptr;
    int fd_ = -1;
    long long base_ = 0;          // where a part begins in the data or file
    mutable long long size_ = 0;  // as stated, until a read finds the end sooner
    mutable QByteArray window_;
    mutable long long windowAt_ = 0;
};

// The most pixels a file may decode to for the bytes that code them. Above
// max(kBoundFloor, bytes × pixelsPerByte) the header claims more than its
// data can paint: the decoder allocates the claimed canvas and fills what the
// data leaves out, seconds and gigabytes for a few bytes. Each ratio lies
// above the densest its coding reaches, so no whole file passes it; the floor
// keeps any picture of ordinary size open whatever its data (a small GIF
// frame on a larger screen, skipped runs, a drawing of one colour).
constexpr long long kBoundFloor = 4096LL * 4096;
struct PixelBound {
    const char* codings;  // the decoder's format names, or ours for a coding within one
    long long pixelsPerByte;
};
constexpr PixelBound kPixelBounds[] = {
    // Deflate expands at most 1032 times; a byte of 1-bit rows holds 8 pixels.
    // Counted over the image data chunks alone.
    {"png mng", 1032 * 8},
    // LZW with 12-bit codes: at most 4096 pixels a code, under 2731 a byte of
    // frame data.
    {"gif", 4096},
    // Huffman: every 8 × 8 block of the fullest component costs at least one bit.
    {"jpeg", 64 * 8},
    // Arithmetic coding has no such least cost; no real picture comes near this.
    {"jpeg-arithmetic", 8192},
    // A run is two bytes for at most 255 pixels; skips and an early end leave
    // pixels unpainted, which no writer does over a large picture.
    {"bmp-rle", 256},
    // Rows of 1-bit pixels, uncompressed (BMP rows are also checked whole).
    {"bmp wbmp pbm pgm ppm xbm ico cur", 8},
    // A character or more a pixel.
    {"xpm", 1},
    // RLE: a count byte and a pixel byte for up to 128 pixels.
    {"tga", 128},
    // LZW strings of up to 4096 bytes of 1-bit pixels in 12 bits: under 21846.
    {"tiff tif", 32768},
    // One colour costs a lossless WebP no bits a pixel: a bound no real
    // picture comes near.
    {"webp icns", 65536},
};
// A format the table does not name: the deflate bound, the loosest of the
// codings with a least cost.
constexpr long long kDefaultPixelsPerByte = 1032 * 8;

long long pixelsPerByte(std::string_view coding) {
    for (const PixelBound& b : kPixelBounds)
        for (std::string_view names = b.codings; !names.empty();) {
            const size_t space = names.find(' ');
            if (names.substr(0, space) == coding) return b.pixelsPerByte;
            names = space == std::string_view::npos ? std::string_view() : names.substr(space + 1);
        }
    return kDefaultPixelsPerByte;
}

bool beyondBound(std::string_view coding, long long pixels, long long bytes) {
    return pixels > kBoundFloor && pixels > bytes * pixelsPerByte(coding);
}

// What the checks decided: a refusal for the user, or how many bytes from the
// start make up the image (a PNG ends at its end chunk; anything after it
// is not read).
struct Screen {
    std::string refusal;
    long long length = 0;
    long long width = 0, height = 0;  // 0 when the checks do not read the size
    bool unknown = false;             // a format none of the checks knows
};

Screen refuse(std::string why) {
    return {std::move(why), 0};
}

// The size of an image, refused above the cap or beyond its coding's bound.
Screen judge(std::string_view coding, long long w, long long h, long long bytes, long long length) {
    if (abovePixelCap(w, h)) return refuse(tooLarge(w, h));
    if (beyondBound(coding, w * h, bytes)) return refuse(kNotAnImage);
    return {{}, length, w, h};
}

// How many bytes a zlib stream inflates to, counted up to just past
// `limit`; `first` (when given) receives its first four bytes.
long long inflatedSize(const QByteArray& data, long long limit, QByteArray* first = nullptr) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return limit + 1;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    char sink[16384];
    long long total = 0;
    for (int r = Z_OK; r == Z_OK && total <= limit;) {
        z.next_out = reinterpret_cast<Bytef*>(sink);
        z.avail_out = sizeof sink;
        r = inflate(&z, Z_NO_FLUSH);
        const long long got = static_cast<long long>(sizeof sink - z.avail_out);
        if (first && first->size() < 4)
            first->append(sink, qsizetype(std::min<long long>(got, 4 - first->size())));
        total += got;
        if (got == 0) break;  // the data ends early, or is no stream
    }
    inflateEnd(&z);
    return total;
}

// The compressed stream of a zTXt, compressed iTXt or iCCP chunk; none for
// other chunks and uncompressed text.
std::optional<QByteArray> compressedStream(QByteArrayView type, const QByteArray& chunk) {
    // Each begins with a keyword ended by a zero. zTXt and iCCP follow it
    // with a method byte and the stream; iTXt with a flag, a method byte, a
    // language and a translated keyword (each ended by a zero), then the text.
    qsizetype at = chunk.indexOf('\0');
    if (at < 0) return std::nullopt;
    if (type == "iTXt") {
        if (at + 1 >= chunk.size() || chunk[at + 1] == 0) return std::nullopt;
        const qsizetype language = chunk.indexOf('\0', at + 3);
        const qsizetype translated = language < 0 ? -1 : chunk.indexOf('\0', language + 1);
        if (translated < 0) return std::nullopt;
        return chunk.mid(translated + 1);
    }
    if (type == "zTXt" || type == "iCCP") return chunk.mid(at + 2);
    return std::nullopt;
}

// How many chunks a PNG check walks, and how many of them it inflates: a
// file may hold millions of tiny chunks, each a step, and a compressed one a
// decompressor set up. Ordinary files come nowhere near either (a picture of
// 512 MB in 8 KB data chunks; a few compressed texts and a profile); past
// them the rest is left to the decoder, which has bounds of its own.
constexpr int kMostChunks = 65536;
constexpr int kMostInflated = 64;

// A PNG's chunks (or an MNG's, built alike), walked by their lengths before
// the decoder sees any: each length must fit in what the file still holds
// (the decoder allocates what a text chunk claims before reading it), the
// texts, profile and metadata may not come to more than kMaxAncillaryBytes
// (compressed ones inflated; `ancillary` carries the count from earlier
// pictures of one file), nor a colour profile claim more than it inflates to.
Screen screenPNG(const Source& src, long long& ancillary) {
    const bool mng = src.read(1, 3) == "MNG";
    const QByteArray first = src.read(8, 16);
    if (first.size() < 16 || be32(first, 0) != (mng ? 28u : 13u) ||
        first.mid(4, 4) != (mng ? "MHDR" : "IHDR"))
        return refuse(kNotAnImage);
    const long long w = be32(first, 8), h = be32(first, 12);
    if (abovePixelCap(w, h)) return refuse(tooLarge(w, h));
    long long at = 8, imageData = 0;
    for (int chunks = 0, inflated = 0;; ++chunks) {
        // The rest unwalked: its data may all be the picture's.
        if (chunks == kMostChunks || inflated == kMostInflated)
            return judge(mng ? "mng" : "png", w, h, imageData + (src.size() - at), src.size());
        // Valid until a compressed chunk's read below; its type is kept apart.
        const QByteArrayView head = src.view(at, 8);
        if (head.size() < 8) return refuse(kIncomplete);  // no end chunk: cut off
        const long long length = be32(head, 0);
        char name[4];
        std::memcpy(name, head.data() + 4, 4);
        const QByteArrayView type(name, 4);
        const uint32_t code = be32(head, 4);
        const auto is = [code](const char(&name)[5]) { return code == be32(name, 0); };
        if (length > 0x7FFFFFFF || !std::all_of(type.begin(), type.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            }))
            return refuse(kNotAnImage);
        if (length + 12 > src.size() - at) return refuse(kIncomplete);
        if (is("IDAT") || is("JDAT")) imageData += length;
        const bool compressed = is("zTXt") || is("iTXt") || is("iCCP");
        if (compressed || is("tEXt") || is("eXIf")) {
            // Counted by its length before a byte of it is read; only a
            // compressed one is read, and only when it fits what is left.
            if (length > kMaxAncillaryBytes - ancillary) return refuse(kNotAnImage);
            long long size = length;
            const QByteArray chunk =
                compressed ? src.read(at + 8, length) : QByteArray();  // within kMaxAncillaryBytes
            if (auto stream = compressedStream(type, chunk)) {
                QByteArray opening;
                const long long inflates = inflatedSize(*stream, kMaxAncillaryBytes - ancillary, &opening);
                ++inflated;
                size = std::max(size, inflates);
                // A profile states its own length first; the decoder allocates that.
                if (is("iCCP") && opening.size() == 4 && be32(opening, 0) > inflates)
                    return refuse(kNotAnImage);
            }
            ancillary += size;
            if (ancillary > kMaxAncillaryBytes) return refuse(kNotAnImage);
        }
        at += length + 12;
        if (mng ? is("MEND") : is("IEND")) break;
    }
    return judge(mng ? "mng" : "png", w, h, imageData, at);
}

Screen screenPNG(const Source& src) {
    long long ancillary = 0;
    return screenPNG(src, ancillary);
}

// What may come before a JPEG's frame header: its application data and
// comments (held to kMaxAncillaryBytes together) and its tables, a few
// kilobytes. Fill bytes and segments of no data could otherwise make the
// walk to the frame as long as the file.
constexpr long long kMostBeforeFrame = kMaxAncillaryBytes + (1LL << 20);

// How many markers a JPEG check steps over on its way to the frame: an
// ordinary file has a few tens (its metadata, tables and comments), a
// hostile one millions of empty segments, a step each. Past them the frame
// is left to the decoder, which reads its size before any pixel.
constexpr int kMostMarkers = 128;

// A JPEG's marker segments, walked by their lengths to the frame header,
// which gives the size and the coding.
Screen screenJPEG(const Source& src) {
    long long at = 2, ancillary = 0;
    for (int markers = 0;;) {
        if (at > kMostBeforeFrame) return refuse(kNotAnImage);
        const QByteArrayView m = src.view(at, 9);
        if (m.size() < 2) return refuse(kIncomplete);
        if (uint8_t(m[0]) != 0xFF) return refuse(kNotAnImage);
        const uint8_t marker = uint8_t(m[1]);
        if (marker == 0xFF) {
            // Fill bytes, passed a window at a time to the last before the
            // marker (the next header read then lies in the same window).
            const QByteArrayView run = src.view(at + 1, Source::kWindow - 16);
            qsizetype n = 1;
            while (n < run.size() && uint8_t(run[n]) == 0xFF) ++n;
            at += n;
            continue;
        }
        // A run of fill bytes is no marker: it ends at one, or at the bound on bytes.
        if (++markers > kMostMarkers) return {{}, src.size()};
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) return refuse(kNotAnImage);  // no frame before the data
        if (m.size() < 4) return refuse(kIncomplete);
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (m.size() < 9) return refuse(kIncomplete);
            const long long h = be16(m, 5), w = be16(m, 7);
            // A height of 0 (given later) the decoder refuses itself.
            return judge(marker >= 0xC9 ? "jpeg-arithmetic" : "jpeg", w, h, src.size(), src.size());
        }
        // Application data (profiles, metadata) and comments, which the
        // decoder keeps, count together, however many segments they take.
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) {
            ancillary += be16(m, 2);
            if (ancillary > kMaxAncillaryBytes) return refuse(kNotAnImage);
        }
        at += 2 + be16(m, 2);
    }
}

// A GIF's canvas against its data. The decoder allocates the whole canvas
// (the logical screen, grown to hold every frame) and fills what the data
// leaves out, so 44 bytes placing one frame far off an empty screen cost
// seconds and gigabytes. With the whole file at hand the frames are walked
// until the trailer, the end or bytes that are no block (nothing past those
// paints a pixel) and only their image data counts; a file's head gives the
// screen alone, against the file's size.
Screen screenGIF(const Source& src) {
    const QByteArray* all = src.whole();
    const QByteArray d = all ? *all : src.read(0, 13);
    if (d.size() < 13) return refuse(kIncomplete);
    const auto u8 = [&](qsizetype at) {
        return at < d.size() ? static_cast<long long>(uint8_t(d[at])) : 0LL;
    };
    long long width = le16(d, 6), height = le16(d, 8), data = src.size();
    if (abovePixelCap(width, height)) return refuse(tooLarge(width, height));
    if (all) {
        data = 0;
        qsizetype at = 13;
        if (u8(10) & 0x80) at += 3LL << ((u8(10) & 7) + 1);
        // Sub-blocks from `at`: their data bytes, as far as the file holds them.
        const auto subBlocks = [&]() {
            long long sum = 0;
            while (at < d.size()) {
                const long long n = u8(at++);
                if (n == 0) break;
                sum += std::min<long long>(n, d.size() - at);
                at += n;
            }
            return sum;
        };
        while (at < d.size()) {
            const long long kind = u8(at++);
            if (kind == 0x21) {
                ++at;  // the extension's label
                subBlocks();
            } else if (kind == 0x2C) {
                width = std::max(width, u8(at) + (u8(at + 1) << 8) + u8(at + 4) + (u8(at + 5) << 8));
                height = std::max(height, u8(at + 2) + (u8(at + 3) << 8) + u8(at + 6) + (u8(at + 7) << 8));
                const long long packed = u8(at + 8);
                at += 9;
                if (packed & 0x80) at += 3LL << ((packed & 7) + 1);
                ++at;  // the LZW minimum code size
                data += subBlocks();
            } else {
                break;  // the trailer, or bytes that are no block
            }
        }
    }
    return judge("gif", width, height, data, src.size());
}

// A BMP's header. Uncompressed rows must all be in the file (the decoder
// leaves missing ones black); run-length data is held to its bound.
Screen screenBMP(const Source& src) {
    const QByteArray d = src.read(0, 54);
    if (d.size() < 26) return refuse(kIncomplete);
    const long long header = le32(d, 14);
    long long w = 0, h = 0, bpp = 0, compression = 0;
    if (header == 12) {
        w = le16(d, 18), h = le16(d, 20), bpp = le16(d, 24);
    } else if (header >= 16 && d.size() >= 34) {
        w = int32_t(le32(d, 18)), h = int32_t(le32(d, 22)), bpp = le16(d, 28);
        compression = header >= 20 ? le32(d, 30) : 0;
    } else {
        return refuse(kNotAnImage);
    }
    w = std::llabs(w), h = std::llabs(h);  // rows may run from the top
    const long long start = std::max<long long>(le32(d, 10), 14 + header);
    const long long data = std::max<long long>(src.size() - start, 0);
    if (abovePixelCap(w, h)) return refuse(tooLarge(w, h));
    if ((compression == 0 || compression == 3 || compression == 6) && w > 0 && h > 0 && bpp > 0) {
        const long long rowBytes = (w * bpp + 7) / 8, stride = (w * bpp + 31) / 32 * 4;
        if (src.size() < start + stride * (h - 1) + rowBytes) return refuse(kIncomplete);
        return {{}, src.size(), w, h};
    }
    return judge(compression == 1 || compression == 2 ? "bmp-rle" : "bmp", w, h, data, src.size());
}

// The most elements an icon file of the Apple kind may hold.
constexpr size_t kMaxIconElements = 1024;

// Icons hold pictures of their own, PNG files among them, which the decoder
// reads with the same library: each is checked as a PNG file would be.
Screen screenIconEntries(const Source& src, bool icns) {
    std::vector<std::pair<long long, long long>> entries;  // where, how long
    if (icns) {
        // Elements of a type and a length that counts their own eight bytes.
        // An icon file holds a few dozen; the decoder spends time on each,
        // so a file of many thousands is built to cost, not to show.
        for (long long at = 8; at + 8 <= src.size();) {
            const long long length = be32(src.read(at, 8), 4);
            if (length < 8) break;
            if (entries.size() >= kMaxIconElements) return refuse(kNotAnImage);
            entries.emplace_back(at + 8, length - 8);
            at += length;
        }
    } else {
        // A directory of 16-byte entries, each with its length and place.
        const long long count = le16(src.read(0, 6), 4);
        for (long long i = 0; i < count; ++i) {
            const QByteArray entry = src.read(6 + i * 16, 16);
            if (entry.size() < 16) break;
            entries.emplace_back(le32(entry, 12), le32(entry, 8));
        }
    }
    // A directory may name one picture many times (once is checked) but
    // not make more of the file than it holds: the checks of its pictures
    // read the file once at most, and their texts count together.
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    // Each is checked where it lies, reading its chunk headers as a PNG
    // file's are.
    long long read = 0, ancillary = 0;
    for (const auto& [at, length] : entries)
        if (src.read(at, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
            read += std::min(length, std::max(src.size() - at, 0LL));
            if (read > src.size()) return refuse(kNotAnImage);
            if (Screen s = screenPNG(src.part(at, length), ancillary); !s.refusal.empty()) return s;
        }
    return {};
}

// A TGA file's header. TGA has no signature: a head is taken for one only
// when every field holds a value the format allows, an absent colour map
// described by zeros (as writers leave it), which tells it from a cursor's
// head (a count of pictures there) and a WBMP's (its height there).
struct TgaHeader {
    int type = 0;  // 1 colour-mapped, 2 true colour, 3 grey; 8 more when run-length coded
    int width = 0, height = 0, bits = 0;
    bool alpha = false, topDown = false, rightToLeft = false;
    int mapFirst = 0, mapLength = 0, mapBits = 0;
    long long mapAt = 0, pixelsAt = 0;
    int bytesPerPixel() const { return (bits + 7) / 8; }
    bool runLength() const { return type > 8; }
};

std::optional<TgaHeader> tgaHeader(const QByteArray& h) {
    if (h.size() < 18) return std::nullopt;
    TgaHeader t;
    const uint32_t mapType = byteAt(h, 1), descriptor = byteAt(h, 17);
    t.type = int(byteAt(h, 2));
    const int kind = t.type & 7;
    t.mapFirst = int(le16(h, 3)), t.mapLength = int(le16(h, 5)), t.mapBits = int(byteAt(h, 7));
    t.width = int(le16(h, 12)), t.height = int(le16(h, 14)), t.bits = int(byteAt(h, 16));
    t.alpha = (descriptor & 15) != 0;
    t.rightToLeft = descriptor & 0x10, t.topDown = descriptor & 0x20;
    const auto colourBits = [](int b) { return b == 15 || b == 16 || b == 24 || b == 32; };
    if (kind < 1 || kind > 3 || (t.type != kind && t.type != kind + 8) || mapType > 1 ||
        (descriptor & 0xC0) || t.width == 0 || t.height == 0)
        return std::nullopt;
    if (mapType == 0 ? h.mid(3, 5) != QByteArray(5, '\0') : (t.mapLength == 0 || !colourBits(t.mapBits)))
        return std::nullopt;
    if (kind == 1 ? mapType != 1 || t.bits != 8 : kind == 2 ? !colourBits(t.bits) : t.bits != 8)
        return std::nullopt;
    t.mapAt = 18 + byteAt(h, 0);
    t.pixelsAt = t.mapAt + (mapType ? (long long)t.mapLength * ((t.mapBits + 7) / 8) : 0);
    return t;
}

// A TGA's size against its data: uncompressed rows must all be in the file,
// run-length data is held to its bound.
Screen screenTGA(const Source& src, const TgaHeader& t) {
    if (abovePixelCap(t.width, t.height)) return refuse(tooLarge(t.width, t.height));
    if (src.size() < t.pixelsAt) return refuse(kIncomplete);
    if (t.runLength()) return judge("tga", t.width, t.height, src.size() - t.pixelsAt, src.size());
    if (src.size() < t.pixelsAt + (long long)t.width * t.height * t.bytesPerPixel())
        return refuse(kIncomplete);
    return {{}, src.size(), t.width, t.height};
}

// How a TGA's fourth channel is taken: not at all (the picture is opaque),
// as alpha, or as alpha its colours are already multiplied by.
enum class TgaAlpha { none, straight, premultiplied };

// The attributes type of a file's extension area (0 to 2: the fourth
// channel holds no alpha, 3: alpha, 4: premultiplied alpha), or -1 when the
// file has no extension area: the footer's signature closes the file and
// names where the area lies.
int tgaAttributesType(const QByteArray& d) {
    constexpr qsizetype kFooter = 26, kExtension = 495;
    if (d.size() < 18 + kFooter) return -1;
    const qsizetype footer = d.size() - kFooter;
    if (d.mid(footer + 8, 18) != QByteArray("TRUEVISION-XFILE.\0", 18)) return -1;
    const long long at = le32(d, footer);
    if (at < 18 || at + kExtension > footer || le16(d, qsizetype(at)) < kExtension) return -1;
    return int(byteAt(d, qsizetype(at + kExtension - 1)));
}

// A TGA's pixel data in file order, handed to `visit(row, x, p, count,
// repeated)` in pieces that stay within a row (row 0 the file's first): a
// run-length packet may run on into the next row. `repeated` when the one
// pixel at p stands for all count. Stops early where visit returns false;
// false when the data ends before the last pixel.
template <typename Visit>
bool walkTGA(const QByteArray& d, const TgaHeader& t, Visit&& visit) {
    const auto* p = reinterpret_cast<const uchar*>(d.constData()) + t.pixelsAt;
    const auto* end = reinterpret_cast<const uchar*>(d.constData()) + d.size();
    const long long n = t.bytesPerPixel();
    if (!t.runLength()) {
        for (int y = 0; y < t.height; ++y, p += t.width * n) {
            if (end - p < t.width * n) return false;
            if (!visit(y, 0, p, t.width, false)) return true;
        }
        return true;
    }
    int x = 0, y = 0;
    while (y < t.height) {
        if (p >= end) return false;
        const bool repeated = *p & 0x80;
        long long count = std::min<long long>((*p++ & 0x7F) + 1, (long long)(t.height - y) * t.width - x);
        if (end - p < (repeated ? 1 : count) * n) return false;
        while (count > 0) {
            const int piece = int(std::min<long long>(count, t.width - x));
            if (!visit(y, x, p, piece, repeated)) return true;
            if (!repeated) p += piece * n;
            count -= piece, x += piece;
            if (x == t.width) x = 0, ++y;
        }
        if (repeated) p += n;
    }
    return true;
}

// One pixel of `bits` bits as the file stores it: grey, or blue, green and
// red (five bits each in 15 and 16), then alpha in 32 and in 16's top bit.
QRgb tgaRaw(const uchar* p, int bits) {
    if (bits == 8) return qRgb(p[0], p[0], p[0]);
    if (bits == 24) return qRgb(p[2], p[1], p[0]);
    if (bits == 32) return qRgba(p[2], p[1], p[0], p[3]);
    const uint32_t v = p[0] | (uint32_t(p[1]) << 8);
    const auto five = [](uint32_t c) { return int((c << 3) | (c >> 2)); };
    return qRgba(five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31),
                 bits == 16 && (v & 0x8000) ? 255 : 0);
}

// A stored pixel as the picture holds it: premultiplied.
QRgb tgaPixel(QRgb raw, TgaAlpha alpha) {
    switch (alpha) {
        case TgaAlpha::none:
            return raw | 0xFF000000u;
        case TgaAlpha::straight:
            return qAlpha(raw) == 255 ? raw : qPremultiply(raw);
        case TgaAlpha::premultiplied: {
            // A colour above its alpha is no premultiplied colour; held to it.
            const int a = qAlpha(raw);
            return qRgba(std::min(qRed(raw), a), std::min(qGreen(raw), a), std::min(qBlue(raw), a), a);
        }
    }
    return raw;
}

// How the fourth channel is taken. The extension area's attributes type
// says, where the file has one; otherwise a picture whose alpha values are
// all 0 is opaque (many writers declare alpha bits and leave them 0), and
// any other has the alpha it stores.
TgaAlpha tgaAlpha(const QByteArray& d, const TgaHeader& t, const std::vector<QRgb>& map) {
    const int bits = t.type % 8 == 1 ? t.mapBits : t.bits;
    if (!t.alpha || (bits != 16 && bits != 32)) return TgaAlpha::none;
    const int attributes = tgaAttributesType(d);
    if (attributes >= 0 && attributes <= 2) return TgaAlpha::none;
    if (attributes == 3) return TgaAlpha::straight;
    if (attributes == 4) return TgaAlpha::premultiplied;
    bool seen = false;
    if (!map.empty()) {
        seen = std::any_of(map.begin(), map.end(), [](QRgb c) { return qAlpha(c) != 0; });
    } else {
        walkTGA(d, t, [&](int, int, const uchar* p, int count, bool repeated) {
            for (int i = 0, step = t.bytesPerPixel(); i < (repeated ? 1 : count) && !seen; ++i, p += step)
                seen = bits == 32 ? p[3] != 0 : (p[1] & 0x80) != 0;
            return !seen;
        });
    }
    return seen ? TgaAlpha::straight : TgaAlpha::none;
}

// A TGA's pixels, read by this program's own reader: the toolkit's reads
// neither colour maps nor run-length data, and skips an image name twice.
// Rows run from the bottom unless the header says otherwise. Each row goes
// straight to its place in the picture: the memory `place` offers, or,
// where maxSide asks for a smaller picture, averaged into the rows of that
// one as it comes, so the full-size pixels are never held.
QImage decodeTGA(const QByteArray& d, const TgaHeader& t, std::string* error, int maxSide,
                 const std::function<uchar*(QSize)>& place) {
    const auto* bytes = reinterpret_cast<const uchar*>(d.constData());
    std::vector<QRgb> map;
    if (t.type % 8 == 1) {
        const int n = (t.mapBits + 7) / 8;
        for (int i = 0; i < t.mapLength; ++i) map.push_back(tgaRaw(bytes + t.mapAt + i * n, t.mapBits));
    }
    const TgaAlpha alpha = tgaAlpha(d, t, map);
    for (QRgb& c : map) c = tgaPixel(c, alpha);

    const QSize own(t.width, t.height);
    const bool scaled = maxSide > 0 && std::max(t.width, t.height) > maxSide;
    const QSize size =
        scaled ? own.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)) : own;
    QImage img;
    if (uchar* at = !scaled && place ? place(own) : nullptr)
        img = QImage(at, t.width, t.height, qsizetype(t.width) * 4, QImage::Format_ARGB32_Premultiplied);
    else
        img = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull()) return fail(error, kTooHungry);
    uchar* const bits = img.bits();
    const qsizetype stride = img.bytesPerLine();
    const auto rowAt = [&](int fileRow) { return t.topDown ? fileRow : t.height - 1 - fileRow; };

    // A row is decoded where it lies in the picture when it can be; into
    // `line` when it is turned round or averaged.
    std::vector<QRgb> line;
    if (scaled || t.rightToLeft) line.resize(size_t(t.width));
    // The smaller picture's sums: each of its pixels the average of the
    // pixels whose places fall within it.
    std::vector<int> column;
    std::vector<int> across(size_t(size.width()));
    std::vector<uint64_t> sums;
    int sumRow = -1, rowsSummed = 0;
    if (scaled) {
        column.resize(size_t(t.width));
        for (int x = 0; x < t.width; ++x)
            ++across[size_t(column[size_t(x)] = int((long long)x * size.width() / t.width))];
        sums.assign(size_t(size.width()) * 4, 0);
    }
    const auto flush = [&] {
        if (sumRow < 0) return;
        auto* out = reinterpret_cast<QRgb*>(bits + sumRow * stride);
        for (int x = 0; x < size.width(); ++x) {
            const uint64_t n = uint64_t(across[size_t(x)]) * uint64_t(rowsSummed);
            const uint64_t* s = &sums[size_t(x) * 4];
            const auto mean = [&](int i) { return int((s[i] + n / 2) / n); };
            out[x] = qRgba(mean(0), mean(1), mean(2), mean(3));
        }
        std::fill(sums.begin(), sums.end(), 0);
        rowsSummed = 0;
    };
    const auto finishRow = [&](int fileRow, const QRgb* row) {
        const int y = rowAt(fileRow);
        if (!scaled) {
            auto* out = reinterpret_cast<QRgb*>(bits + y * stride);
            if (row != out) std::reverse_copy(row, row + t.width, out);  // only turned rows use `line`
            return;
        }
        const int target = int((long long)y * size.height() / t.height);
        if (target != sumRow) flush(), sumRow = target;
        ++rowsSummed;
        for (int x = 0; x < t.width; ++x) {
            const QRgb c = row[t.rightToLeft ? t.width - 1 - x : x];
            uint64_t* s = &sums[size_t(column[size_t(x)]) * 4];
            s[0] += qRed(c), s[1] += qGreen(c), s[2] += qBlue(c), s[3] += qAlpha(c);
        }
    };

    bool unmapped = false;
    const int step = t.bytesPerPixel();
    const auto colour = [&](const uchar* p) {
        if (map.empty()) return tgaPixel(tgaRaw(p, t.bits), alpha);
        const int index = p[0] - t.mapFirst;
        if (index < 0 || index >= int(map.size())) return unmapped = true, QRgb(0);
        return map[size_t(index)];
    };
    QRgb* row = nullptr;
    const bool whole = walkTGA(d, t, [&](int fileRow, int x, const uchar* p, int count, bool repeated) {
        if (x == 0)
            row = line.empty() ? reinterpret_cast<QRgb*>(bits + rowAt(fileRow) * stride) : line.data();
        if (repeated) {
            std::fill(row + x, row + x + count, colour(p));
        } else if (map.empty() && t.bits == 24) {
            for (QRgb *out = row + x, *last = out + count; out < last; ++out, p += 3)
                *out = qRgb(p[2], p[1], p[0]);
        } else {
            for (QRgb *out = row + x, *last = out + count; out < last; ++out, p += step) *out = colour(p);
        }
        if (x + count == t.width) finishRow(fileRow, row);
        return !unmapped;
    });
    if (unmapped) return fail(error, kNotAnImage);
    if (!whole) return fail(error, kIncomplete);
    flush();
    return img;
}

// Whether a head that none of the checks above reads could be a picture,
// for asking without the decoder (as a menu does): a head of plain text is
// one only as the start of a format written as text (a drawing, an X bitmap
// or pixmap, a portable bitmap); any other head could be a format of a
// reader the toolkit has, which the decoder finds.
bool couldBePicture(const QByteArray& head) {
    const bool text = std::all_of(head.begin(), head.end(), [](char c) {
        return uint8_t(c) >= 0x20 || c == '\n' || c == '\r' || c == '\t' || c == '\f';
    });
    if (!text) return true;
    if (head.size() >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7') return true;
    return head.contains("<") || head.contains("#define") || head.contains("XPM");
}

// Any other format the decoder takes, by the size it reads from the head
// (or the whole data at hand). Only the decoder program asks the toolkit's
// readers: this program reads no more of a file from outside than its own
// checks do, and icons, which hold pictures of their own, are known by their
// first bytes.
Screen screenOther(const Source& src, bool inDecoder) {
    if (!inDecoder) {
        const QByteArray head = src.read(0, 8);
        const bool icns = head.startsWith("icns");
        const bool icon =
            icns || head.startsWith(QByteArray("\0\0\1\0", 4)) || head.startsWith(QByteArray("\0\0\2\0", 4));
        if (icon)
            if (Screen s = screenIconEntries(src, icns); !s.refusal.empty()) return s;
        // Its format and size are the decoder's to find.
        Screen s{{}, src.size()};
        s.unknown = !icon;
        return s;
    }
    QByteArray head = src.whole() ? *src.whole() : src.read(0, kHeadBytes);
    QBuffer buf(&head);
    if (!buf.open(QIODevice::ReadOnly)) return refuse(kNotAnImage);
    QImageReader reader(&buf);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    // A head our own TGA reader did not take is no TGA it can read; the
    // toolkit's reader would show such a file's pixels wrongly.
    if (format.isEmpty() || format == "tga") return refuse(kNotAnImage);
    if (format == "ico" || format == "cur" || format == "icns")
        if (Screen s = screenIconEntries(src, format == "icns"); !s.refusal.empty()) return s;
    const QSize s = reader.size();
    if (!s.isValid()) return {{}, src.size()};  // judged once decoded
    // A drawing is drawn at the size it declares, whatever its bytes: the
    // cap, and the drawings' own bound, hold it.
    if (format == "svg" || format == "svgz") {
        if (abovePixelCap(s.width(), s.height())) return refuse(tooLarge(s.width(), s.height()));
        if ((long long)s.width() * s.height() > kMaxDrawingPixels)
            return refuse(drawingTooLarge(s.width(), s.height()));
        return {{}, src.size()};
    }
    return judge(format.toStdString(), s.width(), s.height(), src.size(), src.size());
}

// A TIFF's first picture, the one the decoder reads, judged by its
// directory (TiffCheck.h): a file cut short (an interrupted download) is
// otherwise found out only once the reader has filled the whole picture it
// declares, seconds and gigabytes for a large one. Passed, it is judged as
// any other format.
Screen screenTIFF(const Source& src, bool inDecoder) {
    const ReadAt read = [&src](long long at, long long n) { return src.read(at, n); };
    if (const char* why = tiffRefusal(read, src.size())) return refuse(why);
    return screenOther(src, inDecoder);
}

// Every check made before a pixel is decoded, in the order of the cost the
// file could cause: its format from the first bytes, then what its header
// claims against what its bytes can hold.
Screen screen(const Source& src, bool inDecoder) {
    const QByteArray magic = src.read(0, 8);
    if (magic.isEmpty()) return refuse(kNotAnImage);
    if (magic.startsWith("\x89PNG\r\n\x1a\n") || magic.startsWith("\x8aMNG\r\n\x1a\n")) return screenPNG(src);
    if (magic.startsWith("\xFF\xD8\xFF")) return screenJPEG(src);
    if (magic.startsWith("GIF87a") || magic.startsWith("GIF89a")) return screenGIF(src);
    if (magic.startsWith("BM")) return screenBMP(src);
    if (magic.startsWith(QByteArray("II*\0", 4)) || magic.startsWith(QByteArray("MM\0*", 4)))
        return screenTIFF(src, inDecoder);
    if (const auto tga = tgaHeader(src.read(0, 18))) return screenTGA(src, *tga);
    return screenOther(src, inDecoder);
}

std::string latin1ToUtf8(const QByteArray& text) {
    std::string out;
    out.reserve(size_t(text.size()));
    for (const char c : text) {
        const auto u = uint8_t(c);
        if (u < 0x80) {
            out.push_back(char(u));
        } else {
            out.push_back(char(0xC0 | (u >> 6)));
            out.push_back(char(0x80 | (u & 0x3F)));
        }
    }
    return out;
}

// A zlib stream inflated whole; none when it is damaged or would come to
// more than `limit` bytes.
std::optional<std::string> inflated(const QByteArray& data, long long limit) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    std::string out;
    char chunk[16384];
    int r = Z_OK;
    while (r == Z_OK && (long long)out.size() <= limit) {
        z.next_out = reinterpret_cast<Bytef*>(chunk);
        z.avail_out = sizeof chunk;
        r = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - z.avail_out);
        if (r == Z_OK && z.avail_out == sizeof chunk) break;  // no progress: cut off
    }
    inflateEnd(&z);
    if (r != Z_STREAM_END || (long long)out.size() > limit) return std::nullopt;
    return out;
}

// The texts of a PNG the checks passed, read chunk by chunk: keywords and
// tEXt and zTXt texts are Latin-1, iTXt texts UTF-8, both given as UTF-8.
TextChunks pngTexts(const Source& src) {
    TextChunks out;
    if (src.read(0, 8) != QByteArray("\x89PNG\r\n\x1a\n", 8)) return out;
    long long total = 0;
    // As far as the checks walk: as many chunks, as many texts inflated.
    int inflations = 0;
    for (long long at = 8, chunks = 0; chunks < kMostChunks && inflations < kMostInflated; ++chunks) {
        // Valid to the loop's end: nothing below reads through the window.
        const QByteArrayView head = src.view(at, 8);
        if (head.size() < 8) break;
        const long long length = be32(head, 0);
        const QByteArrayView type = head.sliced(4, 4);
        if (type == "IEND" || length + 12 > src.size() - at) break;
        if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            const QByteArray chunk = src.pread(at + 8, length);
            const qsizetype keyEnd = chunk.indexOf('\0');
            std::optional<std::string> text;
            if (keyEnd > 0 && type == "tEXt") {
                text = latin1ToUtf8(chunk.mid(keyEnd + 1));
            } else if (keyEnd > 0 && type == "zTXt") {
                ++inflations;
                if (auto plain = inflated(chunk.mid(keyEnd + 2), kMaxAncillaryBytes - total))
                    text = latin1ToUtf8(QByteArray::fromStdString(*plain));
            } else if (keyEnd > 0 && keyEnd + 2 < chunk.size()) {
                const bool compressed = chunk[keyEnd + 1] != 0;
                inflations += compressed;
                const qsizetype language = chunk.indexOf('\0', keyEnd + 3);
                const qsizetype translated = language < 0 ? -1 : chunk.indexOf('\0', language + 1);
                if (translated >= 0) {
                    const QByteArray body = chunk.mid(translated + 1);
                    text = compressed ? inflated(body, kMaxAncillaryBytes - total) : body.toStdString();
                }
            }
            if (text) {
                total += (long long)text->size() + keyEnd;
                if (total > kMaxAncillaryBytes) break;
                out[latin1ToUtf8(chunk.left(keyEnd))] = std::move(*text);
            }
        }
        at += length + 12;
    }
    return out;
}

}  // namespace

TextChunks textsOfData(const QByteArray& data) {
    if (!screenData(data).refusal.empty()) return {};
    return pngTexts(Source(data));
}

TextChunks textsOfFile(int fd, long long size) {
    if (!screenFile(fd, size).refusal.empty()) return {};
    return pngTexts(Source(fd, size));
}

QByteArray knownFormat(const QByteArray& data) {
    if (data.startsWith("\x89PNG\r\n\x1a\n")) return "png";
    if (data.startsWith("\xFF\xD8\xFF")) return "jpeg";
    if (data.startsWith("GIF87a") || data.startsWith("GIF89a")) return "gif";
    if (data.startsWith("BM")) return "bmp";
    if (tgaHeader(data.left(18))) return "tga";
    return {};
}

Screened screenData(const QByteArray& data) {
    if (data.isEmpty()) return {kNotAnImage, 0};
    const Screen s = screen(Source(data), false);
    return {s.refusal, s.length, s.width, s.height, s.unknown};
}

Screened screenFile(int fd, long long size) {
    const Screen s = screen(Source(fd, size), false);
    return {s.refusal, s.length, s.width, s.height, s.unknown};
}

Screened guessFile(int fd, long long size) {
    Screened s = screenFile(fd, size);
    if (s.unknown && !couldBePicture(Source(fd, size).read(0, 4096))) s.refusal = kNotAnImage;
    return s;
}

namespace {

// A decoded picture made what every caller takes: held to the cap and to the
// size asked for, its texts bounded, its pixels premultiplied. `scaled` when
// the decoder was asked for a smaller size than the picture's own, `s`.
QImage finish(QImage img, bool scaled, QSize s, std::string* error, int maxSide, QSize* original,
              TextChunks* texts) {
    if (original) *original = scaled ? s : img.size();
    if (abovePixelCap(img.width(), img.height())) return fail(error, tooLarge(img.width(), img.height()));
    // Some decoders ignore the size asked for, or report another size than
    // they decode: a scaled picture is held to its size once decoded.
    if (maxSide > 0 && std::max(img.width(), img.height()) > maxSide) {
        if (original && !scaled) *original = img.size();
        img = img.scaled(img.size().scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)),
                         Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (img.isNull()) return fail(error, kNotAnImage);
    }
    if (texts) {
        // Bounded by the checks above for a PNG; held to the same total for
        // any other format's texts.
        long long total = 0;
        for (const QString& key : img.textKeys()) {
            std::string k = key.toStdString(), v = img.text(key).toStdString();
            total += (long long)(k.size() + v.size());
            if (total > kMaxAncillaryBytes) break;
            (*texts)[std::move(k)] = std::move(v);
        }
    }
    // Converted where it lies, so the pixels exist once; a format that
    // cannot be converted there needs a second copy, which may not fit.
    img.convertTo(QImage::Format_ARGB32_Premultiplied);
    if (img.isNull() || img.format() != QImage::Format_ARGB32_Premultiplied) return fail(error, kTooHungry);
    return img;
}

// PNG, BMP and GIF by this program's own readers (PictureReaders.h);
// false for another format, which the toolkit's readers read. Pixels go
// straight into the caller's memory unless they are to be scaled down.
bool readOwn(const QByteArray& data, std::string* error, int maxSide, TextChunks* texts,
             const std::function<uchar*(QSize)>& place, QImage& img) {
    const QByteArray format = knownFormat(data);
    if (format != "png" && format != "bmp" && format != "gif") return false;
    const PlacePixels placeWhole = [&](QSize s) -> uchar* {
        return place && (maxSide <= 0 || std::max(s.width(), s.height()) <= maxSide) ? place(s) : nullptr;
    };
    if (format == "gif") {
        img = gifComplete(data) ? readGIF(data, error, placeWhole) : fail(error, kIncomplete);
        return true;
    }
    img = format == "png" ? readPNG(data, error, placeWhole) : readBMP(data, error, placeWhole);
    if (texts && format == "png" && !img.isNull()) *texts = pngTexts(Source(data));
    return true;
}

}  // namespace

QImage decode(const QByteArray& bytes, std::string* error, int maxSide, QSize* original, TextChunks* texts,
              const std::function<uchar*(QSize)>& place) {
    if (bytes.isEmpty()) return fail(error, kNotAnImage);
    const Screen screened = screen(Source(bytes), true);
    if (!screened.refusal.empty()) return fail(error, screened.refusal);
    setDecoderAllocationLimit();
    // Read-only view of the image's own bytes (a PNG ends at its end chunk).
    QByteArray data = QByteArray::fromRawData(bytes.constData(), qsizetype(screened.length));
    if (const auto tga = tgaHeader(data.left(18))) {
        QImage img = decodeTGA(data, *tga, error, maxSide, place);
        const QSize own(tga->width, tga->height);
        const bool smaller = img.size() != own;
        return img.isNull() ? img : finish(std::move(img), smaller, own, error, maxSide, original, nullptr);
    }
    if (QImage img; readOwn(data, error, maxSide, texts, place, img))
        return img.isNull() ? img : finish(std::move(img), false, {}, error, maxSide, original, nullptr);
    QBuffer buf(&data);
    if (!buf.open(QIODevice::ReadOnly)) return fail(error, kNotAnImage);
    // The commonest formats by their first bytes, which the checks above
    // have read: guessing from content asks every format plugin, loading
    // each, which costs a fresh decoder more than a picture's decoding.
    QImageReader reader(&buf, knownFormat(data));
    reader.setDecideFormatFromContent(reader.format().isEmpty());
    reader.setAutoTransform(true);  // photos upright as their camera meant
    // The size from the header, before a single pixel is decoded.
    const QSize s = reader.size();
    if (s.isValid() && abovePixelCap(s.width(), s.height()))
        return fail(error, tooLarge(s.width(), s.height()));
    const QByteArray format = reader.format();
    if (const char* why = format == "jpeg" ? jpegRefusal(data) : nullptr) return fail(error, why);
    if (format == "gif" && !gifComplete(data)) return fail(error, kIncomplete);
    const bool scaled = maxSide > 0 && s.isValid() && std::max(s.width(), s.height()) > maxSide;
    if (scaled) reader.setScaledSize(s.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage img;
    // Decoded straight into the caller's memory where the decoder fills an
    // image of 32-bit pixels it is given, saving a copy of the pixels.
    const QImage::Format decodedAs = reader.imageFormat();
    uchar* offered = nullptr;
    if (place && !scaled && s.isValid() && reader.transformation() == QImageIOHandler::TransformationNone &&
        (decodedAs == QImage::Format_ARGB32 || decodedAs == QImage::Format_RGB32 ||
         decodedAs == QImage::Format_ARGB32_Premultiplied))
        if (uchar* at = place(s)) {
            offered = at;
            img = QImage(at, s.width(), s.height(), qsizetype(s.width()) * 4, decodedAs);
        }
    if (!reader.read(&img) || img.isNull()) return fail(error, kNotAnImage);
    // The toolkit converts only pixels it owns where they lie: these are
    // premultiplied here (opaque ones, most of any screenshot, stay).
    if (offered && img.constBits() == offered && img.format() != QImage::Format_ARGB32_Premultiplied) {
        if (img.format() == QImage::Format_ARGB32) {
            auto* p = reinterpret_cast<QRgb*>(offered);
            for (size_t i = 0, n = size_t(img.width()) * size_t(img.height()); i < n; ++i)
                if (qAlpha(p[i]) != 255) p[i] = qPremultiply(p[i]);
        }
        img.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);  // opaque RGB32 is premultiplied
    }
    return finish(std::move(img), scaled, s, error, maxSide, original, texts);
}

}  // namespace kit::ImageIO::detail
