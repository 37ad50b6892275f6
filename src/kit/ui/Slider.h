#pragma once
// A horizontal or vertical slider over a range of doubles.
#include "kit/ui/Control.h"

namespace kit {

class Slider : public Control {
public:
    explicit Slider(const Rect& frame = {}, bool vertical = false);

    double minValue() const { return min_; }
    double maxValue() const { return max_; }
    void setRange(double min, double max);
    double doubleValue() const;
    void setDoubleValue(double value);
    // Continuous sliders run the action while dragging; others on release.
    void setContinuous(bool continuous) { continuous_ = continuous; }
    bool isContinuous() const { return continuous_; }
    // Tick marks (0: none); with allowsTickMarkValuesOnly the value snaps to them.
    void setNumberOfTickMarks(int count);
    void setAllowsTickMarkValuesOnly(bool only) { ticksOnly_ = only; }

private:
    double min_ = 0, max_ = 1;
    bool continuous_ = true, ticksOnly_ = false;
    int ticks_ = 0;
    double snap(double v) const;
};

}  // namespace kit
