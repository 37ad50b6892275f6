#include "kit/ui/Window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>
#include <QWindow>
#include <cmath>

#include "kit/base/qt/QtConvert.h"
#include "kit/ui/Application.h"
#include "kit/ui/Menu.h"
#include "kit/ui/View.h"
#include "kit/ui/qt/ApplicationPrivate.h"
#include "kit/ui/qt/EventPrivate.h"
#include "kit/ui/qt/MenuPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"
#include "kit/ui/qt/WindowPrivate.h"

namespace kit {

struct Window::Private {
    qt::WindowWidget* widget = nullptr;
    std::unique_ptr<QVariantAnimation> frameAnimation;
    QMenuBar* menuBar = nullptr;  // a child of the widget
    bool adjustingAspect = false;
};

namespace {

using qt::roundi;
using qt::toQColor;

// Decoration sizes the window manager adds around the content.
QMargins frameMargins(QWidget* w) {
    QRect f = w->frameGeometry(), g = w->geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

}  // namespace

// ---- WindowWidget -----------------------------------------------------------------

namespace qt {

WindowWidget::WindowWidget(Window* w) : window(w) {
    setFocusPolicy(Qt::StrongFocus);
}

void WindowWidget::paintEvent(QPaintEvent*) {
    if (!window) return;
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), toQColor(window->isOpaque() ? window->backgroundColor().withAlpha(1)
                                                   : window->backgroundColor()));
}

void WindowWidget::resizeEvent(QResizeEvent*) {
    if (!window) return;
    // X11 aspect hints are not honoured by every window manager; the
    // resize is corrected after the fact instead.
    Size aspect = window->aspectRatio();
    if (!aspect.isEmpty() && !window->impl().adjustingAspect) {
        int want = int(std::lround(width() * aspect.height / aspect.width));
        if (want != height()) {
            window->impl().adjustingAspect = true;
            resize(width(), want);
            window->impl().adjustingAspect = false;
            return;
        }
    }
    window->layoutContent();
    window->notify([this](WindowDelegate& d) { d.windowDidResize(*window); });
}

void WindowWidget::moveEvent(QMoveEvent*) {
    if (window) window->notify([this](WindowDelegate& d) { d.windowDidMove(*window); });
}

void WindowWidget::closeEvent(QCloseEvent* e) {
    if (!window) return;
    if (!closingByProgram) {
        auto d = window->delegate();
        if (d && !d->windowShouldClose(*window)) {
            e->ignore();
            return;
        }
        window->notify([this](WindowDelegate& d) { d.windowWillClose(*window); });
    }
    // Closing hides: the owner decides when the window object goes.
    e->accept();
}

void WindowWidget::changeEvent(QEvent* e) {
    if (window && e->type() == QEvent::ActivationChange) {
        bool key = isActiveWindow();
        window->notify([this, key](WindowDelegate& d) {
            if (key)
                d.windowDidBecomeKey(*window);
            else
                d.windowDidResignKey(*window);
        });
    }
    if (window && e->type() == QEvent::WindowStateChange) {
        bool was = static_cast<QWindowStateChangeEvent*>(e)->oldState() & Qt::WindowFullScreen;
        bool now = windowState() & Qt::WindowFullScreen;
        if (was != now)
            window->notify([this, now](WindowDelegate& d) {
                if (now)
                    d.windowDidEnterFullScreen(*window);
                else
                    d.windowDidExitFullScreen(*window);
            });
    }
    QWidget::changeEvent(e);
}

void WindowWidget::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // Window-manager states can only be asked for once the window is mapped.
    QPointer<WindowWidget> self(this);
    QTimer::singleShot(30, this, [self] {
        if (!self || !self->window) return;
        applyTaskbarPresence(self);
        if (self->window->isSticky()) setOnAllDesktops(self, true);
        if (!self->window->aspectRatio().isEmpty()) setAspectHint(self, self->window->aspectRatio());
        if (self->window->styleMask() & WindowStyle::Utility)
            setNetWmState(self, "_NET_WM_STATE_SKIP_TASKBAR", true);
    });
}

