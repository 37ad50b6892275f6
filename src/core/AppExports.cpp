#include "core/AppExports.h"

#include <cmath>

#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "core/CutSaves.h"
#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/ObjectHandlers.h"
#include "kit/base/Dispatch.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

// ---- the host over the core and the editor ---------------------------------------------

kit::Image AppExportHost::imgPrecompiled() const {
    return logic_.imgPrecompiled();
}

kit::LayerPtr AppExportHost::objectsLayer() const {
    return editor::canvasLayers().objects;
}

kit::Point AppExportHost::imageOrigin() const {
    const services::Rect& s = editor::Framer::shared().source;
    return {s.x1, s.y1};
}

void AppExportHost::prepareObjectLayers() {
    logic_.editor().deactivateObjects();
    logic_.refreshCropButton();
    // A hovered object is saved as it normally looks; a selected one keeps its look.
    if (editor::ObjectInput* objects = editor::Handlers::shared().objects)
        for (int i = 0; i < objects->objectCount(); ++i)
            if (objects->objectState(i) == "highlighted") objects->setObjectState(i, "unselected");
    editor::relayoutCanvas(false);
    // The thin line around the canvas is the editor's, not the picture's; the
    // next layout puts it back.
    editor::ObjectHandlers::shared().lcanvas->setBorderWidth(0);
}

bool AppExportHost::showsScreenshotAlone() const {
    editor::ObjectInput* objects = editor::Handlers::shared().objects;
    if (objects && objects->objectCount() > 0) return false;
    return editor::treeShowsImageAlone(logic_.imgPrecompiled());
}

double AppExportHost::dpr() const {
    return editor::Framer::shared().dpr();
}

std::optional<std::chrono::system_clock::time_point> AppExportHost::screenshotDate() const {
    if (!logic_.screenshotDate) return std::nullopt;
    auto since = std::chrono::duration<double>(*logic_.screenshotDate);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(since));
}

kit::Json AppExportHost::metadata() const {
    return logic_.metadata();
}

void AppExportHost::setMetadata(const kit::Json& metadata) {
    logic_.metadataRef() = metadata;
}

std::string AppExportHost::openedURL() const {
    return logic_.openedURL;
}

std::optional<std::string> AppExportHost::folderWithAccessURL() const {
    return logic_.folderWithAccessURL;
}

void AppExportHost::hideMainWindow() {
    logic_.hideMainWindow();
}

void AppExportHost::yieldFocus() {
    logic_.yieldFocus();
}

void AppExportHost::markFirstHide() {
    logic_.markFirstHide();
}

void AppExportHost::selectDefaultFolder(std::function<void(const std::string&)> whenReady) {
    services::Settings* settings = &logic_.settings();
    logic_.selectDefaultFolder([settings, whenReady = std::move(whenReady)] {
        if (auto folder = settings->defaultFolderURL()) whenReady(*folder);
    });
}

void AppExportHost::refreshCropButton() {
    logic_.refreshCropButton();
}

std::optional<kit::Image> AppExportHost::preCrop(const kit::Image& image) {
    services::Rect sel = logic_.editor().cropSelection();
    if (!(sel.width >= 1 && sel.height >= 1)) return std::nullopt;
    // The selection is in image pixels (y up); the compiled picture starts
    // at the left and bottom paddings.
    auto p = editor::backdrop().paddings();
    int x = int(std::lround(sel.x1 + p.padBL + p.padCL)), y = int(std::lround(sel.y1 + p.padBB + p.padCB));
    int w = int(std::lround(sel.width)), h = int(std::lround(sel.height));
    kit::Image cut = image.cropped(x, image.height() - y - h, w, h);
    if (cut.isNull()) return std::nullopt;
    return cut;
}

void AppExportHost::endSelection() {
    logic_.editor().resetCropTool();
    logic_.selectionModeChanged("default");
    logic_.editor().relayoutCanvas();
}

int AppExportHost::objectsCount() const {
    return int(editor::ObjectHandlers::shared().objects.size());
}

std::string AppExportHost::typeLetters() const {
    return editor::ObjectHandlers::shared().typeLetters();
}

std::string AppExportHost::textContent() const {
    return editor::ObjectHandlers::shared().textContent();
}

AppExports::AppExports(AppLogic& logic)
    : host(logic),
      exporter(host, logic.settings(), logic.telemetry()),
      commands(exporter, logic.settings(), logic.telemetry(), logic.notifier()) {}

// ---- the core's export commands ---------------------------------------------------------

AppExports& AppLogic::exports() const {
    if (!exports_) exports_ = std::make_unique<AppExports>(const_cast<AppLogic&>(*this));
    return *exports_;
}

void AppLogic::copyImageToPasteboard(const kit::Image& image) {
    exports().exporter.copyToPasteboard(image);
}

void AppLogic::cleanupTempFolder(const std::optional<std::string>& folder) {
    Exporter::cleanupTempFolder(folder);
}

void AppLogic::copyImage(bool selection, bool dontHide) {
    exports().commands.copyImage(selection, dontHide);
}

void AppLogic::saveImage(bool quiet, bool dontHide) {
    exports().commands.saveImage(quiet, dontHide);
}

void AppLogic::handOverWrittenSaves() {
    exports().commands.handOverWrittenSaves();
}

void AppLogic::saveImage(const std::string& method, bool escape) {
    // The save button and the menu tell about the file; the keys save quietly.
    bool quiet = escape || method.rfind("hotkey", 0) == 0;
    exports().commands.saveImage(quiet, false);
}

void AppLogic::saveImageAs(const std::optional<std::string>& folder, const std::string& name) {
    exports().commands.saveImageAs(folder, name);
}

void AppLogic::saveGIF(const kit::Image& img1, const kit::Image& img2, double delay,
                       const std::optional<std::string>& folder) {
    exports().commands.saveGIF(img1, img2, delay, folder);
}

void AppLogic::printImage() {
    exports().commands.print();
}

kit::Image AppLogic::compileImage() {
    return exports().exporter.compileImage();
}

std::optional<std::string> AppLogic::saveTempImage(const kit::Image& image, const std::string& name,
                                                   bool maxQuality) {
    return exports().exporter.saveTempImage(image, name, maxQuality);
}

std::string AppLogic::fileName() const {
    return exports().exporter.fileName();
}

kit::Json AppLogic::shotStats(const kit::Json& extra) const {
    return exports().commands.shotStats(extra);
}

void AppExportHost::indexSavedFile(const std::string& path, const kit::Json& metadata) {
    // The library keeps texts: numbers as their decimal text.
    library().indexSavedFile(path, saveFacts(metadata));
}

void AppExportHost::indexSavedAsFile(const std::string& path) {
    library().indexSavedAsFile(path);
}

}  // namespace core
