#include "editor/EditorHooks.h"

namespace editor {

EditorHooks& editorHooks() {
    static EditorHooks hooks;
    return hooks;
}

void relayoutCanvas(bool animated) {
    if (editorHooks().relayoutCanvas) editorHooks().relayoutCanvas(animated);
}

void refreshToolSettings() {
    if (editorHooks().refreshToolSettings) editorHooks().refreshToolSettings();
}

}  // namespace editor
