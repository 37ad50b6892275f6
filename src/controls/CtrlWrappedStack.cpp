#include "controls/CtrlWrappedStack.h"

#include <algorithm>
#include <cmath>

namespace controls {

CtrlWrappedStack::CtrlWrappedStack(const kit::Rect& frame) : kit::View(frame) {}

int CtrlWrappedStack::cellsPerRow(double width, double subWidth, double gap) {
    double step = subWidth + gap;
    if (!(step > 0) || !(width > 0)) return 1;
    auto n = static_cast<long long>(std::floor(width / step)) + 1;
    while (n > 1 && double(n) * subWidth + double(n - 1) * gap > width) --n;
    return n < 1 ? 1 : static_cast<int>(std::min<long long>(n, 1 << 20));
}

double CtrlWrappedStack::heightFor(size_t count, int perRow, double subHeight, double gap) {
    if (count == 0) return 0;
    size_t per = perRow < 1 ? 1 : size_t(perRow);
    double rows = double((count + per - 1) / per);
    return rows * subHeight + (rows - 1) * gap;
}

kit::Size CtrlWrappedStack::intrinsicContentSize() const {
    double w = frame().width();
    return {w, heightFor(subviews().size(), cellsPerRow(w, subWidth, gap), subHeight, gap)};
}

void CtrlWrappedStack::arrange() {
    int perRow = cellsPerRow(frame().width(), subWidth, gap);
    double x = 0, y = frame().height() - subHeight;  // y up: the top row first
    int inRow = 0;
    // A copy: a subview's frame change must not disturb the walk.
    auto views = subviews();
    for (auto& view : views) {
        view->setFrame({x, y, subWidth, subHeight});
        if (++inRow == perRow) {
            inRow = 0;
            x = 0;
            y -= subHeight + gap;
        } else {
            x += subWidth + gap;
        }
    }
}

void CtrlWrappedStack::layout() {
    kit::View::layout();
    arrange();
}

}  // namespace controls
