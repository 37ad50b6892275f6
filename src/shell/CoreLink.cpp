#include "shell/CoreLink.h"

namespace shell {

namespace {
CoreLink g_defaultCore;
EditorLink g_defaultEditor;
CoreLink* g_core = nullptr;
EditorLink* g_editor = nullptr;
}  // namespace

CoreLink& coreLink() {
    return g_core ? *g_core : g_defaultCore;
}
EditorLink& editorLink() {
    return g_editor ? *g_editor : g_defaultEditor;
}
void setCoreLink(CoreLink* link) {
    g_core = link;
}
void setEditorLink(EditorLink* link) {
    g_editor = link;
}

}  // namespace shell
