#include "kit/desktop/AreaPicker.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <optional>

#include "kit/desktop/Grab.h"
#include "kit/desktop/WindowList.h"

namespace kit {

namespace {

// How dark the screen turns outside the selection (of 255).
constexpr int kDim = 100;
// How long the overlay asks for the keyboard and pointer while another program holds them.
constexpr int kGrabPatienceMs = 2000;

class PickerWidget : public QWidget {
public:
    PickerWidget(const Rect& screen, AreaPicker::Mode mode)
        : QWidget(nullptr,
                  Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint),
          screen_(screen),
          mode_(mode),
          windowMode_(mode == AreaPicker::Mode::windowOnly) {
        // Windows are listed before our own overlay exists, so it is never among them.
        for (auto& w : onScreenWindows())
            if (w.layer && *w.layer == kLayerNormal && w.bounds && w.onScreen.value_or(0) == 1)
                windows_.push_back(w);
        setGeometry(int(screen.x()), int(screen.y()), int(screen.width()), int(screen.height()));
        setWindowTitle("kadrix-screencapture");  // lets scripts wait for the overlay
        setCursor(Qt::CrossCursor);
        setMouseTracking(true);
        setAttribute(Qt::WA_DeleteOnClose, false);
    }

    // The frozen screen outlives this widget, which only reads it: no copy of
    // its tens of megabytes. (A read-only QImage would copy itself on the
    // change of pixel ratio below.)
    void setFrozen(const Image& frozen) {
        image_ = QImage(const_cast<uchar*>(frozen.bits()), frozen.width(), frozen.height(),
                        qsizetype(frozen.bytesPerRow()), QImage::Format_ARGB32_Premultiplied);
        image_.setDevicePixelRatio(frozen.scale());
        update();
    }

    AreaPick result;
    bool done = false;
    std::function<void()> onDone;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        // The screen is opaque: copied, not blended.
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.drawImage(QRectF(0, 0, width(), height()), image_);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        QRectF sel = selectionLocal();
        QPainterPath dim;
        dim.addRect(rect());
        if (!sel.isEmpty()) dim.addRect(sel);
        dim.setFillRule(Qt::OddEvenFill);
        p.fillPath(dim, QColor(0, 0, 0, kDim));
        if (!sel.isEmpty()) {
            p.setPen(QPen(QColor(255, 255, 255, 220), 1));
            p.drawRect(sel.adjusted(-0.5, -0.5, 0.5, 0.5));
        }
    }

    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Escape) return finish({});
        if (e->key() == Qt::Key_Space && mode_ == AreaPicker::Mode::area && !dragging_) {
            windowMode_ = !windowMode_;
            hovered_.reset();
            updateHover(mapFromGlobal(QCursor::pos()));
            refresh();
        }
    }

    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return finish({});
        if (windowMode_) {
            if (!hovered_) return;
            const WindowInfo& w = *hovered_;
            AreaPick pick;
            pick.kind = AreaPick::Kind::window;
            pick.rect = w.bounds->intersection(screen_);
            pick.window = w.number;
            pick.windowTitle = w.title.value_or("");
            return finish(pick);
        }
        dragging_ = true;
        start_ = current_ = e->position();
        refresh();
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (dragging_) {
            current_ = e->position();
            refresh();
        } else if (windowMode_) {
            updateHover(e->position().toPoint());
        }
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!dragging_ || e->button() != Qt::LeftButton) return;
        dragging_ = false;
        current_ = e->position();
        QRectF sel = dragRect(start_, current_);
        if (sel.isEmpty()) return refresh();  // a click selects nothing
        AreaPick pick;
        pick.kind = AreaPick::Kind::area;
        pick.rect = Rect(sel.x() + screen_.x(), sel.y() + screen_.y(), sel.width(), sel.height());
        finish(pick);
    }