// Keys that reach the window itself (no focused view) go to its content view.
void WindowWidget::keyPressEvent(QKeyEvent* e) {
    e->accept();
    if (!window) return;
    auto ev = keyEvent(*e);
    if (!ev) return;
    ev->window = window;
    auto deliver = [](Window* w, const Event& k) {
        if (View* fr = w->firstResponder())
            fr->dispatch(k);
        else if (auto& content = w->contentView())
            content->dispatch(k);
    };
    if (ev->type == EventType::KeyUp) {
        QPointer<WindowWidget> self(this);
        holdKeyRelease(this, *ev, [self, deliver](const Event& up) {
            if (self && self->window) deliver(self->window, up);
        });
        return;
    }
    if (ev->type == EventType::KeyDown && takeHeldRelease(ev->keyCode)) ev->isARepeat = true;
    deliver(window, *ev);
}

void WindowWidget::keyReleaseEvent(QKeyEvent* e) {
    keyPressEvent(e);
}

QWidget* windowWidget(const Window& window) {
    return window.impl().widget;
}

Window* windowOf(QWidget* widget) {
    auto* w = dynamic_cast<WindowWidget*>(widget ? widget->window() : nullptr);
    return w ? w->window : nullptr;
}

}  // namespace qt

// ---- Window ---------------------------------------------------------------------------

Window::Window(const Rect& contentRect, unsigned styleMask)
    : d_(std::make_unique<Private>()), style_(styleMask) {
    d_->widget = new qt::WindowWidget(this);
    d_->widget->setAttribute(Qt::WA_DeleteOnClose, false);
    Rect server = Displays::toWindowServer(contentRect);
    d_->widget->setGeometry(roundi(server.x()), roundi(server.y()), roundi(server.width()),
                            roundi(server.height()));
    applyFlags();  // keeps the geometry; a fixed-size window keeps this size
    setContentView(View::make({0, 0, contentRect.width(), contentRect.height()}));
    qt::registerWindow(this, d_->widget);
}

Window::~Window() {
    qt::unregisterWindow(this);
    d_->frameAnimation.reset();
    delete d_->menuBar;  // stops following the menu, which may outlive us
    if (content_) {
        content_->window_ = nullptr;
        qt::viewWidget(*content_)->setParent(nullptr);
    }
    d_->widget->window = nullptr;
    d_->widget->hide();
    d_->widget->deleteLater();  // may be inside one of its own handlers
}

void Window::notify(const std::function<void(WindowDelegate&)>& call) {
    if (auto d = delegate_.lock()) call(*d);
}

void Window::setStyleMask(unsigned mask) {
    style_ = mask;
    applyFlags();
}

