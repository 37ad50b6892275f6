// Small commands the editor, the library and the shell call: the editor's
// pointer, objects made from the crop selection, the sizes' units, pins,
// image files from the library and the open panel, and the first-hide hint.
#include <algorithm>
#include <cmath>

#include "core/AppExports.h"
#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "core/Exporter.h"
#include "editor/Framer.h"
#include "kit/base/Displays.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Pasteboard.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

// ───────────────────────── pointer ─────────────────────────

std::optional<AppLogic::PointerChoice> AppLogic::pointerFor(const std::string& name) {
    if (name == "t-resize" || name == "b-resize") return PointerChoice{std::nullopt, "t-resize"};
    if (name == "l-resize" || name == "r-resize") return PointerChoice{std::nullopt, "l-resize"};
    if (name == "bl-resize" || name == "tr-resize") return PointerChoice{std::nullopt, "bl-resize"};
    if (name == "br-resize" || name == "tl-resize") return PointerChoice{std::nullopt, "tl-resize"};
    if (name == "point" || name == "move" || name == "zoom" || name == "pen")
        return PointerChoice{std::nullopt, name};
    if (name == "open-hand") return PointerChoice{kit::Cursor::openHand(), ""};
    if (name == "closed-hand") return PointerChoice{kit::Cursor::closedHand(), ""};
    if (name == "crosshair") return PointerChoice{kit::Cursor::crosshair(), ""};
    if (name == "ibeam") return PointerChoice{kit::Cursor::iBeam(), ""};
    if (name == "default") return PointerChoice{kit::Cursor::arrow(), ""};
    return std::nullopt;
}

void AppLogic::setCursor(const std::string& cursor) {
    if (!cursorUpdating_) return;
    std::optional<PointerChoice> choice = pointerFor(cursor);
    if (!choice) {
        editor_->setPointer(kit::Cursor::arrow());
        telemetry().oops("setCursor(cursor:dontRepeat:)", "Passed unrecognized cursor type: default");
        currentCursor = "default";
        return;
    }
    if (choice->system) {
        editor_->setPointer(*choice->system);
    } else if (auto it = cursors.find(choice->entry); it != cursors.end()) {
        editor_->setPointer(it->second);
    }
    currentCursor = cursor;
}

// ───────────────────────── objects from the selection ─────────────────────────

void AppLogic::selectRectangleTool() {
    if (!editor_->cropToolOn()) return;
    editor_->addRectangle(editor_->cropSelection());
    editor_->endCropSelection();
    selectionModeChanged("default");
}

void AppLogic::selectConcealTool() {
    if (!editor_->cropToolOn()) return;
    editor_->addEraser(editor_->cropSelection());
    editor_->endCropSelection();
    selectionModeChanged("default");
}

std::pair<services::Rect, services::Rect> AppLogic::imprintRulers(const services::Rect& s, double dpr) {
    const double left = std::min(s.x1, s.x1 + s.width), top = std::min(s.y1, s.y1 + s.height);
    const double w = std::abs(s.width), h = std::abs(s.height);
    return {services::Rect{left + w + 3 * dpr, top, dpr, h}, services::Rect{left, top - 4 * dpr, w, dpr}};
}

void AppLogic::imprintSelectionSize() {
    if (!editor_->cropToolOn()) return;
    const double viewDpr = editor::Framer::shared().dpr();
    const auto [vertical, horizontal] = imprintRulers(editor_->cropSelection(), viewDpr);
    const double shownDpr = settings().getBool("realPixels", false) ? 1.0 : viewDpr;
    editor_->addRuler(vertical, true, shownDpr, 12.0);
    editor_->addRuler(horizontal, false, shownDpr, -20.0);
    editor_->endCropSelection();
    selectionModeChanged("default");
    editor_->deactivateObjects();
    telemetry().event("draw", {{"object", "ObjRuler"},
                               {"color", settings().getString("defaultColor", "#F44723")},
                               {"method", "imprintSelectionSize"}});
}

// ───────────────────────── units ─────────────────────────

void AppLogic::setRealPixels(bool value) {
    settings().setRealPixels(value);
    if (editor_->cropToolOn()) editor_->refreshCropLabels();
    updateStatus();
    shell().syncRealPixelsState();
    editor_->relayoutCanvas();
}

// ───────────────────────── pins ─────────────────────────

void AppLogic::pinImage(const std::string& file) {
    kit::Image image = readImageFile(file);
    if (image.isNull()) {
        notifier().warning("Can't pin image", "Something went wrong. Is the image file okay?");
        return;
    }
    kit::Point mid{800, 500};
    if (!kit::Displays::all().empty())
        mid = kit::Displays::toWindowServer(kit::Displays::main().frame).center();
    pinImage(image, mid);
}

void AppLogic::removePin(int64_t id) {
    routes_->removePin(id);
}

// ───────────────────────── image files ─────────────────────────

bool AppLogic::copyImageFile(const std::string& file) {
    const int before = kit::Pasteboard::general().changeCount();
    const uint64_t copies = exports().exporter.copiesStarted();
    kit::Image image = readImageFile(file);
    if (image.isNull()) {
        notifier().warning("Can't copy image", "Something went wrong. Is the image file okay?");
        return false;
    }
    // Something was copied while the file was read: in order, this copy
    // would be replaced at once.
    if (kit::Pasteboard::general().changeCount() != before || exports().exporter.copiesStarted() != copies)
        return true;
    copyImageToPasteboard(image);
    return true;
}

void AppLogic::openImageDialog(std::function<void(const std::string&)> whenReady) {
    activateForPanel();
    kit::OpenPanel panel;
    panel.title = "Open Image";
    panel.allowedTypes = kit::ImageIO::readableExtensions();
    std::vector<std::string> chosen = imageChooser_ ? imageChooser_(panel) : panel.runModal();
    if (chosen.empty() || chosen.front().empty()) return;
    if (whenReady)
        whenReady(chosen.front());
    else
        shell().openPickedImage(chosen.front());
}

// ───────────────────────── first hide ─────────────────────────

void AppLogic::markFirstHide() {
    if (settings().getBool("everHidMainWindow", false)) return;
    settings().storeBool("everHidMainWindow", true);
    firstHideOpen_ = kit::Timer::once(0.1, [this] { showFirstHideHelper(); });
}

}  // namespace core
