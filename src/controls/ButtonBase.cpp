#include "controls/ButtonBase.h"

#include <cmath>

#include "controls/ControlLook.h"
#include "kit/draw/TextMeasure.h"

namespace controls {

namespace {
constexpr double kGap = 4;
const kit::Font kTitleFont = kit::Font::system(13);
}  // namespace

ButtonBase::ButtonBase(const kit::Rect& frame) : kit::View(frame) {
    imageLayer_ = kit::Layer::make();
    imageLayer_->setContentsGravity(kit::ContentsGravity::Center);
    titleLayer_ = kit::TextLayer::make();
    titleLayer_->setFont(kTitleFont);
    titleLayer_->setAlignmentMode(kit::TextAlignment::Center);
    layer()->addSublayer(imageLayer_);
    layer()->addSublayer(titleLayer_);
}

void ButtonBase::setTitle(std::string title) {
    title_ = std::move(title);
    redraw();
}

void ButtonBase::setImage(kit::Image image) {
    image_ = std::move(image);
    redraw();
}

void ButtonBase::setTitleColor(std::optional<kit::Color> color) {
    titleColor_ = color;
    redraw();
}

void ButtonBase::setState(int state) {
    state_ = state;
    redraw();
}

void ButtonBase::setHighlighted(bool highlighted) {
    highlighted_ = highlighted;
    redraw();
}

void ButtonBase::sendAction() {
    if (action) action(*this);
}

void ButtonBase::performClick() {
    if (!enabled_) return;
    if (buttonType == Type::pushOnPushOff) setState(state_ ? 0 : 1);
    sendAction();
}

kit::Size ButtonBase::intrinsicContentSize() const {
    kit::Size text = title_.empty() ? kit::Size{} : kit::measureText(title_, kTitleFont);
    kit::Size img = image_.isNull() ? kit::Size{} : image_.pointSize();
    double gap = text.width > 0 && img.width > 0 ? kGap : 0;
    return {std::ceil(text.width + img.width + gap) + 12, std::max(text.height, img.height) + 6};
}

bool ButtonBase::pressInside(const kit::Event& e) const {
    return bounds().contains(convertFrom(e.locationInWindow, nullptr));
}

void ButtonBase::mouseDown(const kit::Event&) {
    if (!enabled_) return;
    tracking_ = true;
    setHighlighted(true);
}

void ButtonBase::mouseDragged(const kit::Event& e) {
    if (tracking_) setHighlighted(pressInside(e));
}

void ButtonBase::mouseUp(const kit::Event& e) {
    if (!tracking_) return;
    tracking_ = false;
    bool inside = pressInside(e);
    setHighlighted(false);
    if (inside) performClick();
    trackingEnded();
}

void ButtonBase::redraw() {
    layoutContent();
}

void ButtonBase::layoutContent() {
    kit::ScopedTransaction tx;
    imageLayer_->setHidden(!drawsContent || image_.isNull());
    titleLayer_->setHidden(!drawsContent || title_.empty());
    if (!drawsContent) return;
    kit::Rect b = bounds();
    kit::Size img = image_.isNull() ? kit::Size{} : image_.pointSize();
    kit::Size text = title_.empty() ? kit::Size{} : kit::measureText(title_, kTitleFont);
    double gap = img.width > 0 && text.width > 0 ? kGap : 0;
    double x = std::round((b.width() - img.width - gap - text.width) / 2);
    if (!image_.isNull()) {
        imageLayer_->setContents(image_);
        imageLayer_->setContentsScale(image_.scale());
        imageLayer_->setFrame({x, std::round((b.height() - img.height) / 2), img.width, img.height});
    }
    if (!title_.empty()) {
        titleLayer_->setString(title_);
        titleLayer_->setForegroundColor(titleColor_.value_or(ControlLook::textColor(isDarkAppearance())));
        titleLayer_->setFrame({x + img.width + gap, std::round((b.height() - text.height) / 2),
                               std::ceil(text.width), std::ceil(text.height)});
    }
}

}  // namespace controls
