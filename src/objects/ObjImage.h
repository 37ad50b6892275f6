#pragma once
// An image laid over the screenshot: a rectangle whose layer shows the
// image, with an opacity that doubles as an alignment aid, aspect-locked
// corner drags, and a two-frame before/after GIF of the overlay and the
// screenshot under it. The pixels live in `imageCache` under `imageHash`.
#include <map>

#include "kit/base/Image.h"
#include "objects/ObjRectangle.h"

namespace objects {

// Overlay images by their key; emptied by the application core when it
// loads a new screenshot.
std::map<std::string, kit::Image>& imageCache();

class ObjImage : public ObjRectangle {
public:
    ObjImage(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjImage"; }

    kit::Image image;  // null when absent
    std::string imageHash;

    void draw() override;
    std::string action(kit::Point p) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    virtual void setImage(const kit::Image& img);
    // Hands the overlay and the screenshot under it, at one size, to the core.
    virtual void saveGIF();
};

// The default text form of a rect: "Rect(x1: 10.0, y1: 20.0, width: 0.0, height: 5.0)".
std::string rectDescription(const services::Rect& r);

}  // namespace objects
