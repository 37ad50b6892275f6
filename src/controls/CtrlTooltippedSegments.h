#pragma once
// A segmented control that keeps the platform tooltips of its segments to
// itself and reports the hovered segment's tooltip and horizontal centre
// (window coordinates) through callbacks, so the owner can show its own bubble.
#include <functional>
#include <string>
#include <vector>

#include "kit/draw/TextLayer.h"
#include "kit/ui/View.h"

namespace controls {

class CtrlTooltippedSegments : public kit::View {
public:
    enum class Tracking { selectOne, momentary };

    explicit CtrlTooltippedSegments(const kit::Rect& frame = {});

    std::vector<std::string> tooltipsCache;
    std::function<void(const std::string&, int)> tooltipCallback;
    std::function<void()> tooltipCallbackHide;

    // ---- Segments --------------------------------------------------------
    int segmentCount() const { return static_cast<int>(segments_.size()); }
    void setSegmentCount(int count);
    void setLabel(const std::string& label, int segment);
    void setImage(const kit::Image& image, int segment);
    void setToolTip(const std::string& tip, int segment);
    std::string toolTip(int segment) const;
    // 0 spreads the segment evenly with the others.
    void setWidth(double width, int segment);
    int selectedSegment() const { return selected_; }
    void setSelectedSegment(int segment);
    Tracking trackingMode = Tracking::selectOne;
    // Sent when a segment is clicked; selectedSegment() names it.
    std::function<void(CtrlTooltippedSegments&)> action;
    // Where segment i sits, in the control's own space (it stands for the
    // i-th subview of a platform segmented control).
    kit::Rect segmentFrame(int segment) const;

    void mouseMoved(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void mouseDown(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    void updateTrackingAreas() override;
    void layout() override { redraw(); }
    void viewDidChangeEffectiveAppearance() override { redraw(); }
    void redraw();

private:
    struct Segment {
        std::string label, toolTip;
        kit::Image image;
        double width = 0;
        kit::LayerPtr back, icon;
        std::shared_ptr<kit::TextLayer> text;
    };
    int segmentAt(kit::Point p) const;
    std::vector<Segment> segments_;
    int selected_ = -1, pressed_ = -1;
    int trackingArea_ = 0;
};

}  // namespace controls
