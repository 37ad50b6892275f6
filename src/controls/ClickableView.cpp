#include "controls/ClickableView.h"

namespace controls {

namespace {
const kit::Color kGrey{0.6588, 0.6588, 0.6588, 1.0};
}

ClickableView::ClickableView(const kit::Rect& frame) : kit::View(frame) {
    layer()->setCornerRadius(3.0);
    ClickableView::updateTrackingAreas();
}

void ClickableView::mouseEntered(const kit::Event&) {
    layer()->setBackgroundColor(kGrey.withAlpha(0.18));
}

void ClickableView::mouseExited(const kit::Event&) {
    layer()->setBackgroundColor(kit::Color::clear());
}

void ClickableView::mouseDown(const kit::Event&) {
    layer()->setBackgroundColor(kGrey.withAlpha(0.28));
}

void ClickableView::mouseUp(const kit::Event&) {
    if (action) action(*this);
    layer()->setBackgroundColor(kit::Color::clear());
}

void ClickableView::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(
        bounds(), kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveInKeyWindow);
}

}  // namespace controls