void Window::applyFlags() {
    QWidget* w = d_->widget;
    bool visible = w->isVisible();
    QRect geometry = w->geometry();  // new flags make a new native window of default size
    Qt::WindowFlags f = Qt::Window;
    if (style_ & WindowStyle::Utility) f = Qt::Tool;
    if (!(style_ & WindowStyle::Titled)) {
        f |= Qt::FramelessWindowHint;
    } else {
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
        if (style_ & WindowStyle::Closable) f |= Qt::WindowCloseButtonHint;
        if (style_ & WindowStyle::Miniaturizable) f |= Qt::WindowMinimizeButtonHint;
        if (style_ & WindowStyle::Resizable) f |= Qt::WindowMaximizeButtonHint;
    }
    if (level_ >= WindowLevel::Floating) f |= Qt::WindowStaysOnTopHint;
    // Pop-up and screen-saver windows are override-redirect: above every
    // managed window, never decorated, and not in the window list.
    if (level_ >= WindowLevel::PopUp) f |= Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint;
    if (ignoresMouse_) f |= Qt::WindowTransparentForInput;
    if (style_ & WindowStyle::NonactivatingPanel) f |= Qt::WindowDoesNotAcceptFocus;
    w->setWindowFlags(f);
    w->setAttribute(Qt::WA_ShowWithoutActivating, (style_ & WindowStyle::NonactivatingPanel) != 0);
    w->setGeometry(geometry);
    if (!(style_ & WindowStyle::Resizable) && (style_ & WindowStyle::Titled))
        w->setFixedSize(geometry.size());
    else {
        w->setMinimumSize(int(minSize_.width), int(minSize_.height));
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    if (visible) w->show();  // changing flags hides a window
}

void Window::setContentView(std::shared_ptr<View> view) {
    if (content_) {
        content_->window_ = nullptr;
        QWidget* old = qt::viewWidget(*content_);
        old->hide();
        old->setParent(nullptr);
        content_->notifyWindowChanged();
    }
    content_ = std::move(view);
    if (!content_) return;
    if (content_->superview()) content_->removeFromSuperview();
    content_->window_ = this;
    QWidget* cw = qt::viewWidget(*content_);
    cw->setParent(d_->widget);
    layoutContent();
    cw->setVisible(!content_->isHidden());
    content_->notifyWindowChanged();
}

void Window::setTitle(std::string title) {
    title_ = std::move(title);
    d_->widget->setWindowTitle(QString::fromStdString(title_));
}

Rect Window::frame() const {
    QRect f = d_->widget->isVisible() ? d_->widget->frameGeometry() : d_->widget->geometry();
    return Displays::fromWindowServer(Rect(f.x(), f.y(), f.width(), f.height()));
}

void Window::setFrame(const Rect& frame, bool animate) {
    d_->frameAnimation.reset();
    if (animate && d_->widget->isVisible()) {
        auto* anim = new QVariantAnimation;
        d_->frameAnimation.reset(anim);
        Rect from = this->frame();
        anim->setStartValue(QRectF(from.x(), from.y(), from.width(), from.height()));
        anim->setEndValue(QRectF(frame.x(), frame.y(), frame.width(), frame.height()));
        anim->setDuration(200);
        anim->setEasingCurve(QEasingCurve::InOutQuad);
        QObject::connect(anim, &QVariantAnimation::valueChanged, [this](const QVariant& v) {
            QRectF r = v.toRectF();
            applyFrame(Rect(r.x(), r.y(), r.width(), r.height()));
        });
        anim->start();
        return;
    }
    applyFrame(frame);
}

void Window::applyFrame(const Rect& frame) {
    QWidget* w = d_->widget;
    QMargins m = w->isVisible() ? frameMargins(w) : QMargins();
    Rect server = Displays::toWindowServer(frame);
    int cw = std::max(1, roundi(server.width()) - m.left() - m.right());
    int ch = std::max(1, roundi(server.height()) - m.top() - m.bottom());
    if (w->minimumSize() == w->maximumSize()) w->setFixedSize(cw, ch);
    w->resize(cw, ch);
    // move() places the frame's top-left corner, decorations included.
    w->move(roundi(server.x()), roundi(server.y()));
    if (!aspect_.isEmpty()) qt::setAspectHint(w, aspect_);
    layoutContent();
}

void Window::setAspectRatio(Size ratio) {
    aspect_ = ratio;
    qt::setAspectHint(d_->widget, aspect_);
}

void Window::setFrameOrigin(Point origin) {
    Rect f = frame();
    setFrame({origin, f.size});
}

int Window::menuBarHeight() const {
    return d_->menuBar ? d_->menuBar->sizeHint().height() : 0;
}

void Window::layoutContent() {
    QWidget* w = d_->widget;
    int bar = menuBarHeight();
    if (d_->menuBar) d_->menuBar->setGeometry(0, 0, w->width(), bar);
    if (!content_) return;
    int h = std::max(0, w->height() - bar);
    qt::viewWidget(*content_)->setGeometry(0, bar, w->width(), h);
    content_->setFrame({0, 0, double(w->width()), double(h)});
}

Size Window::contentSize() const {
    return {double(d_->widget->width()), double(std::max(0, d_->widget->height() - menuBarHeight()))};
}

namespace {

// Mirrors the items of the window's menu into its bar: each item with a
// submenu opens that menu, the others act at once. Titles, hidden and
// enabled states follow the items' actions by themselves; adding or
// removing items refills the bar.
class MenuBarMirror : public QObject {
public:
    MenuBarMirror(QMenuBar* bar, QMenu* source, std::function<void()> relayout)
        : QObject(bar), bar_(bar), source_(source), relayout_(std::move(relayout)) {
        source_->installEventFilter(this);
        fill();
    }
    ~MenuBarMirror() override {
        if (source_) source_->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::ActionAdded || e->type() == QEvent::ActionRemoved) {
            fill();
            relayout_();
        }
        return false;
    }

private:
    void fill() {
        bar_->clear();
        for (QAction* a : source_->actions())
            if (!a->isSeparator()) bar_->addAction(a);
    }
    QMenuBar* bar_;
    QPointer<QMenu> source_;
    std::function<void()> relayout_;
};

}  // namespace

