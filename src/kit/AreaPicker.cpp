#include "kit/AreaPicker.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <optional>

#include "kit/WindowList.h"
#include "kit/qt/QtImage.h"

namespace kit {

namespace {

class PickerWidget : public QWidget {
public:
    PickerWidget(const Image& frozen, const Rect& screen, AreaPicker::Mode mode)
        : QWidget(nullptr,
                  Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint),
          screen_(screen),
          mode_(mode),
          windowMode_(mode == AreaPicker::Mode::windowOnly) {
        image_ = qt::wrap(frozen).copy();
        image_.setDevicePixelRatio(frozen.scale());
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

    AreaPick result;
    bool done = false;
    std::function<void()> onDone;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(QRectF(0, 0, width(), height()), image_);
        QRectF sel = selectionLocal();
        QPainterPath dim;
        dim.addRect(rect());
        if (!sel.isEmpty()) dim.addRect(sel);
        dim.setFillRule(Qt::OddEvenFill);
        p.fillPath(dim, QColor(0, 0, 0, 100));
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
            update();
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
        update();
    }

    void mouseMoveEvent(QMouseEvent* e) override {
        if (dragging_) {
            current_ = e->position();
            update();
        } else if (windowMode_) {
            updateHover(e->position().toPoint());
        }
    }

    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!dragging_ || e->button() != Qt::LeftButton) return;
        dragging_ = false;
        current_ = e->position();
        QRectF sel = dragRect(start_, current_);
        if (sel.isEmpty()) return update();  // a click selects nothing
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
            update();
        }
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
    std::vector<WindowInfo> windows_;
    std::optional<WindowInfo> hovered_;
};

}  // namespace

AreaPick AreaPicker::run(const Image& frozen, const Rect& screen, Mode mode) {
    if (!qGuiApp || frozen.isNull()) return {};
    PickerWidget w(frozen, screen, mode);
    QEventLoop loop;
    w.onDone = [&loop] { loop.quit(); };
    w.show();
    w.raise();
    w.activateWindow();
    // Override-redirect windows get no focus from the window manager: take the input ourselves.
    w.grabKeyboard();
    w.grabMouse();
    if (!w.done) loop.exec();
    w.releaseKeyboard();
    w.releaseMouse();
    w.hide();
    QGuiApplication::sync();
    return w.result;
}

}  // namespace kit
