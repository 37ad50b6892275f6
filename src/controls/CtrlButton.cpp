#include "controls/CtrlButton.h"

namespace controls {

CtrlButton::CtrlButton(const kit::Rect& frame) : ButtonBase(frame) {
    CtrlButton::updateTrackingAreas();
}

void CtrlButton::updateAppearance() {
    restyle();
    layoutContent();
}

void CtrlButton::restyle() {
    kit::ScopedTransaction tx;
    const auto& l = layer();
    l->setCornerRadius(cornerRadius);
    l->setBorderWidth(borderWidth);
    if (textColor) setTitleColorQuietly(*textColor);
    if (mouseState == "normal") {
        l->setBorderColor(borderColor);
        l->setBackgroundColor(backgroundColor);
        // Before the button first joins a window its image is still its own.
        if (joinedWindow_) assignImage(imageMain.value_or(kit::Image{}));
    } else if (mouseState == "hover") {
        l->setBackgroundColor(backgroundColorHover);
        if (imageHover) assignImage(*imageHover);
    } else if (mouseState == "pressed") {
        l->setBackgroundColor(backgroundColorPressed);
    }
}

void CtrlButton::redraw() {
    updateAppearance();
}

kit::Size CtrlButton::intrinsicContentSize() const {
    auto s = ButtonBase::intrinsicContentSize();
    return {s.width + 15, s.height + 8};
}

void CtrlButton::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(
        bounds(), kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveInKeyWindow);
}

void CtrlButton::viewDidMoveToWindow() {
    joinedWindow_ = true;
    imageMain = image().isNull() ? std::nullopt : std::optional<kit::Image>(image());
}

void CtrlButton::mouseEntered(const kit::Event&) {
    mouseState = "hover";
    redraw();
}

void CtrlButton::mouseExited(const kit::Event&) {
    mouseState = "normal";
    redraw();
}

void CtrlButton::trackingEnded() {
    mouseState = "normal";
    redraw();
}

void CtrlButton::mouseDown(const kit::Event& e) {
    mouseState = "pressed";
    ButtonBase::mouseDown(e);
    // A disabled button tracks nothing, so its press ends here.
    if (!isEnabled()) trackingEnded();
}

}  // namespace controls
