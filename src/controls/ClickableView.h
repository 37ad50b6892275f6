#pragma once
// A plain clickable area with a rounded grey highlight under the pointer and
// while pressed; it acts when the mouse button is released.
#include <functional>

#include "kit/ui/View.h"

namespace controls {

class ClickableView : public kit::View {
public:
    explicit ClickableView(const kit::Rect& frame = {});

    // Sent on every mouse-up that reaches the view, wherever the pointer is then.
    std::function<void(ClickableView&)> action;

    void mouseEntered(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void mouseDown(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    void updateTrackingAreas() override;

private:
    int trackingArea_ = 0;
};

}  // namespace controls
