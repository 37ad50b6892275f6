#include "kit/draw/GradientLayer.h"

namespace kit {

void GradientLayer::setType(GradientType t) {
    if (type_ == t) return;
    type_ = t;
    changed();
}
void GradientLayer::setColors(std::vector<Color> c) {
    if (colors_ == c) return;
    colors_ = std::move(c);
    changed();
}
void GradientLayer::setLocations(std::vector<double> l) {
    if (locations_ == l) return;
    locations_ = std::move(l);
    changed();
}
void GradientLayer::setStartPoint(Point p) {
    if (startPoint_ == p) return;
    startPoint_ = p;
    changed();
}
void GradientLayer::setEndPoint(Point p) {
    if (endPoint_ == p) return;
    endPoint_ = p;
    changed();
}

}  // namespace kit
