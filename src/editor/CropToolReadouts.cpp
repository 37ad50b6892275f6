// The crop selection's drawing and read-outs: curtain, borders, the size and
// contrast labels with their hover texts, and the content-aware helpers (magic
// selection, smart adjust, average colour, contrast).
#include <cmath>
#include <cstdio>

#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/Ruler.h"
#include "imaging/ColorFormats.h"
#include "imaging/FloodFill.h"
#include "imaging/PixelSampling.h"
#include "imaging/SmartAdjust.h"
#include "services/Alerts.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

const kit::Color kPlateDim = kit::Color{0.04, 0.07, 0.08, 0.5};
const kit::Color kPlateLit = kit::Color{0.04, 0.07, 0.08, 0.9};

// The selection in layer points, from its two corners (width and height may
// be negative while a drag flips it).
kit::Rect selectionInPoints(const services::Rect& sel) {
    const Framer& f = Framer::shared();
    const double dpr = f.dpr(), zoom = f.zoom();
    const kit::Point o = f.imageToView({sel.x1, sel.y1});
    return kit::Rect(o.x / dpr, o.y / dpr, sel.width * zoom / dpr, sel.height * zoom / dpr).standardized();
}

kit::Rect grown(const kit::Rect& r, double by) {
    return {r.x() - by, r.y() - by, r.width() + 2 * by, r.height() + 2 * by};
}

void sendAdjusted(const std::string& name, const services::Rect& s) {
    services::Telemetry::shared().event(name, {{"width", int(s.width)}, {"height", int(s.height)}});
}

}  // namespace

std::string CropTool::sizeText() const {
    const bool px = services::Settings::shared().realPixels();
    const double d = px ? 1 : Framer::shared().dpr();
    const long long w = (long long)std::ceil(std::abs(selection_.width) / d);
    const long long h = (long long)std::ceil(std::abs(selection_.height) / d);
    return std::to_string(w) + "\u00D7" + std::to_string(h) + "\u200A" + (px ? "px" : "pt");
}

std::string CropTool::contrastText() const {
    const double v = contrast.value_or(0);
    const double k = contrast && v < 1.5 ? 100 : 10;
    return "C: " + kit::json::doubleText(std::round(v * k) / k);
}

void CropTool::render(bool animated) {
    if (!on_) {
        layer_->setHidden(true);
        return;
    }
    const Framer& f = Framer::shared();
    const double dpr = f.dpr();
    layer_->setHidden(false);
    const kit::Rect area(0, 0, f.area.width / dpr, f.area.height / dpr);
    layer_->setFrame(area);
    lshade->setFrame(area);

    const kit::Rect s = selectionInPoints(selection_);
    kit::Path curtain;
    curtain.addRect(area);
    curtain.addRect(s);
    if (animated && !lshade->path().isEmpty()) {
        kit::Animation a;
        a.keyPath = "path";
        a.fromValue = lshade->path();
        a.toValue = curtain;
        a.duration = 0.15;
        a.timingFunction = kit::TimingFunction::defaultCurve();
        lshade->addAnimation(a, "path");
    }
    lshade->setPath(curtain);
    lblack->setFrame(grown(s, 1));
    lwhite->setFrame(s);
    renderLabels(s);

    ltcrop->setContentsScale(dpr);
    const kit::Size hint = ltcrop->preferredFrameSize();
    const double lh = ltext->preferredFrameSize().height;
    ltcrop->setFrame(
        {s.midX() - hint.width / 2 - 2, s.minY() - lh - hint.height - 14, hint.width + 4, hint.height});
    ltcrop->setOpacity(mousePressed ? 0 : 1);

    lsuggestion->setHidden(!suggestion);
    if (suggestion) lsuggestion->setFrame(grown(selectionInPoints(*suggestion), 1));
}

void CropTool::renderLabels(const kit::Rect& s) {
    const double dpr = Framer::shared().dpr();
    const double cx = s.midX(), bottom = s.minY(), top = s.maxY();

    ltext->setContentsScale(dpr);
    ltext->setString(sizeText());
    reportReadout("crop label", ltext->string());
    const kit::Size t = ltext->preferredFrameSize();
    ltext->setFrame({cx - t.width / 2 - 2, bottom - t.height - 8, t.width + 4, t.height});
    ltextbg->setFrame({cx - t.width / 2 - 5, bottom - t.height - 11, t.width + 10, t.height + 6});

    ltextContrast->setContentsScale(dpr);
    ltextContrast->setString(contrastText());
    const kit::Size c = ltextContrast->preferredFrameSize();
    ltextContrast->setFrame({cx - c.width / 2, top + 8, c.width, c.height});
    ltextbgContrast->setFrame({cx - c.width / 2 - 5, top + 5, c.width + 10, c.height + 6});
    ltextContrast->setHidden(!contrast);
    ltextbgContrast->setHidden(!contrast);
}

