#include "controls/CtrlColorButton.h"

#include "controls/ControlLook.h"

namespace controls {

CtrlColorButton::CtrlColorButton(const kit::Rect& frame) : ButtonBase(frame) {
    drawsContent = false;
}

void CtrlColorButton::redraw() {
    repaint();
    layoutContent();
}

void CtrlColorButton::repaint() {
    const auto& l = layer();
    bool dark = isDarkAppearance();
    if (firstRepaint_) {
        firstRepaint_ = false;
        linner->setBorderWidth(1.5);
        linner->setCornerRadius(4.5);
        linner->setHidden(true);
        l->addSublayer(linner);
        linner2->setBorderColor(kit::Color::white(0, 0.15));
        linner2->setBorderWidth(0.5);
        linner2->setCornerRadius(3.0);
        linner2->setHidden(true);
        l->addSublayer(linner2);
    }
    l->setCornerRadius(6.0);
    linner->setBorderColor(ControlLook::windowBackgroundColor(dark));

    kit::ScopedTransaction tx;
    double w = frame().width(), h = frame().height();
    linner->setFrame({1.5, 1.5, w - 3, h - 3});
    linner2->setFrame({3, 3, w - 6, h - 6});
    l->setBackgroundColor(isHighlighted() ? ControlLook::blended(backgroundColor, 0.2, kit::Color::black())
                                          : backgroundColor);
    bool selected = state() == 1 && togglable;
    l->setBorderColor(selected ? ControlLook::textColor(dark).withAlpha(0.6) : kit::Color::white(0, 0.3));
    l->setBorderWidth(selected ? 1.5 : 0.5);
    linner->setHidden(!selected);
    linner2->setHidden(!selected);
}

}  // namespace controls
