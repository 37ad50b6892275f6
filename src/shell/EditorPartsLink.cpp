#include "shell/EditorPartsLink.h"

#include "controls/CtrlToolbar.h"
#include "editor/EditorHooks.h"
#include "editor/FrameHandlers.h"
#include "editor/Handlers.h"
#include "editor/MainWindowController.h"
#include "editor/MainWindowControllerParts.h"
#include "editor/ObjectHandlers.h"

namespace shell {

void EditorPartsLink::zoom(Zoom z) {
    using editor::FrameHandlers;
    switch (z) {
        case Zoom::In:
            return FrameHandlers::zoomIn();
        case Zoom::Out:
            return FrameHandlers::zoomOut();
        case Zoom::ToFit:
            return FrameHandlers::fitToWindow(false);
        case Zoom::To100:
            return FrameHandlers::zoomToActualSize();
        case Zoom::ToSelection:
            return FrameHandlers::zoomToSelection();
        case Zoom::SelectionTopLeft:
            return FrameHandlers::zoomToSelectionTopLeft();
        case Zoom::SelectionBottomRight:
            return FrameHandlers::zoomToSelectionBottomRight();
    }
}

bool EditorPartsLink::isEditingText() const {
    return editor::parts().isEditing();
}

bool EditorPartsLink::canvasOwnsCopy() const {
    return editor::parts().cropOn() || editor::ObjectHandlers::shared().active.has_value();
}

void EditorPartsLink::updateCursor() {
    editor::Handlers::shared().updateCursor();
}

int EditorPartsLink::pendingChange() const {
    return editor::layoutRequest;
}

void EditorPartsLink::setPendingChange(int value) {
    editor::layoutRequest = value;
}

void EditorPartsLink::relayoutCanvas(bool sizeChanged) {
    editor::relayoutCanvas(sizeChanged);
}

void EditorPartsLink::redrawToolbar() {
    if (auto& toolbar = editor::MainWindowController::shared().toolbarInstruments) toolbar->flash();
}

}  // namespace shell
