#include "kit/Popover.h"

#include <QApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>

#include "kit/Displays.h"
#include "kit/View.h"
#include "kit/qt/ViewPrivate.h"

namespace kit {

namespace {

constexpr int kMargin = 6;  // around the content, inside the rounded panel
constexpr int kPopoverRadius = 8;
constexpr int kGap = 4;  // between the anchor rect and the panel

class PopoverWidget : public QWidget {
public:
    Popover* owner;
    Color background;
    bool restyling = false;  // hidden only to change its window kind
    explicit PopoverWidget(Popover* o) : owner(o) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_DeleteOnClose, false);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kPopoverRadius, kPopoverRadius);
        p.fillPath(path, QColor::fromRgbF(float(background.r), float(background.g), float(background.b),
                                          float(background.a)));
        p.setPen(QColor(0, 0, 0, 60));
        p.drawPath(path);
    }
    void resizeEvent(QResizeEvent*) override {
        // Without a compositor the transparent corners would show black:
        // the rounded shape is cut out of the window as well.
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), kPopoverRadius, kPopoverRadius);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    }
    void hideEvent(QHideEvent* e) override {
        QWidget::hideEvent(e);
        if (owner && owner->onDidClose && !restyling) owner->onDidClose();
    }
};

}  // namespace

struct Popover::Private {
    std::unique_ptr<PopoverWidget> widget;
};

Popover::Popover() : d_(std::make_unique<Private>()) {
    d_->widget = std::make_unique<PopoverWidget>(this);
    setBehavior(Behavior::Transient);
}

Popover::~Popover() {
    d_->widget->owner = nullptr;
    if (content_) qt::viewWidget(*content_)->setParent(nullptr);
}

void Popover::setContentView(std::shared_ptr<View> view) {
    if (content_) qt::viewWidget(*content_)->setParent(nullptr);
    content_ = std::move(view);
    if (!content_) return;
    if (content_->superview()) content_->removeFromSuperview();
    QWidget* w = qt::viewWidget(*content_);
    w->setParent(d_->widget.get());
    w->move(kMargin, kMargin);
    content_->setFrame({0, 0, size_.width, size_.height});
    w->setVisible(!content_->isHidden());
}

void Popover::setContentSize(Size size) {
    size_ = size;
    d_->widget->resize(int(size.width) + 2 * kMargin, int(size.height) + 2 * kMargin);
    if (content_) content_->setFrame({0, 0, size.width, size.height});
}

void Popover::setBackgroundColor(Color color) {
    background_ = color;
    d_->widget->background = color;
    d_->widget->update();
}

void Popover::setBehavior(Behavior b) {
    behavior_ = b;
    bool shown = d_->widget->isVisible();
    // Qt's pop-up windows grab the pointer and close on an outside click,
    // which is the transient behaviour; the other kind is a plain tool window.
    Qt::WindowFlags f = Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
    f |= b == Behavior::Transient ? Qt::Popup : (Qt::Tool | Qt::WindowStaysOnTopHint);
    if (d_->widget->windowFlags() == f) return;
    // Changing the kind hides the window for a moment: that is no closing.
    d_->widget->restyling = true;
    d_->widget->setWindowFlags(f);
    d_->widget->background = background_;
    if (shown) {
        d_->widget->show();
        d_->widget->activateWindow();
    }
    d_->widget->restyling = false;
}

void Popover::show(const Rect& rect, View& view, RectEdge edge) {
    show(view.convertToScreen(rect), edge);
}

void Popover::show(const Rect& anchor, RectEdge edge) {
    setContentSize(size_);
    Rect a = Displays::toWindowServer(anchor);  // y down
    QSize s = d_->widget->size();
    double x = a.midX() - s.width() / 2.0, y = a.maxY() + kGap;
    switch (edge) {
        case RectEdge::MinY:
            y = a.maxY() + kGap;
            break;  // below
        case RectEdge::MaxY:
            y = a.minY() - kGap - s.height();
            break;  // above
        case RectEdge::MinX:
            x = a.minX() - kGap - s.width();
            y = a.midY() - s.height() / 2.0;
            break;
        case RectEdge::MaxX:
            x = a.maxX() + kGap;
            y = a.midY() - s.height() / 2.0;
            break;
    }
    // Stay on the display of the anchor; a panel with no room on its side
    // (below at the bottom of the screen, above at the top) opens on the
    // other side instead of covering the anchor.
    QScreen* scr = QGuiApplication::screenAt(QPoint(int(a.midX()), int(a.midY())));
    if (!scr) scr = QGuiApplication::primaryScreen();
    if (scr) {
        QRect g = scr->availableGeometry();
        if (edge == RectEdge::MinY && y + s.height() > g.bottom() + 1 &&
            a.minY() - kGap - s.height() >= g.top())
            y = a.minY() - kGap - s.height();
        if (edge == RectEdge::MaxY && y < g.top() && a.maxY() + kGap + s.height() <= g.bottom() + 1)
            y = a.maxY() + kGap;
        x = std::clamp(x, double(g.left()), double(std::max(g.left(), g.right() + 1 - s.width())));
        y = std::clamp(y, double(g.top()), double(std::max(g.top(), g.bottom() + 1 - s.height())));
    }
    d_->widget->move(int(std::lround(x)), int(std::lround(y)));
    d_->widget->show();
    d_->widget->raise();
    d_->widget->activateWindow();
}

void Popover::close() {
    d_->widget->hide();
}
void Popover::makeKey() {
    if (d_->widget->isVisible()) d_->widget->activateWindow();
}

bool Popover::isShown() const {
    return d_->widget->isVisible();
}

Rect Popover::frame() const {
    QRect g = d_->widget->geometry();
    return Displays::fromWindowServer(Rect(g.x(), g.y(), g.width(), g.height()));
}

}  // namespace kit
