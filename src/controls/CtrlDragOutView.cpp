#include "controls/CtrlDragOutView.h"

#include <cmath>

#include "controls/ControlLook.h"
#include "kit/draw/Animation.h"
#include "services/Telemetry.h"

namespace controls {

std::function<void(kit::View&, const kit::Event&)> CtrlDragOut::initiate;

CtrlDragOut::CtrlDragOut(const kit::Rect& frame) : ButtonBase(frame) {
    setCursor(kit::Cursor::openHand());
    CtrlDragOut::updateTrackingAreas();
}

void CtrlDragOut::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(bounds(), kit::TrackingOption::MouseEnteredAndExited |
                                                  kit::TrackingOption::MouseMoved |
                                                  kit::TrackingOption::ActiveInKeyWindow);
}

void CtrlDragOut::redraw() {
    ButtonBase::redraw();
    kit::ScopedTransaction tx;
    layer()->setCornerRadius(5);
    layer()->setBackgroundColor(
        isHighlighted()
            ? std::optional<kit::Color>(ControlLook::textColor(isDarkAppearance()).withAlpha(0.15))
            : std::nullopt);
}

void CtrlDragOut::mouseDown(const kit::Event&) {
    dragged_ = false;
    setCursor(kit::Cursor::closedHand());
    setHighlighted(true);
}

void CtrlDragOut::mouseDragged(const kit::Event& e) {
    // One drag per press: the platform drag runs its own loop until the drop.
    if (dragged_) return;
    dragged_ = true;
    setHighlighted(false);
    setCursor(kit::Cursor::openHand());
    services::Telemetry::shared().preset("dragout", {{"method", "toolbar"}});
    if (initiate) initiate(*this, e);
}

void CtrlDragOut::mouseUp(const kit::Event&) {
    setCursor(kit::Cursor::openHand());
    setHighlighted(false);
    // Only a click that started no drag counts as a click.
    if (!dragged_) services::Telemetry::shared().event("draggerClick", {{"method", "toolbar"}});
    dragged_ = false;
}

void CtrlDragOut::mouseMoved(const kit::Event& e) {
    if (tooltipCached.empty()) {
        tooltipCached = toolTip();
        setToolTip("");
    }
    if (tooltipCallback) tooltipCallback(tooltipCached, int(std::round(e.locationInWindow.x)));
}

void CtrlDragOut::mouseExited(const kit::Event&) {
    if (tooltipCallbackHide) tooltipCallbackHide();
}

// ---- CtrlDragOutView ----------------------------------------------------------

CtrlDragOutView::CtrlDragOutView(const kit::Rect& frame) : kit::ImageView(frame) {
    resetCursorRects(false);
}

kit::Rect CtrlDragOutView::arrowCorner(const kit::Rect& bounds) {
    double side = 15;
    return {0, bounds.maxY() - side, bounds.width() > 100 ? side : 0, side};
}

void CtrlDragOutView::resetCursorRects(bool pressed) {
    kit::View::resetCursorRects();
    addCursorRect(bounds(), pressed ? kit::Cursor::closedHand() : kit::Cursor::openHand());
    kit::Rect corner = arrowCorner(bounds());
    if (corner.width() > 0) addCursorRect(corner, kit::Cursor::arrow());
}

void CtrlDragOutView::mouseDown(const kit::Event&) {
    dragged_ = false;
    resetCursorRects(true);
}

void CtrlDragOutView::mouseDragged(const kit::Event& e) {
    if (dragged_) return;
    dragged_ = true;
    services::Telemetry::shared().preset("dragout", {{"method", "preview"}});
    if (CtrlDragOut::initiate) CtrlDragOut::initiate(*this, e);
    resetCursorRects(false);
}

void CtrlDragOutView::mouseUp(const kit::Event&) {
    dragged_ = false;
    resetCursorRects(false);
}

}  // namespace controls
