#pragma once
// A row of segments, each with a label or an image and a tooltip; one
// selected (select-one) or none kept (momentary).
#include <string>

#include "kit/base/Image.h"
#include "kit/ui/Control.h"

namespace kit {

class SegmentedControl : public Control {
public:
    enum class Tracking { SelectOne, Momentary };

    explicit SegmentedControl(const Rect& frame = {}, Tracking tracking = Tracking::SelectOne);

    int segmentCount() const;
    void setSegmentCount(int count);
    void setLabel(const std::string& label, int segment);
    std::string label(int segment) const;
    void setImage(const Image& image, int segment);
    void setToolTip(const std::string& tip, int segment);
    std::string toolTip(int segment) const;
    void setEnabled(bool enabled, int segment);
    using Control::setEnabled;
    // -1 when none.
    int selectedSegment() const { return selected_; }
    void setSelectedSegment(int segment);
    // The segment the user last clicked (momentary controls too).
    int clickedSegment() const { return clicked_; }
    // Acts as a click on a segment.
    void performClick(int segment);

private:
    Tracking tracking_;
    int selected_ = -1, clicked_ = -1;
};

}  // namespace kit
