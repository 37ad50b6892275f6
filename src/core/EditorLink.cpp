#include "core/EditorLink.h"

#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/Handlers.h"
#include "editor/EditorHooks.h"
#include "kit/ColorPanel.h"
#include "kit/Window.h"
#include "objects/ObjFreehand.h"
#include "objects/ObjImage.h"

namespace core {

// The editor's pieces join here as they are built; a piece that is not there
// yet answers "nothing there" and its steps do nothing.

kit::Window* EditorLink::window() { return nullptr; }

void EditorLink::hidePanels() {
    if (kit::ColorPanel::shared().isVisible()) kit::ColorPanel::shared().close();
}

void EditorLink::clearObjects() {}

void EditorLink::prepareWindow() {
    if (kit::Window* win = window()) win->setStyleMask(win->styleMask() | kit::WindowStyle::Resizable);
}

void EditorLink::resetCropTool() {
    editor::CropTool& crop = editor::CropTool::shared();
    crop.on_ = false;
    crop.mmode = "default";
    crop.contrast.reset();
}

void EditorLink::setCanvasImage(const kit::Image& image) { editor::setCanvasImage(image); }
void EditorLink::resetUndo() {}

void EditorLink::clearCaches() {
    imageCache().clear();
    strokePointsStore().clear();
}

bool EditorLink::hasActiveObject() { return false; }
std::string EditorLink::activeType() { return {}; }
void EditorLink::deactivateObjects() {}
void EditorLink::setArmedTool(const std::string&) {}
bool EditorLink::cropToolOn() { return editor::CropTool::shared().on(); }
Rect EditorLink::cropSelection() { return editor::CropTool::shared().selection(); }
bool EditorLink::primaryButtonHeld() { return editor::Handlers::shared().pressedMouseButtons[0]; }
void EditorLink::applySelectionMode(const std::string&) {}
void EditorLink::showStatus(int, const std::string&, const std::string&, const std::string&, kit::Color) {}
void EditorLink::selectToolbarItem(const std::string&) {}

void EditorLink::updateToolSettings(const std::string& type) {
    if (editorHooks().updateToolSettings) editorHooks().updateToolSettings(type);
}

void EditorLink::relayoutCanvas() { editor::relayoutCanvas(false); }
void EditorLink::addImageObject(const kit::Image&) {}
void EditorLink::hideTooltip() {}
bool EditorLink::hideHelpers() { return false; }
void EditorLink::attachAnnouncement() {}
bool EditorLink::darkMode() { return false; }
void EditorLink::showUpdateButton() {}

}  // namespace core
