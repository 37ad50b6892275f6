// The editor's tool bar and status line following what the user does, the
// colour under the pointer, the save folder, tools and quitting.
#include <algorithm>
#include <cmath>

#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "imaging/PixelSampling.h"
#include "kit/ui/Application.h"
#include "kit/ui/FilePanels.h"
#include "services/Alerts.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

namespace {

// A colour component in 0…1 as an 8-bit value: rounded half away from zero,
// then kept within 0…255 (a component slightly outside its range would
// otherwise give texts such as "#FF100FF").
int component8(double c) {
    return int(std::clamp(std::round(c * 255.0), 0.0, 255.0));
}

}  // namespace

// ───────────────────────── selection mode ─────────────────────────

void AppLogic::selectionModeChanged(const std::string& mode) {
    if (mode == currentSelectionMode) return;
    // Each scheduled refresh runs: a newer one takes the reference, the older
    // one still fires.
    const double delay = mode == "selection" ? 0.13 : 0.01;
    later(delay, [this] { refreshSelectionMode(); });
}

void AppLogic::refreshSelectionMode() {
    std::string mode = editor_->hasActiveObject() ? editor_->activeType() : "default";
    if (editor_->cropToolOn()) mode = "selection";
    if (mode == currentSelectionMode && mode.find("Obj") == std::string::npos) return;
    currentSelectionMode = mode;
    editor_->applySelectionMode(mode);
}

void AppLogic::refreshCropButton() {
    editor_->setArmedTool("");
    editor_->selectToolbarItem("crop");
}

void AppLogic::checkBackdropAllowed(const std::string& method) {
    if (metadata_.value("backdropApplied", "") == "true") {
        // The window background setting is on the General tab.
        notifier().notify("Window already has backdrop",
                          "Change window capture setting to \"Transparent\", and take another screenshot.",
                          std::nullopt, "Settings", std::nullopt,
                          [] { editor::shell().showPreferences("general"); });
        telemetry().event("backdrop:denied", {{"error", "Window with embedded background"}});
    } else {
        editor::backdrop().toggle(method);
    }
    refreshCropButton();
}

void AppLogic::refreshToolSettings() {
    if (editor_->hasActiveObject()) editor_->updateToolSettings(editor_->activeType());
}

// ───────────────────────── colour under the pointer ─────────────────────────

void AppLogic::sampleColor(double x, double y, bool darkest) {
    // Showing the editor inside a load (the intro hidden, the toolbar shown)
    // makes the toolkit send the view under the pointer a move of its own,
    // which arrives here while the load holds the image lock: the colour is
    // sampled once the load is done, from the new picture.
    if (lockOwnedHere()) {
        sampleAfterLoad_ = Sample{x, y, darkest};
        return;
    }
    services::timerStart("Identify Color");
    imaging::Capture c = capture();
    imaging::SampledColor s =
        darkest ? imaging::avgColorFast(c, {x - 10, y - 10, 20, 20}, "darkest") : imaging::colorAt(c, x, y);
    colorValue_ = s.color;
    auto [shown, copied] = imaging::formatColor(component8(s.color.r), component8(s.color.g),
                                                component8(s.color.b), settings().colorFormat());
    colorDisplayString_ = shown;
    colorCopyString_ = copied;
    updateStatus();
    services::timerAssert("Identify Color", 10);
}

void AppLogic::updateColorStrings() {
    auto [shown, copied] = imaging::formatColor(component8(colorValue_.r), component8(colorValue_.g),
                                                component8(colorValue_.b), settings().colorFormat());
    colorDisplayString_ = shown;
    colorCopyString_ = copied;
    updateStatus();
}

// ───────────────────────── status line ─────────────────────────

std::string AppLogic::sizeText(double width, double height, double scale, bool realPixels) {
    auto side = [scale](double v) { return std::to_string(int64_t(std::ceil(std::abs(v) / scale))); };
    return side(width) + "\u00D7" + side(height) + "\u200A" + (realPixels ? "px" : "pt");
}

