#include "kit/draw/qt/LayerPainter.h"

#include <QConicalGradient>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextLayout>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

#include "kit/base/Blur.h"
#include "kit/base/PixelCoordinates.h"
#include "kit/base/qt/QtConvert.h"
#include "kit/base/qt/QtImage.h"
#include "kit/draw/GradientLayer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "kit/draw/qt/QtPath.h"
#include "kit/draw/qt/QtText.h"

namespace kit::qt {

namespace {

// ---- Small conversions ----------------------------------------------------------

QTransform toQTransform(const AffineTransform& t) {
    return {t.a, t.b, t.c, t.d, t.tx, t.ty};
}

QPainter::CompositionMode compositionMode(CompositingFilter f) {
    switch (f) {
        case CompositingFilter::Multiply:
            return QPainter::CompositionMode_Multiply;
        case CompositingFilter::Screen:
            return QPainter::CompositionMode_Screen;
        case CompositingFilter::None:
            break;
    }
    return QPainter::CompositionMode_SourceOver;
}

// Scale of the linear part of a transform (geometric mean of the axes).
double scaleOf(const QTransform& t) {
    return std::sqrt(std::fabs(t.m11() * t.m22() - t.m12() * t.m21()));
}

// ---- Presented geometry ------------------------------------------------------------

struct Geometry {
    Rect bounds;
    AffineTransform toSuper;
};

Geometry geometryOf(const Layer& l) {
    Rect b = l.presented("bounds", l.bounds());
    Point pos = l.presented("position", l.position());
    Point anchor = l.presented("anchorPoint", l.anchorPoint());
    AffineTransform t = l.presented("transform", l.transform());
    Point a{b.origin.x + anchor.x * b.size.width, b.origin.y + anchor.y * b.size.height};
    return {b, AffineTransform::translation(-a.x, -a.y)
                   .concat(t)
                   .concat(AffineTransform::translation(pos.x, pos.y))};
}

// Sublayers of a geometry-flipped layer are placed y down from its top.
QTransform sublayerSpace(const Layer& l, const Rect& b) {
    if (!l.isGeometryFlipped()) return {};
    return {1, 0, 0, -1, 0, b.minY() + b.maxY()};
}

// Inside bounds b, a y-down space for upright images and text.
QTransform uprightSpace(const Rect& b) {
    return {1, 0, 0, -1, 0, b.minY() + b.maxY()};
}

QPainterPath roundedRectPath(const Rect& b, double radius) {
    QPainterPath p;
    Rect r = b.standardized();
    double rad = std::min({radius, r.width() / 2, r.height() / 2});
    if (rad > 0)
        p.addRoundedRect(toQRect(r), rad, rad);
    else
        p.addRect(toQRect(r));
    return p;
}

bool hasShadow(const Layer& l) {
    return l.presented("shadowOpacity", l.shadowOpacity()) > 0 &&
           l.presented("shadowColor", l.shadowColor()).a > 0;
}

// ---- Contents placement --------------------------------------------------------------

// Where the contents image lies in layer space (y up) for the gravity.
Rect contentsRect(const Layer& l, const Rect& b) {
    const Image& img = l.contents();
    double iw = img.width() / l.contentsScale(), ih = img.height() / l.contentsScale();
    Rect r = b.standardized();
    switch (l.contentsGravity()) {
        case ContentsGravity::Resize:
            return r;
        case ContentsGravity::ResizeAspect:
        case ContentsGravity::ResizeAspectFill: {
            if (iw <= 0 || ih <= 0) return r;
            double sx = r.width() / iw, sy = r.height() / ih;
            double s =
                l.contentsGravity() == ContentsGravity::ResizeAspect ? std::min(sx, sy) : std::max(sx, sy);
            return {r.midX() - iw * s / 2, r.midY() - ih * s / 2, iw * s, ih * s};
        }
        default:
            break;
    }
    double x = r.midX() - iw / 2, y = r.midY() - ih / 2;
    switch (l.contentsGravity()) {
        case ContentsGravity::Left:
        case ContentsGravity::TopLeft:
        case ContentsGravity::BottomLeft:
            x = r.minX();
            break;
        case ContentsGravity::Right:
        case ContentsGravity::TopRight:
        case ContentsGravity::BottomRight:
            x = r.maxX() - iw;
            break;
        default:
            break;
    }
    switch (l.contentsGravity()) {
        case ContentsGravity::Top:
        case ContentsGravity::TopLeft:
        case ContentsGravity::TopRight:
            y = r.maxY() - ih;
            break;
        case ContentsGravity::Bottom:
        case ContentsGravity::BottomLeft:
        case ContentsGravity::BottomRight:
            y = r.minY();
            break;
        default:
            break;
    }
    return {x, y, iw, ih};
}

// ---- Shape helpers ---------------------------------------------------------------------

// The part of the path between two fractions of its length (as polylines).
QPainterPath trimmedPath(const Path& path, double from, double to) {
    QPainterPath out;
    if (to <= from) return out;
    auto polys = path.flattened(0.05);
    double total = 0;
    for (auto& poly : polys)
        for (size_t i = 1; i < poly.size(); ++i)
            total += std::hypot(poly[i].x - poly[i - 1].x, poly[i].y - poly[i - 1].y);
    double a = from * total, b = to * total, run = 0;
    for (auto& poly : polys) {
        bool drawing = false;
        for (size_t i = 1; i < poly.size(); ++i) {
            Point p = poly[i - 1], q = poly[i];
            double len = std::hypot(q.x - p.x, q.y - p.y);
            double s0 = std::max(a, run), s1 = std::min(b, run + len);
            if (len > 0 && s1 > s0) {
                Point u = p + (q - p) * ((s0 - run) / len), v = p + (q - p) * ((s1 - run) / len);
                if (!drawing) out.moveTo(u.x, u.y);
                out.lineTo(v.x, v.y);
                drawing = s1 >= run + len;
            } else {
                drawing = false;
            }
            run += len;
        }
    }
    return out;
}

QPen strokePen(const ShapeLayer& s, double width) {
    QPen pen(toQColor(s.presented("strokeColor", s.strokeColor().value_or(Color::clear()))), width);
    pen.setCapStyle(toQt(s.lineCap()));
    pen.setJoinStyle(toQt(s.lineJoin()));
    pen.setMiterLimit(toQtMiterLimit(s.miterLimit()));
    std::vector<double> dash = s.lineDashPattern();
    double sum = 0;
    for (double d : dash) sum += std::max(d, 0.0);
    if (!dash.empty() && sum > 0) {
        // Our lengths are absolute; Qt's are in line widths and need an even count.
        if (dash.size() % 2) dash.insert(dash.end(), dash.begin(), dash.end());
        QList<qreal> q;
        for (double d : dash) q.push_back(std::max(d, 0.0) / width);
        pen.setDashPattern(q);
        pen.setDashOffset(s.lineDashPhase() / width);
    }
    return pen;
}

double strokeOutset(const ShapeLayer& s) {
    if (!s.strokeColor() || s.lineWidth() <= 0) return 0;
    double w = s.presented("lineWidth", s.lineWidth());
    double miter = s.lineJoin() == LineJoin::Miter ? std::max(1.0, s.miterLimit() / 2) : 1.0;
    return w * std::max(miter, s.lineCap() == LineCap::Square ? 0.75 : 0.5) + 1;
}

// ---- Extent ------------------------------------------------------------------------------

double shadowReach(const Layer& l) {
    if (!hasShadow(l)) return 0;
    Size o = l.presented("shadowOffset", l.shadowOffset());
    return l.presented("shadowRadius", l.shadowRadius()) * 1.5 +
           std::max(std::fabs(o.width), std::fabs(o.height)) + 1;
}

// What the layer's subtree may paint, in its own space (shadow excluded).
QRectF extentOf(const Layer& l, const Rect& b) {
    QRectF r = toQRect(b.standardized());
    if (l.masksToBounds()) return r;
    if (!l.contents().isNull()) r |= toQRect(contentsRect(l, b));
    if (l.kind() == Layer::Kind::Shape) {
        auto& s = static_cast<const ShapeLayer&>(l);
        Path p = s.presented("path", s.path());
        if (!p.isEmpty()) {
            double m = strokeOutset(s);
            r |= toQRect(p.bounds()).adjusted(-m, -m, m, m);
        }
    }
    QTransform flip = sublayerSpace(l, b);
    for (const Layer* sub : l.sortedSublayers()) {
        if (sub->isHidden()) continue;
        Geometry g = geometryOf(*sub);
        double m = shadowReach(*sub);
        QRectF e = extentOf(*sub, g.bounds).adjusted(-m, -m, m, m);
        r |= (toQTransform(g.toSuper) * flip).mapRect(e);
    }
    if (auto mask = l.mask()) {
        Geometry g = geometryOf(*mask);
        r &= toQTransform(g.toSuper).mapRect(extentOf(*mask, g.bounds));
    }
    return r;
}

// ---- Painting ------------------------------------------------------------------------------

void paintInLayerSpace(QPainter& p, const Layer& l);

// The device's rectangle in the painter's logical device coordinates.
QRectF deviceRect(const QPainter& p) {
    const QPaintDevice* d = p.device();
    double dpr = d->devicePixelRatioF();
    // Images report their size in pixels; widgets in logical units.
    bool pixels = d->devType() == QInternal::Image || d->devType() == QInternal::Pixmap;
    double w = d->width(), h = d->height();
    if (pixels && dpr > 0) w /= dpr, h /= dpr;
    QRectF r(0, 0, w, h);
    if (p.hasClipping()) r &= p.worldTransform().mapRect(p.clipBoundingRect());
    return r;
}

QImage newLayerImage(QSize pixels, double dpr) {
    QImage img(pixels, QImage::Format_ARGB32_Premultiplied);
    if (img.isNull()) return img;
    img.setDevicePixelRatio(dpr);
    img.fill(Qt::transparent);
    return img;
}

void beginPainter(QPainter& p, const QPainter& like) {
    p.setRenderHints(like.renderHints());
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
}

// Halved copies of recently drawn large images. Drawn at a fraction of
// their size, bilinear sampling alone skips pixels and shimmers; starting
// from the nearest halving averages every pixel in. Only the halvings drawn
// from are kept, each made straight from the image: the larger ones between
// would cost a third as much again as a picture at the cap.
class MipCache {
public:
    // The smallest halving still at least `width` pixels wide (the image itself
    // when none is).
    QImage levelFor(const Image& img, double width) {
        if (width * 2 > img.width()) return wrap(img);
        int times = 1;
        while ((img.width() >> (times + 1)) >= width && (img.height() >> (times + 1)) >= 1) ++times;
        std::lock_guard lock(mutex_);
        Entry& e = entryFor(img);
        for (const auto& [t, level] : e.levels)
            if (t == times) return level;
        const Image halved = img.reduced(img.width() >> times, img.height() >> times);
        if (halved.isNull()) return wrap(img);
        e.levels.emplace_back(times, wrap(halved).copy());
        return e.levels.back().second;
    }

