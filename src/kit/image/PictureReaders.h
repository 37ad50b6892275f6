#pragma once
// PNG, BMP and GIF read by this program's own readers (kit internal), run
// by the decoder program after the checks: the toolkit's readers garble
// 16-bit PNGs with a transparent colour and several valid kinds of BMP, and
// leave the pixels a run-length BMP's runs do not reach, and the screen
// around a GIF's first frame with colours of its own, as memory held them.
#include <QByteArray>
#include <QImage>
#include <functional>
#include <string>

namespace kit::ImageIO::detail {

// Memory for a picture's pixels offered by the caller (rows of width × 4
// bytes), or null to have the picture hold its own.
using PlacePixels = std::function<uchar*(QSize)>;

// Pixels as premultiplied ARGB32, in the memory `place` offers where it
// does; null with `error` set when the data cannot be read.
QImage readPNG(const QByteArray& data, std::string* error, const PlacePixels& place);

QImage readBMP(const QByteArray& data, std::string* error, const PlacePixels& place);

// A GIF's first frame on its screen, every pixel written.
QImage readGIF(const QByteArray& data, std::string* error, const PlacePixels& place);

// The memory for a decoded picture: the caller's where offered, else its
// own (null when it does not fit).
QImage pixelsFor(QSize size, const PlacePixels& place);

}  // namespace kit::ImageIO::detail