void AppLogic::updateStatus() {
    const bool real = settings().realPixels();
    editor::Framer& f = editor::Framer::shared();
    const double s = real ? 1.0 : f.dpr();
    std::string size, title;
    if (editor_->cropToolOn()) {
        shell().setInsertItemEnabled(false);
        services::Rect sel = editor_->cropSelection();
        size = sizeText(sel.width, sel.height, s, real);
        title = "Selection size";
    } else {
        shell().setInsertItemEnabled(true);
        services::Rect whole = editor::compositionRect();
        size = sizeText(whole.width, whole.height, s, real);
        title = "Image size";
    }
    int zoomPercent = int(f.zoom() * 100);
    editor_->showStatus(zoomPercent, size, title, colorDisplayString_, colorValue_);
}

// ───────────────────────── save folder ─────────────────────────

void AppLogic::activateForPanel() {
    kit::Application& app = kit::Application::shared();
    if (app.activationPolicy() == kit::ActivationPolicy::Prohibited) {
        app.setActivationPolicy(kit::ActivationPolicy::Regular);
        app.activate();
    }
}

void AppLogic::selectDefaultFolder(std::function<void()> whenReady) {
    if (library().exists() && library().busy()) {
        notifier().warning(
            "Can't change folder while indexing",
            "Open Kadrix library and stop indexing process before changing the default folder.");
        return;
    }
    activateForPanel();
    kit::OpenPanel panel;
    panel.title = "Choose default folder";
    panel.canChooseFiles = false;
    panel.canChooseDirectories = true;
    panel.prompt = "Select Folder";
    auto chosen = folderChooser_ ? folderChooser_(panel) : panel.runModal();
    if (chosen.empty()) return;
    const std::string& folder = chosen.front();
    if (folder.empty()) {
        telemetry().oops("selectDefaultFolder(whenReady:)", "File Open modal Result is nil");
        return;
    }
    settings().setDefaultFolder(folder);
    settings().setDefaultFolderURL(folder);
    if (library().exists()) {
        library().setFolder(folder);
    } else {
        library().create(folder);
        library().connectLibrary();
    }
    folderWithAccessURL = folder;
    if (whenReady) whenReady();
}

// ───────────────────────── quit or hide ─────────────────────────

void AppLogic::quitOrHide(const std::string& method) {
    const std::string action = settings().cmdQAction();
    if (action == "quit") {
        telemetry().preset("quit", {{"method", method}});
        kit::Application::shared().terminate();
        return;
    }
    if (action == "close") {
        telemetry().preset("hide", {{"method", method}});
        hideMainWindow();
        return;
    }
    services::confirmOnMain(
        "Red pill or blue pill?",
        "If you quit the app, shortcuts will stop working. If you close the window, it leaves the task "
        "bar, but the app will stay in the tray. We will remember your choice.",
        "Quit", "Close", [this, method, alive = std::weak_ptr<int>(life_)](int button) {
            if (!alive.lock() || (button != 1 && button != 2)) return;
            settings().setCmdQAction(button == 1 ? "quit" : "close");
            quitOrHide(method);
        });
}

// ───────────────────────── tools ─────────────────────────

std::string AppLogic::toolbarId(const std::string& tool) {
    std::string id;
    for (size_t i = 0; i < tool.size();) {
        if (tool.compare(i, 3, "Obj") == 0) {
            i += 3;
            continue;
        }
        id += char(std::tolower(static_cast<unsigned char>(tool[i++])));
    }
    return id == "conceal" ? "blur" : id;
}

void AppLogic::selectTool(const std::string& tool, const std::string& method) {
    editor_->deactivateObjects();
    if (editor_->primaryButtonHeld() || imgPrecompiled_.isNull() || editor_->cropToolOn()) return;
    telemetry().preset("draw", {{"method", method}});
    editor_->setArmedTool(tool);
    editor_->relayoutCanvas();
    editor_->selectToolbarItem(toolbarId(tool));
}

}  // namespace core
