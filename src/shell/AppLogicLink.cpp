#include "shell/AppLogicLink.h"

#include "capture/VisionStitcher.h"
#include "core/AppLogic.h"
#include "core/Exporter.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/FilePanels.h"
#include "kit/ui/Pasteboard.h"
#include "services/Alerts.h"
#include "services/Telemetry.h"
#include "shell/AppDelegate.h"
#include "shell/UrlActionsLink.h"

namespace shell {

namespace {

core::AppLogic& logic() {
    return core::AppLogic::shared();
}

// The after-capture words ("copy", "save", …) as the core's actions.
std::optional<core::AppLogic::AfterGrab> actions(const AfterGrab& then) {
    if (!then) return std::nullopt;
    core::AppLogic::AfterGrab a;
    for (auto& word : *then) {
        if (word == "copy") a.copy = true;
        if (word == "save") a.save = true;
        if (word == "edit") a.edit = true;
        if (word == "thumbnail") a.thumbnail = true;
        if (word == "upload") a.upload = true;
        if (word == "pin") a.pin = true;
    }
    return a;
}

}  // namespace

void AppLogicLink::yieldFocus() {
    logic().yieldFocus();
}

bool AppLogicLink::openImage(const std::string& file, std::function<void()> shown) {
    return logic().openImage(file, std::move(shown));
}

void AppLogicLink::handleURLCommand(const std::string& host, const std::string& command,
                                    const std::optional<std::string>& value,
                                    const std::map<std::string, std::string>& query) {
    core::handleURLCommand(host, command, value, query, UrlActionsLink::shared());
}

void AppLogicLink::gotoUploads(const std::string& method) {
    logic().gotoUploads(method);
}

void AppLogicLink::cleanupTempFolder() {
    logic().cleanupTempFolder(std::nullopt);
}

void AppLogicLink::grabScreenshot(const std::string& mode, const std::string& method, const AfterGrab& then) {
    logic().grabScreenshot(mode, method, actions(then));
}

void AppLogicLink::grabDelayed(const std::string& method, const AfterGrab& then) {
    logic().grabDelayed(method, actions(then));
}

void AppLogicLink::startScrollingCapture(int direction, const std::string& method, const AfterGrab& then) {
    logic().startScrollingCapture(direction, method, actions(then));
}

void AppLogicLink::setPreferencesWindow(kit::Window* window) {
    logic().winPreferences = window;
}

void AppLogicLink::selectDefaultFolder(std::function<void()> whenReady) {
    logic().selectDefaultFolder(std::move(whenReady));
}

void AppLogicLink::saveImageAs(const std::optional<std::string>& folder, const std::string& name) {
    logic().saveImageAs(folder, name);
}

void AppLogicLink::printImage(const kit::Image& image) {
    core::Exporter::printImage(image);
}

void AppLogicLink::startManualScrollingCapture(const std::string& method, const AfterGrab& then) {
    // No region: the user picks it; the stitched image (or none) goes to the
    // core, in the turn taken as the capture starts.
    capture::VisionStitcher::startLiveCapture(
        std::nullopt, [method, then = actions(then), turn = logic().captureTurn()](const kit::Image& image) {
            logic().grabScrollingManual(image, method, then, turn);
        });
}

void AppLogicLink::rasterize() {
    logic().rasterize();
}

void AppLogicLink::openImageDialog() {
    logic().openImageDialog();
}

void AppLogicLink::instantOCR(const std::string& method) {
    logic().instantOCR(method);
}

void AppLogicLink::loadFromClipboard(const std::string& method) {
    logic().loadFromClipboard(method);
}

}  // namespace shell
