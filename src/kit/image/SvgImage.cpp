#include "kit/image/SvgImage.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>
#include <cmath>

#include "kit/base/PixelCoordinates.h"
#include "kit/base/qt/QtImage.h"

namespace kit {

namespace {

QByteArray bytes(const std::string& svg) {
    return QByteArray(svg.data(), qsizetype(svg.size()));
}

}  // namespace

Size svgSize(const std::string& svg) {
    QSvgRenderer renderer(bytes(svg));
    if (!renderer.isValid()) return {};
    QRectF box = renderer.viewBoxF();
    if (box.isEmpty()) box = QRectF(QPointF(0, 0), QSizeF(renderer.defaultSize()));
    return {box.width(), box.height()};
}

Image renderSvg(const std::string& svg, Size size, double scale) {
    if (size.width <= 0 || size.height <= 0 || scale <= 0) return {};
    QSvgRenderer renderer(bytes(svg));
    if (!renderer.isValid()) return {};
    int w = pixelCeil(size.width * scale), h = pixelCeil(size.height * scale);
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) return {};
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&p, QRectF(0, 0, w, h));
    p.end();
    return qt::toImage(out, scale);
}

bool applicationIsDark() {
    if (!QGuiApplication::instance()) return false;
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

}  // namespace kit
