#include "editor/MainWindowControllerParts.h"

#include "kit/ui/View.h"

namespace editor {

namespace {

WindowParts*& installedParts() {
    static WindowParts* p = nullptr;
    return p;
}

}  // namespace

std::shared_ptr<kit::View> WindowParts::makeCanvasView() {
    return kit::View::make();
}

WindowParts& parts() {
    static WindowParts nothing;
    WindowParts* p = installedParts();
    return p ? *p : nothing;
}

void setParts(WindowParts* p) {
    installedParts() = p;
}

bool partsInstalled() {
    return installedParts() != nullptr;
}

}  // namespace editor
