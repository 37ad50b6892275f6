#pragma once
// What the editor window and its bars ask of the other editor pieces: the
// input dispatcher, the canvas, the annotation-object manager, the crop tool,
// pan and zoom and the undo history. The window reaches them only through
// this one interface, so its operations read as their steps and tests
// install a double that records the calls. The editor installs the live
// implementation when it starts (MainWindowControllerLinks.cpp); until then
// every call does nothing and answers "nothing there".
//
// Main thread only.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "editor/KeyEvt.h"
#include "kit/base/Event.h"
#include "services/Rect.h"

namespace kit {
class View;
}

namespace editor {

class WindowParts {
public:
    virtual ~WindowParts() = default;

    // ---- Input dispatcher -------------------------------------------------
    virtual void keyDown(const KeyEvt& /*key*/, const kit::Event* /*event*/) {}
    virtual void keyUp(const KeyEvt& /*key*/, const kit::Event* /*event*/) {}
    // The window lost the keyboard: held buttons and keys no longer reach it.
    virtual void windowResignedKey() {}

    // ---- Canvas -----------------------------------------------------------
    // The canvas view the view controller hosts (made once).
    virtual std::shared_ptr<kit::View> makeCanvasView();
    virtual void relayoutCanvas(bool /*animated*/) {}
    // Runs the pending re-layout request (1 plain, 2 animated) and clears it.
    virtual void flushRelayoutRequest() {}
    virtual void setRelayoutRequest(int /*level*/) {}
    virtual void layoutChecker() {}
    // The canvas shows its first screenshot.
    virtual void canvasImageShown() {}

    // ---- Annotation objects -------------------------------------------------
    // The tool armed for creation ("ObjArrow"), "" for none.
    virtual std::string createOnClick() const { return {}; }
    virtual void setCreateOnClick(const std::string& /*type*/) {}
    virtual void deactivate() {}
    // The active object's class name, else the armed tool's, else "".
    virtual std::string activeType() const { return {}; }
    // The option of the active object; with none active, the armed tool's
    // remembered option; nothing when neither has one.
    virtual std::optional<std::string> toolValue(const std::string& /*key*/) const { return std::nullopt; }
    // Applies an option to the active object and remembers it for its tool
    // (or for the armed tool while no object is active).
    virtual void setToolValue(const std::string& /*key*/, const std::string& /*value*/) {}
    // The active object's own swatch colours; empty for the default palette.
    virtual std::vector<std::string> activePalette() const { return {}; }
    // Adds the clipboard image as an object; false when there is none.
    virtual bool addImageFromClipboard() { return false; }
    // A text object is being edited.
    virtual bool isEditing() const { return false; }

    // ---- Crop tool ---------------------------------------------------------
    virtual bool cropOn() const { return false; }
    virtual services::Rect cropSelection() const { return {}; }
    virtual void growSelection() {}
    virtual void actionAdjust() {}
    // No selection, mode "default", no contrast measured.
    virtual void resetCropTool() {}

    // ---- Pan and zoom ------------------------------------------------------
    virtual void zoomIn() {}
    virtual void zoomOut() {}
    virtual void zoomTo100() {}

    // ---- Undo history ------------------------------------------------------
    virtual void undo() {}
};

// The installed implementation (never null: the do-nothing base until installed).
WindowParts& parts();
// Installs an implementation (nullptr restores the default); the caller keeps ownership.
void setParts(WindowParts* parts);
// Whether an implementation is installed.
bool partsInstalled();

}  // namespace editor
