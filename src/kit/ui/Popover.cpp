#include "kit/ui/Popover.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "kit/base/Displays.h"
#include "kit/base/Event.h"
#include "kit/desktop/EventMonitor.h"
#include "kit/desktop/Grab.h"
#include "kit/ui/View.h"
#include "kit/ui/qt/ApplicationPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define KIT_HAVE_XCB 1
#endif

namespace kit {

namespace {

constexpr int kMargin = int(Popover::kContentInset);  // inside the rounded panel
constexpr int kPopoverRadius = 8;
constexpr int kGap = 4;  // between the anchor rect and the panel

// A frameless tool window that stays above the others. It takes the
// keyboard the way any window does, through the window manager, and grabs
// neither keyboard nor pointer: the desktop's hot keys keep working while it
// shows.
class PopoverWidget : public QWidget, public qt::KeyFallback {
public:
    Popover* owner;
    Color background;
    std::function<void()> onDeactivated;
    std::function<void()> onHidden;
    explicit PopoverWidget(Popover* o)
        : QWidget(nullptr,
                  Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint | Qt::WindowStaysOnTopHint),
          owner(o) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_DeleteOnClose, false);
    }

    // An Escape that nothing inside used dismisses a transient popover, as
    // a press outside it does.
    void unhandledKeyDown(const Event& e) override {
        if (e.keyCode == KeyCode::Escape && owner && owner->behavior() == Popover::Behavior::Transient)
            owner->close();
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        // With no view inside holding the keyboard, keys come to the panel itself.
        if (e->key() == Qt::Key_Escape && owner && owner->behavior() == Popover::Behavior::Transient) {
            e->accept();
            owner->close();
            return;
        }
        QWidget::keyPressEvent(e);
    }
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
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() == QEvent::ActivationChange && !isActiveWindow() && onDeactivated) onDeactivated();
    }
#ifdef KIT_HAVE_XCB
    // The toolkit's account of activation misses a loss of the focus when the
    // panel is shown again right after it was hidden (it still counts the
    // panel active from before, so no change is reported): the server's own
    // word that the focus left is heard as well.
    bool nativeEvent(const QByteArray& type, void* message, qintptr* result) override {
        if (type == "xcb_generic_event_t" && onDeactivated) {
            auto* e = static_cast<xcb_generic_event_t*>(message);
            if ((e->response_type & 0x7f) == XCB_FOCUS_OUT &&
                reinterpret_cast<xcb_focus_out_event_t*>(e)->detail != XCB_NOTIFY_DETAIL_POINTER)
                QTimer::singleShot(0, this, [this] {
                    if (onDeactivated) onDeactivated();
                });
        }
        return QWidget::nativeEvent(type, message, result);
    }
#endif
    void hideEvent(QHideEvent* e) override {
        QWidget::hideEvent(e);
        if (onHidden) onHidden();
        if (owner && owner->onDidClose) owner->onDidClose();
    }
};

}  // namespace

struct Popover::Private {
    std::unique_ptr<PopoverWidget> widget;
    // The last anchor, in window-server space (y down), and the side the
    // panel takes: a change of size places the panel beside it again.
    std::optional<Rect> anchor;
    RectEdge edge = RectEdge::MinY;
    EventMonitor::Token clicks = 0;  // a press outside closes a transient popover
    QTimer activation;               // asks again until the window manager gives us the keyboard
    int activationTries = 0;

    QRect frameFor(QSize s) const;
    void watchClicks(Popover& owner);
    void stopWatchingClicks();
    void takeKeyboard();
};

QRect Popover::Private::frameFor(QSize s) const {
    const Rect a = anchor.value_or(Rect());
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
    return QRect(QPoint(int(std::lround(x)), int(std::lround(y))), s);
}

void Popover::Private::watchClicks(Popover& owner) {
    if (clicks) return;
    const unsigned mask =
        EventMonitor::LeftMouseDown | EventMonitor::RightMouseDown | EventMonitor::OtherMouseDown;
    clicks = EventMonitor::addGlobal(mask, [this, &owner](const MonitorEvent&) {
        // A menu of ours above the panel handles its own clicks.
        if (QApplication::activePopupWidget()) return;
        const QPoint p = QCursor::pos();
        if (widget->geometry().contains(p)) return;
        // A press on the anchor is the anchor's own: it closes the popover itself.
        if (anchor && anchor->insetBy(-2, -2).contains({double(p.x()), double(p.y())})) return;
        owner.close();
    });
}

void Popover::Private::stopWatchingClicks() {
    if (clicks) EventMonitor::remove(clicks);
    clicks = 0;
}

void Popover::Private::takeKeyboard() {
    widget->activateWindow();
    // A window manager that holds the application's own request back (its
    // last input went to the hot-key grab, not to a window) is asked again
    // as a pager asks, until the panel has the keyboard.
    activationTries = 0;
    activation.start();
}

