#include "kit/ui/StackView.h"

#include <algorithm>

#include "kit/ui/Control.h"

namespace kit {

namespace {

// A control with no size yet takes its natural one.
Size sizeOf(const View& v) {
    Size s = v.frame().size;
    if (s.isEmpty())
        if (auto* c = dynamic_cast<const Control*>(&v)) return c->fittingSize();
    return s;
}

}  // namespace

StackView::StackView(const Rect& frame, Orientation orientation) : View(frame), orientation_(orientation) {}

void StackView::addArrangedSubview(std::shared_ptr<View> view) {
    if (!view) return;
    arranged_.push_back(view);
    addSubview(std::move(view));
    arrange();
}

void StackView::removeArrangedSubview(const View& view) {
    std::erase_if(arranged_, [&](auto& v) { return v.get() == &view; });
    arrange();
}

void StackView::setSpacing(double spacing) {
    spacing_ = spacing;
    arrange();
}

void StackView::setEdgeInsets(double top, double left, double bottom, double right) {
    top_ = top, left_ = left, bottom_ = bottom, right_ = right;
    arrange();
}

void StackView::setAlignment(Alignment alignment) {
    alignment_ = alignment;
    arrange();
}

Size StackView::fittingSize() const {
    double along = 0, across = 0;
    int n = 0;
    for (auto& v : arranged_) {
        if (v->isHidden()) continue;
        Size s = sizeOf(*v);
        bool h = orientation_ == Orientation::Horizontal;
        along += h ? s.width : s.height;
        across = std::max(across, h ? s.height : s.width);
        ++n;
    }
    if (n > 1) along += spacing_ * (n - 1);
    return orientation_ == Orientation::Horizontal ? Size{left_ + along + right_, top_ + across + bottom_}
                                                   : Size{left_ + across + right_, top_ + along + bottom_};
}

void StackView::arrange() {
    Rect b = bounds();
    double innerW = b.width() - left_ - right_, innerH = b.height() - top_ - bottom_;
    // Rows run left to right; columns top to bottom (y up: from the top edge down).
    double x = left_, yTop = b.height() - top_;
    for (auto& v : arranged_) {
        if (v->isHidden() || v->superview() != this) continue;
        Size s = sizeOf(*v);
        if (orientation_ == Orientation::Horizontal) {
            double slack = innerH - s.height;
            double y = bottom_ + (alignment_ == Alignment::Leading  ? slack
                                  : alignment_ == Alignment::Center ? slack / 2
                                                                    : 0);
            v->setFrame({x, y, s.width, s.height});
            x += s.width + spacing_;
        } else {
            double slack = innerW - s.width;
            double vx = left_ + (alignment_ == Alignment::Leading  ? 0
                                 : alignment_ == Alignment::Center ? slack / 2
                                                                   : slack);
            v->setFrame({vx, yTop - s.height, s.width, s.height});
            yTop -= s.height + spacing_;
        }
    }
}

}  // namespace kit
