#pragma once
// One square selection handle on an object's control layer: a corner or edge
// handle for resizing, or a point handle. Its cursor word becomes the object's
// state when a press lands on it.
#include <memory>
#include <string>

#include "kit/draw/GradientLayer.h"
#include "kit/draw/Layer.h"

namespace objects {

class Knob {
public:
    Knob(const kit::LayerPtr& controlLayer, std::string cursor);

    kit::LayerPtr layer;                           // the outer square
    std::shared_ptr<kit::GradientLayer> sublayer;  // the inner face
    double dx = 0, dy = 0;                         // last drawn centre, control-layer units
    bool shown = true;
    std::string cursor;
    bool isHighlighted = false;

    // Places the handle centred on (x, y) in control-layer coordinates.
    virtual void draw(double x, double y);
    virtual ~Knob() = default;
};

}  // namespace objects
