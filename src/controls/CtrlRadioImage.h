#pragma once
// An image or gradient choice tile with an accent border when chosen.
#include <vector>

#include "controls/ButtonBase.h"
#include "kit/draw/GradientLayer.h"

namespace controls {

class CtrlRadioImage : public ButtonBase {
public:
    explicit CtrlRadioImage(const kit::Rect& frame = {});

    kit::Color backgroundColor = kit::Color::clear();
    std::vector<kit::Color> gradColors;
    std::vector<double> gradStops;

    // Restyles the tile; owners call it after changing its colours or state.
    virtual void repaint();
    void redraw() override;

    // The stops given, with 0.0 put in front and then 1.0 appended while fewer
    // than the colours.
    static std::vector<double> completedStops(size_t colorCount, std::vector<double> stops);

    kit::LayerPtr linner = kit::Layer::make();
    kit::LayerPtr linner2 = kit::Layer::make();
    kit::LayerPtr lshading = kit::Layer::make();
    std::shared_ptr<kit::GradientLayer> gradient = kit::GradientLayer::make();

private:
    bool firstRepaint_ = true;
};

}  // namespace controls
