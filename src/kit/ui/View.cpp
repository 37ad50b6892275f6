#include "kit/ui/View.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QGraphicsOpacityEffect>
#include <QMimeData>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "kit/base/Displays.h"
#include "kit/base/qt/QtConvert.h"
#include "kit/base/qt/QtImage.h"
#include "kit/draw/qt/LayerPainter.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/EventPrivate.h"
#include "kit/ui/qt/ViewPrivate.h"
#include "kit/ui/qt/WindowPrivate.h"

namespace kit {

struct View::Private {
    qt::ViewWidget* widget = nullptr;
    std::optional<Cursor> cursor;
    std::vector<std::pair<Rect, Cursor>> cursorRects;
    bool acceptsDrops = false;
    bool dragAccepted = false;
    // What the drag carried when it came in. One drag carries the same data
    // from start to end, so the drop takes this and fetches the list again
    // only when the entry's fetch came back empty (the X server's now and
    // then does).
    std::vector<std::string> dragFiles, dragUrls;
    bool dark = false;  // the appearance the view last reported
};

namespace {

// Views that have tracking areas or cursor rects; the pointer pass walks them.
std::vector<View*>& trackedViews() {
    static std::vector<View*> views;
    return views;
}

void setTracked(View* v, bool on) {
    auto& list = trackedViews();
    auto it = std::find(list.begin(), list.end(), v);
    if (on && it == list.end()) list.push_back(v);
    if (!on && it != list.end()) list.erase(it);
}

// Keeps the widget alive while one of its handlers runs, so a handler may
// drop the last reference to its view.
struct HandlerScope {
    qt::ViewWidget* w;
    explicit HandlerScope(qt::ViewWidget* widget) : w(widget) { ++w->depth; }
    ~HandlerScope() { --w->depth; }
};

using qt::roundi;

// How much of a drag's list of places is looked at: another program's list
// runs as long as it likes (hundreds of thousands of files), and a view
// takes the first file it names. Entries past these, or cut by the bytes'
// bound, are neither split off nor converted.
constexpr size_t kDraggedEntries = 16;
constexpr qsizetype kDraggedListBytes = 64 * 1024;

// The places in the first kDraggedListBytes of a `text/uri-list`: an entry
// a line, lines starting with '#' are comments, and some writers end the
// list with a zero byte.
void readPlaces(const QByteArray& list, DraggingInfo& info) {
    QByteArrayView head = QByteArrayView(list).first(std::min(list.size(), kDraggedListBytes));
    bool whole = head.size() == list.size();
    if (const qsizetype zero = head.indexOf('\0'); zero >= 0) head = head.first(zero), whole = true;
    for (qsizetype at = 0; at < head.size() && info.filePaths.size() + info.urls.size() < kDraggedEntries;) {
        qsizetype end = head.indexOf('\n', at);
        if (end < 0 && !whole) break;  // a line the bound cuts is no place
        if (end < 0) end = head.size();
        const QByteArrayView line = head.sliced(at, end - at).trimmed();
        at = end + 1;
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QUrl u = QUrl::fromEncoded(line.toByteArray());
        if (u.isLocalFile())
            info.filePaths.push_back(u.toLocalFile().toStdString());
        else
            info.urls.push_back(u.toString().toStdString());
    }
}

DraggingInfo draggingInfo(const QDropEvent& e, const View& view) {
    DraggingInfo info;
    // The toolkit fetches the list whole; only its head is read here.
    readPlaces(e.mimeData()->data(QStringLiteral("text/uri-list")), info);
    info.location = qt::fromQt(view, e.position());
    info.fromThisApplication = e.source() != nullptr;
    return info;
}

}  // namespace

// ---- The widget --------------------------------------------------------------

namespace qt {

ViewWidget::ViewWidget(View* v) : view(v) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

bool ViewWidget::event(QEvent* e) {
    if (!view) return QWidget::event(e);
    if (e->type() == QEvent::Polish)
        setFocusPolicy(view->acceptsFirstResponder() ? Qt::StrongFocus : Qt::NoFocus);
    if (e->type() == QEvent::PaletteChange) {
        // Palettes change for many reasons; only a turn between dark and
        // light is an appearance change.
        bool result = QWidget::event(e);
        bool dark = view->isDarkAppearance();
        if (dark != view->impl().dark) {
            view->impl().dark = dark;
            HandlerScope scope(this);
            view->viewDidChangeEffectiveAppearance();
        }
        return result;
    }
    if (e->type() == QEvent::NativeGesture) {
        auto* g = static_cast<QNativeGestureEvent*>(e);
        if (auto ev = gestureEvent(*g, view->convert(fromQt(*view, g->position()), nullptr))) {
            HandlerScope scope(this);
            ev->window = view->window();
            view->magnify(*ev);
        }
        return true;
    }
    return QWidget::event(e);
}

void ViewWidget::paintEvent(QPaintEvent*) {
    if (!view) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintLayerTree(p, *view->layer(), height());
}

static void deliverMouse(ViewWidget* w, QMouseEvent* e) {
    if (!w->view) return;
    HandlerScope scope(w);
    View* v = w->view;
    Event ev = mouseEvent(*e, v->convert(fromQt(*v, e->position()), nullptr));
    ev.window = v->window();
    if (e->type() == QEvent::MouseMove) trackPointer(w->window(), e->globalPosition());
    if (!w->view) return;
    // Moves without a button reach views through tracking areas only.
    if (ev.type != EventType::MouseMoved) v->dispatch(ev);
    e->accept();
}

void ViewWidget::mousePressEvent(QMouseEvent* e) {
    deliverMouse(this, e);
}
// The kit counts clicks itself: a double-click is one more press.
void ViewWidget::mouseDoubleClickEvent(QMouseEvent* e) {
    deliverMouse(this, e);
}
void ViewWidget::mouseReleaseEvent(QMouseEvent* e) {
    deliverMouse(this, e);
}
void ViewWidget::mouseMoveEvent(QMouseEvent* e) {
    deliverMouse(this, e);
}

void ViewWidget::wheelEvent(QWheelEvent* e) {
    if (!view) return;
    HandlerScope scope(this);
    Event ev = scrollEvent(*e, view->convert(fromQt(*view, e->position()), nullptr));
    ev.window = view->window();
    view->scrollWheel(ev);
    e->accept();
}

void ViewWidget::keyPressEvent(QKeyEvent* e) {
    e->accept();
    if (!view) return;
    auto ev = keyEvent(*e);
    if (!ev) return;
    ev->window = view->window();
    if (ev->type == EventType::KeyUp) {
        QPointer<ViewWidget> self(this);
        holdKeyRelease(this, *ev, [self](const Event& up) {
            if (!self || !self->view) return;
            HandlerScope scope(self);
            self->view->dispatch(up);
        });
        return;
    }
    if (ev->type == EventType::KeyDown && takeHeldRelease(ev->keyCode)) ev->isARepeat = true;
    HandlerScope scope(this);
    view->dispatch(*ev);
}

void ViewWidget::keyReleaseEvent(QKeyEvent* e) {
    keyPressEvent(e);
}

void ViewWidget::enterEvent(QEnterEvent* e) {
    if (!view) return;
    HandlerScope scope(this);
    trackPointer(window(), e->globalPosition());
}

void ViewWidget::leaveEvent(QEvent*) {
    if (!view) return;
    HandlerScope scope(this);
    // Moving onto a subview is no exit from this view; only leaving the
    // whole tree is.
    if (!view->superview()) trackPointer(window(), std::nullopt);
}

void ViewWidget::dragEnterEvent(QDragEnterEvent* e) {
    if (!view) return;
    HandlerScope scope(this);
    const DraggingInfo info = draggingInfo(*e, *view);
    bool ok = view->draggingEntered(info);
    view->impl().dragAccepted = ok;
    view->impl().dragFiles = info.filePaths;
    view->impl().dragUrls = info.urls;
    if (ok)
        e->acceptProposedAction();
    else
        e->ignore();
}

void ViewWidget::dragMoveEvent(QDragMoveEvent* e) {
    if (view && view->impl().dragAccepted)
        e->acceptProposedAction();
    else
        e->ignore();
}

void ViewWidget::dragLeaveEvent(QDragLeaveEvent*) {
    if (!view) return;
    HandlerScope scope(this);
    view->impl().dragAccepted = false;
    view->impl().dragFiles.clear();
    view->impl().dragUrls.clear();
    view->draggingExited();
}

void ViewWidget::dropEvent(QDropEvent* e) {
    if (!view) return;
    HandlerScope scope(this);
    view->impl().dragAccepted = false;
    DraggingInfo info;
    info.filePaths = std::move(view->impl().dragFiles);
    info.urls = std::move(view->impl().dragUrls);
    if (info.filePaths.empty() && info.urls.empty()) info = draggingInfo(*e, *view);
    info.location = qt::fromQt(*view, e->position());
    info.fromThisApplication = e->source() != nullptr;
    view->impl().dragFiles.clear();
    view->impl().dragUrls.clear();
    if (view->performDragOperation(info))
        e->acceptProposedAction();
    else
        e->ignore();
}

QWidget* viewWidget(const View& view) {
    return view.impl().widget;
}

QPointF toQtF(const View& view, Point p) {
    return {p.x, view.isFlipped() ? p.y : view.frame().height() - p.y};
}
QPoint toQt(const View& view, Point p) {
    QPointF f = toQtF(view, p);
    return {roundi(f.x()), roundi(f.y())};
}
Point fromQt(const View& view, QPointF p) {
    return {p.x(), view.isFlipped() ? p.y() : view.frame().height() - p.y()};
}

View* viewOf(QWidget* widget) {
    auto* vw = dynamic_cast<ViewWidget*>(widget);
    return vw ? vw->view : nullptr;
}

void trackPointer(QWidget* topLevel, std::optional<QPointF> globalPos) {
    // Copy: handlers may add or remove areas and views.
    std::vector<View*> views = trackedViews();
    for (View* v : views) {
        auto& list = trackedViews();
        if (std::find(list.begin(), list.end(), v) == list.end()) continue;
        QWidget* w = viewWidget(*v);
        if (w->window() != topLevel) continue;
        bool visible = w->isVisible() && !v->isHiddenOrHasHiddenAncestor();
        std::optional<Point> local;
        if (globalPos && visible) local = fromQt(*v, w->mapFromGlobal(*globalPos));
        bool keyWindow = topLevel->isActiveWindow();
        // Cursor rects: the last matching rect wins.
        if (!v->impl().cursorRects.empty() || v->impl().cursor) {
            std::optional<Cursor> c = v->impl().cursor;
            if (local)
                for (auto& [r, cur] : v->impl().cursorRects)
                    if (r.contains(*local)) c = cur;
            if (c)
                w->setCursor(toQCursor(*c));
            else
                w->unsetCursor();
        }
        // Areas are re-read by id after each call, as handlers may change them.
        std::vector<int> ids;
        for (auto& a : v->trackingAreas()) ids.push_back(a.id);
        for (int id : ids) {
            auto& areas = const_cast<std::vector<View::TrackingArea>&>(v->trackingAreas());
            auto it = std::find_if(areas.begin(), areas.end(), [&](auto& a) { return a.id == id; });
            if (it == areas.end()) continue;
            bool active = !(it->options & TrackingOption::ActiveInKeyWindow) || keyWindow ||
                          (it->options & TrackingOption::ActiveAlways);
            Rect r = (it->options & TrackingOption::InVisibleRect) ? v->bounds() : it->rect;
            bool inside = active && local && r.contains(*local) && v->bounds().contains(*local);
            Event ev;
            ev.timestamp = eventTime();
            ev.window = v->window();
            ev.modifierFlags = modifierFlagsFromQt(QGuiApplication::keyboardModifiers());
            if (local) ev.locationInWindow = v->convert(*local, nullptr);
            auto handler = it->handler;
            auto send = [&](EventType type, void (View::*method)(const Event&)) {
                ev.type = type;
                if (handler)
                    handler(ev);
                else
                    (v->*method)(ev);
            };
            bool was = it->inside;
            it->inside = inside;
            if (inside != was && (it->options & TrackingOption::MouseEnteredAndExited))
                send(inside ? EventType::MouseEntered : EventType::MouseExited,
                     inside ? &View::mouseEntered : &View::mouseExited);
            else if (inside && was && (it->options & TrackingOption::MouseMoved))
                send(EventType::MouseMoved, &View::mouseMoved);
            if (std::find(trackedViews().begin(), trackedViews().end(), v) == trackedViews().end()) break;
        }
    }
}

}  // namespace qt

// ---- View ----------------------------------------------------------------------

View::View(const Rect& frame) : d_(std::make_unique<Private>()), frame_(frame) {
    d_->widget = new qt::ViewWidget(this);
    layer_ = Layer::make();
    layer_->setAnchorPoint({0, 0});
    layer_->setPosition({0, 0});
    layer_->setBounds(bounds());
    QWidget* w = d_->widget;
    layer_->setDisplayObserver([this, w] {
        w->update();
        propagateLayerOpacity();
    });
    d_->dark = isDarkAppearance();
    placeWidget();
}

View::~View() {
    setTracked(this, false);
    for (auto& s : subviews_) {
        s->superview_ = nullptr;
        // The subview may live on elsewhere; its widget must not die with ours.
        s->d_->widget->setParent(nullptr);
    }
    layer_->setDisplayObserver({});
    qt::ViewWidget* w = d_->widget;
    w->view = nullptr;
    if (w->depth > 0) {
        // Destroyed from inside one of its own handlers: let Qt finish first.
        w->hide();
        w->setParent(nullptr);
        w->deleteLater();
    } else {
        delete w;
    }
}

void View::setFrame(const Rect& frame) {
    Size old = frame_.size;
    frame_ = frame;
    placeWidget();
    if (old != frame.size) {
        layer_->setBounds(bounds());
        resizeSubviews(old);
        for (auto& s : subviews_) s->placeWidget();
        updateTrackingAreas();
        layout();
    }
}

void View::placeWidget() {
    QWidget* w = d_->widget;
    double y = frame_.y();
    if (superview_ && !superview_->isFlipped())
        y = superview_->frame_.height() - frame_.y() - frame_.height();
    if (!superview_ && window_) return;  // the window sizes its content view
    w->setGeometry(roundi(frame_.x()), roundi(y), std::max(0, roundi(frame_.width())),
                   std::max(0, roundi(frame_.height())));
}

void View::resizeSubviews(Size oldSize) {
    Size now = frame_.size;
    for (auto& s : subviews_) {
        unsigned m = s->autoresizing_;
        if (m == Autoresizing::None) continue;
        Rect f = s->frame_;
        // Spreads a change over the flexible parts in proportion to their extents.
        auto spread = [](double delta, double oldTotal, double& lo, double& size, double& hi, bool flo,
                         bool fsize, bool fhi) {
            (void)oldTotal;
            double weights = (flo ? lo : 0) + (fsize ? size : 0) + (fhi ? hi : 0);
            int n = int(flo) + int(fsize) + int(fhi);
            if (n == 0) return;
            auto share = [&](bool flex, double v) {
                if (!flex) return 0.0;
                return weights > 0 ? delta * v / weights : delta / n;
            };
            double dl = share(flo, lo), ds = share(fsize, size);
            lo += dl;
            size += ds;
            hi += delta - dl - ds;
        };
        double left = f.x(), width = f.width(), right = oldSize.width - f.x() - f.width();
        spread(now.width - oldSize.width, oldSize.width, left, width, right, m & Autoresizing::MinXMargin,
               m & Autoresizing::WidthSizable, m & Autoresizing::MaxXMargin);
        // In y-up space the min-y margin is the bottom one; flipped views swap them.
        bool flipped = isFlipped();
        double bottom = f.y(), height = f.height(), top = oldSize.height - f.y() - f.height();
        bool flexLow = flipped ? (m & Autoresizing::MaxYMargin) : (m & Autoresizing::MinYMargin);
        bool flexHigh = flipped ? (m & Autoresizing::MinYMargin) : (m & Autoresizing::MaxYMargin);
        spread(now.height - oldSize.height, oldSize.height, bottom, height, top, flexLow,
               m & Autoresizing::HeightSizable, flexHigh);
        s->setFrame({left, bottom, std::max(0.0, width), std::max(0.0, height)});
    }
}

void View::setFlipped(bool flipped) {
    if (flipped_ == flipped) return;
    flipped_ = flipped;
    layer_->setGeometryFlipped(flipped);
    for (auto& s : subviews_) s->placeWidget();
}

void View::addSubview(std::shared_ptr<View> view) {
    addSubview(std::move(view), true, nullptr);
}

void View::addSubview(std::shared_ptr<View> view, bool above, const View* relativeTo) {
    if (!view || view.get() == this) return;
    Window* oldWindow = view->window();
    std::shared_ptr<View> keep = view;
    if (view->superview_) view->removeFromSuperview();
    auto pos = subviews_.end();
    if (relativeTo) {
        pos =
            std::find_if(subviews_.begin(), subviews_.end(), [&](auto& s) { return s.get() == relativeTo; });
        if (pos != subviews_.end() && above) ++pos;
    } else if (!above) {
        pos = subviews_.begin();
    }
    pos = subviews_.insert(pos, keep);
    view->superview_ = this;
    QWidget* w = view->d_->widget;
    w->setParent(d_->widget);
    // Qt stacks siblings by raise/stackUnder; mirror the vector's order.
    auto next = pos + 1;
    if (next != subviews_.end())
        w->stackUnder((*next)->d_->widget);
    else
        w->raise();
    view->placeWidget();
    w->setVisible(!view->hidden_);
    view->inheritedOpacity_ = propagatedOpacity_;
    view->applyWidgetOpacity();
    if (oldWindow != view->window()) view->notifyWindowChanged();
}

void View::removeFromSuperview() {
    View* sup = superview_;
    if (!sup) return;
    Window* oldWindow = window();
    auto self = shared_from_this();  // keep alive until done
    d_->widget->hide();
    d_->widget->setParent(nullptr);
    superview_ = nullptr;
    inheritedOpacity_ = 1;
    applyWidgetOpacity();
    std::erase_if(sup->subviews_, [&](auto& s) { return s.get() == this; });
    if (oldWindow) notifyWindowChanged();
}

void View::notifyWindowChanged() {
    viewDidMoveToWindow();
    for (auto& s : subviews_) s->notifyWindowChanged();
}

bool View::isDescendantOf(const View& other) const {
    for (const View* v = this; v; v = v->superview_)
        if (v == &other) return true;
    return false;
}

Window* View::window() const {
    const View* v = this;
    while (v->superview_) v = v->superview_;
    return v->window_;
}

void View::setHidden(bool hidden) {
    bool changed = hidden_ != hidden;
    hidden_ = hidden;
    // A widget without a parent would show as a window of its own.
    if (d_->widget->parentWidget()) d_->widget->setVisible(!hidden);
    if (changed && superview_) superview_->subviewHiddenDidChange(*this);
}

bool View::isHiddenOrHasHiddenAncestor() const {
    for (const View* v = this; v; v = v->superview_)
        if (v->hidden_) return true;
    return false;
}

void View::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    applyWidgetOpacity();
}