    // The image reduced to exactly `size` pixels, made once from the nearest
    // halving and kept for the last few sizes asked (a zoom level each), so a
    // reduced picture is drawn pixel for pixel instead of resampled per frame.
    bool hasExact(const Image& img, QSize size) {
        std::lock_guard lock(mutex_);
        Entry& e = entryFor(img);
        return std::any_of(e.exact.begin(), e.exact.end(), [&](const QImage& q) { return q.size() == size; });
    }

    QImage exactFor(const Image& img, QSize size) {
        QImage from = levelFor(img, size.width());
        std::lock_guard lock(mutex_);
        Entry& e = entryFor(img);
        for (size_t i = 0; i < e.exact.size(); ++i)
            if (e.exact[i].size() == size) {
                std::rotate(e.exact.begin(), e.exact.begin() + std::ptrdiff_t(i),
                            e.exact.begin() + std::ptrdiff_t(i) + 1);
                return e.exact.front();
            }
        if (e.exact.size() == kExactSizes) e.exact.pop_back();
        e.exact.insert(e.exact.begin(), from.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        return e.exact.front();
    }

    void drop(bool all) {
        std::lock_guard lock(mutex_);
        if (all)
            entries_.clear();
        else
            std::erase_if(entries_, [](const Entry& e) { return e.storage.expired(); });
    }

private:
    struct Entry {
        std::weak_ptr<const void> storage;
        std::vector<std::pair<int, QImage>> levels;  // halvings, by how many
        std::vector<QImage> exact;                   // most recently used first
    };
    static constexpr size_t kExactSizes = 3;
    static constexpr size_t kEntries = 4;

    Entry& entryFor(const Image& img) {
        std::erase_if(entries_, [](const Entry& e) { return e.storage.expired(); });
        auto id = img.storage().lock();
        for (size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].storage.lock() == id) {
                std::rotate(entries_.begin(), entries_.begin() + std::ptrdiff_t(i),
                            entries_.begin() + std::ptrdiff_t(i) + 1);
                return entries_.front();
            }
        if (entries_.size() == kEntries) entries_.pop_back();
        entries_.insert(entries_.begin(), Entry{img.storage(), {}, {}});
        return entries_.front();
    }

