#pragma once
// An image-only button that swaps to its hover image under the pointer and
// acts as soon as the mouse goes down.
#include <optional>

#include "controls/ButtonBase.h"

namespace controls {

class CtrlButtonHover : public ButtonBase {
public:
    explicit CtrlButtonHover(const kit::Rect& frame = {});

    std::optional<kit::Image> normalImage;
    std::optional<kit::Image> hoverImage;

    void redraw() override;
    void updateTrackingAreas() override;
    void mouseEntered(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void mouseDown(const kit::Event& e) override;
    void mouseDragged(const kit::Event&) override {}
    void mouseUp(const kit::Event&) override {}

private:
    int trackingArea_ = 0;
};

}  // namespace controls