void View::applyWidgetOpacity() {
    double opacity = alpha_ * inheritedOpacity_;
    QWidget* w = d_->widget;
    if (opacity >= 1) {
        w->setGraphicsEffect(nullptr);
        return;
    }
    auto* effect = dynamic_cast<QGraphicsOpacityEffect*>(w->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(w);
        w->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

// The root layer's opacity (as drawn now, animations included) applies to the
// view's own drawing through the renderer and to its subviews through theirs.
void View::propagateLayerOpacity() {
    double opacity = std::clamp(layer_->presented("opacity", layer_->opacity()), 0.0, 1.0);
    if (opacity == propagatedOpacity_) return;
    propagatedOpacity_ = opacity;
    for (auto& s : subviews_) {
        s->inheritedOpacity_ = opacity;
        s->applyWidgetOpacity();
    }
}

void View::setNeedsDisplay() {
    d_->widget->update();
}

void View::setToolTip(std::string tip) {
    toolTip_ = std::move(tip);
    d_->widget->setToolTip(QString::fromStdString(toolTip_));
}

bool View::isDarkAppearance() const {
    return d_->widget->palette().color(QPalette::Window).lightness() < 128;
}

double View::backingScaleFactor() const {
    return std::max(1.0, std::round(d_->widget->devicePixelRatioF()));
}

// ---- Coordinates ---------------------------------------------------------------

namespace {
// One step up: a point of `v` in its superview's space.
Point toSuper(const View& v, Point p) {
    Rect f = v.frame();
    double yup = v.isFlipped() ? f.height() - p.y : p.y;
    bool supFlipped = v.superview() && v.superview()->isFlipped();
    return {f.x() + p.x, supFlipped ? f.y() + (f.height() - yup) : f.y() + yup};
}
Point fromSuper(const View& v, Point p) {
    Rect f = v.frame();
    bool supFlipped = v.superview() && v.superview()->isFlipped();
    double yup = supFlipped ? f.height() - (p.y - f.y()) : p.y - f.y();
    return {p.x - f.x(), v.isFlipped() ? f.height() - yup : yup};
}
// The root view's space as y-up content space.
Point toContent(const View& v, Point p) {
    const View* cur = &v;
    while (cur->superview()) {
        p = toSuper(*cur, p);
        cur = cur->superview();
    }
    return cur->isFlipped() ? Point{p.x, cur->frame().height() - p.y} : p;
}
Point fromContent(const View& v, Point p) {
    std::vector<const View*> chain;
    for (const View* cur = &v; cur; cur = cur->superview()) chain.push_back(cur);
    const View* root = chain.back();
    if (root->isFlipped()) p.y = root->frame().height() - p.y;
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) p = fromSuper(**it, p);
    return p;
}
}  // namespace

Point View::convert(Point p, const View* to) const {
    Point c = toContent(*this, p);
    return to ? fromContent(*to, c) : c;
}

Point View::convertFrom(Point p, const View* from) const {
    Point c = from ? toContent(*from, p) : p;
    return fromContent(*this, c);
}

Rect View::convert(const Rect& r, const View* to) const {
    Point a = convert(Point{r.minX(), r.minY()}, to), b = convert(Point{r.maxX(), r.maxY()}, to);
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y));
}

