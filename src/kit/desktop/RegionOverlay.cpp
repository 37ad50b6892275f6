#include "kit/desktop/RegionOverlay.h"

#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QWidget>
#include <utility>

#include "kit/base/qt/QtImage.h"
#include "kit/desktop/Grab.h"
#include "kit/desktop/x11/Connection.h"
#include "kit/draw/qt/QtText.h"

namespace kit {

namespace {

QColor toQ(Color c) {
    return QColor::fromRgbF(float(c.r), float(c.g), float(c.b), float(c.a));
}
QRectF toQ(const Rect& r) {
    return QRectF(r.x(), r.y(), r.width(), r.height());
}

// The system font at a size in logical pixels, like every kit text, so the
// overlay's line is as large as the same size anywhere else.
QFont overlayFont(double size, const QPaintDevice* device = nullptr) {
    return qt::toQFont(Font::system(size, FontWeight::Medium), device);
}

// Without a compositing manager translucent windows come out opaque.
bool compositing() {
    auto* c = x11::Connection::shared();
    if (!c) return true;  // not X11 (headless tests): nothing to stand in for
    xcb_atom_t cm = c->atom("_NET_WM_CM_S0");
    auto* r = xcb_get_selection_owner_reply(c->conn(), xcb_get_selection_owner(c->conn(), cm), nullptr);
    bool owned = r && r->owner != XCB_WINDOW_NONE;
    free(r);
    return owned;
}

// Without a compositor the overlay hides the windows under it from the
// screen itself, and a window that scrolls by copying its own rows (a
// terminal) cannot copy the rows the overlay hides: the server asks it to
// draw them again, and a terminal that does so after it has moved its lines
// on draws them a line off, so a line shows twice and its neighbour not at
// all, under the region too. While the overlay shows, each window draws into
// a picture of its own that the server puts on the screen, so nothing it
// copies is ever hidden from it. The server undoes this when we ask, or when
// our connection ends.
class OwnPictures {
public:
    OwnPictures() {
        auto* c = x11::Connection::shared();
        if (!c || !c->hasComposite()) return;
        xcb_generic_error_t* err =
            xcb_request_check(c->conn(), xcb_composite_redirect_subwindows_checked(
                                             c->conn(), c->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        on_ = err == nullptr;
        free(err);
    }
    ~OwnPictures() { end(); }
    OwnPictures(const OwnPictures&) = delete;
    OwnPictures& operator=(const OwnPictures&) = delete;
    void end() {
        auto* c = x11::Connection::shared();
        if (!std::exchange(on_, false) || !c) return;
        xcb_composite_unredirect_subwindows(c->conn(), c->root(), XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        xcb_flush(c->conn());
    }
    bool on() const { return on_; }

private:
    bool on_ = false;
};

class OverlayWidget : public QWidget {
public:
    explicit OverlayWidget(bool translucent)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput |
                               Qt::WindowDoesNotAcceptFocus | Qt::Tool) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_ShowWithoutActivating);
        // An ARGB window without a compositor shows garbage to screen readers
        // of the root window; then an opaque window over a frozen backdrop.
        if (translucent) setAttribute(Qt::WA_TranslucentBackground);
    }
    QRectF hole;
    Color dim = Color::clear();
    std::vector<RegionOverlay::Box> boxes;
    QImage backdrop;  // the screen as it was, shown dimmed where nothing can show through
    QString text;
    QPointF textAt;
    Color textColor;
    double fontSize = 12;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        if (!backdrop.isNull()) {
            p.drawImage(QRectF(rect()), backdrop);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        QPainterPath dimPath;
        dimPath.addRect(rect());
        dimPath.addRect(hole);
        dimPath.setFillRule(Qt::OddEvenFill);
        p.fillPath(dimPath, toQ(dim));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (const auto& b : boxes) {
            QRectF r = toQ(b.frame);
            QPainterPath path;
            path.addRoundedRect(r, b.cornerRadius, b.cornerRadius);
            if (b.fill.a > 0) p.fillPath(path, toQ(b.fill));
            if (b.borderWidth > 0 && b.border.a > 0) {
                double inset = b.borderWidth / 2;
                QPainterPath edge;
                edge.addRoundedRect(r.adjusted(inset, inset, -inset, -inset), b.cornerRadius, b.cornerRadius);
                p.strokePath(edge, QPen(toQ(b.border), b.borderWidth));
            }
        }
        if (!text.isEmpty()) {
            p.setFont(overlayFont(fontSize, this));
            p.setPen(toQ(textColor));
            QFontMetricsF fm(p.font(), this);
            p.drawText(QPointF(textAt.x(), textAt.y() + fm.ascent()), text);
        }
    }
};

}  // namespace

struct RegionOverlay::Impl {
    explicit Impl(bool translucent) : w(translucent) {}
    OverlayWidget w;
    std::unique_ptr<OwnPictures> pictures;
};

RegionOverlay::RegionOverlay(const Rect& screen, const Rect& hole) {
    bool translucent = compositing();
    d_ = std::make_unique<Impl>(translucent);
    d_->w.setGeometry(int(screen.x()), int(screen.y()), int(screen.width()), int(screen.height()));
    d_->w.hole = toQ(hole);
    // Within its rim the hole is no part of the window at all: whatever shows
    // there is the screen beneath. The rim carries the inner border.
    QRegion shape(0, 0, int(screen.width()), int(screen.height()));
    shape -= QRegion(toQ(hole).adjusted(1, 1, -1, -1).toAlignedRect());
    d_->w.setMask(shape);
    if (!translucent) {
        Image frozen = grabArea(screen);
        if (!frozen.isNull()) {
            d_->w.backdrop = qt::wrap(frozen).copy();
            d_->w.backdrop.setDevicePixelRatio(frozen.scale());
        }
        d_->pictures = std::make_unique<OwnPictures>();
    }
}

RegionOverlay::~RegionOverlay() {
    close();
}

void RegionOverlay::setDim(Color c) {
    d_->w.dim = c;
    d_->w.update();
}

void RegionOverlay::setBoxes(std::vector<Box> boxes) {
    d_->w.boxes = std::move(boxes);
    d_->w.update();
}

void RegionOverlay::setText(const std::string& text, Point topLeft, Color color, double fontSize) {
    d_->w.text = QString::fromStdString(text);
    d_->w.textAt = QPointF(topLeft.x, topLeft.y);
    d_->w.textColor = color;
    d_->w.fontSize = fontSize;
    d_->w.update();
}

Size RegionOverlay::measureText(const std::string& text, double fontSize) {
    if (!qGuiApp) return {};
    QFontMetricsF fm(overlayFont(fontSize), qt::measureDevice());
    return {fm.horizontalAdvance(QString::fromStdString(text)), fm.height()};
}

void RegionOverlay::show() {
    d_->w.show();
    d_->w.raise();
}

void RegionOverlay::close() {
    d_->w.close();
    if (d_->pictures) d_->pictures->end();
}
bool RegionOverlay::isVisible() const {
    return d_->w.isVisible();
}

double RegionOverlay::backingScale() const {
    QScreen* s = d_->w.screen();
    return s ? s->devicePixelRatio() : 2.0;
}

}  // namespace kit
