#include "core/CaptureRoutes.h"

#include "capture/Capturer.h"
#include "capture/PinWindowController.h"
#include "capture/PreviewWindowController.h"
#include "capture/ScrollCapturer.h"
#include "kit/base/Dispatch.h"

namespace core {

bool CaptureRoutes::hasScreenRecordingPermission() {
    return capture::Capturer::hasScreenRecordingPermission();
}

kit::Image CaptureRoutes::fullscreen() {
    return capture::Capturer::fullscreen();
}

kit::Image CaptureRoutes::window(capture::WindowShadow mode) {
    return capture::Capturer::window(mode);
}

kit::Image CaptureRoutes::interactive(capture::WindowShadow mode, bool windowOnly, bool repeatArea,
                                      bool dontRememberArea) {
    return capture::Capturer::interactive(mode, windowOnly, repeatArea, dontRememberArea);
}

bool CaptureRoutes::scrollPermissionsGranted() {
    return capture::ScrollCapturer::permissionsGranted();
}

void CaptureRoutes::startScrolling(int direction, std::function<void(const kit::Image&)> then) {
    capture::ScrollCapturer::start(direction, std::nullopt, std::move(then));
}

CaptureFacts CaptureRoutes::facts() {
    const capture::CaptureContext& ctx = capture::captureContext();
    return {ctx.captureScreen, ctx.backdropApplied, ctx.capturedAppName, ctx.capturedWindowName,
            ctx.rememberedArea};
}

void CaptureRoutes::resetFacts() {
    capture::CaptureContext& ctx = capture::captureContext();
    ctx.captureScreen.reset();
    ctx.backdropApplied = false;
}

void CaptureRoutes::showPreview(const kit::Image& image, const kit::Rect& captureRect) {
    if (image.isNull()) return;
    if (!wcPreview_) wcPreview_ = std::make_shared<capture::PreviewWindowController>();
    wcPreview_->showPreview(image, captureRect);
}

void CaptureRoutes::closePreview() {
    if (wcPreview_) wcPreview_->closeWindow();
}

std::optional<kit::Rect> CaptureRoutes::previewFrame() {
    if (!wcPreview_ || !wcPreview_->isShowing()) return std::nullopt;
    return wcPreview_->window()->frame();
}

void CaptureRoutes::pin(const kit::Image& image, kit::Point center) {
    if (image.isNull()) return;
    const int64_t id = nextPinId_++;
    auto pin = std::make_shared<capture::PinWindowController>(id);
    pins_[id] = pin;
    pin->pin(image, center);
}

void CaptureRoutes::removePin(int64_t id) {
    auto it = pins_.find(id);
    if (it == pins_.end()) return;
    // The pin asks from inside its own close: release it once that returns.
    std::shared_ptr<capture::PinWindowController> gone = std::move(it->second);
    pins_.erase(it);
    kit::dispatchMain([gone] {});
}

}  // namespace core
