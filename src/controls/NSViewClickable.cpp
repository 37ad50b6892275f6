#include "controls/NSViewClickable.h"

namespace controls {

namespace {
const kit::Color kGrey{0.6588, 0.6588, 0.6588, 1.0};
}

NSViewClickable::NSViewClickable(const kit::Rect& frame) : kit::View(frame) {
    layer()->setCornerRadius(3.0);
    NSViewClickable::updateTrackingAreas();
}

void NSViewClickable::mouseEntered(const kit::Event&) {
    layer()->setBackgroundColor(kGrey.withAlpha(0.18));
}

void NSViewClickable::mouseExited(const kit::Event&) {
    layer()->setBackgroundColor(kit::Color::clear());
}

void NSViewClickable::mouseDown(const kit::Event&) {
    layer()->setBackgroundColor(kGrey.withAlpha(0.28));
}

void NSViewClickable::mouseUp(const kit::Event&) {
    if (action) action(*this);
    layer()->setBackgroundColor(kit::Color::clear());
}

void NSViewClickable::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(
        bounds(), kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveInKeyWindow);
}

}  // namespace controls
