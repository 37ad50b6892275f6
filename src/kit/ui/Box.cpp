#include "kit/ui/Box.h"

namespace kit {

Box::Box(const Rect& frame) : View(frame) {}
void Box::setFillColor(std::optional<Color> color) {
    layer()->setBackgroundColor(color);
}
void Box::setBorderColor(Color color) {
    layer()->setBorderColor(color);
}
void Box::setBorderWidth(double width) {
    layer()->setBorderWidth(width);
}
void Box::setCornerRadius(double radius) {
    layer()->setCornerRadius(radius);
}

}  // namespace kit
