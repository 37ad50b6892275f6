#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "kit/image/ImageDecode.h"
#include "kit/image/PictureReaders.h"

namespace kit::ImageIO::detail {

namespace {

// The bytes giflib reads, from memory.
struct GifInput {
    const uchar* at;
    size_t left;
};

int readGifBytes(GifFileType* gif, GifByteType* to, int n) {
    auto* in = static_cast<GifInput*>(gif->UserData);
    const size_t k = std::min(in->left, size_t(std::max(n, 0)));
    std::memcpy(to, in->at, k);
    in->at += k;
    in->left -= k;
    return int(k);
}

QRgb gifColour(const GifColorType& c) {
    return qRgb(c.Red, c.Green, c.Blue);
}

// What the blocks before the first frame's pixels held: no frame, a frame
// whose pixels can be read, or one whose head or coding is broken.
enum class Frame { none, readable, unreadable };

// Reads up to the first frame's pixels: its place, colours and the
// transparent index of the extensions before it.
Frame gifFirstFrame(GifFileType* gif, int& transparent) {
    transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType kind;
        if (DGifGetRecordType(gif, &kind) != GIF_OK) return Frame::none;
        if (kind == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) == GIF_OK ? Frame::readable : Frame::unreadable;
        if (kind != EXTENSION_RECORD_TYPE) return Frame::none;  // the trailer, or no block
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) != GIF_OK) return Frame::none;
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
            GraphicsControlBlock gcb;
            if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
        }
        while (block)
            if (DGifGetExtensionNext(gif, &block) != GIF_OK) return Frame::none;
    }
}

}  // namespace

// The first frame on its logical screen (grown to hold the frame), as the
// toolkit's reader gives it, but with every pixel written: the screen
// around a smaller frame takes the global table's background colour, or
// is transparent when the frame has a transparent colour; the toolkit's
// reader takes the background from a local table it has not read yet.
QImage readGIF(const QByteArray& data, std::string* error, const PlacePixels& place) {
    const auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return QImage();
    };
    GifInput in{reinterpret_cast<const uchar*>(data.constData()), size_t(data.size())};
    int err = 0;
    GifFileType* gif = DGifOpen(&in, readGifBytes, &err);
    if (!gif) return fail(kNotAnImage);
    struct Close {
        GifFileType* gif;
        ~Close() { DGifCloseFile(gif, nullptr); }
    } close{gif};
    int transparent = NO_TRANSPARENT_COLOR;
    const Frame found = gifFirstFrame(gif, transparent);
    if (found == Frame::none) return fail(kNotAnImage);
    // A frame that cannot be read paints nothing, as one of no size: the
    // screen shows alone, as the toolkit's reader shows it.
    const GifImageDesc& f = gif->Image;
    const bool paints = found == Frame::readable && f.Width > 0 && f.Height > 0;
    const long long width = std::max<long long>(gif->SWidth, paints ? (long long)f.Left + f.Width : 0),
                    height = std::max<long long>(gif->SHeight, paints ? (long long)f.Top + f.Height : 0);
    if (width <= 0 || height <= 0) return fail(kNotAnImage);
    if (abovePixelCap(width, height)) return fail(tooLarge(width, height));

    const ColorMapObject* map = f.ColorMap ? f.ColorMap : gif->SColorMap;
    const ColorMapObject* global = gif->SColorMap;
    QRgb background = 0;
    if (transparent == NO_TRANSPARENT_COLOR && global && gif->SBackGroundColor < global->ColorCount)
        background = gifColour(global->Colors[gif->SBackGroundColor]);
    QImage img = pixelsFor(QSize(int(width), int(height)), place);
    if (img.isNull()) return fail(kTooHungry);
    img.fill(background);
    if (!paints) return img;

    // An index beyond the table, and the transparent one, leave a pixel transparent.
    QRgb colours[256] = {};
    for (int i = 0; map && i < std::min(map->ColorCount, 256); ++i)
        if (i != transparent) colours[i] = gifColour(map->Colors[i]);
    std::vector<GifPixelType> line(size_t(f.Width));
    // An interlaced frame comes in four passes: every eighth row from row 0,
    // every eighth from 4, every fourth from 2, every second from 1.
    const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
    const int passes = f.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass)
        for (int r = f.Interlace ? starts[pass] : 0; r < f.Height; r += f.Interlace ? steps[pass] : 1) {
            // Rows the data does not hold keep the background, as the
            // toolkit's reader leaves them.
            if (DGifGetLine(gif, line.data(), f.Width) != GIF_OK) return img;
            auto* row = reinterpret_cast<QRgb*>(img.scanLine(f.Top + r)) + f.Left;
            for (int x = 0; x < f.Width; ++x) row[x] = colours[line[size_t(x)]];
        }
    return img;
}

}  // namespace kit::ImageIO::detail
