#pragma once
// The checks made before a picture is decoded, and the decoding itself (kit
// internal). A picture from outside is decoded by the decoder program,
// which runs these; the program itself runs only the checks, as the quick
// first refusal, and decodes in place only bytes it made itself.
#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <cstdint>
#include <functional>
#include <string>

#include "kit/image/ImageIO.h"

namespace kit::ImageIO::detail {

// Numbers in header bytes; bytes past the end read as 0.
inline uint32_t byteAt(QByteArrayView d, long long at) {
    return at >= 0 && at < d.size() ? uint8_t(d[qsizetype(at)]) : 0u;
}
inline uint32_t le16(QByteArrayView d, long long at) {
    return byteAt(d, at) | (byteAt(d, at + 1) << 8);
}
inline uint32_t le32(QByteArrayView d, long long at) {
    return le16(d, at) | (le16(d, at + 2) << 16);
}
inline uint32_t be16(QByteArrayView d, long long at) {
    return (byteAt(d, at) << 8) | byteAt(d, at + 1);
}
inline uint32_t be32(QByteArrayView d, long long at) {
    return (be16(d, at) << 16) | be16(d, at + 2);
}

extern const char* const kNotAnImage;
extern const char* const kIncomplete;
extern const char* const kTooHungry;
std::string tooLarge(long long w, long long h);
bool abovePixelCap(long long w, long long h);

// A drawing's size is a number it declares, not what its bytes pay for: a
// few bytes may ask for any canvas, and drawing one costs twice its pixels.
// Drawings are held to a bound of their own, below the cap.
constexpr long long kMaxDrawingPixels = 8192LL * 8192;
std::string drawingTooLarge(long long w, long long h);

// What text, colour profiles and other data beside the pixels a picture may
// carry, all together, counted as they are once read (compressed ones
// inflated): a few kilobytes of compressed text, or many chunks of it, would
// otherwise become gigabytes.
constexpr long long kMaxAncillaryBytes = 16LL << 20;

// A refusal for the user, or (empty refusal) how many bytes from the start
// make up the image, and its size where the checks read it (0 otherwise).
struct Screened {
    std::string refusal;
    long long length = 0;
    long long width = 0, height = 0;
    bool unknown = false;  // a format the checks do not know: the decoder decides
};
// The checks this program makes itself, reading no more than headers (the
// decoder program makes them too, and more).
Screened screenData(const QByteArray& data);
// "png", "jpeg", "gif", "bmp" or "tga" by the data's first bytes (a TGA by
// its header's fields); empty for others.
QByteArray knownFormat(const QByteArray& data);
// An open file, read only where the checks look.
Screened screenFile(int fd, long long size);
// The same, where no decoder may be asked: a head of a format the checks do
// not know is refused when it is plain text of no format written as text.
Screened guessFile(int fd, long long size);

// The texts of PNG data or an open PNG file that passes the checks, read by
// this program's own chunk reader; empty for anything else.
TextChunks textsOfData(const QByteArray& data);
TextChunks textsOfFile(int fd, long long size);

// The checks, then the pixels as premultiplied ARGB32; null with `error`
// set on a refusal. maxSide > 0 decodes to at most that many pixels on the
// longer side (never enlarged), `original` receiving the picture's own size.
// `texts` receives the picture's texts, bounded as above. `place`, when
// given, may offer memory for the pixels of a picture of its size (rows of
// width × 4 bytes), which the result then may use.
QImage decode(const QByteArray& bytes, std::string* error, int maxSide = 0, QSize* original = nullptr,
              TextChunks* texts = nullptr, const std::function<uchar*(QSize)>& place = {});

}  // namespace kit::ImageIO::detail