void Window::setMenuBar(std::shared_ptr<Menu> menu) {
    menuBarMenu_ = std::move(menu);
    delete d_->menuBar;
    d_->menuBar = nullptr;
    if (menuBarMenu_) {
        auto* bar = new QMenuBar(d_->widget);
        QPointer<qt::WindowWidget> widget(d_->widget);
        new MenuBarMirror(bar, qt::qmenu(*menuBarMenu_), [widget] {
            if (widget && widget->window) widget->window->layoutContent();
        });
        bar->show();
        d_->menuBar = bar;
    }
    layoutContent();
}

void Window::setContentSize(Size size) {
    QWidget* w = d_->widget;
    // Keep the top-left corner where it is, as the y-up frame keeps its top edge.
    int bar = menuBarHeight();
    if (w->minimumSize() == w->maximumSize()) w->setFixedSize(roundi(size.width), roundi(size.height) + bar);
    w->resize(roundi(size.width), roundi(size.height) + bar);
    layoutContent();
}

void Window::center() {
    Display d = screen();
    Rect f = frame();
    Rect v = d.visibleFrame;
    setFrameOrigin(
        {std::round(v.midX() - f.width() / 2), std::round(v.y() + (v.height() - f.height()) * 2 / 3)});
}

void Window::setMinSize(Size size) {
    minSize_ = size;
    d_->widget->setMinimumSize(roundi(size.width), roundi(size.height));
    if (!aspect_.isEmpty()) qt::setAspectHint(d_->widget, aspect_);
}

Display Window::screen() const {
    QScreen* s = d_->widget->screen();
    for (auto& d : Displays::all())
        if (s && d.name == s->name().toStdString()) return d;
    return Displays::primary();
}

double Window::backingScaleFactor() const {
    return std::max(1.0, std::round(d_->widget->devicePixelRatioF()));
}

void Window::setLevel(int level) {
    if (level_ == level) return;
    level_ = level;
    applyFlags();
}

void Window::setSticky(bool sticky) {
    sticky_ = sticky;
    qt::setOnAllDesktops(d_->widget, sticky);
}

void Window::setIgnoresMouseEvents(bool ignores) {
    if (ignoresMouse_ == ignores) return;
    ignoresMouse_ = ignores;
    applyFlags();
}

void Window::setOpaque(bool opaque) {
    opaque_ = opaque;
    // A translucent window needs an ARGB visual, chosen when the native
    // window is made; recreate it if it exists already.
    QWidget* w = d_->widget;
    if (w->testAttribute(Qt::WA_TranslucentBackground) == !opaque) return;
    bool visible = w->isVisible();
    if (w->windowHandle()) d_->widget->dropNativeWindow();
    w->setAttribute(Qt::WA_TranslucentBackground, !opaque);
    w->setAttribute(Qt::WA_NoSystemBackground, !opaque);
    if (visible) w->show();
}

void Window::setShape(const std::vector<Rect>& parts) {
    QWidget* w = d_->widget;
    if (parts.empty()) {
        w->clearMask();
        return;
    }
    QRegion region;
    int h = w->height();
    for (const Rect& r : parts) {
        Rect s = r.standardized().integral();
        region += QRect(int(s.x()), h - int(s.y()) - int(s.height()), int(s.width()), int(s.height()));
    }
    w->setMask(region);
}

