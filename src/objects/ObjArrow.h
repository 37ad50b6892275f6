#pragma once
// The arrow annotation: between a start point and a tip (rect's start and
// vector, never normalised), a filled arrow in one of four outlines or a
// stroked line arrow with a head at the tip (and optionally at the start),
// straight or bent into a circular arc through a draggable curve handle.
#include "kit/draw/ShapeLayer.h"
#include "objects/ProtoObject.h"

namespace objects {

class ObjArrow : public ProtoObject {
public:
    ObjArrow(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjArrow"; }

    int style = 0;          // filled outline 0...3
    int type = 0;           // 0 filled, 1 line with a head at the tip, 2 heads at both ends
    double midpa = 0;       // curve angle from the chord, radians; 0 straight
    double midpd = 0.5;     // distance of the curve point as a fraction of the chord
    kit::Point center;      // centre of the arc (set by draw)
    double radius = 0;      // radius of the arc (set by draw; 0 when straight)
    double width = 0;       // stroke width in image pixels (set by draw)
    bool reversed = false;  // while creating: the tip is where the drag began
    std::shared_ptr<kit::ShapeLayer> shape;

    void draw() override;
    std::string action(kit::Point p) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void dblClick(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    void keyUp(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    void cycleStyle();
};

}  // namespace objects
