#include "kit/image/ImageIO.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

extern "C" {
#include <gif_lib.h>
#include <libimagequant.h>
}

#include "kit/base/Files.h"
#include "kit/base/qt/QtImage.h"

namespace kit::ImageIO {

namespace {

// The decoder's own limit sits at the pixel cap: Qt's default (256 MB) is
// below a whole-desktop capture across several high-resolution screens, and
// anything above the cap is refused before it is decoded anyway.
void setDecoderAllocationLimit() {
    if (QImageReader::allocationLimit() != kAllocationLimitMB)
        QImageReader::setAllocationLimit(kAllocationLimitMB);
}

QByteArray asQBytes(const Bytes& data) {
    // Read-only view; the bytes outlive every reader made from it here.
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
}

// Whether JPEG data runs to its end-of-image marker. The decoder fills what
// a cut-off file lacks with grey and calls it a success. The marker segments
// before the first scan are skipped by their lengths (an embedded thumbnail
// has its own end marker); inside the scans a 0xFF byte is followed by 0x00
// or a restart marker, so 0xFF 0xD9 there can only be the end.
bool jpegComplete(const QByteArray& d) {
    const auto at = [&](qsizetype i) { return uint8_t(d[i]); };
    qsizetype i = 2;
    while (i + 4 <= d.size()) {
        if (at(i) != 0xFF) return false;
        const uint8_t m = at(i + 1);
        if (m == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (m == 0xD9) return true;
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
            i += 2;
            continue;
        }
        const qsizetype len = (qsizetype(at(i + 2)) << 8) | at(i + 3);
        if (m == 0xDA) return d.indexOf(QByteArrayView("\xFF\xD9", 2), i + 2 + len) >= 0;
        i += 2 + len;
    }
    return false;
}

// Whether GIF data ends with the trailer byte; a file cut off inside its
// first frame decodes to a partly blank picture otherwise.
bool gifComplete(const QByteArray& d) {
    qsizetype end = d.size();
    while (end > 0 && d[end - 1] == 0) --end;  // padding some writers leave
    return end > 0 && uint8_t(d[end - 1]) == 0x3B;
}

Image fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return {};
}

const char* const kNotAnImage = "The file is not an image that can be read, or it is damaged.";
const char* const kIncomplete = "The image file is incomplete: it ends before its last pixels.";

std::string tooLarge(long long w, long long h) {
    return "The image is too large to open: " + std::to_string(w) + " × " + std::to_string(h) +
           " pixels (at most 256 megapixels).";
}

bool abovePixelCap(long long w, long long h) {
    return w * h > kMaxDecodedPixels;
}

// The bytes read of a file before anything about it is decided: a file
// whose head fails the checks below is refused after this much.
constexpr long long kHeadBytes = 64 * 1024;

// Where the checks read: data at hand, or an open file read only at the
// places asked for, so a header is judged without reading the rest.
class Source {
public:
    explicit Source(const QByteArray& data) : data_(&data), size_(data.size()) {}
    Source(int fd, long long size) : fd_(fd), size_(size) {}

    long long size() const { return size_; }
    const QByteArray* whole() const { return data_; }

    // Up to n bytes at `at` (fewer at the end); read through a small window,
    // so walking a file's chunk headers costs a read per window, not per chunk.
    QByteArray read(long long at, long long n) const {
        n = std::clamp<long long>(std::min(n, size_ - at), 0, size_);
        if (n == 0 || at < 0) return {};
        if (data_) return data_->mid(qsizetype(at), qsizetype(n));
        if (at < windowAt_ || at + n > windowAt_ + window_.size()) {
            window_ = pread(at, std::max<long long>(n, 4096));
            windowAt_ = at;
        }
        return window_.mid(qsizetype(at - windowAt_), qsizetype(n));
    }

