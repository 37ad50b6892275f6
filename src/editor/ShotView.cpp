#include "editor/ShotView.h"

#include <algorithm>
#include <cctype>

#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/Handlers.h"
#include "kit/ui/Window.h"
#include "services/Telemetry.h"

namespace editor {

ShotView::ShotView(const kit::Rect& frame) : kit::View(frame) {
    registerForDraggedFilesAndImages(true);
    canvasLayers().root = layer();
    canvasLayers().dark = isDarkAppearance();
    Handlers::shared().shotView = this;
    updateTrackingAreas();
}

ShotView::~ShotView() {
    if (Handlers::shared().shotView == this) Handlers::shared().shotView = nullptr;
}

void ShotView::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    using namespace kit::TrackingOption;
    trackingArea_ = addTrackingArea(bounds(), MouseEnteredAndExited | MouseMoved | ActiveInKeyWindow);
}

void ShotView::viewDidMoveToWindow() {
    if (window() && !windowBackground_) windowBackground_ = window()->backgroundColor();
    viewDidChangeEffectiveAppearance();
}

void ShotView::viewDidChangeEffectiveAppearance() {
    const bool dark = isDarkAppearance();
    canvasLayers().dark = dark;
    updateCheckerPattern(dark);
    kit::Window* w = window();
    if (!w) return;
    if (dark)
        w->setBackgroundColor(windowBackground_.value_or(w->backgroundColor()));
    else
        w->setBackgroundColor(kit::Color::white(0.97));
}

kit::Point ShotView::canvasPoint(const kit::Event& e) const {
    return convertFrom(e.locationInWindow, nullptr);
}

void ShotView::mouseDown(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseDown(e, p.x, p.y, 0);
}
void ShotView::rightMouseDown(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseDown(e, p.x, p.y, 1);
}
void ShotView::otherMouseDown(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseDown(e, p.x, p.y, e.buttonNumber);
}
void ShotView::mouseDragged(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseDragged(e, p.x, p.y, 0);
}
void ShotView::rightMouseDragged(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseDragged(e, p.x, p.y, 1);
}
void ShotView::otherMouseDragged(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseDragged(e, p.x, p.y, e.buttonNumber);
}
void ShotView::mouseUp(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseUp(e, p.x, p.y, 0);
}
void ShotView::rightMouseUp(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseUp(e, p.x, p.y, 1);
}
void ShotView::otherMouseUp(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseUp(e, p.x, p.y, e.buttonNumber);
}
void ShotView::mouseMoved(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().mouseMoved(e, p.x, p.y);
}
void ShotView::mouseEntered(const kit::Event& e) {
    mouseMoved(e);
}
void ShotView::mouseExited(const kit::Event&) {
    core().setCursor("default");
}
void ShotView::scrollWheel(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().scroll(e, p.x, p.y);
}
void ShotView::magnify(const kit::Event& e) {
    kit::Point p = canvasPoint(e);
    Handlers::shared().magnify(e, p.x, p.y);
}

bool ShotView::isDroppableImage(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "gif";
}

bool ShotView::draggingEntered(const kit::DraggingInfo& info) {
    // The image dragged out of the editor (or a pin, or the thumbnail) goes to
    // other programs only: dropped back here it would paste the shot onto itself.
    if (info.fromThisApplication) return false;
    // By the name alone: a look at the file itself would wait here for a
    // folder that does not answer. The drop's read refuses what is no
    // regular file (a FIFO or device named like a picture), and says so.
    return !info.filePaths.empty() && isDroppableImage(info.filePaths.front());
}

bool ShotView::performDragOperation(const kit::DraggingInfo& info) {
    if (info.filePaths.empty()) return false;
    services::Telemetry::shared().preset("openImage", {{"method", "DragNDrop"}});
    const kit::Point at = convert(info.location, nullptr);
    return core().droppedImageAt(info.filePaths.front(), at.x, at.y);
}

}  // namespace editor
