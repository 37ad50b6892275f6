#pragma once
// The numbered badge: a filled circle, or a pin that narrows into a point,
// with its number written in it. rect holds the centre (x1, y1) and a
// rotation vector (width, height) pointing where the pin points, 1.5 radii
// long. Each new counter takes the editor's next running number.
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "objects/ProtoObject.h"

namespace objects {

class ObjCounter : public ProtoObject {
public:
    ObjCounter(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjCounter"; }

    std::shared_ptr<kit::TextLayer> ltext;  // the number
    static constexpr double diameters[10] = {22, 28, 36, 48, 64, 84, 112, 150, 200, 266};
    int style = 1;  // 0 circle; 1 and 2 the two pin outlines
    int count = 0;
    double prevDigitHit = 0;  // time of the last digit typed, seconds since 1970
    std::shared_ptr<kit::ShapeLayer> shape;

    // Badge radius in image units.
    virtual double radius() const;
    virtual kit::Path shapePath() const;
    // Rescales the rotation vector to 1.5 radii, optionally snapping its
    // direction to a multiple of 45 degrees.
    virtual void snapAngle(bool snap);

    void draw() override;
    std::string action(kit::Point p) override;
    void mouseDown(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    void remove() override;
    services::Rect anchorPoint() override;
    void changeSize(int step) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;
};

}  // namespace objects