Rect View::convertFrom(const Rect& r, const View* from) const {
    Point a = convertFrom(Point{r.minX(), r.minY()}, from), b = convertFrom(Point{r.maxX(), r.maxY()}, from);
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y));
}

Point View::convertToScreen(Point p) const {
    QPointF g = d_->widget->mapToGlobal(qt::toQtF(*this, p));
    return Displays::fromWindowServer(Point{g.x(), g.y()});
}

Point View::convertFromScreen(Point p) const {
    Point s = Displays::toWindowServer(p);
    return qt::fromQt(*this, d_->widget->mapFromGlobal(QPointF(s.x, s.y)));
}

Rect View::convertToScreen(const Rect& r) const {
    Point a = convertToScreen(Point{r.minX(), r.minY()}), b = convertToScreen(Point{r.maxX(), r.maxY()});
    return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y));
}

// ---- Events ----------------------------------------------------------------------

void View::passToNextResponder(const Event& e) {
    if (superview_) {
        superview_->dispatch(e);
        return;
    }
    if (!window_) {
        if (e.type != EventType::KeyDown) return;
        if (auto* holder = dynamic_cast<qt::KeyFallback*>(impl().widget->parentWidget()))
            holder->unhandledKeyDown(e);
        return;
    }
    if (e.type == EventType::LeftMouseDown && window_->isMovableByWindowBackground()) {
        if (QWindow* handle = qt::windowWidget(*window_)->windowHandle()) handle->startSystemMove();
    }
    switch (e.type) {
        case EventType::KeyDown:
            window_->keyDown(e);
            break;
        case EventType::KeyUp:
            window_->keyUp(e);
            break;
        case EventType::FlagsChanged:
            window_->flagsChanged(e);
            break;
        default:
            window_->mouseEvent(e);
            break;
    }
}

