#include "kit/ImageIO.h"

#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

extern "C" {
#include <gif_lib.h>
#include <libimagequant.h>
}

#include "kit/Files.h"
#include "kit/qt/QtImage.h"

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

std::string tooLarge(long long w, long long h) {
    return "The image is too large to open: " + std::to_string(w) + " × " + std::to_string(h) +
           " pixels (at most 256 megapixels).";
}

// The pixel size a PNG declares in its first chunk, read by hand: the
// toolkit's header read goes on to the text chunks and beyond, which a
// 100-byte file can make cost seconds and gigabytes.
std::optional<QSize> pngDeclaredSize(const QByteArray& d) {
    static const char signature[] = "\x89PNG\r\n\x1a\n";
    if (d.size() < 24 || std::memcmp(d.constData(), signature, 8) != 0) return std::nullopt;
    if (std::memcmp(d.constData() + 12, "IHDR", 4) != 0) return std::nullopt;
    const auto be32 = [&](qsizetype at) {
        return (uint32_t(uint8_t(d[at])) << 24) | (uint32_t(uint8_t(d[at + 1])) << 16) |
               (uint32_t(uint8_t(d[at + 2])) << 8) | uint32_t(uint8_t(d[at + 3]));
    };
    return QSize(int(std::min<uint32_t>(be32(16), INT32_MAX)), int(std::min<uint32_t>(be32(20), INT32_MAX)));
}

bool abovePixelCap(long long w, long long h) {
    return w * h > kMaxDecodedPixels;
}

// Whether a GIF's canvas is far larger than its image data could ever paint.
// The decoder allocates the whole canvas (the logical screen, grown to hold
// every frame) and fills what the data leaves out, so 44 bytes placing one
// frame far off an empty screen cost seconds and gigabytes. LZW with 12-bit
// codes yields at most 4096 pixels per code, under 2731 pixels per byte;
// above a picture no real GIF reaches, a canvas beyond 4096 pixels per byte
// of data is damage. The blocks are walked until the trailer, the end of the
// file or bytes that are no block: nothing past those paints a pixel.
bool gifCanvasUnpaintable(const QByteArray& d) {
    constexpr long long kFloor = 4096LL * 4096;
    constexpr long long kPixelsPerByte = 4096;
    if (d.size() < 13 || !(d.startsWith("GIF87a") || d.startsWith("GIF89a"))) return false;
    const auto u8 = [&](qsizetype at) {
        return at < d.size() ? static_cast<long long>(uint8_t(d[at])) : 0LL;
    };
    const auto le16 = [&](qsizetype at) { return u8(at) | (u8(at + 1) << 8); };
    long long width = le16(6), height = le16(8), data = 0;
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
            width = std::max(width, le16(at) + le16(at + 4));
            height = std::max(height, le16(at + 2) + le16(at + 6));
            const long long packed = u8(at + 8);
            at += 9;
            if (packed & 0x80) at += 3LL << ((packed & 7) + 1);
            ++at;  // the LZW minimum code size
            data += subBlocks();
        } else {
            break;  // the trailer, or bytes that are no block
        }
    }
    const long long canvas = width * height;
    return canvas > kFloor && canvas > data * kPixelsPerByte;
}

// maxSide > 0 decodes straight to a picture whose longer side is at most
// that (never enlarged); `original` then receives the file's own size.
Image decodeBytes(const QByteArray& bytes, double scale, std::string* error, int maxSide = 0,
                  Size* original = nullptr) {
    const std::string notAnImage = "The file is not an image that can be read, or it is damaged.";
    if (bytes.isEmpty()) return fail(error, notAnImage);
    if (auto declared = pngDeclaredSize(bytes);
        declared && abovePixelCap(declared->width(), declared->height()))
        return fail(error, tooLarge(declared->width(), declared->height()));
    setDecoderAllocationLimit();
    QByteArray data = bytes;  // shares; the buffer below only reads
    QBuffer buf(&data);
    if (!buf.open(QIODevice::ReadOnly)) return fail(error, notAnImage);
    QImageReader reader(&buf);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);  // photos upright as their camera meant
    // The size from the header, before a single pixel is decoded.
    const QSize s = reader.size();
    if (s.isValid() && abovePixelCap(s.width(), s.height()))
        return fail(error, tooLarge(s.width(), s.height()));
    const QByteArray format = reader.format();
    if ((format == "jpeg" && !jpegComplete(bytes)) || (format == "gif" && !gifComplete(bytes)))
        return fail(error, "The image file is incomplete: it ends before its last pixels.");
    if (format == "gif" && gifCanvasUnpaintable(bytes)) return fail(error, notAnImage);
    const bool scaled = maxSide > 0 && s.isValid() && std::max(s.width(), s.height()) > maxSide;
    if (scaled) reader.setScaledSize(s.scaled(maxSide, maxSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage img;
    if (!reader.read(&img) || img.isNull()) return fail(error, notAnImage);
    if (original)
        *original = scaled ? Size{double(s.width()), double(s.height())}
                           : Size{double(img.width()), double(img.height())};
    if (abovePixelCap(img.width(), img.height())) return fail(error, tooLarge(img.width(), img.height()));
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

TextChunks textOf(QIODevice* dev) {
    TextChunks out;
    // The toolkit's header read of a picture past the cap costs seconds.
    if (auto declared = pngDeclaredSize(dev->peek(24));
        declared && abovePixelCap(declared->width(), declared->height()))
        return out;
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

Image readFile(const std::string& path, double scale, std::string* error, int maxSide, Size* original) {
    // Whole files: the completeness checks need their ends, and an image
    // file is small beside the pixels it decodes to. By the name's own bytes,
    // so a name that is not UTF-8 stays the same name; only regular files, so
    // a FIFO or a device named like a picture cannot hold the caller.
    std::string why;
    auto bytes = files::readAll(path, kMaxImageFileBytes, &why);
    if (!bytes) {
        if (why == files::kTooLarge)
            return fail(error, "The file is too large to be an image that can be opened.");
        // Short enough to be read whole in a notice.
        if (why == files::kNotRegularFile) return fail(error, "The file is not a regular file.");
        return fail(error, "The file could not be opened: " + why + ".");
    }
    const QByteArray view = QByteArray::fromRawData(bytes->data(), qsizetype(bytes->size()));
    return decodeBytes(view, scale, error, maxSide, original);
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
    QBuffer buf(&bytes);
    if (!buf.open(QIODevice::ReadOnly)) return {};
    return textOf(&buf);
}

TextChunks readPNGText(const std::string& path) {
    const int fd = files::openRegular(path);
    if (fd < 0) return {};
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return textOf(&f);
}

}  // namespace kit::ImageIO
