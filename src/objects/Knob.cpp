#include "objects/Knob.h"

namespace objects {

Knob::Knob(const kit::LayerPtr& controlLayer, std::string cursorWord)
    : layer(kit::Layer::make()), sublayer(kit::GradientLayer::make()), cursor(std::move(cursorWord)) {
    layer->setCornerRadius(3);
    layer->setBackgroundColor(kit::Color{0, 0, 0, 0.7});
    layer->setShadowColor(kit::Color::black());
    layer->setShadowOpacity(0.05);
    layer->setShadowOffset({0, -3});
    layer->setShadowRadius(4);

    sublayer->setColors({kit::Color{0.95, 0.95, 0.95, 1}, kit::Color{1, 1, 1, 1}});
    sublayer->setCornerRadius(2.5);
    sublayer->setShadowColor(kit::Color::black());
    sublayer->setShadowOpacity(0.1);
    sublayer->setShadowOffset({0, -1});
    sublayer->setShadowRadius(1);
    sublayer->setBorderColor(kit::Color{1, 1, 1, 1});
    sublayer->setBorderWidth(1);

    layer->addSublayer(sublayer);
    if (controlLayer) controlLayer->addSublayer(layer);
}

void Knob::draw(double x, double y) {
    layer->setHidden(!shown);
    if (!isHighlighted) {
        sublayer->setFrame({0.5, 0.5, 8, 8});
        layer->setFrame({x - 4.5, y - 4.5, 9, 9});
        layer->setBackgroundColor(kit::Color{0, 0, 0, 0.7});
        sublayer->setColors({kit::Color{0.95, 0.95, 0.95, 1}, kit::Color{1, 1, 1, 1}});
    } else {
        // A hovered handle grows a point on each side and shows a wider rim
        // around a plain white face.
        sublayer->setFrame({1, 1, 8, 8});
        layer->setFrame({x - 5, y - 5, 10, 10});
        layer->setBackgroundColor(kit::Color{0, 0, 0, 0.5});
        sublayer->setColors({kit::Color{1, 1, 1, 1}, kit::Color{1, 1, 1, 1}});
    }
    dx = x;
    dy = y;
}

}  // namespace objects
