#pragma once
// A plain coloured box: fill, border and corner radius, holding subviews.
#include <optional>

#include "kit/base/Color.h"
#include "kit/ui/View.h"

namespace kit {

class Box : public View {
public:
    explicit Box(const Rect& frame = {});
    void setFillColor(std::optional<Color> color);
    void setBorderColor(Color color);
    void setBorderWidth(double width);
    void setCornerRadius(double radius);
};

}  // namespace kit
