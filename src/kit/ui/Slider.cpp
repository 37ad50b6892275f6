#include "kit/ui/Slider.h"

#include <QSlider>
#include <algorithm>
#include <cmath>

#include "kit/ui/qt/ControlPrivate.h"

namespace kit {

namespace {
// The widget works in whole steps; this many make the full range.
constexpr int kSliderSteps = 10000;
QSlider* slider(const Slider& s) {
    return qt::hosted<QSlider>(s);
}
}  // namespace

Slider::Slider(const Rect& frame, bool vertical) : Control(frame) {
    auto* s = new QSlider(vertical ? Qt::Vertical : Qt::Horizontal);
    s->setRange(0, kSliderSteps);
    s->setFocusPolicy(Qt::TabFocus);
    qt::hostWidget(*this, s);
    QObject::connect(s, &QSlider::valueChanged, [this](int) {
        if (ticksOnly_) {
            double snapped = snap(doubleValue());
            if (snapped != doubleValue()) setDoubleValue(snapped);
        }
        if (continuous_ || !slider(*this)->isSliderDown()) sendAction();
    });
    QObject::connect(s, &QSlider::sliderReleased, [this] {
        if (!continuous_) sendAction();
    });
}

void Slider::setRange(double min, double max) {
    double v = doubleValue();
    min_ = min;
    max_ = max > min ? max : min;
    setDoubleValue(v);
    setNumberOfTickMarks(ticks_);
}

double Slider::doubleValue() const {
    if (max_ <= min_) return min_;
    return min_ + (max_ - min_) * slider(*this)->value() / kSliderSteps;
}

void Slider::setDoubleValue(double value) {
    if (!std::isfinite(value)) return;
    value = std::clamp(value, min_, max_);
    int step = max_ > min_ ? int(std::lround((value - min_) / (max_ - min_) * kSliderSteps)) : 0;
    QSlider* s = slider(*this);
    QSignalBlocker block(s);  // values set in code send no action
    s->setValue(step);
}

void Slider::setNumberOfTickMarks(int count) {
    ticks_ = std::max(0, count);
    QSlider* s = slider(*this);
    s->setTickPosition(ticks_ > 1 ? QSlider::TicksBelow : QSlider::NoTicks);
    if (ticks_ > 1) s->setTickInterval(kSliderSteps / (ticks_ - 1));
}

double Slider::snap(double v) const {
    if (ticks_ < 2 || max_ <= min_) return v;
    double step = (max_ - min_) / (ticks_ - 1);
    return min_ + std::round((v - min_) / step) * step;
}

}  // namespace kit
