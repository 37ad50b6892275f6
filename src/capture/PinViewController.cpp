#include "capture/PinViewController.h"

#include "capture/CaptureHost.h"
#include "capture/Capturer.h"
#include "controls/CtrlButton.h"
#include "controls/CtrlDragOutView.h"
#include "controls/ImageAssets.h"
#include "kit/base/Displays.h"
#include "kit/draw/Layer.h"
#include "kit/draw/TextLayer.h"
#include "kit/ui/Cursor.h"
#include "kit/ui/Window.h"

namespace capture {

namespace {
constexpr double kToolbarHeight = 30;
constexpr double kHideDelay = 0.4;
}  // namespace

PinViewController::PinViewController(const kit::Rect& frame, PinWindowController& owner)
    : kit::View(frame), owner_(owner) {
    using namespace kit::Autoresizing;
    setAutoresizingMask(WidthSizable | HeightSizable);
    layer()->setMasksToBounds(true);
    layer()->setCornerRadius(kCornerRadius);

    viewImage_ = kit::View::make(bounds());
    viewImage_->setAutoresizingMask(WidthSizable | HeightSizable);
    viewImage_->setIgnoresMouse(true);
    kit::Layer& img = *viewImage_->layer();
    img.setContentsGravity(kit::ContentsGravity::ResizeAspectFill);
    img.setCornerRadius(kCornerRadius);
    img.setMasksToBounds(true);
    addSubview(viewImage_);

    buildToolbar();
    buildMenu();

    // The tool bar shows while the pointer is over the pin.
    tracking_ = addTrackingArea(bounds(),
                                kit::TrackingOption::MouseEnteredAndExited |
                                    kit::TrackingOption::ActiveAlways | kit::TrackingOption::InVisibleRect,
                                [this](const kit::Event& e) {
                                    if (e.type == kit::EventType::MouseEntered) {
                                        cancelHideTimer();
                                        viewToolbar_->setHidden(false);
                                    } else if (e.type == kit::EventType::MouseExited) {
                                        startHideTimer();
                                    }
                                });
}

PinViewController::~PinViewController() = default;

void PinViewController::buildToolbar() {
    using namespace kit::Autoresizing;
    viewToolbar_ = kit::View::make({0, bounds().height() - kToolbarHeight, bounds().width(), kToolbarHeight});
    viewToolbar_->setAutoresizingMask(WidthSizable | MinYMargin);
    viewToolbar_->layer()->setBackgroundColor(kit::Color::white(0, 0.55));
    viewToolbar_->layer()->setCornerRadius(5);
    viewToolbar_->layer()->setMasksToBounds(true);
    viewToolbar_->setHidden(true);
    addSubview(viewToolbar_);

    btnClose_ = std::make_shared<controls::CtrlButton>(kit::Rect{6, 7, 16, 16});
    btnClose_->cornerRadius = 8;
    btnClose_->borderWidth = 0.5;
    btnClose_->borderColor = kit::Color::white(0, 0.4);
    btnClose_->backgroundColor = kit::Color{1.0, 0.37, 0.34, 1};
    btnClose_->backgroundColorHover = kit::Color{1.0, 0.37, 0.34, 1};
    btnClose_->backgroundColorPressed = kit::Color{0.75, 0.28, 0.25, 1};
    btnClose_->setToolTip("Close");
    btnClose_->action = [this](controls::ButtonBase&) { owner_.close(); };
    btnClose_->updateAppearance();
    viewToolbar_->addSubview(btnClose_);

    // The tool bar is dark in either appearance: its pictures use light ink.
    controls::ImageAssets::Look look = controls::ImageAssets::currentLook();
    look.dark = true;
    btnDragger_ = std::make_shared<controls::CtrlDragOut>(kit::Rect{28, 4, 22, 22});
    btnDragger_->setImage(controls::ImageAssets::named("16-menu-file", look));
    btnDragger_->setToolTip("Drag the image out as a file");
    viewToolbar_->addSubview(btnDragger_);

    auto textButton = [this](double x, double w, const std::string& title, const std::string& tip) {
        auto b = std::make_shared<controls::CtrlButton>(kit::Rect{x, 4, w, 22});
        b->setTitle(title);
        b->textColor = kit::Color::white(1);
        b->backgroundColor = kit::Color::white(1, 0.1);
        b->backgroundColorHover = kit::Color::white(1, 0.25);
        b->backgroundColorPressed = kit::Color::white(1, 0.35);
        b->setToolTip(tip);
        b->updateAppearance();
        viewToolbar_->addSubview(b);
        return b;
    };
    btnEdit_ = textButton(56, 38, "Edit", "Open in the editor");
    btnEdit_->action = [this](controls::ButtonBase&) {
        host().preset("pin:edit", {{"method", "pin:button"}});
        openInEditor();
    };
    btnCopy_ = textButton(98, 42, "Copy", "Copy to the clipboard");
    btnCopy_->action = [this](controls::ButtonBase&) {
        host().preset("copyImage", {{"method", "pin:button"}});
        copy();
    };

    textZoom_ = kit::TextLayer::make();
    textZoom_->setFontSize(11);
    textZoom_->setForegroundColor(kit::Color::white(1));
    textZoom_->setAlignmentMode(kit::TextAlignment::Right);
    textZoom_->setFrame({bounds().width() - 52, 8, 46, 15});
    viewToolbar_->layer()->addSublayer(textZoom_);
}

void PinViewController::buildMenu() {
    menuContextual_ = std::make_shared<kit::Menu>();
    kit::Menu& m = *menuContextual_;
    m.addItem("Edit", [this](kit::MenuItem&) {
        host().preset("pin:edit", {{"method", "pin:contextmenu"}});
        openInEditor();
    });
    m.addItem("Copy", [this](kit::MenuItem&) {
        host().preset("copyImage", {{"method", "pin:contextmenu"}});
        copy();
    });
    m.addSeparator();
    const std::pair<const char*, int> sizes[] = {
        {"Actual Size (100%)", 100}, {"Half Size (50%)", 50}, {"Double Size (200%)", 200}};
    for (const auto& [title, p] : sizes) {
        const int percent = p;
        m.addItem(title, [this, percent](kit::MenuItem&) {
            host().event("pin:zoomTo" + std::to_string(percent), {{"method", "pin:context"}});
            owner_.zoomTo(percent);
        });
    }
    m.addSeparator();
    miTransparency_ = &m.addItem("Transparent", [this](kit::MenuItem&) {
        host().preset("pin:transparency", {{"method", "pin:context"}});
        setTransparency(transparency_ == 100 ? 50 : 100);
    });
    m.addSeparator();
    m.addItem("Close", [this](kit::MenuItem&) { owner_.close(); });
}

void PinViewController::layout() {
    const double x = bounds().width() - 52;
    textZoom_->setFrame({x, 8, 46, 15});
    // On a narrow pin the read-out gives way to the buttons.
    textZoom_->setHidden(x < btnCopy_->frame().maxX() + 4);
    setEdgeCursors();
}

void PinViewController::setEdgeCursors() {
    const double W = bounds().width(), H = bounds().height(), b = pinsize::kEdgeBand;
    resetCursorRects();
    addCursorRect({0, 0, b, H}, kit::Cursor::resizeLeftRight());
    addCursorRect({W - b, 0, b, H}, kit::Cursor::resizeLeftRight());
    addCursorRect({0, 0, W, b}, kit::Cursor::resizeUpDown());
    addCursorRect({0, H - b, W, b}, kit::Cursor::resizeUpDown());
    // The corners, y up: top-left and bottom-right share one diagonal.
    addCursorRect({0, H - b, b, b}, kit::Cursor(kit::Cursor::Shape::ResizeDiagonalNWSE));
    addCursorRect({W - b, 0, b, b}, kit::Cursor(kit::Cursor::Shape::ResizeDiagonalNWSE));
    addCursorRect({0, 0, b, b}, kit::Cursor(kit::Cursor::Shape::ResizeDiagonalNESW));
    addCursorRect({W - b, H - b, b, b}, kit::Cursor(kit::Cursor::Shape::ResizeDiagonalNESW));
}

void PinViewController::mouseDown(const kit::Event& e) {
    const unsigned edges = pinsize::resizeEdges(bounds().size, convertFrom(e.locationInWindow, nullptr));
    if (edges && window()) {
        window()->beginUserResize(edges);
        return;
    }
    kit::View::mouseDown(e);
}

void PinViewController::setImage(const kit::Image& image) {
    image_ = image;
    viewImage_->layer()->setContents(image);
    btnDragger_->holdImage = image;
    btnDragger_->holdName = host().fileName();
    setNeedsDisplay();
}

void PinViewController::clearImage() {
    image_ = {};
    viewImage_->layer()->setContents({});
    btnDragger_->holdImage.reset();
}

void PinViewController::showZoom(int percent) {
    textZoom_->setString(std::to_string(percent) + "%");
    startHideTimer();
    const auto f = pinsize::nearestFilter(percent) ? kit::ScalingFilter::Nearest : kit::ScalingFilter::Linear;
    viewImage_->layer()->setMagnificationFilter(f);
    setNeedsDisplay();
}

bool PinViewController::smoothing() const {
    return viewImage_->layer()->magnificationFilter() == kit::ScalingFilter::Linear;
}

void PinViewController::setTransparency(int percent) {
    transparency_ = percent;
    viewImage_->layer()->setOpacity(percent / 100.0);
    if (miTransparency_)
        miTransparency_->setState(percent < 100 ? kit::ControlState::On : kit::ControlState::Off);
    if (auto* w = window()) w->setHasShadow(percent > 89);
    setNeedsDisplay();
    host().event("pin:transparency", {{"transparency", int64_t(percent)}});
}

void PinViewController::openInEditor() {
    if (image_.isNull()) return;
    // The editor shows the image at the scale of the screen it was taken on.
    double scale = 1;
    if (const auto& s = captureContext().captureScreen)
        scale = s->scale;
    else
        scale = kit::Displays::main().scale;
    host().setEditorDpr(scale);
    const kit::Image image = image_;
    if (!host().loadImage(image)) {
        // The editor did not take the image: keep the pin so nothing is lost.
        return;
    }
    host().setMetadata("mode", "pin");
    host().event("pin:edit", kit::Json::object());
    host().bringUpEditor();
    owner_.close();
}

void PinViewController::copy() {
    if (image_.isNull()) return;
    host().copyImage(image_);
}

void PinViewController::hideToolbar() {
    cancelHideTimer();
    viewToolbar_->setHidden(true);
}

bool PinViewController::toolbarHidden() const {
    return viewToolbar_->isHidden();
}

void PinViewController::startHideTimer() {
    tmrHideToolbar_ = kit::Timer::once(kHideDelay, [this] { viewToolbar_->setHidden(true); });
}

void PinViewController::cancelHideTimer() {
    tmrHideToolbar_.invalidate();
}

void PinViewController::scrollWheel(const kit::Event& e) {
    if (e.momentumPhase == kit::EventPhase::Changed) return;
    if (!scroll_.feed(e.scrollingDeltaY, e.hasPreciseScrollingDeltas)) return;
    bool in = e.scrollingDeltaY > 0;
    if (host().getBool("altZoomDirection", false)) in = e.scrollingDeltaY < 0;
    host().preset(in ? "pin:zoomIn" : "pin:zoomOut", {{"method", "scroll"}});
    owner_.zoom(in);
}

void PinViewController::rightMouseDown(const kit::Event& e) {
    menuContextual_->popUp(*this, convertFrom(e.locationInWindow, nullptr));
}

}  // namespace capture
