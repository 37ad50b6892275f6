#pragma once
// A layer filled with a colour gradient over its bounds. Points are in unit
// coordinates of the bounds, y up: the default runs from the bottom (0.5, 0)
// to the top (0.5, 1).
#include <vector>

#include "kit/draw/Layer.h"

namespace kit {

enum class GradientType { Axial, Radial, Conic };

class GradientLayer : public Layer {
public:
    static std::shared_ptr<GradientLayer> make() { return std::make_shared<GradientLayer>(); }
    Kind kind() const override { return Kind::Gradient; }

    GradientType type() const { return type_; }
    void setType(GradientType t);
    const std::vector<Color>& colors() const { return colors_; }
    void setColors(std::vector<Color> c);
    // Stops 0…1, one per colour; empty spreads the colours evenly.
    const std::vector<double>& locations() const { return locations_; }
    void setLocations(std::vector<double> l);
    // Axial: the line from start to end. Radial: centre at start, the end
    // point on the ellipse's rim. Conic: centre at start, angle 0 towards end.
    Point startPoint() const { return startPoint_; }
    void setStartPoint(Point p);
    Point endPoint() const { return endPoint_; }
    void setEndPoint(Point p);

private:
    GradientType type_ = GradientType::Axial;
    std::vector<Color> colors_;
    std::vector<double> locations_;
    Point startPoint_{0.5, 0}, endPoint_{0.5, 1};
};

}  // namespace kit
