#include "kit/image/Canvas.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "kit/base/PixelCoordinates.h"
#include "kit/base/qt/QtConvert.h"
#include "kit/base/qt/QtImage.h"
#include "kit/draw/qt/LayerPainter.h"
#include "kit/draw/qt/QtPath.h"

namespace kit {

struct Canvas::Impl {
    Image pixels;
    QImage target;  // paints straight into `pixels`
    std::optional<QPainterPath> clip;

    // A painter in y-up pixel coordinates with the current clip.
    template <class Fn>
    void paint(Fn&& fn) {
        if (target.isNull()) return;
        QPainter p(&target);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setTransform(QTransform(1, 0, 0, -1, 0, target.height()));
        if (clip) p.setClipPath(*clip);
        fn(p);
    }

    void narrow(const QPainterPath& area) {
        QPainterPath a = area;
        clip = clip ? clip->intersected(a) : a;
    }
};

using qt::toQColor;

// The canvas's callers may hand rectangles of negative size (a drag up or left).
static QRectF standardQRect(const Rect& r) {
    return qt::toQRect(r.standardized());
}

Canvas::Canvas(int width, int height, double scale) : d_(std::make_unique<Impl>()) {
    d_->pixels = Image(width, height, scale);
    if (d_->pixels.isNull()) return;
    d_->target = QImage(d_->pixels.mutableBits(), width, height, qsizetype(d_->pixels.bytesPerRow()),
                        QImage::Format_ARGB32_Premultiplied);
}

Canvas::~Canvas() = default;

bool Canvas::isValid() const {
    return !d_->target.isNull();
}
int Canvas::width() const {
    return d_->pixels.width();
}
int Canvas::height() const {
    return d_->pixels.height();
}

void Canvas::fill(Color c) {
    d_->paint([&](QPainter& p) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(QRectF(0, 0, width(), height()), toQColor(c));
    });
}

void Canvas::fillRect(const Rect& r, Color c) {
    d_->paint([&](QPainter& p) { p.fillRect(standardQRect(r), toQColor(c)); });
}

void Canvas::fillPath(const Path& path, Color c, FillRule rule) {
    d_->paint([&](QPainter& p) { p.fillPath(qt::toQPainterPath(path, rule), toQColor(c)); });
}

void Canvas::strokePath(const Path& path, Color c, double lineWidth, LineCap cap, LineJoin join) {
    if (lineWidth <= 0) return;
    d_->paint([&](QPainter& p) {
        QPen pen(toQColor(c), lineWidth, Qt::SolidLine, qt::toQt(cap), qt::toQt(join));
        p.strokePath(qt::toQPainterPath(path), pen);
    });
}

void Canvas::drawLinearGradient(Color c0, Color c1, Point p0, Point p1, bool extend) {
    double len = std::hypot(p1.x - p0.x, p1.y - p0.y);
    if (len <= 0) return;
    d_->paint([&](QPainter& p) {
        // Along the axis: from p0 at x = 0 to p1 at x = len.
        p.translate(p0.x, p0.y);
        p.rotate(std::atan2(p1.y - p0.y, p1.x - p0.x) * 180 / std::numbers::pi);
        QLinearGradient g(0, 0, len, 0);
        g.setColorAt(0, toQColor(c0));
        g.setColorAt(1, toQColor(c1));
        double reach = std::hypot(width(), height()) + std::hypot(p0.x, p0.y) + 1;
        double from = extend ? -reach : 0, to = extend ? reach : len;
        p.fillRect(QRectF(from, -reach, to - from, 2 * reach), g);
    });
}

void Canvas::drawImage(const Image& image, const Rect& dest, ScaleQuality quality) {
    if (image.isNull()) return;
    Rect r = dest.standardized();
    d_->paint([&](QPainter& p) {
        // Back to y down inside dest so the image stands upright.
        p.setTransform(QTransform(1, 0, 0, -1, 0, r.minY() + r.maxY()), true);
        p.setRenderHint(QPainter::SmoothPixmapTransform, quality != ScaleQuality::None);
        int w = pixelRound(r.width()), h = pixelRound(r.height());
        // High quality shrinks through the image's own halving first.
        bool shrink = quality == ScaleQuality::High && (w < image.width() / 2 || h < image.height() / 2);
        QImage src =
            shrink ? qt::wrap(image.scaled(std::max(w, 1), std::max(h, 1), quality)).copy() : qt::wrap(image);
        p.drawImage(standardQRect(r), src);
    });
}

void Canvas::drawLayer(const Layer& layer, Point at) {
    d_->paint([&](QPainter& p) {
        Rect b = layer.bounds().standardized();
        p.translate(at.x - b.minX(), at.y - b.minY());
        qt::paintLayerContents(p, layer);
    });
}

void Canvas::clip(const Rect& r) {
    QPainterPath a;
    a.addRect(standardQRect(r));
    d_->narrow(a);
}

void Canvas::clipRoundedRect(const Rect& r, double radius) {
    QPainterPath a;
    a.addRoundedRect(standardQRect(r), radius, radius);
    d_->narrow(a);
}

void Canvas::resetClip() {
    d_->clip.reset();
}

Image Canvas::image() const {
    return isValid() ? d_->pixels.copy() : Image();
}

}  // namespace kit
