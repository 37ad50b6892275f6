#pragma once
// Hides a rectangle of the screenshot behind a bitmap rendered from the
// capture's own pixels: a random mosaic of averaged tiles ("pixelate"), a fill
// of gradients between the region's edges ("erase"), or either of them over
// the recognised text lines only (a mode containing "text").
#include <functional>
#include <vector>

#include "imaging/Recognition.h"
#include "kit/base/Image.h"
#include "objects/ProtoObject.h"

namespace objects {

class ObjConceal : public ProtoObject {
public:
    ObjConceal(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjConceal"; }

    kit::LayerPtr lbitmap;
    std::string fillMode = "pixelate";

    // Where the randomness of the mosaic and the text lines come from; tests
    // install a seeded generator and a recogniser double.
    static std::function<double()>& random01();
    static std::function<std::vector<imaging::TextRect>(const kit::Image&, double dpr)>& recognizer();

    virtual void reconceal();
    virtual void postReconceal(const kit::Image& ctx, const services::Rect& area);
    // The covered part of the capture, or a null image.
    virtual kit::Image sourceImage();
    // Fills of an area (crop coordinates) into the context at an offset.
    virtual void pixelateFill(kit::Image& ctx, const services::Rect& area, double ox, double oy);
    virtual void eraseFill(kit::Image& ctx, const services::Rect& area, double ox, double oy);

    void draw() override;
    void deactivate() override;
    std::string action(kit::Point p) override;
    void move(double dx, double dy) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    void changeSize(int step) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;
};

}  // namespace objects
