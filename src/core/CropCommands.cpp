// Cropping without losing pixels: the loaded image stays whole and the crop
// is a rectangle of it through which the current picture is cut. Also the
// cut of the current selection, the way back to the whole image and the
// flattening of the objects into the image.
#include <cmath>
#include <sstream>

#include "core/AppLogic.h"
#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "services/Notifier.h"
#include "services/Telemetry.h"

using services::Rect;

namespace core {

namespace {

std::string printed(const Rect& r) {
    std::ostringstream out;
    out << "(" << r.x1 << ", " << r.y1 << ", " << r.width << ", " << r.height << ")";
    return out.str();
}

}  // namespace

kit::Image AppLogic::cutImage(const kit::Image& image, const Rect& r) {
    if (image.isNull() || !std::isfinite(r.x1) || !std::isfinite(r.y1) || !std::isfinite(r.width) ||
        !std::isfinite(r.height) || r.width <= 0 || r.height <= 0)
        return {};
    // Made integral outward, then kept to the image; outside it gives nothing
    // (never padding).
    const double x1 = std::floor(r.x1), y1 = std::floor(r.y1);
    const double x2 = std::ceil(r.x1 + r.width), y2 = std::ceil(r.y1 + r.height);
    const double lx = std::max(x1, 0.0), ly = std::max(y1, 0.0);
    const double hx = std::min(x2, double(image.width())), hy = std::min(y2, double(image.height()));
    if (hx <= lx || hy <= ly) return {};
    return image.cropped(int(lx), int(ly), int(hx - lx), int(hy - ly));
}

Rect AppLogic::storeNormalizedSelection() {
    Rect sel = editor_->cropSelection();
    sel.normalize();
    editor_->storeCropSelection(sel);
    return sel;
}

std::optional<kit::Image> AppLogic::preCrop(const std::optional<kit::Image>& image) {
    if (!editor_->cropToolOn()) {
        if (imgPrecompiled_.isNull()) return std::nullopt;
        return imgPrecompiled_;
    }
    const Rect sel = storeNormalizedSelection();
    if (sel.width <= 0 || sel.height <= 0) {
        telemetry().oops("preCrop(image:)", "Selection is empty: " + printed(sel));
        return std::nullopt;
    }
    const bool own = !image || image->isNull();
    const kit::Image source = own ? imgSource() : *image;
    if (source.isNull()) {
        telemetry().oops("preCrop(image:)", "No image to crop, selection: " + printed(sel));
        return std::nullopt;
    }
    const editor::Framer& f = editor::Framer::shared();
    const double ox = own ? f.crop.x1 : 0, oy = own ? f.crop.y1 : 0;
    kit::Image cut =
        cutImage(source, {sel.x1 + ox, f.source.height - sel.y1 - sel.height + oy, sel.width, sel.height});
    if (cut.isNull()) return std::nullopt;
    return cut;
}

void AppLogic::cropToSelection(bool dontRepaint) {
    const Rect sel = storeNormalizedSelection();
    if (imgSource_.isNull()) {
        telemetry().oops("cropToSelection(dontRepaint:)", "No image to crop, selection: " + printed(sel));
        return;
    }
    if (sel.width <= 0 || sel.height <= 0) {
        telemetry().oops("cropToSelection(dontRepaint:)", "Selection is empty: " + printed(sel));
        return;
    }
    editor::Framer& f = editor::Framer::shared();
    const Rect absolute{f.crop.x1 + sel.x1, f.crop.y1 + f.source.height - sel.y1 - sel.height, sel.width,
                        sel.height};
    // The objects move before the crop is applied: its backdrop layout and
    // zoom fit measure the objects where they will lie. A refused rectangle
    // puts them back over the content they annotate.
    editor_->shiftObjects(-sel.x1, -sel.y1);
    if (!cropAbsolute(absolute)) {
        editor_->shiftObjects(sel.x1, sel.y1);
        return;
    }
    editor_->resetCropTool();
    selectionModeChanged("default");
    telemetry().event("crop", {{"width", int64_t(f.crop.width)}, {"height", int64_t(f.crop.height)}});
    if (!dontRepaint) {
        editor_->saveUndo();
        editor_->relayoutCanvas();
    }
}

bool AppLogic::cropAbsolute(const Rect& absolute) {
    editor::Framer& f = editor::Framer::shared();
    if (imgSource_.isNull()) {
        f.crop = absolute;
        return false;
    }
    // Cut first: when the rectangle gives nothing, the previous crop and its
    // picture stay, so copy and save still have the screenshot.
    kit::Image cut = cutImage(imgSource_, absolute);
    if (cut.isNull()) {
        telemetry().oops("cropAbsolute(absolute:)", "Crop failed");
        return false;
    }
    {
        std::lock_guard guard(lockImageData);
        f.crop = absolute;
        imgPrecompiled_ = cut;
    }
    f.source = {0, 0, double(cut.width()), double(cut.height())};
    editor::backdrop().layout();

    const double z = f.zoom();
    f.minzoom = 0.03125;
    const Rect comp = editor::compositionRect();
    f.zoomToFit(comp, true);
    const double fit = f.zoom();
    f._zoom.set(std::min(std::max(z, 1.0), fit));
    const Rect e = f.getEffectiveArea();
    f.setOffset({comp.x1 + comp.width / 2, comp.y1 + comp.height / 2}, {e.width / 2, e.height / 2});
    f.minzoom = std::min(f.zoom(), 1.0);
    updateStatus();
    editor_->setCanvasImage(cut);
    return true;
}

void AppLogic::uncrop() {
    editor::Framer& f = editor::Framer::shared();
    if (f.crop.width == f.original.width && f.crop.height == f.original.height) return;
    if (imgSource_.isNull()) {
        telemetry().oops("uncrop()", "No image to uncrop");
        return;
    }
    const Rect old = f.crop;
    const double W = imgSource_.width(), H = imgSource_.height();
    {
        std::lock_guard guard(lockImageData);
        imgPrecompiled_ = imgSource_;
        f.crop = {0, 0, W, H};
    }
    f.source = {0, 0, W, H};
    editor_->deactivateObjects();
    editor_->shiftObjects(old.x1, H - old.y1 - old.height);
    editor_->setCanvasImage(imgSource_);
    editor::backdrop().layout();
    if (backdropTooLargeAfterUncrop(editor::backdrop().canvasPixelCount())) editor::backdrop().turnOff();

    const Rect area{old.x1, H - old.y1 - old.height, old.width, old.height};
    editor_->setCropSelection(area);
    f.zoomToFit(area, true);
    f.constrainPan(false);
    f.lowerMinZoom(editor::compositionRect());
    updateStatus();
    editor_->relayoutCanvas();
    telemetry().event("uncrop");
    editor_->saveUndo();
}

bool AppLogic::backdropTooLargeAfterUncrop(double canvasPixels) {
    // Megapixels to one decimal, as the size is shown to people.
    return std::round(canvasPixels / 100000.0) / 10.0 > 15.0;
}

void AppLogic::rasterize() {
    kit::Json stats = shotStats(kit::Json::object());
    kit::Image image = compileImage();
    if (!image.isNull() && loadImage(image, true)) {
        telemetry().event("rasterize", stats);
        return;
    }
    notifier().warning("Something went wrong", "Not sure what though");
}

}  // namespace core
