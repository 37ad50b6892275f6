#include "editor/EditorHooks.h"

namespace editor {

EditorHooks& editorHooks() {
    static EditorHooks hooks;
    return hooks;
}

}  // namespace editor
