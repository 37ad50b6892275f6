#include "capture/PinWindowController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "capture/CaptureHost.h"
#include "capture/PinViewController.h"
#include "kit/base/Timer.h"
#include "kit/desktop/Screen.h"
#include "kit/image/Memory.h"
#include "kit/ui/Application.h"

namespace capture {

namespace pinsize {

int roundHalfAway(double v) {
    return int(std::round(v));  // std::round rounds halves away from zero
}

kit::Size openSize(double width, double height, std::optional<kit::Size> screen) {
    const double sw = screen ? screen->width : 960;
    const double sh = screen ? screen->height : 576;
    const double f = (width >= 0.75 * sw || height >= 0.75 * sh) ? 0.5 : 1.0;
    return {std::max(width * f, kMinSide), std::max(height * f, kMinSide)};
}

int zoomStep(int currentZoom, bool in) {
    // The cube root of two and its reciprocal: three steps double or halve.
    double z = currentZoom * (in ? 1.25993 : 0.7936948878112277);
    const double grid = z > 90 ? 25 : 5;
    z = std::round(z / grid) * grid;
    return int(z);
}

bool zoomAllowed(int currentZoom, double width, double screenWidth, bool in) {
    const double w = currentZoom * width / 100;
    return in ? w < 2 * screenWidth : w > 100;
}

kit::Size snapResize(kit::Size proposed, double width, double height) {
    if (width == 0) return proposed;
    const double r = proposed.width / width;
    double snap = r;
    if (r > 0.44 && r < 0.55)
        snap = 0.5;
    else if (r > 0.95 && r < 1.05)
        snap = 1.0;
    else if (r > 1.92 && r < 2.08)
        snap = 2.0;
    kit::Size s = proposed;
    if (snap != r) s = {width * snap, height * snap};
    return {std::max(s.width, kMinSide), std::max(s.height, kMinSide)};
}

bool ScrollAccumulator::feed(double deltaY, bool precise) {
    if (!precise) return true;
    total += deltaY;
    if (std::abs(total) <= 20) return false;
    total -= total > 0 ? 20 : -20;
    return true;
}

unsigned resizeEdges(kit::Size bounds, kit::Point p) {
    using E = kit::Window::ResizeEdge;
    unsigned edges = 0;
    if (p.x < kEdgeBand) edges |= E::Left;
    if (p.x >= bounds.width - kEdgeBand) edges |= E::Right;
    if (p.y < kEdgeBand) edges |= E::Bottom;
    if (p.y >= bounds.height - kEdgeBand) edges |= E::Top;
    return edges;
}

bool nearestFilter(int zoomPercent) {
    return zoomPercent >= 200;
}

}  // namespace pinsize

namespace {

// The pin's window hands the keys no view took to its controller.
class PinWindow : public kit::Window {
public:
    PinWindow(const kit::Rect& r, unsigned style) : kit::Window(r, style) {}
    PinWindowController* owner = nullptr;
    void keyDown(const kit::Event& e) override {
        if (owner) owner->keyDown(e);
    }
};

std::optional<kit::Size> screenSize(const kit::Window& w) {
    const kit::Size s = w.screen().frame.size;
    if (s.width <= 0 || s.height <= 0) return std::nullopt;
    return s;
}

}  // namespace

PinWindowController::PinWindowController(int64_t id) : id_(id) {
    auto win = std::make_unique<PinWindow>(kit::Rect{0, 0, 100, 100}, kit::WindowStyle::Closable |
                                                                          kit::WindowStyle::Resizable |
                                                                          kit::WindowStyle::Utility);
    win->owner = this;
    win->setTitle("Kadrix Pin");
    window_ = std::move(win);
    controller_ = std::make_shared<PinViewController>(kit::Rect{0, 0, 100, 100}, *this);
    window_->setContentView(controller_);
}

PinWindowController::~PinWindowController() {
    image_ = {};
    if (controller_) controller_->clearImage();
    if (window_) static_cast<PinWindow*>(window_.get())->owner = nullptr;
    std::puts("DEINIT!");
}

void PinWindowController::pin(const kit::Image& image, kit::Point center) {
    if (!window_ || image.isNull()) return;
    image_ = image;
    dpr_ = host().editorDpr();
    if (!(dpr_ > 0)) dpr_ = 1.0;
    width_ = image.width() / dpr_;
    height_ = image.height() / dpr_;
    pinTime_ = kit::wallNow();

    // The window is placed on the screen that holds the centre.
    const kit::Point c = kit::Displays::fromWindowServer(center);
    std::optional<kit::Size> screen;
    if (auto d = kit::Displays::at(c)) screen = d->frame.size;
    if (!screen) screen = screenSize(*window_);
    const kit::Size size = pinsize::openSize(width_, height_, screen);

    controller_->setImage(image);

    kit::Window& w = *window_;
    w.setOpaque(false);
    w.setBackgroundColor(kit::Color::clear());
    w.setMovableByWindowBackground(true);
    w.setSticky(true);
    resizingOurselves_ = true;
    w.setFrame({c.x - size.width / 2, c.y - size.height / 2, size.width, size.height});
    resizingOurselves_ = false;
    w.setAspectRatio({width_, height_});
    w.setMinSize({pinsize::kMinSide, pinsize::kMinSide});
    w.setLevel(kit::WindowLevel::Floating);
    w.setDelegate(weak_from_this());
    fitShape();
    w.makeKeyAndOrderFront();
    updateZoom();
}

void PinWindowController::close() {
    if (closed_) return;
    closed_ = true;
    snapTimer_.invalidate();
    if (window_) window_->close();
    host().event("pin:close", {{"duration", int64_t(pinsize::roundHalfAway(kit::wallNow() - pinTime_))}});
    // The core drops this controller; it must not go while we are still on
    // the stack, so the core releases it from the main queue.
    host().removePin(id_);
    // Its picture and window go with it: give their pages back.
    kit::memory::returnFreedMemorySoon();
}

bool PinWindowController::windowShouldClose(kit::Window&) {
    close();
    return false;
}

double PinWindowController::screenWidth() const {
    if (window_) {
        if (auto s = screenSize(*window_)) return s->width;
    }
    return 1920;
}

void PinWindowController::setFrameAround(kit::Size size) {
    if (!window_) return;
    const kit::Point mid = window_->frame().center();
    resizingOurselves_ = true;
    window_->setFrame({mid.x - size.width / 2, mid.y - size.height / 2, size.width, size.height});
    resizingOurselves_ = false;
    updateZoom();
}

void PinWindowController::zoom(bool in) {
    if (!pinsize::zoomAllowed(currentZoom_, width_, screenWidth(), in)) return;
    const int z = pinsize::zoomStep(currentZoom_, in);
    setFrameAround({z * width_ / 100, z * height_ / 100});
    host().repeatableEvent(in ? "pin:zoomIn" : "pin:zoomOut", {{"scale", int64_t(currentZoom_)}});
}

void PinWindowController::zoomTo(int percent) {
    setFrameAround({width_ * percent / 100, height_ * percent / 100});
}

void PinWindowController::updateZoom() {
    if (width_ < 0.5 || !window_) return;
    const kit::Rect f = window_->frame();
    const double z = std::max(f.width() * 100 / width_, f.height() * 100 / height_);
    currentZoom_ = int(z);
    if (controller_) controller_->showZoom(pinsize::roundHalfAway(z));
}

void PinWindowController::fitShape() {
    // Where nothing shows through (no compositor) the clear corners would be
    // black: the window takes the picture's rounded outline, at every size.
    if (!window_ || kit::Application::hasCompositor()) return;
    const kit::Size s = window_->frame().size;
    window_->setShape(kit::Window::roundedShape({0, 0, s.width, s.height}, PinViewController::kCornerRadius));
}

void PinWindowController::windowDidResize(kit::Window&) {
    fitShape();
    updateZoom();
    if (resizingOurselves_) return;
    // X11 has no hook before a live resize: snap once the user has let go
    // (no resize for a moment).
    snapTimer_ = kit::Timer::once(0.25, [this] { snapAfterResize(); });
}

void PinWindowController::snapAfterResize() {
    if (!window_ || closed_) return;
    // Still held, though the size has rested: the window manager would set
    // its own size over the snapped one as the edge moves on or is let go.
    if (kit::pointerButtonHeld()) {
        snapTimer_ = kit::Timer::once(0.1, [this] { snapAfterResize(); });
        return;
    }
    const kit::Rect f = window_->frame();
    const kit::Size s = pinsize::snapResize(f.size, width_, height_);
    const double dpr = host().editorDpr();
    host().repeatableEvent("pin:resize",
                           {{"width", int64_t(s.width * dpr)},
                            {"height", int64_t(s.height * dpr)},
                            {"scale", int64_t(std::max(pinsize::roundHalfAway(s.width * 100 / width_),
                                                       pinsize::roundHalfAway(s.height * 100 / height_)))}});
    if (s == f.size) return;
    // The top-left corner stays where the user left it.
    resizingOurselves_ = true;
    window_->setFrame({f.minX(), f.maxY() - s.height, s.width, s.height});
    resizingOurselves_ = false;
    updateZoom();
}

void PinWindowController::windowDidResignKey(kit::Window&) {
    if (controller_) controller_->hideToolbar();
}

void PinWindowController::keyDown(const kit::Event& e) {
    using namespace kit::KeyCode;
    const bool cmd = e.has(kit::ModifierFlag::Command);
    switch (e.keyCode) {
        case Q:
        case W:
            if (cmd) close();
            return;
        case Zero:
        case Keypad0:
        case Five:
        case Keypad5:
            host().preset("pin:transparency", {{"method", "pin:shortcut"}});
            if (controller_)
                controller_->setTransparency(e.keyCode == Zero || e.keyCode == Keypad0 ? 100 : 50);
            return;
        case Equal:
        case KeypadPlus:
            zoom(true);
            return;
        case Minus:
        case KeypadMinus:
            zoom(false);
            return;
        case LeftArrow:
        case RightArrow:
        case DownArrow:
        case UpArrow: {
            if (!window_) return;
            const double s = e.has(kit::ModifierFlag::Shift) ? 10 : 1;
            kit::Point o = window_->frame().origin;
            if (e.keyCode == LeftArrow) o.x -= s;
            if (e.keyCode == RightArrow) o.x += s;
            if (e.keyCode == DownArrow) o.y -= s;
            if (e.keyCode == UpArrow) o.y += s;
            window_->setFrameOrigin(o);
            return;
        }
        default:
            return;
    }
}

}  // namespace capture
