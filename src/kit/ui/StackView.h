#pragma once
// Lays its arranged subviews out in a row or a column with even spacing.
// Hidden views take no room.
#include <memory>
#include <vector>

#include "kit/ui/View.h"

namespace kit {

class StackView : public View {
public:
    enum class Orientation { Horizontal, Vertical };
    enum class Alignment { Leading, Center, Trailing };  // across the stack

    explicit StackView(const Rect& frame = {}, Orientation orientation = Orientation::Horizontal);

    void addArrangedSubview(std::shared_ptr<View> view);
    void removeArrangedSubview(const View& view);
    const std::vector<std::shared_ptr<View>>& arrangedSubviews() const { return arranged_; }
    void setSpacing(double spacing);
    void setEdgeInsets(double top, double left, double bottom, double right);
    void setAlignment(Alignment alignment);
    // The size that holds every visible arranged view.
    Size fittingSize() const;
    // Places the arranged views again (after their sizes changed).
    void arrange();

    void layout() override { arrange(); }

protected:
    void subviewHiddenDidChange(View&) override { arrange(); }

private:
    Orientation orientation_;
    Alignment alignment_ = Alignment::Center;
    double spacing_ = 8, top_ = 0, left_ = 0, bottom_ = 0, right_ = 0;
    std::vector<std::shared_ptr<View>> arranged_;
};

}  // namespace kit
