#include "kit/desktop/AreaPicker.h"

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
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
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <thread>

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

// Holds the keyboard from before the overlay is made until it takes the keys
// itself: a key the user presses while it comes up would otherwise go to the
// window that had the focus. Those keys reach us addressed to the root
// window, which the toolkit drops; they are handed to the overlay instead, in
// the order they came, once the event loop runs.
class EarlyKeys : public QAbstractNativeEventFilter {
public:
    EarlyKeys() {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        conn_ = x11 ? x11->connection() : nullptr;
        if (!conn_) return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
        // Another program holding the keyboard keeps it: the overlay asks again once it shows.
        auto* r = xcb_grab_keyboard_reply(
            conn_,
            xcb_grab_keyboard(conn_, 0, root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr);
        held_ = r && r->status == XCB_GRAB_STATUS_SUCCESS;
        free(r);
        if (held_) qGuiApp->installNativeEventFilter(this);
    }
    ~EarlyKeys() override {
        if (!held_) return;
        qGuiApp->removeNativeEventFilter(this);
        xcb_ungrab_keyboard(conn_, XCB_CURRENT_TIME);  // where the overlay did not take it over
        xcb_flush(conn_);
    }
    EarlyKeys(const EarlyKeys&) = delete;
    EarlyKeys& operator=(const EarlyKeys&) = delete;

    void sendTo(QWidget& overlay) { overlay_ = xcb_window_t(overlay.winId()); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (!overlay_ || type != "xcb_generic_event_t") return false;
        auto* e = static_cast<xcb_generic_event_t*>(message);
        const uint8_t kind = e->response_type & 0x7f;
        if (kind != XCB_KEY_PRESS && kind != XCB_KEY_RELEASE) return false;
        // Press and release events have the same layout.
        auto* k = reinterpret_cast<xcb_key_press_event_t*>(e);
        if (k->event == k->root) {
            k->event = overlay_;
            k->child = XCB_NONE;
        }
        return false;
    }

private:
    xcb_connection_t* conn_ = nullptr;
    bool held_ = false;
    xcb_window_t overlay_ = XCB_NONE;
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
    EarlyKeys early;
    PickerWidget w(screen, mode);
    early.sendTo(w);
    if (held) {
        const auto window = uint32_t(w.winId());  // made now, mapped by show()
        QGuiApplication::sync();
        held->showDimmedIn(window, kDim / 255.0);
    }
    // Tests stretch the moment between the overlay's making and its showing,
    // to give it a key just then.
    if (const char* ms = std::getenv("KADRIX_TEST_OVERLAY_SHOW_DELAY_MS")) {
        w.winId();
        QGuiApplication::sync();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms)));
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
