#include "services/StateButton.h"

#include "kit/base/Event.h"

namespace services {

StateButton::StateButton(const kit::Rect& frame) : kit::View(frame), label_(kit::TextLayer::make()) {
    label_->setFont(kit::Font::system(13));
    label_->setForegroundColor(kit::Color::black().withAlpha(0.85));
    label_->setAlignmentMode(kit::TextAlignment::Center);
    layer()->addSublayer(label_);
    addTrackingArea({},
                    kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveAlways |
                        kit::TrackingOption::InVisibleRect,
                    [this](const kit::Event& e) { trackPointer(e); });
    updateAppearance();
}

void StateButton::setTitle(std::string title) {
    title_ = std::move(title);
    label_->setString(title_);
    layout();
}

void StateButton::setFontSize(double size) {
    label_->setFontSize(size);
    layout();
}

kit::Size StateButton::intrinsicSize() const {
    kit::Size text = label_->preferredFrameSize();
    return {text.width + 15, text.height + 8};
}

void StateButton::layout() {
    kit::Size text = label_->preferredFrameSize();
    kit::Rect b = bounds();
    label_->setFrame({0, b.midY() - text.height / 2, b.width(), text.height});
}

void StateButton::updateAppearance() {
    const kit::LayerPtr& l = layer();
    l->setCornerRadius(cornerRadius);
    l->setBorderWidth(borderWidth);
    if (textColor) label_->setForegroundColor(*textColor);
    if (mouseState == "normal") {
        l->setBorderColor(borderColor);
        l->setBackgroundColor(backgroundColor);
    } else if (mouseState == "hover") {
        l->setBackgroundColor(backgroundColorHover);
    } else if (mouseState == "pressed") {
        l->setBackgroundColor(backgroundColorPressed);
    }
    setNeedsDisplay();
}

void StateButton::trackPointer(const kit::Event& e) {
    if (tracking_) return;  // a press keeps its own look until release
    mouseState = e.type == kit::EventType::MouseEntered ? "hover" : "normal";
    updateAppearance();
}

void StateButton::mouseDown(const kit::Event&) {
    tracking_ = true;
    mouseState = "pressed";
    updateAppearance();
}

void StateButton::mouseDragged(const kit::Event&) {}

void StateButton::mouseUp(const kit::Event& e) {
    tracking_ = false;
    kit::Point p = convertFrom(e.locationInWindow, nullptr);
    bool inside = bounds().contains(p);
    mouseState = "normal";
    updateAppearance();
    if (inside) performClick();
}

void StateButton::performClick() {
    // The action may close the window that holds the button: keep it alive meanwhile.
    auto self = shared_from_this();
    if (auto run = action) run();
}

}  // namespace services
