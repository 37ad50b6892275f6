#include "controls/CtrlMouseListener.h"

namespace controls {

CtrlMouseListener::CtrlMouseListener(const kit::Rect& frame) : kit::View(frame) {
    CtrlMouseListener::updateTrackingAreas();
}

void CtrlMouseListener::mouseEntered(const kit::Event&) {
    if (mouseInside) mouseInside(true);
}

void CtrlMouseListener::mouseExited(const kit::Event&) {
    if (mouseInside) mouseInside(false);
}

void CtrlMouseListener::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(
        bounds(), kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveAlways);
}

}  // namespace controls
