#pragma once
// A flat button with a corner radius, a border and a fill per mouse state
// ("normal", "hover", "pressed"), an optional title colour and an optional
// image while hovered.
#include <optional>
#include <string>

#include "controls/ButtonBase.h"

namespace controls {

class CtrlButton : public ButtonBase {
public:
    explicit CtrlButton(const kit::Rect& frame = {});

    double cornerRadius = 4.0;
    kit::Color backgroundColor = kit::Color::white(0, 0.06);
    kit::Color backgroundColorHover = kit::Color::white(0, 0.06);
    kit::Color backgroundColorPressed = kit::Color::white(0, 0.1);
    kit::Color borderColor = kit::Color::white(0, 0.2);
    double borderWidth = 0;
    std::optional<kit::Color> textColor;
    std::optional<kit::Image> imageHover;
    // The button's own image, taken each time it joins or leaves a window.
    std::optional<kit::Image> imageMain;
    std::string mouseState = "normal";

    // Applies the look of mouseState; owners call it after changing colours or state.
    void updateAppearance();

    kit::Size intrinsicContentSize() const override;
    void redraw() override;
    void updateTrackingAreas() override;
    void viewDidMoveToWindow() override;
    void mouseEntered(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void mouseDown(const kit::Event& e) override;

protected:
    // The press is over: the look goes back to "normal" at once (the platform
    // redraws the released button), even with the pointer still over it.
    void trackingEnded() override;

private:
    void restyle();
    int trackingArea_ = 0;
    bool joinedWindow_ = false;
};

}  // namespace controls
