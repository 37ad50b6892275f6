#pragma once
// A popover content view that paints the whole popover in one dark colour, by
// putting a background view behind the popover's content.
#include "kit/ui/Popover.h"
#include "kit/ui/View.h"

namespace controls {

class PopoverBackgroundView : public kit::View {
public:
    explicit PopoverBackgroundView(const kit::Rect& frame = {});
};

class CtrlColoredPopoverView : public kit::View {
public:
    explicit CtrlColoredPopoverView(const kit::Rect& frame = {}) : kit::View(frame) {}

    std::shared_ptr<PopoverBackgroundView> backgroundView;

    void viewDidMoveToWindow() override;

    // Makes the view the content of a kit popover. Such a popover has no frame
    // view to reach (its content never joins a window): it paints its own
    // background, so it takes the same colour here.
    static void installIn(kit::Popover& popover, std::shared_ptr<CtrlColoredPopoverView> view);
};

}  // namespace controls
