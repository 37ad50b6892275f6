#include "controls/cellSliderSize.h"

#include <algorithm>
#include <cmath>

namespace controls {

namespace {
constexpr double kKnob = 16;
}

cellSliderSize::cellSliderSize(const kit::Rect& frame) : kit::View(frame) {
    layer()->addSublayer(bar_);
    layer()->addSublayer(knob_);
    redraw();
}

void cellSliderSize::setValue(double v) {
    value_ = std::clamp(v, minValue, maxValue);
    redraw();
}

kit::Path cellSliderSize::barPath(const kit::Rect& r) {
    // d, c, b, a: 1.0, 1.0, 5.5, 5.5 — symmetric about the middle line, 2 high at the left, 11 at the right.
    kit::Path p;
    p.moveTo({r.minX() + 4.5, r.midY() - 1.0});
    p.lineTo({r.minX() + 4.5, r.midY() + 1.0});
    p.lineTo({r.maxX() - 4.5, r.midY() + 5.5});
    p.lineTo({r.maxX() - 4.5, r.midY() - 5.5});
    p.closeSubpath();
    return p;
}

kit::Rect cellSliderSize::barRect() const {
    kit::Rect b = bounds();
    return {b.minX() + 2, b.midY() - 6, std::max(0.0, b.width() - 4), 12};
}

void cellSliderSize::drawBar(const kit::Rect& rect, bool) {
    bool dark = isDarkAppearance();
    kit::Color ink = dark ? kit::Color::white(1.0) : kit::Color::white(0);
    bar_->setFrame(bounds());
    bar_->setPath(barPath(rect));
    bar_->setFillColor(ink.withAlpha(0.04));
    bar_->setStrokeColor(ink.withAlpha(0.25));
    bar_->setLineWidth(1.0);
}

void cellSliderSize::redraw() {
    kit::ScopedTransaction tx;
    kit::Rect bar = barRect();
    drawBar(bar, isFlipped());
    double span = maxValue - minValue;
    double t = span > 0 ? (value_ - minValue) / span : 0;
    double travel = std::max(0.0, bar.width() - kKnob);
    knob_->setFrame({bar.minX() + t * travel, bounds().midY() - kKnob / 2, kKnob, kKnob});
    knob_->setCornerRadius(kKnob / 2);
    knob_->setBackgroundColor(isDarkAppearance() ? kit::Color::white(0.8) : kit::Color::white(1.0));
    knob_->setBorderWidth(0.5);
    knob_->setBorderColor(kit::Color::white(0, 0.3));
    knob_->setShadowOpacity(0.3);
    knob_->setShadowRadius(1.5);
    knob_->setShadowOffset({0, -0.5});
}

void cellSliderSize::trackTo(const kit::Event& e) {
    kit::Rect bar = barRect();
    double travel = bar.width() - kKnob;
    if (travel <= 0) return;
    kit::Point p = convertFrom(e.locationInWindow, nullptr);
    double t = std::clamp((p.x - bar.minX() - kKnob / 2) / travel, 0.0, 1.0);
    double v = minValue + t * (maxValue - minValue);
    if (allowsTickMarkValuesOnly && numberOfTickMarks > 1) {
        double step = (maxValue - minValue) / (numberOfTickMarks - 1);
        v = minValue + std::round((v - minValue) / step) * step;
    }
    setValue(v);
    if (action) action(*this);
}

void cellSliderSize::mouseDown(const kit::Event& e) {
    trackTo(e);
}

void cellSliderSize::mouseDragged(const kit::Event& e) {
    trackTo(e);
}

}  // namespace controls