private:
    QRectF selectionLocal() const {
        if (windowMode_) {
            if (!hovered_) return {};
            Rect b = hovered_->bounds->intersection(screen_);
            return QRectF(b.x() - screen_.x(), b.y() - screen_.y(), b.width(), b.height());
        }
        if (!dragging_) return {};
        return dragRect(start_, current_);
    }

    // The pixels from the one where the drag began to the one where it is
    // now, both included: a drag from a region's top-left pixel to its
    // bottom-right pixel takes all of it. Empty while the pointer has not
    // left the first pixel's row or column.
    static QRectF dragRect(QPointF a, QPointF b) {
        const double x1 = std::floor(std::min(a.x(), b.x())), y1 = std::floor(std::min(a.y(), b.y()));
        const double x2 = std::floor(std::max(a.x(), b.x())), y2 = std::floor(std::max(a.y(), b.y()));
        if (x2 == x1 || y2 == y1) return {};
        return QRectF(QPointF(x1, y1), QPointF(x2 + 1, y2 + 1));
    }

    void updateHover(QPoint local) {
        Point g{local.x() + screen_.x(), local.y() + screen_.y()};
        std::optional<WindowInfo> hit;
        for (auto& w : windows_)
            if (w.bounds->contains(g)) {
                hit = w;
                break;
            }
        if (hit != hovered_) {
            hovered_ = hit;
            refresh();
        }
    }

    // Repaints only where the selection was or is now: outside both, the
    // dimmed screen stays as it was (a full repaint of a 4K screen per
    // pointer move would lag behind the pointer).
    void refresh() {
        QRectF now = selectionLocal();
        QRectF dirty = now.isEmpty() ? shown_ : shown_.isEmpty() ? now : now.united(shown_);
        shown_ = now;
        if (!dirty.isEmpty()) update(dirty.toAlignedRect().adjusted(-2, -2, 2, 2));
    }

    void finish(AreaPick pick) {
        if (done) return;
        result = pick;
        done = true;
        if (onDone) onDone();
    }

    QImage image_;
    Rect screen_;
    AreaPicker::Mode mode_;
    bool windowMode_;
    bool dragging_ = false;
    QPointF start_, current_;
    QRectF shown_;  // the selection as last painted
    std::vector<WindowInfo> windows_;
    std::optional<WindowInfo> hovered_;
};

}  // namespace

AreaPick AreaPicker::run(const Rect& screen, Mode mode, Image& frozen, const std::function<void()>& onShown) {
    frozen = {};
    if (!qGuiApp) return {};
    // The server holds the screen as it is now and shows it dimmed the moment
    // the overlay maps, while its pixels come over to us. Where it can't, the
    // pixels come first.
    std::unique_ptr<FrozenArea> held = FrozenArea::take(screen);
    if (!held) {
        frozen = grabArea(screen);
        if (frozen.isNull()) return {};
    }
    PickerWidget w(screen, mode);
    if (held) {
        const auto window = uint32_t(w.winId());  // made now, mapped by show()
        QGuiApplication::sync();
        held->showDimmedIn(window, kDim / 255.0);
    }
    QEventLoop loop;
    w.onDone = [&loop] { loop.quit(); };
    w.show();
    w.raise();
    w.activateWindow();
    // Override-redirect windows get no focus from the window manager: take the input ourselves.
    // Another program may hold it for a moment (a menu still open, the keys of the shortcut
    // that started us still down): asked again until it lets go, or the keys would go on to
    // whichever window has the focus then, and Escape would not cancel.
    w.grabKeyboard();
    w.grabMouse();
    QWindow* win = w.windowHandle();
    auto take = [win, kb = false, mouse = false]() mutable {
        kb = kb || win->setKeyboardGrabEnabled(true);
        mouse = mouse || win->setMouseGrabEnabled(true);
        return kb && mouse;
    };
    QTimer retry;
    QElapsedTimer since;
    since.start();
    if (!take()) {
        retry.setInterval(50);
        QObject::connect(&retry, &QTimer::timeout, [&] {
            if (take() || since.elapsed() > kGrabPatienceMs) retry.stop();
        });
        retry.start();
    }
    if (held) {
        frozen = held->image();
        held.reset();
    }
    if (!frozen.isNull()) {
        w.setFrozen(frozen);
        if (onShown) onShown();
        if (!w.done) loop.exec();
    }
    retry.stop();
    w.releaseKeyboard();
    w.releaseMouse();
    w.hide();
    QGuiApplication::sync();
    return frozen.isNull() ? AreaPick{} : w.result;
}

}  // namespace kit
