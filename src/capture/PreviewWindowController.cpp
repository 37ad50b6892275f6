#include "capture/PreviewWindowController.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "capture/CaptureHost.h"
#include "capture/PreviewViewController.h"
#include "kit/base/Displays.h"
#include "kit/ui/Application.h"
#include "services/KeyCombo.h"

namespace capture {

namespace previewsize {

namespace {
constexpr double kImageWidth = 186, kImageCap = 190, kReservedHeight = 20, kChrome = 45;
}

Layout layout(int w, int h, bool autoClosing) {
    const double p = autoClosing ? 9 : 25;
    int i = int(std::round(h * kImageWidth / w));
    i = std::min(i, int(kImageCap));
    const double H = std::max<double>(i, kReservedHeight) + kChrome + p;
    const int c = int(std::round(double(w) * i / h));
    return {i, H, c};
}

kit::Point place(kit::Point P, kit::Point Q, const kit::Rect& r, double H,
                 const std::vector<kit::Rect>& screenFrames) {
    double x = std::abs(r.maxX() - Q.x) < std::abs(r.minX() - Q.x) ? P.x - kWindowWidth : P.x;
    double y = std::abs(r.minY() - Q.y) < std::abs(r.maxY() - Q.y) ? P.y - H : P.y;
    for (const kit::Rect& f : screenFrames) {
        if (!f.contains(P)) continue;
        x = std::min(std::max(x, f.minX()), f.maxX() - kWindowWidth);
        y = std::min(std::max(y, f.minY()), f.maxY() - H);
    }
    return {x, y};
}

}  // namespace previewsize

namespace {

// The thumbnail's window hands the keys no view took to its controller.
class PreviewWindow : public kit::Window {
public:
    using kit::Window::Window;
    PreviewWindowController* owner = nullptr;
    void keyDown(const kit::Event& e) override {
        if (owner) owner->handleKey(e);
    }
};

bool autoClosing() {
    return host().getString("thumbnailClosing", "manual") == "auto";
}

}  // namespace

PreviewWindowController::PreviewWindowController() {
    auto win = std::make_unique<PreviewWindow>(kit::Rect{0, 0, previewsize::kWindowWidth, 163},
                                               kit::WindowStyle::Borderless | kit::WindowStyle::Utility);
    win->owner = this;
    win->setTitle("Kadrix Preview");
    window_ = std::move(win);
    kit::Window& w = *window_;
    w.setOpaque(false);
    w.setBackgroundColor(kit::Color::clear());
    // Above everything, yet managed and focusable, so its keys reach it.
    w.setLevel(kit::WindowLevel::Floating);
    w.setSticky(true);
    w.setMovableByWindowBackground(true);
    content_ =
        std::make_shared<PreviewViewController>(kit::Rect{0, 0, previewsize::kWindowWidth, 163}, *this);
    w.setContentView(content_);

    // Escape and Tab reach the thumbnail before any button can take them.
    monitor_ =
        kit::LocalEventMonitor::add(kit::LocalEventMonitor::Mask::KeyDown, [this](const kit::Event& e) {
            if (!window_ || !window_->isKeyWindow()) return true;
            if (e.keyCode != kit::KeyCode::Escape && e.keyCode != kit::KeyCode::Tab) return true;
            handleKey(e);
            return false;
        });
}

PreviewWindowController::~PreviewWindowController() {
    if (monitor_) kit::LocalEventMonitor::remove(monitor_);
    if (window_) static_cast<PreviewWindow*>(window_.get())->owner = nullptr;
}

bool PreviewWindowController::isShowing() const {
    return window_ && window_->isVisible();
}

void PreviewWindowController::showPreview(const kit::Image& image, const kit::Rect& captureRect) {
    if (image.isNull() || !window_) return;
    window_->setDelegate(weak_from_this());
    content_->hideTooltip();
    const auto L = previewsize::layout(image.width(), image.height(), autoClosing());
    window_->setContentSize({previewsize::kWindowWidth, L.windowHeight});
    content_->setFrameSize({previewsize::kWindowWidth, L.windowHeight});

    const kit::Point P = kit::Displays::pointerLocation();
    const kit::Point Q = kit::Displays::toWindowServer(P);
    std::vector<kit::Rect> frames;
    for (const auto& d : kit::Displays::all()) frames.push_back(d.frame);
    const kit::Point origin = previewsize::place(P, Q, captureRect, L.windowHeight, frames);

    content_->setImage(image, L.containerWidth);
    window_->setFrameOrigin(origin);
    content_->applySettings();
    // Where nothing shows through, what the rounded panel leaves clear would
    // be black: the window takes the panel's outline, and under the panel's
    // soft edge the panel's own colour.
    const bool seeThrough = kit::Application::hasCompositor();
    window_->setShape(
        seeThrough ? std::vector<kit::Rect>{}
                   : kit::Window::roundedShape(content_->bounds(), PreviewViewController::kCornerRadius));
    window_->setBackgroundColor(seeThrough ? kit::Color::clear() : content_->panelColor());
    host().event("preview", {{"width", int64_t(L.containerWidth)}, {"height", int64_t(L.imageHeight)}});

    if (host().hideEditorForPreview()) {
        presentTimer_ = kit::Timer::once(0.1, [this] { present(); });
    } else {
        present();
    }
    content_->resetButtons();
}

void PreviewWindowController::present() {
    if (!window_) return;
    window_->makeKeyAndOrderFront();
    window_->requestActivation();
    host().activateApp();
}

void PreviewWindowController::closeWindow() {
    presentTimer_.invalidate();
    if (window_) window_->orderOut();
}

void PreviewWindowController::hidePreview() {
    content_->clearImage();
    closeWindow();
    host().event("hidePreview", kit::Json::object());
}

void PreviewWindowController::windowDidResignKey(kit::Window&) {
    if (!autoClosing() || !isShowing()) return;
    host().preset("hidePreview", {{"method", "blur"}});
    hidePreview();
}

void PreviewWindowController::handleKey(const kit::Event& e) {
    using namespace kit::KeyCode;
    const bool shift = e.has(kit::ModifierFlag::Shift), cmd = e.has(kit::ModifierFlag::Command);
    auto method = [&](bool withCmd, bool withShift) {
        return "preview:" + services::keyComboDescription(e.keyCode, {withShift || shift, withCmd || cmd});
    };
    auto preset = [&](const std::string& name, bool withCmd = true, bool withShift = false) {
        host().preset(name, {{"method", method(withCmd, withShift)}});
    };
    switch (e.keyCode) {
        case S:
            if (!cmd) return;
            if (shift) {
                preset("saveImageAs", true, true);
                host().hideMainWindow();
                host().saveCurrentAs();
            } else {
                preset("saveImage");
                host().saveCurrent(false);
            }
            return;
        case C:
            if (!cmd) return;
            preset("copyImage");
            host().copyCurrent();
            return;
        case Q:
        case W:
            if (cmd) host().hideMainWindow();
            return;
        case E:
        case F2:
            if (e.keyCode == E && !cmd) return;
            preset("uploadImage", e.keyCode == E);
            host().uploadCurrent();
            return;
        case O:
            if (!cmd) return;
            preset("ocr");
            host().hideMainWindow();
            host().recognizeCurrent();
            return;
        case P:
            if (!cmd) return;
            preset("pin");
            host().pinCurrent();
            return;
        case Return:
        case KeypadEnter:
            preset("show", false);
            host().bringUpEditor();
            return;
        case Escape:
            host().event("hidePreview",
                         {{"method", "hotkey:" + services::keyComboDescription(e.keyCode, {shift, cmd})}});
            if (host().getBool("copyOnEsc", true)) {
                preset("copyImage", false);
                host().copyCurrent();
            }
            if (host().getBool("saveOnEsc", false)) {
                preset("saveImage", false);
                host().saveCurrent(true);
                return;
            }
            hidePreview();
            return;
        default:
            return;
    }
}

}  // namespace capture
