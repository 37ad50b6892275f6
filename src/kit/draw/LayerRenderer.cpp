#include "kit/draw/LayerRenderer.h"

#include <QImage>
#include <QPainter>
#include <cmath>

#include "kit/draw/qt/LayerPainter.h"

namespace kit {

Image renderToImage(const Layer& layer, double scale) {
    return renderToImage(layer, layer.bounds(), scale);
}

Image renderToImage(const Layer& layer, const Rect& area0, double scale) {
    Rect area = area0.standardized();
    if (!(scale > 0) || area.isEmpty()) return {};
    // A hair of tolerance so 100.0000001 × 2 does not grow a pixel column.
    double w = std::ceil(area.width() * scale - 1e-6), h = std::ceil(area.height() * scale - 1e-6);
    if (w > 1 << 15 || h > 1 << 15) return {};
    Image out(int(w), int(h), scale);
    if (out.isNull()) return {};
    // Paint straight into the image's pixels (no copy of a large buffer).
    QImage target(out.mutableBits(), out.width(), out.height(), qsizetype(out.bytesPerRow()),
                  QImage::Format_ARGB32_Premultiplied);
    QPainter p(&target);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    // Layer space (y up) → image rows from the top.
    p.setWorldTransform(QTransform(scale, 0, 0, -scale, -area.minX() * scale, area.maxY() * scale));
    qt::paintLayerContents(p, layer);
    p.end();
    return out;
}

}  // namespace kit