Popover::Popover() : d_(std::make_unique<Private>()) {
    d_->widget = std::make_unique<PopoverWidget>(this);
    d_->widget->onDeactivated = [this] {
        // A menu of ours holds the keyboard for a moment, and a hot key
        // while it is pressed: neither moves the focus away.
        if (behavior_ != Behavior::Transient || !d_->widget->isVisible()) return;
        if (QApplication::activePopupWidget() || qt::holdsInputFocus(d_->widget.get())) return;
        close();
    };
    d_->widget->onHidden = [this] {
        d_->activation.stop();
        d_->stopWatchingClicks();
    };
    d_->activation.setInterval(100);
    QObject::connect(&d_->activation, &QTimer::timeout, [this] {
        QWidget* w = d_->widget.get();
        if (!w->isVisible() || w->isActiveWindow() || ++d_->activationTries > 5) {
            d_->activation.stop();
            return;
        }
        qt::requestActivation(w);
    });
}

Popover::~Popover() {
    d_->stopWatchingClicks();
    d_->widget->owner = nullptr;
    d_->widget->onHidden = nullptr;
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
    const QSize s(int(size.width) + 2 * kMargin, int(size.height) + 2 * kMargin);
    // Shown, it grows or shrinks beside its anchor and stays on the screen.
    if (d_->widget->isVisible() && d_->anchor)
        d_->widget->setGeometry(d_->frameFor(s));
    else
        d_->widget->resize(s);
    if (content_) content_->setFrame({0, 0, size.width, size.height});
}

void Popover::setBackgroundColor(Color color) {
    background_ = color;
    d_->widget->background = color;
    d_->widget->update();
}

void Popover::setBehavior(Behavior b) {
    behavior_ = b;
    if (!d_->widget->isVisible()) return;
    if (b == Behavior::Transient)
        d_->watchClicks(*this);
    else
        d_->stopWatchingClicks();
}

void Popover::show(const Rect& rect, View& view, RectEdge edge) {
    show(view.convertToScreen(rect), edge);
}

void Popover::show(const Rect& anchor, RectEdge edge) {
    d_->anchor = Displays::toWindowServer(anchor);  // y down
    d_->edge = edge;
    const QSize s(int(size_.width) + 2 * kMargin, int(size_.height) + 2 * kMargin);
    d_->widget->setGeometry(d_->frameFor(s));
    if (content_) content_->setFrame({0, 0, size_.width, size_.height});
    d_->widget->show();
    d_->widget->raise();
    d_->takeKeyboard();
    if (behavior_ == Behavior::Transient) d_->watchClicks(*this);
}

void Popover::close() {
    d_->widget->hide();
}

namespace {

// Whether a look at the popover's place still shows the black the server
// leaves there until the program beneath draws again: a block of 8 × 8
// pixels all black, on a grid. Text and thin lines never fill one; a window
// that is black itself does, and is waited for in vain.
bool showsBlackLeft(const Image& look) {
    constexpr int kCell = 8;
    auto black = [](const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] != 0; };
    for (int y0 = 0; y0 + kCell <= look.height(); y0 += kCell)
        for (int x0 = 0; x0 + kCell <= look.width(); x0 += kCell) {
            bool all = true;
            for (int y = y0; y < y0 + kCell && all; ++y)
                for (int x = x0; x < x0 + kCell && all; ++x) all = black(look.row(y) + size_t(x) * 4);
            if (all) return true;
        }
    return false;
}

}  // namespace

void Popover::closeForCapture() {
    if (!d_->widget->isVisible()) return;
    using Clock = std::chrono::steady_clock;
    const auto began = Clock::now();
    const auto until = began + std::chrono::seconds(2);
    const QRect g = d_->widget->geometry();
    const Rect area(g.x(), g.y(), g.width(), g.height());
    const Image shown = grabArea(area);
    close();
    // The toolkit's connection carries the unmap, and a grab goes through
    // another: sent only now, the unmap is done before any grab after this.
    QGuiApplication::sync();
    // Without a compositor what lay beneath is drawn again by its own
    // program once the server tells it to; until then the area shows the
    // panel's last pixels or black, and on a busy machine for a good while.
    // Wait until it is neither and has held still for a few looks (a busy
    // program repaints in parts), two seconds at most.
    constexpr int kStillLooks = 3;
    Image last;
    int still = 0;
    while (Clock::now() < until) {
        Image now = grabArea(area);
        if (now.isNull()) return;
        const bool beneath = !(now == shown) && !showsBlackLeft(now);
        still = beneath && !last.isNull() && now == last ? still + 1 : 0;
        if (still == kStillLooks) return;
        last = std::move(now);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    std::fprintf(
        stderr,
        "The screen under the closed popover was not drawn again within %.1f s; it is captured as it "
        "is.\n",
        std::chrono::duration<double>(Clock::now() - began).count());
}

void Popover::makeKey() {
    if (d_->widget->isVisible()) d_->takeKeyboard();
}

bool Popover::isShown() const {
    return d_->widget->isVisible();
}

Rect Popover::frame() const {
    QRect g = d_->widget->geometry();
    return Displays::fromWindowServer(Rect(g.x(), g.y(), g.width(), g.height()));
}

}  // namespace kit
