#pragma once
// The editor's annotation-object manager: the objects drawn over the
// screenshot, their layer tree, the active object and the armed tool. It
// creates objects by type word, hands them the canvas's presses, drags,
// releases and keys, keeps their layers in order, copies and pastes them and
// rebuilds them from undo snapshots. Every object it makes has it as parent
// (it is the objects' host); the canvas reaches it through `input()`.
//
// Points handed in are view-space device pixels of the canvas; the objects
// convert them through the viewport. Main thread only, except the canvas
// colour, which is computed on a worker and set back on the main thread.
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/CanvasInput.h"
#include "kit/base/Event.h"
#include "kit/draw/Layer.h"
#include "kit/draw/ShapeLayer.h"
#include "objects/KeyEvt.h"
#include "objects/ObjectHost.h"
#include "objects/ProtoObject.h"
#include "services/Rect.h"

namespace editor {

class ObjectHandlers : public objects::ObjectHost {
public:
    using ObjectPtr = std::shared_ptr<objects::ProtoObject>;

    // The one manager of the process, created on first use.
    static ObjectHandlers& shared();
    ObjectHandlers();
    ~ObjectHandlers() override;
    ObjectHandlers(const ObjectHandlers&) = delete;
    ObjectHandlers& operator=(const ObjectHandlers&) = delete;

    kit::LayerPtr layer = kit::Layer::make();     // drawing layer of all objects
    kit::LayerPtr lcontrol = kit::Layer::make();  // selection knobs, above `layer`
    std::shared_ptr<kit::ShapeLayer> lplaceholder = kit::ShapeLayer::make();  // brush preview
    kit::LayerPtr lcanvas = kit::Layer::make();  // canvas background, holds the screenshot
    std::string prevCreated;                     // armed tool at the last press
    bool continuousCreation = true;
    double tsMouseDown = 0;
    std::optional<std::string> copiedString, copiedType;  // the object clipboard

    // Factory, creation and the end of editing.
    ObjectPtr activeObj();
    void deactivate() override;
    void escEvent();
    ObjectPtr make(const std::string& type);
    ObjectPtr addObject(const std::string& type, const services::Rect& rect);
    // The clipboard's picture as an image object, in its turn among the
    // screenshot's requests, taken when asked (its read lets others run);
    // false when the clipboard holds none. `otherwise` runs in that turn
    // instead only when the clipboard was seen to offer no picture: a
    // picture that cannot be read, or an owner that did not say in time,
    // adds nothing, and the log says why. A paste whose clipboard was
    // replaced during the read is dropped (true when a picture was offered).
    bool addImageFromPasteboard(std::function<void()> otherwise = {});
    void placePastedImage(const kit::Image& image);
    void clear();

    // Layout and z-order.
    void layoutObjects();
    void sortLayers();

    // Pointer.
    bool wantsMouseDown(kit::Point p, int button);
    std::optional<int> getResponder(kit::Point p);
    void mouseDown(const kit::Event* event, kit::Point p, int button);
    std::string getCursor(double dx, double dy);
    void mouseDrag(const kit::Event* event, kit::Point p, int button);
    void mouseUp(const kit::Event* event, kit::Point p, int button);
    void dblClick(const kit::Event* event, kit::Point p, int button);

    // Keys and the object clipboard.
    void keyDown(const kit::Event* event, const objects::KeyEvt& key);
    void keyUp(const kit::Event* event, const objects::KeyEvt& key);

    // Selection, removal, counters, duplication.
    std::string activeType() const override;
    void select(int index);
    void removeObject(int index);
    void renumberCounters() override;
    bool isEditing();
    void duplicate(int shift);
    void insertObject(const std::string& type, const std::string& json, const std::string& event, int offset);

    // Tool values, geometry queries, restore.
    void setToolValue(const std::string& key, const std::string& value);
    std::vector<std::string> palette();
    services::Rect getRect();
    services::Rect contentBounds() const;
    services::Rect imageOverlayValue() const;
    // Rebuilds the objects from an object list; false (and the objects as
    // they were) when the text is not one.
    bool restore(const std::string& json, std::optional<int> active);
    std::string typeLetters() const;
    std::string textContent() const;
    // The object list JSON of the objects not being created.
    std::string objectsJSON() const;

    // The type name of a class name: the text after its first ".".
    static std::string typeName(const std::string& className);
    static const std::vector<std::string>& defaultPalette();

    // The canvas's view of the manager.
    ObjectInput& input();

    // objects::ObjectHost: the viewport and the editor around the objects.
    double dpr() const override;
    double zoom() const override;
    kit::Point viewToImage(kit::Point v) const override;
    kit::Point imageToView(kit::Point p) const override;
    services::Rect source() const override;
    services::Rect crop() const override;
    services::Rect area() const override;
    void zoomToActualSizeAt(kit::Point imagePoint, kit::Point viewPoint) override;
    void setLayoutRequest(int level) override;
    void layoutNow(bool animated) override;
    void setLayoutAnimationsOff(bool off) override;
    kit::View* canvasView() const override;
    void refreshToolSettings() override;
    void updateToolSettings(const std::string& type) override;
    void undoSave(const std::string& label) override;
    void backdropLayout() override;
    objects::ObjectsCore* core() const override;

    // Canvas-colour jobs started (tests and the benchmark read it).
    int canvasColorJobs() const { return colorJobs_; }
    bool canvasColorIdle() const { return colorState_->load() == 0; }

private:
    bool validActive() const;
    bool anyCreating() const;
    double topZ() const;
    // The guard of the pointer and key operations: false (after the report) without a valid active object.
    bool guard(const char* function, const char* outOfRange);
    void startCanvasColor();
    void muteSettingsNear(kit::Point p);

    struct Input;
    std::unique_ptr<Input> input_;
    // One canvas-colour job at a time; a layout during a job asks for one more run.
    std::shared_ptr<std::atomic<int>> colorState_ = std::make_shared<std::atomic<int>>(0);
    int colorJobs_ = 0;
};

// Puts the shared manager into the canvas's dispatcher and the key table.
void installObjectHandlers();

}  // namespace editor