void View::mouseDown(const Event& e) {
    passToNextResponder(e);
}
void View::mouseDragged(const Event& e) {
    passToNextResponder(e);
}
void View::mouseUp(const Event& e) {
    passToNextResponder(e);
}
void View::rightMouseDown(const Event& e) {
    passToNextResponder(e);
}
void View::rightMouseDragged(const Event& e) {
    passToNextResponder(e);
}
void View::rightMouseUp(const Event& e) {
    passToNextResponder(e);
}
void View::otherMouseDown(const Event& e) {
    passToNextResponder(e);
}
void View::otherMouseDragged(const Event& e) {
    passToNextResponder(e);
}
void View::otherMouseUp(const Event& e) {
    passToNextResponder(e);
}
void View::mouseMoved(const Event&) {}
void View::mouseEntered(const Event&) {}
void View::mouseExited(const Event&) {}
void View::scrollWheel(const Event& e) {
    passToNextResponder(e);
}
void View::magnify(const Event& e) {
    passToNextResponder(e);
}
void View::keyDown(const Event& e) {
    passToNextResponder(e);
}
void View::keyUp(const Event& e) {
    passToNextResponder(e);
}
void View::flagsChanged(const Event& e) {
    passToNextResponder(e);
}

void View::dispatch(const Event& e) {
    switch (e.type) {
        case EventType::LeftMouseDown:
            mouseDown(e);
            break;
        case EventType::LeftMouseUp:
            mouseUp(e);
            break;
        case EventType::LeftMouseDragged:
            mouseDragged(e);
            break;
        case EventType::RightMouseDown:
            rightMouseDown(e);
            break;
        case EventType::RightMouseUp:
            rightMouseUp(e);
            break;
        case EventType::RightMouseDragged:
            rightMouseDragged(e);
            break;
        case EventType::OtherMouseDown:
            otherMouseDown(e);
            break;
        case EventType::OtherMouseUp:
            otherMouseUp(e);
            break;
        case EventType::OtherMouseDragged:
            otherMouseDragged(e);
            break;
        case EventType::MouseMoved:
            mouseMoved(e);
            break;
        case EventType::MouseEntered:
            mouseEntered(e);
            break;
        case EventType::MouseExited:
            mouseExited(e);
            break;
        case EventType::ScrollWheel:
            scrollWheel(e);
            break;
        case EventType::Magnify:
            magnify(e);
            break;
        case EventType::KeyDown:
            keyDown(e);
            break;
        case EventType::KeyUp:
            keyUp(e);
            break;
        case EventType::FlagsChanged:
            flagsChanged(e);
            break;
    }
}

