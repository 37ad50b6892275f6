// The live editor pieces behind the window's one interface to them, and the
// wiring of the editor when its window is made: the dispatcher gets the crop
// tool, the ruler, the key table and the drag-out; the object hooks reach the
// canvas re-layout and the tool-settings bar.
#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/EditorHooks.h"
#include "editor/EditorKeys.h"
#include "editor/FrameHandlers.h"
#include "editor/Handlers.h"
#include "editor/MainWindowController.h"
#include "editor/MainWindowControllerParts.h"
#include "editor/ObjectHandlers.h"
#include "editor/Ruler.h"
#include "editor/ShotView.h"
#include "editor/ToolSettingsBar.h"
#include "editor/Undo.h"

namespace editor {

namespace {

class LiveParts : public WindowParts {
public:
    void keyDown(const KeyEvt& key, const kit::Event* event) override {
        Handlers::shared().keyDown(key, event);
    }
    void keyUp(const KeyEvt& key, const kit::Event* event) override { Handlers::shared().keyUp(key, event); }
    void windowResignedKey() override { Handlers::shared().resignKey(); }

    std::shared_ptr<kit::View> makeCanvasView() override { return ShotView::make(); }
    void relayoutCanvas(bool animated) override { editor::relayoutCanvas(animated); }
    void flushRelayoutRequest() override { editor::flushRelayoutRequest(); }
    void setRelayoutRequest(int level) override { canvasLayers().relayoutRequest = level; }
    void layoutChecker() override { editor::layoutChecker(); }

    bool cropOn() const override { return CropTool::shared().on(); }
    services::Rect cropSelection() const override { return CropTool::shared().selection(); }
    void growSelection() override { CropTool::shared().growSelection(); }
    void actionAdjust() override { CropTool::shared().actionAdjust(); }
    void resetCropTool() override {
        CropTool& c = CropTool::shared();
        c.on_ = false;
        c.mmode = "default";
        c.contrast.reset();
    }

    void zoomIn() override { FrameHandlers::zoomIn(); }
    void zoomOut() override { FrameHandlers::zoomOut(); }
    void zoomTo100() override { FrameHandlers::zoomToActualSize(); }

    std::string createOnClick() const override { return ObjectHandlers::shared().createOnClick; }
    void setCreateOnClick(const std::string& type) override { ObjectHandlers::shared().createOnClick = type; }
    void deactivate() override { ObjectHandlers::shared().deactivate(); }
    std::string activeType() const override { return ObjectHandlers::shared().activeType(); }
    std::optional<std::string> toolValue(const std::string& key) const override {
        ObjectHandlers& m = ObjectHandlers::shared();
        auto o = m.active ? m.activeObj() : nullptr;
        return o ? o->getValue(key) : armedToolValue(m.createOnClick, key);
    }
    void setToolValue(const std::string& key, const std::string& value) override {
        ObjectHandlers& m = ObjectHandlers::shared();
        // With only a tool armed, the change is for the next object it makes.
        if (!(m.active ? m.activeObj() : nullptr)) {
            setArmedToolValue(m.createOnClick, key, value);
            return;
        }
        m.setToolValue(key, value);
    }
    std::vector<std::string> activePalette() const override { return ObjectHandlers::shared().palette(); }
    bool addImageFromClipboard() override { return ObjectHandlers::shared().addImageFromPasteboard(); }
    bool isEditing() const override { return ObjectHandlers::shared().isEditing(); }
    void undo() override { Undo::shared().undo(); }
};

bool installed = false;

}  // namespace

void installEditorParts(MainWindowController& controller) {
    if (installed) return;
    installed = true;
    static LiveParts live;
    if (&parts() != &live && !partsInstalled()) setParts(&live);

    installObjectHandlers();
    Handlers& h = Handlers::shared();
    if (!h.crop) h.crop = &CropTool::shared();
    if (!h.ruler) h.ruler = &Ruler::shared();
    if (!h.keys) h.keys = &EditorKeys::shared();
    if (!h.dragOut) h.dragOut = dragOutToFile();

    EditorHooks& hooks = editorHooks();
    if (!hooks.relayoutCanvas) hooks.relayoutCanvas = [](bool animated) { editor::relayoutCanvas(animated); };
    // The view controller is made after this; the hooks find it when called.
    MainWindowController* c = &controller;
    if (!hooks.updateToolSettings)
        hooks.updateToolSettings = [c](const std::string& type) {
            if (c->viewController) c->viewController->updateToolSettings(type);
        };
    if (!hooks.refreshToolSettings)
        hooks.refreshToolSettings = [c] {
            if (c->viewController) c->viewController->updateToolSettings(parts().activeType());
        };
    if (!hooks.canvasView)
        hooks.canvasView = [c]() -> kit::View* {
            return c->viewController ? c->viewController->shotView.get() : nullptr;
        };
    if (!hooks.muteToolSettings)
        hooks.muteToolSettings = [c] {
            if (c->viewController) c->viewController->muteToolSettingsSoon();
        };
    if (!hooks.unmuteToolSettings)
        hooks.unmuteToolSettings = [c] {
            if (c->viewController && c->viewController->toolSettings.svEditor)
                c->viewController->toolSettings.svEditor->unmute();
        };
}

}  // namespace editor
