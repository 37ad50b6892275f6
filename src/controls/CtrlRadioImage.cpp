#include "controls/CtrlRadioImage.h"

#include "controls/ControlLook.h"

namespace controls {

CtrlRadioImage::CtrlRadioImage(const kit::Rect& frame) : ButtonBase(frame) {}

void CtrlRadioImage::redraw() {
    layoutContent();
    repaint();
}

std::vector<double> CtrlRadioImage::completedStops(size_t colorCount, std::vector<double> stops) {
    if (stops.size() < colorCount) stops.insert(stops.begin(), 0.0);
    if (stops.size() < colorCount) stops.push_back(1.0);
    return stops;
}

void CtrlRadioImage::repaint() {
    const auto& l = layer();
    bool dark = isDarkAppearance();
    if (firstRepaint_) {
        firstRepaint_ = false;
        gradient->setStartPoint({0.5, 0});
        gradient->setEndPoint({0.5, 1});
        l->addSublayer(gradient);
        linner->setBorderColor(ControlLook::windowBackgroundColor(dark).withAlpha(0.9));
        linner->setBorderWidth(1.0);
        linner->setCornerRadius(4.0);
        linner->setHidden(true);
        l->addSublayer(linner);
        linner2->setBorderColor(ControlLook::textColor(dark).withAlpha(0.25));
        linner2->setBorderWidth(0.5);
        linner2->setCornerRadius(3.0);
        linner2->setHidden(true);
        l->addSublayer(linner2);
        lshading->setBackgroundColor(kit::Color::clear());
        l->addSublayer(lshading);
    }

    kit::ScopedTransaction tx;
    double w = frame().width(), h = frame().height();
    linner->setFrame({2, 2, w - 4, h - 4});
    linner2->setFrame({3, 3, w - 6, h - 6});
    lshading->setFrame({0, 0, w, h});
    gradient->setHidden(gradColors.empty());
    if (!gradColors.empty()) {
        gradient->setColors(gradColors);
        auto stops = completedStops(gradColors.size(), gradStops);
        // A stop list that still does not match the colours would leave colours
        // without a place; such a gradient spreads its colours evenly instead.
        if (stops.size() != gradColors.size()) stops.clear();
        gradient->setLocations(stops);
        gradient->setFrame({0, 0, w, h});
    }
    l->setCornerRadius(6.0);
    // The gradient fills the tile to its rounded edge, not past the border's corners.
    gradient->setCornerRadius(6.0);
    l->setBackgroundColor(backgroundColor);
    lshading->setBackgroundColor(isHighlighted() ? kit::Color::white(0, 0.2) : kit::Color::clear());
    bool chosen = state() == 1;
    l->setBorderColor(chosen ? ControlLook::accentColor() : ControlLook::textColor(dark).withAlpha(0.1));
    l->setBorderWidth(chosen ? 2.0 : 1.0);
    linner->setHidden(!chosen);
    linner2->setHidden(!chosen);
}

}  // namespace controls