    std::mutex mutex_;
    std::vector<Entry> entries_;  // most recently used first
};

MipCache& mipCache() {
    static auto* cache = new MipCache;
    return *cache;
}

// Large pictures drawn smaller than they are, upright and unrotated: a copy
// reduced to the drawn size in device pixels, blitted at the nearest pixel.
bool drawReduced(QPainter& p, const Image& img, const Rect& where) {
    constexpr int kLarge = 1024;
    const QTransform& t = p.worldTransform();
    if (img.width() < kLarge && img.height() < kLarge) return false;
    if (t.type() > QTransform::TxScale || t.m11() <= 0 || t.m22() <= 0) return false;
    const double dpr = p.device()->devicePixelRatioF();
    const QRectF dev = t.mapRect(toQRect(where));
    const QRectF px(dev.x() * dpr, dev.y() * dpr, dev.width() * dpr, dev.height() * dpr);
    // Edges on the nearest device pixels, as the canvas places its layers.
    const QPoint topLeft(pixelRound(px.left()), pixelRound(px.top()));
    const QSize size(pixelRound(px.right()) - topLeft.x(), pixelRound(px.bottom()) - topLeft.y());
    if (size.width() < 1 || size.height() < 1 || size.width() >= img.width()) return false;
    // While something animates the drawn size changes every frame: a copy per
    // frame would cost more than it saves, so those frames resample.
    if (Animator::runningCount() > 0 && !mipCache().hasExact(img, size)) return false;
    QImage reduced = mipCache().exactFor(img, size);
    reduced.setDevicePixelRatio(dpr);
    p.save();
    p.resetTransform();
    p.drawImage(QPointF(topLeft.x() / dpr, topLeft.y() / dpr), reduced);
    p.restore();
    return true;
}

void drawImageIn(QPainter& p, const Image& img, const Rect& where, ScalingFilter mag, ScalingFilter min) {
    if (img.isNull() || where.isEmpty()) return;
    p.save();
    p.setWorldTransform(uprightSpace(where), true);
    double devW = where.width() * scaleOf(p.worldTransform()) * p.device()->devicePixelRatioF();
    ScalingFilter f = devW > img.width() ? mag : min;
    if (f == ScalingFilter::Linear && devW < img.width() && drawReduced(p, img, where)) {
        p.restore();
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, f == ScalingFilter::Linear);
    QImage q = f == ScalingFilter::Linear ? mipCache().levelFor(img, devW) : wrap(img);
    p.drawImage(toQRect(where), q);
    p.restore();
}

bool onMainThread();

// The layer's path in Qt's form, converted once while the path stays as it
// is (long freehand strokes are costly to convert at every frame). Paths
// being animated, and drawing off the main thread, convert afresh.
struct ConvertedPath {
    FillRule rule;
    QPainterPath path;
};
QPainterPath qtPathOf(const ShapeLayer& s, const Path& shown) {
    if (!s.animationKeys().empty() || !onMainThread()) return toQPainterPath(shown, s.fillRule());
    auto c = std::static_pointer_cast<ConvertedPath>(s.pathCache());
    if (!c || c->rule != s.fillRule()) {
        c = std::make_shared<ConvertedPath>(ConvertedPath{s.fillRule(), toQPainterPath(shown, s.fillRule())});
        s.pathCache() = c;
    }
    return c->path;
}

void drawShape(QPainter& p, const ShapeLayer& s) {
    Path animated;
    const Path* shown = &s.path();
    if (!s.animationKeys().empty()) {
        animated = s.presented("path", s.path());
        shown = &animated;
    }
    const Path& path = *shown;
    if (path.isEmpty()) return;
    QPainterPath qp = qtPathOf(s, path);
    if (auto fill = s.presented("fillColor", s.fillColor().value_or(Color::clear()));
        fill.a > 0 && s.fillColor())
        p.fillPath(qp, toQColor(fill));
    double w = s.presented("lineWidth", s.lineWidth());
    if (!s.strokeColor() || w <= 0) return;  // zero width: no stroke (never a hairline)
    double a = s.presented("strokeStart", s.strokeStart()), b = s.presented("strokeEnd", s.strokeEnd());
    if (a > 0 || b < 1) qp = trimmedPath(path, a, b);
    p.strokePath(qp, strokePen(s, w));
}

void drawText(QPainter& p, const TextLayer& t, const Rect& b) {
    if (t.string().empty()) return;
    p.save();
    p.setWorldTransform(uprightSpace(b), true);
    QRectF box(b.minX(), b.minY(), b.width(), b.height());  // y down from the top now
    p.setClipRect(box, Qt::IntersectClip);
    QFont font = toQFont(t.font(), measureDevice());
    QString text = layoutString(t.string());
    Qt::Alignment align = Qt::AlignLeft;
    switch (t.alignmentMode()) {
        case TextAlignment::Right:
            align = Qt::AlignRight;
            break;
        case TextAlignment::Center:
            align = Qt::AlignHCenter;
            break;
        case TextAlignment::Justified:
            align = Qt::AlignJustify;
            break;
        default:
            break;
    }
    if (!t.isWrapped() && t.truncationMode() != TextTruncation::None) {
        QFontMetricsF fm(font, measureDevice());
        Qt::TextElideMode mode = t.truncationMode() == TextTruncation::Start    ? Qt::ElideLeft
                                 : t.truncationMode() == TextTruncation::Middle ? Qt::ElideMiddle
                                                                                : Qt::ElideRight;
        QStringList lines = text.split(QChar::LineSeparator);
        for (QString& line : lines) line = fm.elidedText(line, mode, b.width());
        text = lines.join(QChar::LineSeparator);
    }
    QTextLayout layout(text, font, measureDevice());
    layoutLines(layout, t.isWrapped() ? b.width() : 0, align);
    // Unwrapped lines are aligned within the bounds' width.
    p.setPen(toQColor(t.presented("foregroundColor", t.foregroundColor())));
    for (int i = 0; i < layout.lineCount(); ++i) {
        QTextLine line = layout.lineAt(i);
        double x = 0;
        if (!t.isWrapped()) {
            double free = b.width() - line.naturalTextWidth();
            if (align == Qt::AlignRight)
                x = free;
            else if (align == Qt::AlignHCenter)
                x = free / 2;
        }
        line.draw(&p, QPointF(box.x() + x, box.y()));
    }
    p.restore();
}

void drawGradient(QPainter& p, const GradientLayer& g, const Rect& b) {
    const auto& colors = g.colors();
    if (colors.empty()) return;
    QGradientStops stops;
    const auto& loc = g.locations();
    for (size_t i = 0; i < colors.size(); ++i) {
        double at = loc.size() == colors.size() ? loc[i]
                    : colors.size() == 1        ? 0.0
                                                : double(i) / (colors.size() - 1);
        stops.push_back({std::clamp(at, 0.0, 1.0), toQColor(colors[i])});
    }
    if (stops.size() == 1) stops.push_back({1.0, stops.front().second});
    Rect r = b.standardized();
    auto unit = [&](Point u) { return QPointF(r.minX() + u.x * r.width(), r.minY() + u.y * r.height()); };
    QPointF s = unit(g.startPoint()), e = unit(g.endPoint());
    QBrush brush;
    switch (g.type()) {
        case GradientType::Axial: {
            QLinearGradient lg(s, e);
            lg.setStops(stops);
            brush = QBrush(lg);
            break;
        }
        case GradientType::Radial: {
            // An ellipse about the start whose radii reach the end point on each axis.
            double rx = std::max(std::fabs(e.x() - s.x()), 1e-6),
                   ry = std::max(std::fabs(e.y() - s.y()), 1e-6);
            QRadialGradient rg(QPointF(0, 0), 1);
            rg.setStops(stops);
            brush = QBrush(rg);
            brush.setTransform(QTransform::fromScale(rx, ry) * QTransform::fromTranslate(s.x(), s.y()));
            break;
        }
        case GradientType::Conic: {
            double deg = std::atan2(e.y() - s.y(), e.x() - s.x()) * 180 / std::numbers::pi;
            QConicalGradient cg(s, deg);
            cg.setStops(stops);
            brush = QBrush(cg);
            // Qt's angles run the other way in a y-up space: mirror about the centre.
            brush.setTransform(QTransform(1, 0, 0, -1, 0, 2 * s.y()));
            break;
        }
    }
    p.fillPath(roundedRectPath(r, g.cornerRadius()), brush);
}

void drawBorder(QPainter& p, const Layer& l, const Rect& b) {
    double w = l.presented("borderWidth", l.borderWidth());
    Color c = l.presented("borderColor", l.borderColor());
    if (w <= 0 || c.a <= 0) return;
    Rect r = b.standardized();
    double radius = l.presented("cornerRadius", l.cornerRadius());
    // Inside the bounds: the outer outline less the inner one.
    QPainterPath ring = roundedRectPath(r, radius);
    Rect inner = r.insetBy(std::min(w, r.width() / 2), std::min(w, r.height() / 2));
    if (!inner.isEmpty()) ring.addPath(roundedRectPath(inner, std::max(radius - w, 0.0)));
    ring.setFillRule(Qt::OddEvenFill);
    p.fillPath(ring, toQColor(c));
}

int paintOps(const Layer& l) {
    int n = (l.backgroundColor() || !l.backgroundPattern().isNull() ? 1 : 0) +
            (l.contents().isNull() ? 0 : 1) + (l.borderWidth() > 0 ? 1 : 0);
    switch (l.kind()) {
        case Layer::Kind::Shape: {
            auto& s = static_cast<const ShapeLayer&>(l);
            n += (s.fillColor() ? 1 : 0) + (s.strokeColor() && s.lineWidth() > 0 ? 1 : 0);
            break;
        }
        case Layer::Kind::Text:
        case Layer::Kind::Gradient:
            ++n;
            break;
        case Layer::Kind::Plain:
            break;
    }
    return n;
}

// Upright tiles of the pattern's point size, the first one at the bottom-left.
QBrush patternBrush(const Image& tile, const Rect& b) {
    QImage texture = wrap(tile);
    // An opaque tile is copied rather than blended, which is several times faster.
    bool opaque = true;
    for (int y = 0; y < tile.height() && opaque; ++y)
        for (int x = 0; x < tile.width() && opaque; ++x) opaque = tile.pixel(x, y).a == 255;
    if (opaque) texture = texture.convertToFormat(QImage::Format_RGB32);
    QBrush brush(texture);
    double sc = tile.scale();
    Rect r = b.standardized();
    brush.setTransform(QTransform(1 / sc, 0, 0, -1 / sc, r.minX(), r.minY() + tile.height() / sc));
    return brush;
}

// The area the background covers: the rounded bounds less the cutout.
QPainterPath backgroundPath(const Layer& l, const Rect& b, double radius) {
    QPainterPath area = roundedRectPath(b, radius);
    if (const std::optional<Rect>& cut = l.backgroundCutout()) {
        QPainterPath hole;
        hole.addRect(toQRect(cut->standardized()));
        area = area.subtracted(hole);
    }
    return area;
}

// Background, contents, own drawing, sublayers and border, in layer space.
void drawBody(QPainter& p, const Layer& l, const Rect& b) {
    double radius = l.presented("cornerRadius", l.cornerRadius());
    if (!l.backgroundPattern().isNull())
        p.fillPath(backgroundPath(l, b, radius), patternBrush(l.backgroundPattern(), b));
    else if (auto bg = l.presented("backgroundColor", l.backgroundColor().value_or(Color::clear()));
             bg.a > 0 && l.backgroundColor())
        p.fillPath(backgroundPath(l, b, radius), toQColor(bg));
    p.save();
    if (l.masksToBounds()) p.setClipRect(toQRect(b.standardized()), Qt::IntersectClip);
    if (!l.contents().isNull())
        drawImageIn(p, l.contents(), contentsRect(l, b), l.magnificationFilter(), l.minificationFilter());
    switch (l.kind()) {
        case Layer::Kind::Shape:
            drawShape(p, static_cast<const ShapeLayer&>(l));
            break;
        case Layer::Kind::Text:
            drawText(p, static_cast<const TextLayer&>(l), b);
            break;
        case Layer::Kind::Gradient:
            drawGradient(p, static_cast<const GradientLayer&>(l), b);
            break;
        case Layer::Kind::Plain:
            break;
    }
    auto subs = l.sortedSublayers();
    if (!subs.empty()) {
        p.save();
        p.setWorldTransform(sublayerSpace(l, b), true);
        for (const Layer* sub : subs) paintLayer(p, *sub);
        p.restore();
    }
    p.restore();
    drawBorder(p, l, b);
}

// Rounded masks-to-bounds and the mask layer, applied to an isolated group
// image whose painter is `gp` (layer space).
void applyClips(QPainter& gp, QImage& group, const Layer& l, const Rect& b) {
    double radius = l.presented("cornerRadius", l.cornerRadius());
    if (l.masksToBounds() && radius > 0) {
        // Erase outside the rounded bounds (anti-aliased, unlike a clip path).
        QPainterPath outside;
        QTransform inv = gp.worldTransform().inverted();
        outside.addRect(
            inv.mapRect(QRectF(QPointF(0, 0), group.deviceIndependentSize())).adjusted(-1, -1, 1, 1));
        outside.addPath(roundedRectPath(b, radius));
        outside.setFillRule(Qt::OddEvenFill);
        gp.save();
        gp.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        gp.fillPath(outside, Qt::black);
        gp.restore();
    }
    if (auto mask = l.mask()) {
        QImage m = newLayerImage(group.size(), group.devicePixelRatio());
        if (m.isNull()) return;
        {
            QPainter mp(&m);
            beginPainter(mp, gp);
            mp.setWorldTransform(gp.worldTransform());
            paintLayer(mp, *mask);
        }
        gp.save();
        gp.resetTransform();
        gp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        gp.drawImage(QPointF(0, 0), m);
        gp.restore();
    }
}

// An image of the whole subtree (clips and mask applied) covering `area` of
// device space (logical units), drawn with layer→device transform `wt`.
QImage renderGroup(const QPainter& like, const Layer& l, const Rect& b, const QTransform& wt,
                   const QRect& pixels, double dpr) {
    QImage img = newLayerImage(pixels.size(), dpr);
    if (img.isNull()) return img;
    QPainter gp(&img);
    beginPainter(gp, like);
    gp.setWorldTransform(wt * QTransform::fromTranslate(-pixels.x() / dpr, -pixels.y() / dpr));
    drawBody(gp, l, b);
    applyClips(gp, img, l, b);
    return img;
}

struct RasterCache {
    uint64_t revision = 0;
    double scale = 0;
    QRectF extent;
    QImage image;
};

// The subtree rendered at rasterizationScale pixels per layer unit; reused
// until something in the subtree changes.
std::shared_ptr<const RasterCache> rasterized(const QPainter& like, const Layer& l, const Rect& b) {
    // The cache slot belongs to the main thread; an export rendering on a
    // worker rasterizes afresh and leaves the slot alone.
    auto* app = QCoreApplication::instance();
    bool main = app && QThread::currentThread() == app->thread();
    double s = l.rasterizationScale();
    if (main) {
        auto cached = std::static_pointer_cast<const RasterCache>(l.renderCache());
        if (cached && cached->revision == l.revision() && cached->scale == s) return cached;
    }
    QRectF ext = extentOf(l, b);
    QRect px(0, 0, pixelCeil(ext.width() * s), pixelCeil(ext.height() * s));
    if (px.isEmpty() || double(px.width()) * px.height() > 1.5e8) return nullptr;
    // Layer space → bitmap rows from the top.
    QTransform wt(s, 0, 0, -s, -ext.x() * s, ext.bottom() * s);
    auto cache = std::make_shared<RasterCache>();
    cache->revision = l.revision();
    cache->scale = s;
    cache->extent = ext;
    cache->image = renderGroup(like, l, b, wt, px, 1.0);
    if (main) l.renderCache() = cache;
    return cache;
}

void drawRasterized(QPainter& p, const Layer& l, const RasterCache& c) {
    p.save();
    Rect e{c.extent.x(), c.extent.y(), c.extent.width(), c.extent.height()};
    p.setWorldTransform(uprightSpace(e), true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, l.magnificationFilter() == ScalingFilter::Linear);
    p.drawImage(c.extent, c.image);
    p.restore();
}

// Casts the shadow of `group` (its alpha, or the shadow path) onto p.
// A layer's shadow: the image and where its top-left lies relative to the
// group's top-left (logical units of the device).
struct Shadow {
    QImage image;
    QPointF offset;
};

Shadow makeShadow(const Layer& l, const QImage& group, const QRect& pixels, double dpr,
                  const QTransform& wt) {
    double sigma = l.presented("shadowRadius", l.shadowRadius()) / 2 * scaleOf(wt) * dpr;
    int margin = pixelCeil(sigma * 3) + 1;
    QImage alpha(pixels.width() + 2 * margin, pixels.height() + 2 * margin, QImage::Format_Alpha8);
    if (alpha.isNull()) return {};
    alpha.fill(0);
    {
        QPainter ap(&alpha);
        if (l.shadowPath()) {
            ap.setRenderHint(QPainter::Antialiasing, true);
            ap.setWorldTransform(wt * QTransform::fromScale(dpr, dpr) *
                                 QTransform::fromTranslate(margin - pixels.x(), margin - pixels.y()));
            ap.fillPath(toQPainterPath(*l.shadowPath()), Qt::black);
        } else {
            QImage g = group;
            g.setDevicePixelRatio(1);
            ap.drawImage(QPoint(margin, margin), g);
        }
    }
    gaussianBlurAlpha(alpha.bits(), alpha.width(), alpha.height(), size_t(alpha.bytesPerLine()), sigma);
    Color c = l.presented("shadowColor", l.shadowColor());
    QImage shadow(alpha.size(), QImage::Format_ARGB32_Premultiplied);
    if (shadow.isNull()) return {};
    shadow.fill(toQColor(c.withAlpha(c.a * l.presented("shadowOpacity", l.shadowOpacity()))));
    {
        QPainter sp(&shadow);
        sp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        sp.drawImage(0, 0, alpha);
    }
    shadow.setDevicePixelRatio(dpr);
    Size off = l.presented("shadowOffset", l.shadowOffset());
    QPointF o = QTransform(wt.m11(), wt.m12(), wt.m21(), wt.m22(), 0, 0).map(QPointF(off.width, off.height));
    return {shadow, QPointF(-margin / dpr + o.x(), -margin / dpr + o.y())};
}

// An isolated group as composited last time: reused while the subtree is
// unchanged and drawn at the same scale and sub-pixel phase, wherever the
// pan puts it. Groups larger than the budget are drawn clipped, uncached.
struct GroupCache {
    uint64_t revision = 0;
    double m11 = 0, m12 = 0, m21 = 0, m22 = 0, dpr = 0, phaseX = 0, phaseY = 0;
    QRect pixels;  // device pixels, relative to the whole-pixel part of the translation
    QImage group;
    Shadow shadow;
};
constexpr double kGroupCacheBudget = 4e6;  // device pixels

bool onMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void paintInLayerSpace(QPainter& p, const Layer& l) {
    double opacity = l.presented("opacity", l.opacity());
    if (l.isHidden() || opacity <= 0) return;
    Rect b = l.presented("bounds", l.bounds());
    bool shadow = hasShadow(l);
    CompositingFilter filter = l.compositingFilter();
    bool rounded = l.masksToBounds() && l.presented("cornerRadius", l.cornerRadius()) > 0;
    auto raster = l.shouldRasterize() ? rasterized(p, l, b) : nullptr;

    bool isolate =
        !raster && (l.mask() || rounded || (opacity < 1 && (paintOps(l) > 1 || !l.sublayers().empty())) ||
                    (filter != CompositingFilter::None && !l.sublayers().empty()));
    if (!isolate && !shadow) {
        p.save();
        p.setOpacity(p.opacity() * opacity);
        if (filter != CompositingFilter::None) p.setCompositionMode(compositionMode(filter));
        if (raster)
            drawRasterized(p, l, *raster);
        else
            drawBody(p, l, b);
        p.restore();
        return;
    }

    // Isolated group: the subtree into an image in device space, then the
    // shadow beneath it and the image over it with opacity and blend mode.
    QTransform wt = p.worldTransform();
    double dpr = p.device()->devicePixelRatioF();
    double reach = shadow ? shadowReach(l) * scaleOf(wt) : 0;
    QRectF whole = wt.mapRect(extentOf(l, b));
    QRectF area = whole & deviceRect(p).adjusted(-reach, -reach, reach, reach);
    if (area.isEmpty()) return;
    auto toPixels = [dpr](const QRectF& r) {
        return QRect(QPoint(pixelFloor(r.left() * dpr), pixelFloor(r.top() * dpr)),
                     QPoint(pixelCeil(r.right() * dpr) - 1, pixelCeil(r.bottom() * dpr) - 1));
    };
    QRect pixels = toPixels(area);

    const double tx = wt.dx() * dpr, ty = wt.dy() * dpr;
    const double itx = std::floor(tx), ity = std::floor(ty);
    // Worth keeping when it is mostly on screen (drawing the rest would cost
    // more than it saves) and not too large.
    const double wholePx = double(whole.width()) * whole.height() * dpr * dpr;
    const double shownPx = double(pixels.width()) * pixels.height();
    const bool cacheable = !raster && onMainThread() && l.animationKeys().empty() &&
                           wholePx <= kGroupCacheBudget && wholePx <= std::max(2 * shownPx, 65536.0);
    if (cacheable) {
        auto c = std::static_pointer_cast<GroupCache>(l.groupCache());
        const bool hit = c && c->revision == l.revision() && c->m11 == wt.m11() && c->m12 == wt.m12() &&
                         c->m21 == wt.m21() && c->m22 == wt.m22() && c->dpr == dpr && c->phaseX == tx - itx &&
                         c->phaseY == ty - ity;
        if (!hit) {
            c = std::make_shared<GroupCache>();
            c->revision = l.revision();
            c->m11 = wt.m11(), c->m12 = wt.m12(), c->m21 = wt.m21(), c->m22 = wt.m22();
            c->dpr = dpr, c->phaseX = tx - itx, c->phaseY = ty - ity;
            const QRect full = toPixels(whole);
            c->group = renderGroup(p, l, b, wt, full, dpr);
            if (c->group.isNull()) return;
            if (shadow) c->shadow = makeShadow(l, c->group, full, dpr, wt);
            c->pixels = full.translated(-pixelInt(itx), -pixelInt(ity));
            l.groupCache() = c;
        }
        const QRect at = c->pixels.translated(pixelInt(itx), pixelInt(ity));
        const QPointF origin(at.x() / dpr, at.y() / dpr);
        p.save();
        p.resetTransform();
        p.setOpacity(p.opacity() * opacity);
        if (shadow && !c->shadow.image.isNull()) p.drawImage(origin + c->shadow.offset, c->shadow.image);
        if (filter != CompositingFilter::None) p.setCompositionMode(compositionMode(filter));
        p.drawImage(origin, c->group);
        p.restore();
        return;
    }

    QImage group;
    if (raster) {
        group = newLayerImage(pixels.size(), dpr);
        if (group.isNull()) return;
        QPainter gp(&group);
        beginPainter(gp, p);
        gp.setWorldTransform(wt * QTransform::fromTranslate(-pixels.x() / dpr, -pixels.y() / dpr));
        drawRasterized(gp, l, *raster);
    } else {
        group = renderGroup(p, l, b, wt, pixels, dpr);
    }
    if (group.isNull()) return;
    p.save();
    p.resetTransform();
    p.setOpacity(p.opacity() * opacity);  // the shadow fades with its layer
    if (shadow) {
        Shadow sh = makeShadow(l, group, pixels, dpr, wt);
        if (!sh.image.isNull())
            p.drawImage(QPointF(pixels.x() / dpr, pixels.y() / dpr) + sh.offset, sh.image);
    }
    if (filter != CompositingFilter::None) p.setCompositionMode(compositionMode(filter));
    p.drawImage(QPointF(pixels.x() / dpr, pixels.y() / dpr), group);
    p.restore();
}

}  // namespace

void paintLayer(QPainter& painter, const Layer& layer) {
    if (layer.isHidden()) return;
    painter.save();
    painter.setWorldTransform(toQTransform(geometryOf(layer).toSuper), true);
    paintInLayerSpace(painter, layer);
    painter.restore();
}

void paintLayerContents(QPainter& painter, const Layer& layer) {
    paintInLayerSpace(painter, layer);
}

void paintLayerTree(QPainter& painter, const Layer& root, double viewHeight) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.translate(0, viewHeight);
    painter.scale(1, -1);
    paintLayer(painter, root);
    painter.restore();
}

void dropReducedCopies(bool all) {
    mipCache().drop(all);
}

}  // namespace kit::qt