bool CropTool::overPlate(const kit::LayerPtr& plate, double x, double y) const {
    if (plate->isHidden()) return false;
    const double dpr = Framer::shared().dpr();
    const kit::Rect r = plate->frame();
    const double px = x / dpr, py = y / dpr;
    return px >= r.minX() && px <= r.maxX() && py >= r.minY() && py <= r.maxY();
}

void CropTool::mouseMoved(double x, double y) {
    const bool overSize = overPlate(ltextbg, x, y);
    const bool overContrast = !overSize && overPlate(ltextbgContrast, x, y);
    ltextbg->setBackgroundColor(overSize ? kPlateLit : kPlateDim);
    ltextbgContrast->setBackgroundColor(overContrast ? kPlateLit : kPlateDim);
    const char* hint = overSize       ? "Click to switch PX/PT"
                       : overContrast ? "WCAG 2.0 Contrast Ratio"
                                      : "Hit Enter to crop";
    if (ltcrop->string() != hint) {
        ltcrop->setString(hint);
        int& request = canvasLayers().relayoutRequest;
        request = std::max(request, 1);  // the hint is centred on its new width
    }
}

void CropTool::showContrastHelp() {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f", std::round(contrast.value_or(0) * 10) / 10);
    services::alertOnMain(
        std::string("WCAG 2.0 Contrast Ratio: ") + ratio,
        "Contrast ratio within the selection box. W3C accessibility guidelines recommend contrast "
        "ratio of at least 4.5 for regular text and 3.0 for large text and UI elements.");
    services::Telemetry::shared().event("inlinehelp", {{"method", "Contrast"}});
}

void CropTool::switchUnits() {
    services::Telemetry::shared().preset("setting-realPixels", {{"method", "crop-label"}});
    core().setRealPixels(!services::Settings::shared().realPixels());
    mmode = "default";
}

void CropTool::magicSelect(double x, double y) {
    services::Telemetry::shared().event("intention", {{"method", "floodfill"}});
    services::Telemetry::shared().flush(true);
    const Framer& f = Framer::shared();
    const kit::Point p = f.viewToImage({x, y});
    // Only pixels of the image shown now: the cropped image spans
    // [0, width) × [0, height) of `source`.
    if (!(p.x >= 0 && p.x < f.source.width && p.y >= 0 && p.y < f.source.height)) return;
    const kit::Rect r = imaging::scanlineFloodFill(core().capture(), std::floor(p.x), std::floor(p.y));
    setSelection(services::Rect::fromKit(r));
    mmode = "default";
}

void CropTool::updateContrast() {
    if (!on_) {
        forgetContrast();
        return;
    }
    contrastWorker_.submit(core().capture(), selection_, [this](std::optional<double> value) {
        contrast = value;
        render(false);
        layoutNow(1);
    });
}

void CropTool::actionAdjust() {
    if (!on_) return;
    services::Telemetry::shared().event("intention", {{"method", "actionAdjust"}});
    services::Telemetry::shared().flush(true);
    selection_ = services::Rect::fromKit(imaging::smartAdjust(core().capture(), selection_.toKit()));
    roundSelection();
    keepInside();
    layoutNow(2);
    sendAdjusted("adjust", selection_);
    updateContrast();
}

void CropTool::adjustSide(const std::string& side) {
    if (!on_) return;
    using Adjust = kit::Rect (*)(const imaging::Capture&, const kit::Rect&);
    const Adjust fn = side == "left"     ? imaging::smartAdjustMinX
                      : side == "right"  ? imaging::smartAdjustMaxX
                      : side == "bottom" ? imaging::smartAdjustMinY
                                         : imaging::smartAdjustMaxY;
    selection_ = services::Rect::fromKit(fn(core().capture(), selection_.toKit()));
    roundSelection();
    keepInside();
    layoutNow(2);
    sendAdjusted("adjust:" + side, selection_);
    if (editorHooks().undoSave) editorHooks().undoSave("");
    updateContrast();
}

void CropTool::copyAverageColor(const std::string& method) {
    const imaging::Capture capture = core().capture();
    if (capture.pixels.isNull()) return;
    const imaging::SampledColor c = imaging::avgColorFast(capture, selection_.toKit(), "average");
    const int r = int(c.packed & 0xFF), g = int((c.packed >> 8) & 0xFF), b = int((c.packed >> 16) & 0xFF);
    const auto [shown, copied] = imaging::formatColor(r, g, b);
    services::Telemetry::shared().event("copyColorAvg",
                                        {{"method", method},
                                         {"color", shown},
                                         {"format", services::Settings::shared().colorFormat()},
                                         {"width", int(selection_.width)},
                                         {"height", int(selection_.height)}});
    services::Telemetry::shared().preset("hide", {{"method", method}});
    core().copyText(copied, "Average color: " + copied, "Copied to the clipboard", c.color);
}

}  // namespace editor