    // Up to n bytes at `at`, read at once (no window kept).
    QByteArray pread(long long at, long long n) const {
        n = std::clamp<long long>(std::min(n, size_ - at), 0, size_);
        if (data_) return data_->mid(qsizetype(at), qsizetype(n));
        QByteArray out(qsizetype(n), Qt::Uninitialized);
        long long got = 0;
        while (got < n) {
            const ssize_t r = ::pread(fd_, out.data() + got, size_t(n - got), off_t(at + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += r;
        }
        out.truncate(qsizetype(got));
        return out;
    }

private:
    const QByteArray* data_ = nullptr;
    int fd_ = -1;
    long long size_ = 0;
    mutable QByteArray window_;
    mutable long long windowAt_ = 0;
};

// Numbers in header bytes; bytes past the end read as 0.
uint32_t byteAt(const QByteArray& d, qsizetype at) {
    return at >= 0 && at < d.size() ? uint8_t(d[at]) : 0u;
}
uint32_t be16(const QByteArray& d, qsizetype at) {
    return (byteAt(d, at) << 8) | byteAt(d, at + 1);
}
uint32_t be32(const QByteArray& d, qsizetype at) {
    return (be16(d, at) << 16) | be16(d, at + 2);
}
uint32_t le16(const QByteArray& d, qsizetype at) {
    return byteAt(d, at) | (byteAt(d, at + 1) << 8);
}
uint32_t le32(const QByteArray& d, qsizetype at) {
    return le16(d, at) | (le16(d, at + 2) << 16);
}

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
    // One colour costs a lossless WebP no bits a pixel, and a drawing paints
    // any area: bounds no real picture comes near.
    {"webp svg svgz icns", 65536},
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
};

Screen refuse(std::string why) {
    return {std::move(why), 0};
}

// The size of an image, refused above the cap or beyond its coding's bound.
Screen judge(std::string_view coding, long long w, long long h, long long bytes, long long length) {
    if (abovePixelCap(w, h)) return refuse(tooLarge(w, h));
    if (beyondBound(coding, w * h, bytes)) return refuse(kNotAnImage);
    return {{}, length};
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
std::optional<QByteArray> compressedStream(const QByteArray& type, const QByteArray& chunk) {
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

// The words a PNG's compressed text chunks and colour profile may inflate to,
// all together. The toolkit lifts the PNG library's own limit (8 MB a
// chunk), so a few kilobytes of text would otherwise become gigabytes.
constexpr long long kMaxInflatedPngText = 16LL << 20;

// A PNG's chunks (or an MNG's, built alike), walked by their lengths before
// the decoder sees any: each length must fit in what the file still holds
// (the decoder allocates what a text chunk claims before reading it), and
// compressed words may not inflate beyond the limit, nor a colour profile
// claim more than it inflates to.
Screen screenPNG(const Source& src) {
    const bool mng = src.read(1, 3) == "MNG";
    const QByteArray first = src.read(8, 16);
    if (first.size() < 16 || be32(first, 0) != (mng ? 28u : 13u) ||
        first.mid(4, 4) != (mng ? "MHDR" : "IHDR"))
        return refuse(kNotAnImage);
    const long long w = be32(first, 8), h = be32(first, 12);
    if (abovePixelCap(w, h)) return refuse(tooLarge(w, h));
    long long at = 8, imageData = 0, inflated = 0;
    for (;;) {
        const QByteArray head = src.read(at, 8);
        if (head.size() < 8) return refuse(kIncomplete);  // no end chunk: cut off
        const long long length = be32(head, 0);
        const QByteArray type = head.mid(4, 4);
        if (length > 0x7FFFFFFF || !std::all_of(type.begin(), type.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            }))
            return refuse(kNotAnImage);
        if (length + 12 > src.size() - at) return refuse(kIncomplete);
        if (type == "IDAT" || type == "JDAT") imageData += length;
        if (type == "zTXt" || type == "iTXt" || type == "iCCP")
            if (auto stream = compressedStream(type, src.pread(at + 8, length))) {
                QByteArray first;
                const long long size = inflatedSize(*stream, kMaxInflatedPngText - inflated, &first);
                inflated += size;
                if (inflated > kMaxInflatedPngText) return refuse(kNotAnImage);
                // A profile states its own length first; the decoder allocates that.
                if (type == "iCCP" && first.size() == 4 && be32(first, 0) > size) return refuse(kNotAnImage);
            }
        at += length + 12;
        if (type == (mng ? "MEND" : "IEND")) break;
    }
    return judge(mng ? "mng" : "png", w, h, imageData, at);
}

// A JPEG's marker segments, walked by their lengths to the frame header,
// which gives the size and the coding.
Screen screenJPEG(const Source& src) {
    long long at = 2;
    for (;;) {
        const QByteArray m = src.read(at, 9);
        if (m.size() < 2) return refuse(kIncomplete);
        if (uint8_t(m[0]) != 0xFF) return refuse(kNotAnImage);
        const uint8_t marker = uint8_t(m[1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
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
        return {{}, src.size()};
    }
    return judge(compression == 1 || compression == 2 ? "bmp-rle" : "bmp", w, h, data, src.size());
}

// Icons hold pictures of their own, PNG files among them, which the decoder
// reads with the same library: each is checked as a PNG file would be.
Screen screenIconEntries(const Source& src, bool icns) {
    std::vector<std::pair<long long, long long>> entries;  // where, how long
    if (icns) {
        // Elements of a type and a length that counts their own eight bytes.
        for (long long at = 8; at + 8 <= src.size();) {
            const long long length = be32(src.read(at, 8), 4);
            if (length < 8) break;
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
    for (const auto& [at, length] : entries)
        if (src.read(at, 8) == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
            const QByteArray png = src.pread(at, length);
            if (Screen s = screenPNG(Source(png)); !s.refusal.empty()) return s;
        }
    return {};
}

// Any other format the decoder takes, by the size it reads from the head
// (or the whole data at hand).
Screen screenOther(const Source& src) {
    QByteArray head = src.whole() ? *src.whole() : src.read(0, kHeadBytes);
    QBuffer buf(&head);
    if (!buf.open(QIODevice::ReadOnly)) return refuse(kNotAnImage);
    QImageReader reader(&buf);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format.isEmpty()) return refuse(kNotAnImage);
    if (format == "ico" || format == "cur" || format == "icns")
        if (Screen s = screenIconEntries(src, format == "icns"); !s.refusal.empty()) return s;
    const QSize s = reader.size();
    if (!s.isValid()) return {{}, src.size()};  // judged once decoded
    return judge(format.toStdString(), s.width(), s.height(), src.size(), src.size());
}

// Every check made before a pixel is decoded, in the order of the cost the
// file could cause: its format from the first bytes, then what its header
// claims against what its bytes can hold.
Screen screen(const Source& src) {
    const QByteArray magic = src.read(0, 8);
    if (magic.isEmpty()) return refuse(kNotAnImage);
    if (magic.startsWith("\x89PNG\r\n\x1a\n") || magic.startsWith("\x8aMNG\r\n\x1a\n")) return screenPNG(src);
    if (magic.startsWith("\xFF\xD8\xFF")) return screenJPEG(src);
    if (magic.startsWith("GIF87a") || magic.startsWith("GIF89a")) return screenGIF(src);
    if (magic.startsWith("BM")) return screenBMP(src);
    return screenOther(src);
}

// The pixel size a PNG declares in its first chunk, read by hand: the
// toolkit's header read goes on to the text chunks and beyond.
std::optional<QSize> pngDeclaredSize(const QByteArray& d) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (d.size() < 24 || std::memcmp(d.constData(), signature, 8) != 0) return std::nullopt;
    if (std::memcmp(d.constData() + 12, "IHDR", 4) != 0) return std::nullopt;
    return QSize(int(std::min<uint32_t>(be32(d, 16), INT32_MAX)),
                 int(std::min<uint32_t>(be32(d, 20), INT32_MAX)));
}

// maxSide > 0 decodes to a picture whose longer side is at most that (never
// enlarged); `original` then receives the file's own size.
Image decodeBytes(const QByteArray& bytes, double scale, std::string* error, int maxSide = 0,
                  Size* original = nullptr) {
    if (bytes.isEmpty()) return fail(error, kNotAnImage);
    if (Screen s = screen(Source(bytes)); !s.refusal.empty()) return fail(error, s.refusal);
    setDecoderAllocationLimit();
    QByteArray data = bytes;  // shares; the buffer below only reads
    QBuffer buf(&data);
    if (!buf.open(QIODevice::ReadOnly)) return fail(error, kNotAnImage);
    QImageReader reader(&buf);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);  // photos upright as their camera meant
    // The size from the header, before a single pixel is decoded.
    const QSize s = reader.size();
    if (s.isValid() && abovePixelCap(s.width(), s.height()))
        return fail(error, tooLarge(s.width(), s.height()));
    const QByteArray format = reader.format();
    if ((format == "jpeg" && !jpegComplete(bytes)) || (format == "gif" && !gifComplete(bytes)))
        return fail(error, kIncomplete);
    const bool scaled = maxSide > 0 && s.isValid() && std::max(s.width(), s.height()) > maxSide;
    if (scaled) reader.setScaledSize(s.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage img;
    if (!reader.read(&img) || img.isNull()) return fail(error, kNotAnImage);
    if (original)
        *original = scaled ? Size{double(s.width()), double(s.height())}
                           : Size{double(img.width()), double(img.height())};
    if (abovePixelCap(img.width(), img.height())) return fail(error, tooLarge(img.width(), img.height()));
    // Some decoders ignore the size asked for, or report another size than
    // they decode: a scaled picture is held to its size once decoded.
    if (maxSide > 0 && std::max(img.width(), img.height()) > maxSide) {
        if (original && !scaled) *original = Size{double(img.width()), double(img.height())};
        img = img.scaled(img.size().scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)),
                         Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (img.isNull()) return fail(error, kNotAnImage);
    }
    // Converted where it lies, so the pixels exist twice at most: the
    // decoder's and ours.
    img.convertTo(QImage::Format_ARGB32_Premultiplied);
    Image out = qt::toImage(img, scale);
    if (out.isNull()) return fail(error, tooLarge(img.width(), img.height()));
    return out;
}

Bytes encode(const Image& image, const char* format, int quality, const TextChunks& text) {
    if (image.isNull()) return {};
    QImage q = qt::wrap(image);
    if (std::string_view(format) == "jpeg") q = q.convertToFormat(QImage::Format_RGB32);
    // Resolution from the scale, so viewers show the image at its point size.
    int dpm = int(std::lround(72.0 * image.scale() / 0.0254));
    q.setDotsPerMeterX(dpm);
    q.setDotsPerMeterY(dpm);
    QByteArray out;
    QBuffer buf(&out);
    if (!buf.open(QIODevice::WriteOnly)) return {};
    QImageWriter writer(&buf, format);
    if (quality >= 0) writer.setQuality(quality);
    // On the image, not the writer: the writer joins its texts as "key: value"
    // and splits them again at the first colon (which breaks keys such as
    // "Thumb::URI") and folds the white space of every value.
    for (const auto& [key, value] : text)
        q.setText(QString::fromLatin1(key.data(), qsizetype(key.size())),
                  QString::fromUtf8(value.data(), qsizetype(value.size())));
    if (!writer.write(q)) return {};
    return Bytes(out.begin(), out.end());
}

// The texts of a PNG the checks passed.
TextChunks textOf(QIODevice* dev) {
    TextChunks out;
    QImageReader reader(dev, "png");
    if (!reader.canRead()) return out;
    for (const QString& key : reader.textKeys()) out[key.toStdString()] = reader.text(key).toStdString();
    return out;
}

}  // namespace

Image decode(const Bytes& data, double scale, std::string* error) {
    return decodeBytes(asQBytes(data), scale, error);
}

namespace {

// An open regular file, closed when done.
struct OpenFile {
    int fd = -1;
    long long size = 0;
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens a regular file for the checks: by the name's own bytes, so a name
// that is not UTF-8 stays the same name; only regular files, so a FIFO or a
// device named like a picture cannot hold the caller.
std::string openForChecks(const std::string& path, OpenFile& file) {
    std::string why;
    file.fd = files::openRegular(path, &why, kMaxImageFileBytes);
    if (file.fd < 0) {
        if (why == files::kTooLarge) return "The file is too large to be an image that can be opened.";
        // Short enough to be read whole in a notice.
        if (why == files::kNotRegularFile) return "The file is not a regular file.";
        return "The file could not be opened: " + why + ".";
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0)
        return "The file could not be opened: " + std::string(std::strerror(errno)) + ".";
    file.size = st.st_size;
    return {};
}

Image readFile(const std::string& path, double scale, std::string* error, int maxSide, Size* original) {
    OpenFile file;
    if (std::string why = openForChecks(path, file); !why.empty()) return fail(error, why);
    // The head and (for a PNG) the chunk lengths first: a file they refuse is
    // refused without reading the rest. Then the image's bytes whole: the
    // completeness checks need their ends, and an image file is small beside
    // the pixels it decodes to.
    const Source source(file.fd, file.size);
    const Screen screened = screen(source);
    if (!screened.refusal.empty()) return fail(error, screened.refusal);
    const QByteArray bytes = source.pread(0, screened.length);
    if (bytes.size() < screened.length) return fail(error, kIncomplete);  // shrunk meanwhile
    return decodeBytes(bytes, scale, error, maxSide, original);
}

}  // namespace

Image read(const std::string& path, double scale, std::string* error) {
    return readFile(path, scale, error, 0, nullptr);
}

Image readScaled(const std::string& path, int maxSide, std::string* error, Size* originalSize) {
    return readFile(path, 1.0, error, std::max(maxSide, 1), originalSize);
}

std::vector<std::string> readableExtensions() {
    std::vector<std::string> out;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        out.push_back(format.toLower().toStdString());
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::string refusalOf(const std::string& path) {
    OpenFile file;
    if (std::string why = openForChecks(path, file); !why.empty()) return why;
    return screen(Source(file.fd, file.size)).refusal;
}

Size pixelSize(const std::string& path) {
    // The head is enough for the size; only a regular file is opened, as in read().
    std::string why;
    const int fd = files::openRegular(path, &why);
    if (fd < 0) return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    if (auto declared = pngDeclaredSize(file.peek(24)))
        return {double(declared->width()), double(declared->height())};
    setDecoderAllocationLimit();
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    QSize s = reader.size();
    if (!s.isValid()) return {};
    return {double(s.width()), double(s.height())};
}

Bytes encodePNG(const Image& image, const TextChunks& text) {
    return encode(image, "png", -1, text);
}

Bytes encodeJPEG(const Image& image, double quality) {
    double q = std::isfinite(quality) ? std::clamp(quality, 0.0, 1.0) : 1.0;
    return encode(image, "jpeg", int(std::lround(q * 100)), {});
}

namespace {

// ---- GIF writing ----------------------------------------------------------------

struct LiqDeleter {
    void operator()(liq_attr* a) const { liq_attr_destroy(a); }
    void operator()(liq_image* i) const { liq_image_destroy(i); }
    void operator()(liq_result* r) const { liq_result_destroy(r); }
};

// One frame reduced to palette indices.
struct IndexedFrame {
    std::vector<GifColorType> palette;  // a power of two entries, 2…256
    std::vector<GifByteType> pixels;
    int transparent = -1;
};

std::optional<IndexedFrame> quantize(const Image& img) {
    int w = img.width(), h = img.height();
    // libimagequant wants straight (not premultiplied) RGBA.
    std::vector<uint8_t> rgba(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = img.row(y);
        uint8_t* d = rgba.data() + size_t(y) * size_t(w) * 4;
        for (int x = 0; x < w; ++x, s += 4, d += 4) {
            uint8_t a = s[3];
            auto un = [a](uint8_t c) {
                return a ? uint8_t(std::min(255, (c * 255 + a / 2) / a)) : uint8_t(0);
            };
            d[0] = un(s[2]);
            d[1] = un(s[1]);
            d[2] = un(s[0]);
            d[3] = a;
        }
    }
    std::unique_ptr<liq_attr, LiqDeleter> attr(liq_attr_create());
    if (!attr) return std::nullopt;
    liq_set_speed(attr.get(), 4);
    std::unique_ptr<liq_image, LiqDeleter> li(liq_image_create_rgba(attr.get(), rgba.data(), w, h, 0));
    if (!li) return std::nullopt;
    liq_result* raw = nullptr;
    if (liq_image_quantize(li.get(), attr.get(), &raw) != LIQ_OK || !raw) return std::nullopt;
    std::unique_ptr<liq_result, LiqDeleter> res(raw);
    liq_set_dithering_level(res.get(), 1.0f);
    IndexedFrame f;
    f.pixels.resize(size_t(w) * size_t(h));
    if (liq_write_remapped_image(res.get(), li.get(), f.pixels.data(), f.pixels.size()) != LIQ_OK)
        return std::nullopt;
    const liq_palette* pal = liq_get_palette(res.get());
    if (!pal || pal->count == 0) return std::nullopt;
    int lowest = 256;
    std::vector<bool> clear(pal->count, false);
    for (unsigned i = 0; i < pal->count; ++i) {
        const liq_color& c = pal->entries[i];
        f.palette.push_back({c.r, c.g, c.b});
        clear[i] = c.a < 128;
        if (clear[i] && (f.transparent < 0 || c.a < lowest)) f.transparent = int(i), lowest = c.a;
    }
    // GIF transparency is all or nothing: every mostly clear colour becomes the one transparent index.
    if (f.transparent >= 0)
        for (auto& p : f.pixels)
            if (clear[p]) p = GifByteType(f.transparent);
    size_t n = 2;
    while (n < f.palette.size()) n *= 2;
    f.palette.resize(n, GifColorType{0, 0, 0});
    return f;
}

int appendBytes(GifFileType* gif, const GifByteType* data, int len) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + len);
    return len;
}

bool writeFrame(GifFileType* gif, const IndexedFrame& f, int w, int h, int delayCs) {
    GraphicsControlBlock gcb{};
    // Every frame covers the canvas: clear it after each, so a later frame's
    // transparent pixels do not show the one before.
    gcb.DisposalMode = DISPOSE_BACKGROUND;
    gcb.UserInputFlag = false;
    gcb.DelayTime = delayCs;
    gcb.TransparentColor = f.transparent >= 0 ? f.transparent : NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_OK) return false;
    ColorMapObject* map = GifMakeMapObject(int(f.palette.size()), f.palette.data());
    if (!map) return false;
    bool ok = EGifPutImageDesc(gif, 0, 0, w, h, false, map) == GIF_OK;
    GifFreeMapObject(map);
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, const_cast<GifByteType*>(f.pixels.data() + size_t(y) * size_t(w)), w) == GIF_OK;
    return ok;
}

}  // namespace

Bytes encodeGIF(const std::vector<Image>& frames, double delaySeconds, int loopCount) {
    if (frames.empty() || frames[0].isNull()) return {};
    int w = frames[0].width(), h = frames[0].height();
    if (w > 65535 || h > 65535) return {};
    for (const Image& f : frames)
        if (f.isNull() || f.width() != w || f.height() != h) return {};
    double d = std::isfinite(delaySeconds) ? std::clamp(delaySeconds, 0.0, 655.35) : 0.0;
    int delayCs = int(std::lround(d * 100));
    Bytes out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, appendBytes, &err);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, nullptr) == GIF_OK;
    // The loop count travels in the NETSCAPE2.0 application extension.
    const GifByteType app[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    int loops = std::clamp(loopCount, 0, 65535);
    const GifByteType sub[] = {1, GifByteType(loops & 0xFF), GifByteType(loops >> 8)};
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, sizeof app, app) == GIF_OK &&
         EGifPutExtensionBlock(gif, sizeof sub, sub) == GIF_OK && EGifPutExtensionTrailer(gif) == GIF_OK;
    for (size_t i = 0; ok && i < frames.size(); ++i) {
        auto f = quantize(frames[i]);
        ok = f && writeFrame(gif, *f, w, h, delayCs);
    }
    if (EGifCloseFile(gif, &err) != GIF_OK) ok = false;
    return ok ? out : Bytes{};
}

TextChunks pngText(const Bytes& data) {
    if (data.empty()) return {};
    QByteArray bytes = asQBytes(data);
    if (!screen(Source(bytes)).refusal.empty()) return {};
    QBuffer buf(&bytes);
    if (!buf.open(QIODevice::ReadOnly)) return {};
    return textOf(&buf);
}

TextChunks readPNGText(const std::string& path) {
    OpenFile file;
    if (!openForChecks(path, file).empty() || !screen(Source(file.fd, file.size)).refusal.empty()) return {};
    QFile f;
    if (!f.open(file.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) return {};
    return textOf(&f);
}

}  // namespace kit::ImageIO
