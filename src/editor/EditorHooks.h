#pragma once
// The editor-wide calls the annotation objects make outside their manager:
// the canvas re-layout, the tool-settings bar, the undo history and the
// backdrop re-layout. Each owner installs its function when it starts; until
// then a call does nothing. Tests install doubles.
#include <functional>
#include <string>

namespace kit {
class View;
}

namespace editor {

struct EditorHooks {
    std::function<void(bool animated)> relayoutCanvas;
    // Shows and loads the tool-settings bar for the active object.
    std::function<void()> refreshToolSettings;
    // Rebuilds the tool-settings bar for an object type ("ObjFreehand").
    std::function<void(const std::string& type)> updateToolSettings;
    // Takes an undo snapshot under a label.
    std::function<void(const std::string& label)> undoSave;
    // Recomputes the backdrop and the canvas margins from the objects' bounds.
    std::function<void()> backdropLayout;
    // The view over which the text editor is placed (canvas points, y up).
    std::function<kit::View*()> canvasView;
    // Dims the tool-settings bar after a moment (a drag nears it) and brings it back.
    std::function<void()> muteToolSettings;
    std::function<void()> unmuteToolSettings;
};

// The installed hooks; a test or the editor assigns the members it provides.
EditorHooks& editorHooks();

// Pending canvas layout after an event: 0 none, 1 plain, 2 animated. The
// handlers lay the canvas out when it is above 0 and set it back to 0.
inline int layoutRequest = 0;
// While true every requested layout runs without animation.
inline bool layoutAnimationsOff = false;

// Lays the canvas out now (defined with the canvas layers).
void relayoutCanvas(bool animated);

}  // namespace editor
