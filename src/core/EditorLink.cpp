#include "core/EditorLink.h"

#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/MainWindowController.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "editor/ViewController.h"
#include "kit/image/SvgImage.h"
#include "kit/ui/ColorPanel.h"
#include "kit/ui/Window.h"
#include "objects/ObjConceal.h"
#include "objects/ObjFreehand.h"
#include "objects/ObjImage.h"
#include "objects/ObjRuler.h"
#include "services/Announcer.h"

namespace core {

// The editor's pieces join here as they are built; a piece that is not there
// yet answers "nothing there" and its steps do nothing.

namespace {

// The editor window's controller once its window and views are built: while
// they are being made, their own set-up already calls into the core.
editor::MainWindowController* controller() {
    auto* c = editor::MainWindowController::existing();
    return c && c->window && c->viewController && c->toolbarMain && c->labelZoom ? c : nullptr;
}

editor::ViewController* viewController() {
    auto* c = controller();
    return c ? c->viewController.get() : nullptr;
}

}  // namespace

kit::Window* EditorLink::window() {
    auto* c = controller();
    return c ? c->window.get() : nullptr;
}

void EditorLink::hidePanels() {
    if (auto* vc = viewController(); vc && vc->backdropView) vc->backdropView->hideNow();
    if (kit::ColorPanel::shared().isVisible()) kit::ColorPanel::shared().close();
}

void EditorLink::clearObjects() {
    editor::ObjectHandlers& objects = editor::ObjectHandlers::shared();
    objects.clear();
    objects.counterCount = 0;
}

void EditorLink::prepareWindow() {
    auto* c = controller();
    if (!c || !c->window) return;
    if (auto* vc = viewController(); vc && vc->introView) vc->introView->setHidden(true);
    c->setMainToolbarVisible(true);
    c->window->setStyleMask(c->window->styleMask() | kit::WindowStyle::Resizable);
    c->tmrHide.invalidate();
}

double EditorLink::chromeHeight() {
    auto* c = controller();
    return c && c->toolbarMain && !c->toolbarMain->isHidden() ? c->toolbarMain->frame().height() : 0;
}

void EditorLink::resetCropTool() {
    editor::CropTool& crop = editor::CropTool::shared();
    crop.on_ = false;
    crop.mmode = "default";
    crop.contrast.reset();
}

void EditorLink::setCanvasImage(const kit::Image& image) {
    editor::setCanvasImage(image);
}
void EditorLink::resetUndo() {
    editor::Undo::shared().reset();
}

void EditorLink::clearCaches() {
    objects::imageCache().clear();
    objects::strokePointsStore().clear();
}

bool EditorLink::hasActiveObject() {
    return editor::ObjectHandlers::shared().active.has_value();
}
std::string EditorLink::activeType() {
    return editor::ObjectHandlers::shared().activeType();
}
void EditorLink::deactivateObjects() {
    editor::ObjectHandlers::shared().deactivate();
}
void EditorLink::setArmedTool(const std::string& type) {
    editor::ObjectHandlers::shared().createOnClick = type;
}
bool EditorLink::cropToolOn() {
    return editor::CropTool::shared().on();
}
services::Rect EditorLink::cropSelection() {
    return editor::CropTool::shared().selection();
}
bool EditorLink::primaryButtonHeld() {
    return editor::Handlers::shared().pressedMouseButtons[0];
}
void EditorLink::applySelectionMode(const std::string& mode) {
    if (auto* c = controller()) c->applySelectionMode(mode);
}

void EditorLink::showStatus(int zoomPercent, const std::string& size, const std::string& title,
                            const std::string& colorText, kit::Color color) {
    if (auto* c = controller()) c->showStatus(zoomPercent, size, title, colorText, color);
}

void EditorLink::selectToolbarItem(const std::string& id) {
    if (auto* c = controller(); c && c->toolbarInstruments) c->toolbarInstruments->select(id);
}

void EditorLink::updateToolSettings(const std::string& type) {
    if (auto* vc = viewController()) vc->updateToolSettings(type);
}

void EditorLink::relayoutCanvas() {
    editor::relayoutCanvas(false);
}
std::optional<kit::Size> EditorLink::addImageObject(const kit::Image& image) {
    editor::ObjectHandlers& m = editor::ObjectHandlers::shared();
    m.deactivate();
    auto o = std::dynamic_pointer_cast<objects::ObjImage>(m.make("ObjImage"));
    if (!o) return std::nullopt;
    m.active = int(m.objects.size()) - 1;
    o->setImage(image);
    o->size = 0;
    return kit::Size{o->rect.width, o->rect.height};
}

services::Rect EditorLink::imageOverlayValue() {
    return editor::ObjectHandlers::shared().imageOverlayValue();
}

void EditorLink::moveActiveObject(kit::Point origin) {
    editor::ObjectHandlers& m = editor::ObjectHandlers::shared();
    if (!m.active || *m.active < 0 || *m.active >= int(m.objects.size()) || !m.objects[*m.active]) return;
    services::Rect& r = m.objects[*m.active]->rect;
    r.x1 = origin.x;
    r.y1 = origin.y;
}

void EditorLink::refitCanvas() {
    editor::refitCanvas(false);
}

void EditorLink::setPointer(const kit::Cursor& cursor) {
    if (auto* vc = viewController(); vc && vc->shotView) vc->shotView->setCursor(cursor);
}

bool EditorLink::addRectangle(const services::Rect& rect) {
    return editor::ObjectHandlers::shared().addObject("ObjRectangle", rect) != nullptr;
}

bool EditorLink::addEraser(const services::Rect& rect) {
    auto o = std::dynamic_pointer_cast<objects::ObjConceal>(
        editor::ObjectHandlers::shared().addObject("ObjConceal", rect));
    if (!o) return false;
    o->fillMode = "erase";
    o->reconceal();
    return true;
}

bool EditorLink::addRuler(const services::Rect& rect, bool vertical, double dpr, double tdist) {
    auto o = std::dynamic_pointer_cast<objects::ObjRuler>(
        editor::ObjectHandlers::shared().addObject("ObjRuler", rect));
    if (!o) return false;
    o->dpr = dpr;
    o->updateKnobs(vertical);
    o->tperc = 0.5;
    o->tdist = tdist;
    o->flipIfNeeded = true;
    o->draw();
    return true;
}

void EditorLink::endCropSelection() {
    editor::CropTool& crop = editor::CropTool::shared();
    crop.on_ = false;
    crop.mmode = "default";
    crop.contrast.reset();
}

void EditorLink::refreshCropLabels() {
    editor::CropTool& crop = editor::CropTool::shared();
    crop.roundSelection();  // shown in points, the selection spans whole points
    crop.render(false);
}

void EditorLink::shiftObjects(double dx, double dy) {
    for (auto& o : editor::ObjectHandlers::shared().objects) {
        if (!o) continue;
        o->rect.x1 += dx;
        o->rect.y1 += dy;
    }
}
void EditorLink::storeCropSelection(const services::Rect& selection) {
    editor::CropTool::shared().selection_ = selection;
}
void EditorLink::setCropSelection(std::optional<services::Rect> selection) {
    editor::CropTool::shared().setSelection(selection);
}
void EditorLink::saveUndo() {
    editor::Undo::shared().save("");
}
void EditorLink::hideTooltip() {
    if (auto* vc = viewController(); vc && vc->ctrlHelperTooltip) vc->ctrlHelperTooltip->hide();
}

bool EditorLink::hideHelpers() {
    auto* vc = viewController();
    return vc && vc->hideHelpers();
}

void EditorLink::attachAnnouncement() {
    if (auto* vc = viewController(); vc && vc->view) services::Announcer::shared().attach(*vc->view);
}

bool EditorLink::darkMode() {
    return kit::applicationIsDark();
}

void EditorLink::showUpdateButton() {
    if (auto* c = controller(); c && c->btnUpdate) c->btnUpdate->setHidden(false);
}

}  // namespace core
