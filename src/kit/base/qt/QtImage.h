#pragma once
// Bridges between kit::Image and QImage (kit-internal).
#include <QImage>

#include "kit/base/Image.h"

namespace kit::qt {

// A QImage that reads the image's pixels in place (no copy); valid while the
// image lives and is not modified.
inline QImage wrap(const Image& img) {
    if (img.isNull()) return {};
    return QImage(img.bits(), img.width(), img.height(), qsizetype(img.bytesPerRow()),
                  QImage::Format_ARGB32_Premultiplied);
}

// Copies any QImage into a kit::Image (converted to premultiplied BGRA).
inline Image toImage(const QImage& q, double scale = 1.0) {
    if (q.isNull()) return {};
    QImage c = q.format() == QImage::Format_ARGB32_Premultiplied
                   ? q
                   : q.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (c.isNull()) return {};
    return Image::fromBGRA(c.constBits(), c.width(), c.height(), size_t(c.bytesPerLine()), scale);
}

}  // namespace kit::qt
