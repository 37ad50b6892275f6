#include "editor/MainWindowControllerParts.h"

#include "kit/View.h"

namespace editor {

namespace {

WindowParts*& installed() {
    static WindowParts* p = nullptr;
    return p;
}

}  // namespace

std::shared_ptr<kit::View> WindowParts::makeCanvasView() { return kit::View::make(); }

WindowParts& parts() {
    static WindowParts nothing;
    WindowParts* p = installed();
    return p ? *p : nothing;
}

void setParts(WindowParts* p) { installed() = p; }

bool partsInstalled() { return installed() != nullptr; }

}  // namespace editor
