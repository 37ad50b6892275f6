#include "core/CaptureRoutes.h"

#include "capture/Capturer.h"
#include "capture/ScrollCapturer.h"

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

// The preview and pin windows come with their own windows later; until then
// a capture that asks for them still loads and reaches the editor's state.
void CaptureRoutes::showPreview(const kit::Image&, const kit::Rect&) {}
void CaptureRoutes::closePreview() {}
void CaptureRoutes::pin(const kit::Image&, kit::Point) {}

}  // namespace core
