#pragma once
// A progress indicator: a bar showing how far a job is, or a spinner that
// turns while something is under way.
#include <memory>

#include "kit/ui/View.h"

namespace kit {

class ProgressIndicator : public View {
public:
    enum class Style { Bar, Spinning };

    explicit ProgressIndicator(const Rect& frame = {}, Style style = Style::Bar);
    ~ProgressIndicator() override;

    Style style() const { return style_; }
    // Indeterminate bars and spinners show activity, not an amount.
    void setIndeterminate(bool indeterminate);
    bool isIndeterminate() const { return indeterminate_; }
    void setMinValue(double v);
    void setMaxValue(double v);
    double minValue() const { return min_; }
    double maxValue() const { return max_; }
    // Clamped to the range.
    void setDoubleValue(double v);
    double doubleValue() const { return value_; }

    // Spinners turn and indeterminate bars move only while animating.
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return animating_; }
    // Whether a stopped spinner stays visible (it disappears by default).
    void setDisplayedWhenStopped(bool displayed);

private:
    struct Widgets;
    std::unique_ptr<Widgets> p_;
    Style style_;
    bool indeterminate_ = false, animating_ = false, displayedWhenStopped_ = false;
    double min_ = 0, max_ = 100, value_ = 0;
    void update();
};

}  // namespace kit
