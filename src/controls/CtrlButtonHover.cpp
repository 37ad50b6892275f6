#include "controls/CtrlButtonHover.h"

#include <cmath>

namespace controls {

CtrlButtonHover::CtrlButtonHover(const kit::Rect& frame) : ButtonBase(frame) {
    titleLayer_->setHidden(true);
    CtrlButtonHover::updateTrackingAreas();
}

void CtrlButtonHover::redraw() {
    // Only the image, at its own size, centred; no bezel and no title.
    kit::ScopedTransaction tx;
    titleLayer_->setHidden(true);
    imageLayer_->setHidden(image().isNull());
    if (image().isNull()) return;
    kit::Size s = image().pointSize();
    kit::Rect b = bounds();
    imageLayer_->setContents(image());
    imageLayer_->setContentsScale(image().scale());
    imageLayer_->setFrame({b.midX() - s.width / 2, b.midY() - s.height / 2, s.width, s.height});
}

void CtrlButtonHover::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(
        bounds(), kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveInKeyWindow);
}

void CtrlButtonHover::mouseEntered(const kit::Event&) {
    if (hoverImage) setImage(*hoverImage);
}

void CtrlButtonHover::mouseExited(const kit::Event&) {
    if (normalImage) setImage(*normalImage);
}

void CtrlButtonHover::mouseDown(const kit::Event&) {
    if (isEnabled()) sendAction();
}

}  // namespace controls
