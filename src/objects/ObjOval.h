#pragma once
// A closed outline inside the object's frame: an oval ("oval") or a rounded
// rectangle ("rect"), stroked and optionally filled with a translucent tint.
// Both outlines are nine points with Bézier controls, turned into a path by
// the stroke geometry and cached until the frame, shape or size changes. The
// sampled outline is the hit target of an unfilled shape and the cut-out of
// the editor's spotlight mask.
#include "kit/draw/ShapeLayer.h"
#include "objects/FreehandHelper.h"
#include "objects/ProtoObject.h"

namespace objects {

class ObjOval : public ProtoObject {
public:
    ObjOval(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjOval"; }

    std::vector<double> widths{1, 2, 3, 4, 6, 8, 11, 15, 21, 30};
    bool showBorder = true;
    bool showBackground = false;
    double backgroundAlpha = 0.3;
    std::string shape = "oval";
    std::vector<Point> segments;
    std::string pathStamp;
    std::shared_ptr<kit::ShapeLayer> shapeLayer;

    void draw() override;
    std::optional<kit::Path> outlinePath() override;
    std::string action(kit::Point p) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    std::vector<Point> rectShapePoints() const;
    std::vector<Point> ovalShapePoints() const;

protected:
    double lineEntry() const;  // s: the width table's entry at the size
    // The geometry key of the path: it changes with the frame, the shape, the
    // size and whatever else the outline's points depend on.
    std::string geometryKey() const;
    void setFillValue(const std::string& value);
    bool pathBuilt_ = false;
};

// The spotlight: an oval or rounded rectangle that stays bright while the
// editor's curtain darkens the rest of the canvas.
class ObjSpotlight : public ObjOval {
public:
    ObjSpotlight(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjSpotlight"; }

    void dblClick(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
};

}  // namespace objects
