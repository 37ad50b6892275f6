#pragma once
// A popover content view that paints the whole popover in one dark colour, by
// putting a background view behind the popover's content.
#include "kit/View.h"

class PopoverBackgroundView : public kit::View {
public:
    explicit PopoverBackgroundView(const kit::Rect& frame = {});
};

class CtrlColoredPopoverView : public kit::View {
public:
    explicit CtrlColoredPopoverView(const kit::Rect& frame = {}) : kit::View(frame) {}

    std::shared_ptr<PopoverBackgroundView> backgroundView;

    void viewDidMoveToWindow() override;
};
