#include "editor/Undo.h"

#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/ObjectHandlers.h"
#include "kit/base/Json.h"
#include "objects/ProtoObject.h"
#include "services/Telemetry.h"

namespace editor {
namespace {

kit::Json rectJSON(const services::Rect& r) {
    return {{"x1", r.x1}, {"y1", r.y1}, {"width", r.width}, {"height", r.height}};
}

std::optional<services::Rect> rectFrom(const kit::Json* v) {
    if (!v || !v->is_object()) return std::nullopt;
    auto x = kit::json::doubleAt(*v, "x1"), y = kit::json::doubleAt(*v, "y1");
    auto w = kit::json::doubleAt(*v, "width"), h = kit::json::doubleAt(*v, "height");
    if (!x || !y || !w || !h) return std::nullopt;
    return services::Rect{*x, *y, *w, *h};
}

kit::Json stepData(const char* status, int position, size_t count) {
    return {{"status", status}, {"position", position}, {"count", int64_t(count)}};
}

}  // namespace

Undo& Undo::shared() {
    static Undo* undo = new Undo();
    return *undo;
}

Undo::Snapshot Undo::current(const std::string& label) const {
    ObjectHandlers& objects = ObjectHandlers::shared();
    const std::string list = objects.objectsJSON();
    std::optional<int> selected;
    if (auto* a = objects.activeObj().get(); a && !a->isEmpty()) selected = *objects.active;
    CropTool& crop = CropTool::shared();

    auto record = [&](std::optional<int> sel, const std::string& backdropConfig) {
        kit::Json r = {{"objects", list},
                       {"cropRect", rectJSON(Framer::shared().crop)},
                       {"counterCount", objects.counterCount},
                       {"backdropConfig", backdropConfig}};
        if (sel) r["selectedObj"] = *sel;
        if (crop.on()) r["selectionRect"] = rectJSON(crop.selection());
        return objects::encode(r);
    };
    Snapshot s{label, record(selected, backdrop().configJSON(false)),
               record(std::nullopt, backdrop().configJSON(true))};
    // An object list that failed to encode is no state to return to.
    if (list.empty() || s.full.empty() || s.comparable.empty()) s.full.clear(), s.comparable.clear();
    return s;
}

void Undo::save(const std::string& label) {
    Snapshot s = current(label);
    // A failed encoding is never stored: undo would step onto an empty editor.
    if (s.full.empty()) return;
    if (position >= 0 && position < int(states.size()) && states[size_t(position)].comparable == s.comparable)
        return;
    if (position + 1 < int(states.size())) states.resize(size_t(position + 1));
    states.push_back(std::move(s));
    position = int(states.size()) - 1;
}

void Undo::step(int delta, const char* name) {
    const int to = position + delta;
    if (to >= 0 && to < int(states.size()) && position >= 0) {
        position = to;
        restore(states[size_t(position)].full);
        services::Telemetry::shared().repeatableEvent(name, stepData("ok", position, states.size()));
        ObjectHandlers::shared().layoutNow(false);
        core().updateStatus();  // the status line shows the restored selection's size
    } else {
        services::Telemetry::shared().repeatableEvent(std::string(name) + ":fail",
                                                      stepData("failed", position, states.size()));
    }
}

void Undo::undo() {
    step(-1, "undo");
}

void Undo::redo() {
    step(1, "redo");
}

void Undo::reset() {
    states.clear();
    position = -1;
    save("");
}

bool Undo::restore(const std::string& full) {
    auto doc = kit::json::parse(full);
    if (!doc || !doc->is_object()) return false;
    auto list = kit::json::stringAt(*doc, "objects");
    auto cropRect = rectFrom(kit::json::memberAt(*doc, "cropRect"));
    auto counter = kit::json::intAt(*doc, "counterCount");
    auto config = kit::json::stringAt(*doc, "backdropConfig");
    if (!list || !cropRect || !counter || !config) return false;
    std::optional<int> selected;
    if (auto v = kit::json::intAt(*doc, "selectedObj")) selected = int(*v);

    if (Framer::shared().crop != *cropRect) core().cropAbsolute(*cropRect);
    ObjectHandlers& objects = ObjectHandlers::shared();
    objects.restore(*list, selected);
    objects.counterCount = int(*counter);
    CropTool::shared().setSelection(rectFrom(kit::json::memberAt(*doc, "selectionRect")));

    kit::Json settings = kit::Json::object();
    if (auto parsed = kit::json::parse(*config); parsed && parsed->is_object()) settings = *parsed;
    backdrop().applyConfig(settings);
    backdrop().layout();
    backdrop().updateControls();
    if (backdrop().isOn() == 1) backdrop().setup(false);
    return true;
}

void installUndo() {
    EditorHooks& hooks = editorHooks();
    if (!hooks.undoSave) hooks.undoSave = [](const std::string& label) { Undo::shared().save(label); };
}

}  // namespace editor
