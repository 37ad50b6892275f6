#pragma once
// A measurement imprinted on the screenshot: a horizontal or vertical line
// with end ticks and a label that shows its length in pixels ("px") or points
// ("pt"). rect holds the start point and the length along one axis.
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "objects/ProtoObject.h"

namespace objects {

class ObjRuler : public ProtoObject {
public:
    ObjRuler(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjRuler"; }

    bool vertical = true;
    double dpr = 2.0;  // divisor of the shown value; 1.0 shows pixels
    double tperc = 0.5;
    double tdist = 20.0;
    bool flipIfNeeded = false;
    services::Rect textRect;
    std::shared_ptr<kit::TextLayer> ltext;
    double mdPerc = 0, mdDist = 0;
    std::shared_ptr<kit::ShapeLayer> shape;

    virtual void updateKnobs(bool isVertical);
    virtual kit::Path shapePath(bool inView) const;
    virtual std::string valueText() const;

    void draw() override;
    std::string action(kit::Point p) override;
    void mouseDown(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void dblClick(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    // A click on the label switches between pixels and points.
    void toggleUnits(kit::Point p);

private:
    double viewDpr() const;
};

}  // namespace objects