bool View::makeFirstResponder() {
    if (!acceptsFirstResponder()) return false;
    d_->widget->setFocusPolicy(Qt::StrongFocus);
    d_->widget->setFocus(Qt::OtherFocusReason);
    return true;
}

bool View::isFirstResponder() const {
    return d_->widget->hasFocus();
}

void View::setIgnoresMouse(bool ignores) {
    d_->widget->setAttribute(Qt::WA_TransparentForMouseEvents, ignores);
}

// ---- Tracking and cursors ------------------------------------------------------------

int View::addTrackingArea(const Rect& rect, unsigned options, std::function<void(const Event&)> handler) {
    TrackingArea a;
    a.id = nextTrackingId_++;
    a.rect = rect;
    a.options = options;
    a.handler = std::move(handler);
    trackingAreas_.push_back(std::move(a));
    setTracked(this, true);
    return trackingAreas_.back().id;
}

void View::removeTrackingArea(int id) {
    std::erase_if(trackingAreas_, [&](auto& a) { return a.id == id; });
    setTracked(this, !trackingAreas_.empty() || !d_->cursorRects.empty() || d_->cursor);
}

void View::removeAllTrackingAreas() {
    trackingAreas_.clear();
    setTracked(this, !d_->cursorRects.empty() || d_->cursor);
}