std::vector<Rect> Window::roundedShape(const Rect& r, double radius) {
    std::vector<Rect> rows;
    const int n = int(std::ceil(radius));
    for (int i = 0; i < n; ++i) {
        const double dy = radius - i - 0.5;
        const double inset = std::round(radius - std::sqrt(std::max(0.0, radius * radius - dy * dy)));
        rows.push_back({r.minX() + inset, r.minY() + i, r.width() - 2 * inset, 1});
        rows.push_back({r.minX() + inset, r.maxY() - i - 1, r.width() - 2 * inset, 1});
    }
    rows.push_back({r.minX(), r.minY() + n, r.width(), r.height() - 2 * n});
    return rows;
}

Color Window::backgroundColor() const {
    if (background_) return *background_;
    QColor c = d_->widget->palette().color(QPalette::Window);
    return {c.redF(), c.greenF(), c.blueF(), 1};
}

void Window::setBackgroundColor(Color color) {
    background_ = color;
    d_->widget->update();
}

void Window::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    d_->widget->setWindowOpacity(alpha_);
}

void Window::orderFront() {
    QWidget* w = d_->widget;
    bool was = w->testAttribute(Qt::WA_ShowWithoutActivating);
    w->setAttribute(Qt::WA_ShowWithoutActivating, true);
    w->show();
    w->raise();
    if (!(style_ & WindowStyle::NonactivatingPanel)) w->setAttribute(Qt::WA_ShowWithoutActivating, was);
}

void Window::makeKeyAndOrderFront() {
    QWidget* w = d_->widget;
    w->show();
    w->raise();
    makeKey();
}

void Window::makeKey() {
    if (!canBecomeKeyWindow()) return;
    d_->widget->activateWindow();
}

void Window::orderOut() {
    d_->widget->hide();
}

void Window::requestActivation() {
    qt::requestActivation(d_->widget);
}

void Window::beginUserResize(unsigned edges) {
    Qt::Edges e;
    if (edges & Left) e |= Qt::LeftEdge;
    if (edges & Right) e |= Qt::RightEdge;
    if (edges & Top) e |= Qt::TopEdge;
    if (edges & Bottom) e |= Qt::BottomEdge;
    if (!e) return;
    if (QWindow* handle = d_->widget->windowHandle()) handle->startSystemResize(e);
}

void Window::requestUserAttention() {
    QApplication::alert(d_->widget, 0);
}

void Window::close() {
    if (!d_->widget->isVisible()) return;
    notify([this](WindowDelegate& d) { d.windowWillClose(*this); });
    d_->widget->closingByProgram = true;
    d_->widget->close();
    d_->widget->closingByProgram = false;
}

void Window::performClose() {
    d_->widget->close();
}

bool Window::isVisible() const {
    return d_->widget->isVisible();
}
bool Window::isKeyWindow() const {
    return d_->widget->isActiveWindow();
}

void Window::toggleFullScreen() {
    QWidget* w = d_->widget;
    w->setWindowState(w->windowState() ^ Qt::WindowFullScreen);
}

bool Window::isFullScreen() const {
    return d_->widget->isFullScreen();
}

uint32_t Window::windowNumber() const {
    return d_->widget->windowHandle() ? uint32_t(d_->widget->winId()) : 0;
}

View* Window::firstResponder() const {
    return qt::viewOf(d_->widget->focusWidget());
}

bool Window::makeFirstResponder(View* view) {
    if (!view) {
        if (QWidget* f = d_->widget->focusWidget()) f->clearFocus();
        d_->widget->setFocus();
        return true;
    }
    if (view->window() != this) return false;
    return view->makeFirstResponder();
}

// The content's bottom-left corner on screen: the window's own (a menu bar
// sits at the top).
static Point contentOrigin(QWidget* w) {
    QPoint g = w->mapToGlobal(QPoint(0, w->height()));
    return Displays::fromWindowServer(Point{double(g.x()), double(g.y())});
}

Point Window::convertToScreen(Point p) const {
    Point o = contentOrigin(d_->widget);
    return {o.x + p.x, o.y + p.y};
}

Point Window::convertFromScreen(Point p) const {
    Point o = contentOrigin(d_->widget);
    return {p.x - o.x, p.y - o.y};
}

}  // namespace kit
