#pragma once
// The straight-line annotation: one segment from a start point along a
// vector (rect's width and height, never normalised), solid or dotted, with
// an optional "arrow" or "bullet" cap at each end.
#include "kit/draw/ShapeLayer.h"
#include "objects/ProtoObject.h"

namespace objects {

class ObjLine : public ProtoObject {
public:
    ObjLine(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjLine"; }

    static constexpr double widths[10] = {1, 2, 3, 4, 6, 8, 11, 15, 21, 30};
    std::string startCap = "none";
    std::string endCap = "none";
    bool dotted = false;
    std::shared_ptr<kit::ShapeLayer> shape;  // the drawing layer

    void draw() override;
    std::string action(kit::Point p) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void dblClick(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    // Cycles the cap of the end under the point, or the dotted style on the body.
    void toggleCap(kit::Point p);
};

// Shared by the line and the arrow: the arrow-key nudge of a start point and
// vector (Command moves the end only); a nudge never collapses it to a point.
void nudgeVector(services::Rect& rect, const KeyEvt& key, double step);
// The distance of q from the infinite line through (x1, y1) along (width, height).
double distanceToLine(const services::Rect& rect, kit::Point q);
// Shift while creating: the vector keeps only its longer axis (on a tie, the vertical one).
void keepLongerAxis(services::Rect& rect);
// The drag of a line-like object in "move", "point-1" or "point-2".
void dragVector(services::Rect& rect, const services::Rect& mouseDownRect, const std::string& state,
                double dx, double dy);

}  // namespace objects