void View::setCursor(std::optional<Cursor> cursor) {
    d_->cursor = std::move(cursor);
    if (d_->cursor)
        d_->widget->setCursor(qt::toQCursor(*d_->cursor));
    else
        d_->widget->unsetCursor();
    setTracked(this, !trackingAreas_.empty() || !d_->cursorRects.empty() || d_->cursor);
}

void View::addCursorRect(const Rect& rect, const Cursor& cursor) {
    d_->cursorRects.emplace_back(rect, cursor);
    setTracked(this, true);
}

void View::resetCursorRects() {
    d_->cursorRects.clear();
    setTracked(this, !trackingAreas_.empty() || d_->cursor);
}

// ---- Drag and drop ---------------------------------------------------------------------

void View::registerForDraggedFilesAndImages(bool on) {
    d_->acceptsDrops = on;
    d_->widget->setAcceptDrops(on);
}

bool View::beginDraggingFile(const std::string& path, const Image& dragImage, std::optional<Point> hotSpot) {
    auto* drag = new QDrag(d_->widget);
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    drag->setMimeData(mime);
    if (!dragImage.isNull()) {
        QPixmap pm = QPixmap::fromImage(qt::wrap(dragImage).copy());
        pm.setDevicePixelRatio(dragImage.scale());
        drag->setPixmap(pm);
        Point at = hotSpot.value_or(
            Point{pm.width() / pm.devicePixelRatio() / 2, pm.height() / pm.devicePixelRatio() / 2});
        drag->setHotSpot(QPoint(int(std::lround(at.x)), int(std::lround(at.y))));
    }
    Qt::DropAction result = drag->exec(Qt::CopyAction);
    return result != Qt::IgnoreAction;
}

Image View::snapshot(double scale) const {
    QWidget* w = d_->widget;
    QImage img(int(std::ceil(w->width() * scale)), int(std::ceil(w->height() * scale)),
               QImage::Format_ARGB32_Premultiplied);
    if (img.isNull()) return {};
    img.setDevicePixelRatio(scale);
    img.fill(Qt::transparent);
    w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return qt::toImage(img, scale);
}

}  // namespace kit
