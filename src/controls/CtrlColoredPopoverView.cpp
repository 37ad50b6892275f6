#include "controls/CtrlColoredPopoverView.h"

#include "kit/ui/Window.h"

namespace controls {

namespace {
const kit::Color kPopoverColor{0.16, 0.16, 0.17, 1.0};
}

PopoverBackgroundView::PopoverBackgroundView(const kit::Rect& frame) : kit::View(frame) {
    layer()->setBackgroundColor(kPopoverColor);
    setIgnoresMouse(true);
}

void CtrlColoredPopoverView::viewDidMoveToWindow() {
    kit::Window* w = window();
    if (!w || !w->contentView() || backgroundView) return;
    // The popover's frame is its window's content view: the background goes
    // beneath everything in it.
    kit::View& frameView = *w->contentView();
    backgroundView = std::make_shared<PopoverBackgroundView>(frameView.bounds());
    backgroundView->setAutoresizingMask(kit::Autoresizing::WidthSizable | kit::Autoresizing::HeightSizable);
    frameView.addSubview(backgroundView, false, nullptr);
}

void CtrlColoredPopoverView::installIn(kit::Popover& popover, std::shared_ptr<CtrlColoredPopoverView> view) {
    popover.setBackgroundColor(kPopoverColor);
    popover.setContentView(std::move(view));
}

}  // namespace controls
