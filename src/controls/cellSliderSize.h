#pragma once
// The stroke-size slider of the tool-settings bar. Its bar is a wedge that
// widens from left to right (faint dark on a light look, faint light on a dark
// one); there are no tick marks. The knob is a plain round knob.
#include <functional>

#include "kit/draw/Path.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/ui/View.h"

namespace controls {

class cellSliderSize : public kit::View {
public:
    explicit cellSliderSize(const kit::Rect& frame = {});

    double minValue = 0, maxValue = 1;
    // Positions the value may take when snapping (0: any).
    int numberOfTickMarks = 0;
    bool allowsTickMarkValuesOnly = false;
    double value() const { return value_; }
    void setValue(double v);
    // Sent while the knob moves and when it is let go.
    std::function<void(cellSliderSize&)> action;

    // The wedge through four points of the bar rectangle.
    static kit::Path barPath(const kit::Rect& bar);
    // The bar inside the view's bounds (the knob's travel).
    kit::Rect barRect() const;
    // Draws the bar: a wedge, filled and stroked for the look.
    void drawBar(const kit::Rect& rect, bool flipped);
    // Tick marks are not drawn.
    void drawTickMarks() {}

    void mouseDown(const kit::Event& e) override;
    void mouseDragged(const kit::Event& e) override;
    void layout() override { redraw(); }
    void viewDidChangeEffectiveAppearance() override { redraw(); }
    void redraw();

private:
    void trackTo(const kit::Event& e);
    double value_ = 0;
    std::shared_ptr<kit::ShapeLayer> bar_ = kit::ShapeLayer::make();
    kit::LayerPtr knob_ = kit::Layer::make();
};

}  // namespace controls
