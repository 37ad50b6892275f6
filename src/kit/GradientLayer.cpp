#include "kit/GradientLayer.h"

namespace kit {

void GradientLayer::setType(GradientType t) {
    type_ = t;
    changed();
}
void GradientLayer::setColors(std::vector<Color> c) {
    colors_ = std::move(c);
    changed();
}
void GradientLayer::setLocations(std::vector<double> l) {
    locations_ = std::move(l);
    changed();
}
void GradientLayer::setStartPoint(Point p) {
    startPoint_ = p;
    changed();
}
void GradientLayer::setEndPoint(Point p) {
    endPoint_ = p;
    changed();
}

}  // namespace kit
