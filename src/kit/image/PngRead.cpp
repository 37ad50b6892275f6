#include <png.h>

#include <csetjmp>
#include <cstring>

#include "kit/image/ImageDecode.h"
#include "kit/image/PictureReaders.h"

namespace kit::ImageIO::detail {

QImage pixelsFor(QSize size, const PlacePixels& place) {
    if (place)
        if (uchar* at = place(size))
            return QImage(at, size.width(), size.height(), qsizetype(size.width()) * 4,
                          QImage::Format_ARGB32_Premultiplied);
    return QImage(size, QImage::Format_ARGB32_Premultiplied);
}

namespace {

// The bytes libpng reads, from memory; running short is an error (the
// checks have already refused a file cut off before its end chunk).
struct Input {
    const uchar* at;
    size_t left;
};

void readBytes(png_structp png, png_bytep out, size_t n) {
    auto* in = static_cast<Input*>(png_get_io_ptr(png));
    if (n > in->left) png_error(png, "cut off");
    std::memcpy(out, in->at, n);
    in->at += n, in->left -= n;
}

[[noreturn]] void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// The header, and the transformations that make every kind rows of
// 8-bit BGRA (the byte order of ARGB32 here): a palette and grey below 8
// bits expanded, a transparent colour turned into alpha while the samples
// still have the file's own depth, 16-bit samples scaled to 8 bits with
// rounding, grey made colour. Gamma and colour profiles are left as
// stored. Only plain values cross setjmp, so nothing is left half-made.
bool readHeader(png_structp png, png_infop info, png_uint_32* w, png_uint_32* h, int* passes, bool* alpha) {
    if (setjmp(png_jmpbuf(png))) return false;
    // What no pixel depends on is skipped: texts are read by the chunk
    // reader, and inflating them or a profile here would be wasted.
    static const png_byte ignored[] = "iCCP\0tEXt\0zTXt\0iTXt\0eXIf\0sPLT\0hIST\0";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, ignored, int(sizeof ignored / 5));
    // Some writers declare a smaller compression window than they use.
    png_set_option(png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
    // Every chunk's checksum already tells damaged data; the compressed
    // stream's own sum would cost a tenth of the decoding again.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, w, h, &depth, &colour, &interlace, nullptr, nullptr);
    *alpha = (colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    png_set_bgr(png);
    if (!*alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
#else
    if (!*alpha)
        png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
    else
        png_set_swap_alpha(png);
#endif
    *passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t(*w) * 4;
}

// Premultiplied where they lie; opaque pixels, most of any screenshot,
// stay as they are.
void premultiply(uchar* bits, size_t n) {
    auto* p = reinterpret_cast<QRgb*>(bits);
    QRgb all = 0xFF000000;  // a quick look first, which the compiler makes wide
    for (size_t i = 0; i < n; ++i) all &= p[i];
    if (qAlpha(all) == 255) return;
    for (size_t i = 0; i < n; ++i)
        if (qAlpha(p[i]) != 255) p[i] = qPremultiply(p[i]);
}

// Rows premultiplied as each is read while it is at hand, or once all the
// passes of an interlaced picture have filled them.
bool readRows(png_structp png, png_infop info, uchar* bits, int w, int h, int passes, bool alpha) {
    if (setjmp(png_jmpbuf(png))) return false;
    const size_t rowBytes = size_t(w) * 4;
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < h; ++y) {
            png_read_row(png, bits + size_t(y) * rowBytes, nullptr);
            if (alpha && passes == 1) premultiply(bits + size_t(y) * rowBytes, size_t(w));
        }
    if (alpha && passes > 1) premultiply(bits, size_t(w) * size_t(h));
    png_read_end(png, info);
    return true;
}

}  // namespace

QImage readPNG(const QByteArray& data, std::string* error, const PlacePixels& place) {
    Input in{reinterpret_cast<const uchar*>(data.constData()), size_t(data.size())};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        if (error) *error = kTooHungry;
        return {};
    }
    png_set_read_fn(png, &in, readBytes);
    png_uint_32 w = 0, h = 0;
    int passes = 1;
    bool alpha = false;
    QImage img;
    std::string refusal;
    if (!readHeader(png, info, &w, &h, &passes, &alpha) || w == 0 || h == 0) {
        refusal = kNotAnImage;
    } else if (abovePixelCap(w, h)) {
        refusal = tooLarge(w, h);
    } else {
        img = pixelsFor(QSize(int(w), int(h)), place);
        if (img.isNull())
            refusal = kTooHungry;
        else if (!readRows(png, info, img.bits(), int(w), int(h), passes, alpha))
            refusal = kNotAnImage;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (!refusal.empty()) {
        if (error) *error = std::move(refusal);
        return {};
    }
    return img;
}

}  // namespace kit::ImageIO::detail
