#pragma once
// Everything an annotation object asks of its surroundings, in one place: the
// object manager's list and indexes, the viewport, the canvas re-layout, the
// tool-settings bar, the undo history, the backdrop and the application core.
// The editor's object manager implements it and is the `parent` of every
// object it makes; tests use one double. An object without a parent sees
// `ObjectHost::none()`: a fixed viewport (pixel ratio 1, zoom 1, no pan) whose
// calls do nothing.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/draw/ShapeLayer.h"
#include "services/Rect.h"

namespace kit {
class View;
}

namespace objects {

class ObjectsCore;
class ProtoObject;

class ObjectHost {
public:
    virtual ~ObjectHost() = default;

    // The host of objects that have none.
    static ObjectHost& none();

    // The manager's model.
    std::vector<std::shared_ptr<ProtoObject>> objects;  // z-order
    std::optional<int> active;                          // index of the active object
    std::optional<int> selectedIndex;                   // object whose tool settings show
    std::string createOnClick;                          // tool armed for creation, "" for none
    std::shared_ptr<kit::ShapeLayer> lcurtain = kit::ShapeLayer::make();  // darkens outside spotlights
    int counterCount = 0;                                                 // number of the last counter placed

    // Ends editing of the active object and drops the empty ones.
    virtual void deactivate() {}
    // Type name of the active object ("ObjArrow"), "" when none.
    virtual std::string activeType() const { return ""; }
    // counterCount = the largest number any counter still shows.
    virtual void renumberCounters() {}

    // The viewport: device pixels per point, device pixels per image pixel,
    // and the mapping between canvas (device pixels, y up) and image space.
    virtual double dpr() const { return 1; }
    virtual double zoom() const { return 1; }
    virtual kit::Point viewToImage(kit::Point v) const { return v; }
    virtual kit::Point imageToView(kit::Point p) const { return p; }
    // The screenshot's source and crop rects and the canvas area.
    virtual services::Rect source() const { return {}; }
    virtual services::Rect crop() const { return {}; }
    virtual services::Rect area() const { return {}; }
    // Goes to 100 % with the image point under the view point.
    virtual void zoomToActualSizeAt(kit::Point /*imagePoint*/, kit::Point /*viewPoint*/) {}

    // The canvas lay-out after the current event: 0 none, 1 plain, 2 animated.
    virtual void setLayoutRequest(int /*level*/) {}
    // Lays the canvas out at once and drops the pending request.
    virtual void layoutNow(bool /*animated*/) {}
    // While on, every canvas lay-out runs without animation (text editing).
    virtual void setLayoutAnimationsOff(bool /*off*/) {}
    // The view the text-editing view is placed on; null without a canvas.
    virtual kit::View* canvasView() const { return nullptr; }

    // Shows and loads the tool-settings bar for the active object.
    virtual void refreshToolSettings() {}
    // Rebuilds the tool-settings bar for an object type ("Freehand").
    virtual void updateToolSettings(const std::string& /*type*/) {}
    // Takes an undo snapshot under a label.
    virtual void undoSave(const std::string& /*label*/) {}
    // Recomputes the backdrop and the canvas margins from the objects' bounds.
    virtual void backdropLayout() {}
    // The application core; null until there is one.
    virtual ObjectsCore* core() const { return nullptr; }
};

}  // namespace objects
