#pragma once
// A rounded colour swatch; when it is on and togglable it shows a selected ring
// (an outer ring in the text colour, window background inside it, a faint hairline).
#include "controls/ButtonBase.h"

namespace controls {

class CtrlColorButton : public ButtonBase {
public:
    explicit CtrlColorButton(const kit::Rect& frame = {});

    kit::Color backgroundColor = kit::Color::clear();
    bool togglable = false;

    // Restyles the swatch; owners call it after changing backgroundColor or the state.
    virtual void repaint();
    void redraw() override;

    kit::LayerPtr linner = kit::Layer::make();
    kit::LayerPtr linner2 = kit::Layer::make();

private:
    bool firstRepaint_ = true;
};

}  // namespace controls
