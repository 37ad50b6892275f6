#pragma once
// A grid of equal cells that wraps: as many cells per row as fit the width,
// rows from the top down, cells left to right. Its intrinsic height grows
// with the rows, so that a scroll view or a stack above it can size it. The
// backdrop panel lists its templates, colours and images in it.
//
// Setting a field re-arranges nothing by itself; the owner asks for layout.
#include "kit/ui/View.h"

namespace controls {

class CtrlWrappedStack : public kit::View {
public:
    explicit CtrlWrappedStack(const kit::Rect& frame = {});

    double subWidth = 40;
    double subHeight = 40;
    double gap = 10;

    // The most cells whose row, gaps included, fits `width`; at least one,
    // so a view narrower than a cell still shows one cell per row.
    static int cellsPerRow(double width, double subWidth, double gap);
    // r × subHeight + (r − 1) × gap for the rows `count` cells take; 0 without cells.
    static double heightFor(size_t count, int perRow, double subHeight, double gap);

    // Width: the frame's; height: what the rows need.
    kit::Size intrinsicContentSize() const;
    // Places the subviews in their cells, the first row at the top.
    void arrange();
    void layout() override;
};

}  // namespace controls
