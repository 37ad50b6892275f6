#include "editor/CropTool.h"

#include <cmath>

#include "editor/CanvasLayers.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "imaging/SmartAdjust.h"
#include "objects/PressedKeys.h"
#include "services/KeyCombo.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

using kit::KeyCode::DownArrow;
using kit::KeyCode::LeftArrow;
using kit::KeyCode::RightArrow;
using kit::KeyCode::UpArrow;

bool realPixels() {
    return services::Settings::shared().realPixels();
}

// Sizes in points mode are whole multiples of the device-pixel ratio (rounded,
// so a size in points is a whole number on every screen); pixels mode allows
// any whole size.
double sizeQuantum() {
    return realPixels() ? 1.0 : std::max(1.0, std::round(Framer::shared().dpr()));
}

double floorTo(double v, double q) {
    return std::floor(v / q) * q;
}

std::string hotkeyMethod(int code, KeyEvt::Modifiers m) {
    return "hotkey:" + services::keyComboDescription(code, {m.shift, m.command});
}

void saveUndo() {
    if (editorHooks().undoSave) editorHooks().undoSave("");
}

kit::Json sizeData(const services::Rect& r) {
    return {{"width", int(r.width)}, {"height", int(r.height)}};
}

bool isResizeEdge(const std::string& mode) {
    return mode == "l-resize" || mode == "r-resize" || mode == "b-resize" || mode == "t-resize";
}

}  // namespace

CropTool& CropTool::shared() {
    static CropTool* tool = new CropTool();
    return *tool;
}

CropTool::CropTool()
    : lshade(kit::ShapeLayer::make()),
      lblack(kit::Layer::make()),
      lwhite(kit::Layer::make()),
      lsuggestion(kit::Layer::make()),
      ltextbg(kit::Layer::make()),
      ltextbgContrast(kit::Layer::make()),
      ltext(kit::TextLayer::make()),
      ltextContrast(kit::TextLayer::make()),
      ltcrop(kit::TextLayer::make()),
      layer_(kit::Layer::make()) {
    layer_->name = "crop";
    lshade->setFillColor(kit::Color{0.0, 0.01, 0.01, 0.25});
    lshade->setFillRule(kit::FillRule::EvenOdd);
    lblack->setBorderWidth(1);
    lblack->setBorderColor(kit::Color{0, 0, 0, 0.6});
    lwhite->setBorderWidth(1);
    lwhite->setBorderColor(kit::Color{1, 1, 1, 0.4});
    lsuggestion->setBorderWidth(1);
    lsuggestion->setBorderColor(kit::Color{0.07, 0.65, 1.0, 1.0});
    lsuggestion->setBackgroundColor(kit::Color{0.07, 0.65, 1.0, 0.1});
    lsuggestion->setHidden(true);
    for (auto& t : {ltext, ltextContrast, ltcrop}) {
        t->setForegroundColor(kit::Color{0.95, 0.95, 0.95, 1.0});
        t->setFont(kit::Font::system(11, kit::FontWeight::Medium));
        t->setAlignmentMode(kit::TextAlignment::Center);
    }
    ltcrop->setString("Hit Enter to crop");
    // The hint has no plate of its own: a soft dark halo keeps it readable
    // over light screenshots as well as dark ones.
    ltcrop->setShadowColor(kit::Color{0, 0, 0, 1});
    ltcrop->setShadowOpacity(1.0);
    ltcrop->setShadowOffset({0, 0});
    ltcrop->setShadowRadius(1.5);
    for (auto& plate : {ltextbg, ltextbgContrast}) {
        plate->setBackgroundColor(kit::Color{0.04, 0.07, 0.08, 0.5});
        plate->setCornerRadius(3.0);
    }
    ltextContrast->setHidden(true);
    ltextbgContrast->setHidden(true);
    for (const kit::LayerPtr& l : std::initializer_list<kit::LayerPtr>{
             lshade, lblack, lwhite, lsuggestion, ltextbg, ltextbgContrast, ltext, ltextContrast, ltcrop})
        layer_->addSublayer(l);
    layer_->setHidden(true);
}

// ---- Selection model ------------------------------------------------------

void CropTool::roundSelection() {
    services::Rect& s = selection_;
    const double x1 = std::round(s.x1), x2 = std::round(s.x1 + s.width);
    const double y1 = std::round(s.y1), y2 = std::round(s.y1 + s.height);
    s = {x1, y1, x2 - x1, y2 - y1};
    if (realPixels()) return;
    // Sizes shrink to the quantum, whichever way a drag has flipped them:
    // rounding a flipped size down would grow it past an edge clamped to the
    // image.
    const double q = sizeQuantum();
    const double w = std::copysign(floorTo(std::abs(s.width), q), s.width);
    const double h = std::copysign(floorTo(std::abs(s.height), q), s.height);
    // The dragged edge takes up the change; otherwise the far edges move.
    if (mmode == "b-resize" || mmode == "bl-resize" || mmode == "br-resize") s.y1 = y2 - h;
    if (mmode == "tl-resize" || mmode == "l-resize" || mmode == "bl-resize") s.x1 = x2 - w;
    s.width = w;
    s.height = h;
}

bool CropTool::updateSelection(double dx1, double dy1, double dx2, double dy2, bool allowFlip) {
    const services::Rect before = selection_;
    services::Rect& s = selection_;
    const double x2 = s.x1 + s.width + dx2, y2 = s.y1 + s.height + dy2;
    s.x1 += dx1;
    s.y1 += dy1;
    s.width = x2 - s.x1;
    s.height = y2 - s.y1;
    if (!allowFlip && (s.width <= 0 || s.height <= 0)) {
        selection_ = before;
        return false;
    }
    if (dx1 != 0 && dx2 != 0) keepInside();
    if (dy1 != 0 && dy2 != 0) keepInside();
    if (dx1 != 0) clampEdge("x");
    if (dx2 != 0) clampEdge("x2");
    if (dy1 != 0) clampEdge("y");
    if (dy2 != 0) clampEdge("y2");
    return true;
}

void CropTool::keepInside() {
    const services::Rect& src = Framer::shared().source;
    auto axis = [](double& a, double& extent, double limit) {
        const double e = std::min(limit, std::abs(extent));
        if (extent >= 0) {
            if (a < 0) a = 0, extent = e;
            if (a + extent > limit) a = limit - e, extent = e;
        } else {
            // Flipped: the far edge is the low one.
            if (a + extent < 0) a = e, extent = -e;
            if (a > limit) a = limit, extent = -e;
        }
    };
    axis(selection_.x1, selection_.width, src.width);
    axis(selection_.y1, selection_.height, src.height);
}

void CropTool::clampEdge(const std::string& edge) {
    const services::Rect& src = Framer::shared().source;
    services::Rect& s = selection_;
    auto clampX = [&](double v) { return std::clamp(v, src.x1, src.x1 + src.width); };
    auto clampY = [&](double v) { return std::clamp(v, src.y1, src.y1 + src.height); };
    if (edge == "x") {
        const double x2 = s.x1 + s.width;
        s.x1 = clampX(s.x1);
        s.width = x2 - s.x1;
    } else if (edge == "x2") {
        s.width = clampX(s.x1 + s.width) - s.x1;
    } else if (edge == "y") {
        const double y2 = s.y1 + s.height;
        s.y1 = clampY(s.y1);
        s.height = y2 - s.y1;
    } else if (edge == "y2") {
        s.height = clampY(s.y1 + s.height) - s.y1;
    }
}

std::string CropTool::hitTest(double x, double y) const {
    if (!on_) return "default";
    const Framer& f = Framer::shared();
    const kit::Point a = f.imageToView({selection_.x1, selection_.y1});
    const kit::Point b = f.imageToView({selection_.x1 + selection_.width, selection_.y1 + selection_.height});
    const double minX = std::min(a.x, b.x), maxX = std::max(a.x, b.x);
    const double minY = std::min(a.y, b.y), maxY = std::max(a.y, b.y);
    auto band = [](double side) { return side > 150 ? 30.0 : side >= 36 ? side / 5 : 0.0; };
    const double bx = band(maxX - minX), by = band(maxY - minY);
    if (x < minX - 30 || x > maxX + 30 || y < minY - 30 || y > maxY + 30) return "default";
    const bool xIn = minX + bx <= x && x <= maxX - bx;
    const bool yIn = minY + by <= y && y <= maxY - by;
    const bool right = std::abs(x - maxX) <= std::abs(x - minX);
    if (xIn && yIn) return "move";
    if (xIn) return std::abs(y - minY) < std::abs(y - maxY) ? "b-resize" : "t-resize";
    if (yIn) return right ? "r-resize" : "l-resize";
    const bool top = y >= maxY - by;
    return std::string(top ? "t" : "b") + (right ? "r" : "l") + "-resize";
}

std::string CropTool::getCursor(double x, double y) {
    if (mmode == "select" || mmode == "units") return "default";
    if (overPlate(ltextbg, x, y) || overPlate(ltextbgContrast, x, y)) return "default";
    return hitTest(x, y);
}

void CropTool::setSelection(std::optional<services::Rect> rect) {
    if (rect) {
        on_ = true;
        core().selectionModeChanged("selection");
        selection_ = *rect;
        roundSelection();
        if (selection_.width == 0 || selection_.height == 0) rect.reset();
    }
    if (!rect) {
        on_ = false;
        mmode = "default";
        core().selectionModeChanged("default");
        forgetContrast();
    }
    canvasLayers().relayoutRequest = 1;
    updateContrast();
}

void CropTool::growSelection() {
    const double d = 10 * Framer::shared().dpr();
    updateSelection(-d, -d, d, d, false);
    saveUndo();
    layoutNow(1);
}

void CropTool::removeSelection() {
    on_ = false;
    mmode = "default";
    core().selectionModeChanged("default");
    forgetContrast();
    canvasLayers().relayoutRequest = 1;
}

void CropTool::forgetContrast() {
    contrast.reset();
    contrastWorker_.cancel();
}

void CropTool::layoutNow(int level) {
    canvasLayers().relayoutRequest = level;
    relayoutCanvas(level == 2);
    canvasLayers().relayoutRequest = 0;
}

// ---- Mouse -----------------------------------------------------------------

void CropTool::mouseDown(const kit::Event& event, int button, double x, double y) {
    mousePressed = true;
    tmMouseDown = event.timestamp;
    if (button == 3 || (button == 0 && event.has(kit::ModifierFlag::Command))) {
        magicSelect(x, y);
        return;
    }
    if (on_ && overPlate(ltextbg, x, y)) {
        mmode = "units";
        return;
    }
    if (on_ && overPlate(ltextbgContrast, x, y)) {
        showContrastHelp();
        return;
    }
    mmode = hitTest(x, y);
    const kit::Point p = Framer::shared().viewToImage({x, y});
    mdsx = p.x;
    mdsy = p.y;
    if (mmode == "default") {
        selection_ = {p.x, p.y, 0, 0};
        roundSelection();
        keepInside();
        mmode = "select";
        core().selectionModeChanged("selection");
    }
    mouseDownSelection = selection_;
    forgetContrast();
}

void CropTool::mouseDragged(double x, double y, const kit::Event& event) {
    if (mmode == "default" || mmode == "units") return;
    const kit::Point p = Framer::shared().viewToImage({x, y});
    const double dx = p.x - mdsx, dy = p.y - mdsy;
    services::Rect& s = selection_;
    if (mmode == "select") {
        if (objects::PressedKeys::shared().pressed.count(kit::KeyCode::Space)) {
            s.x1 = p.x - s.width;
            s.y1 = p.y - s.height;
            keepInside();
        } else {
            s.width = p.x - s.x1;
            s.height = p.y - s.y1;
            if (event.has(kit::ModifierFlag::Shift)) {
                double side = std::max(std::abs(s.width), std::abs(s.height));
                if (!realPixels()) side = floorTo(side, sizeQuantum());
                s.width = std::copysign(side, s.width);
                s.height = std::copysign(side, s.height);
            }
            clampEdge("x2");
            clampEdge("y2");
        }
        roundSelection();
        if (s.width != 0 && s.height != 0) {
            on_ = true;
            core().selectionModeChanged("selection");
        }
    } else {
        struct Deltas {
            const char* mode;
            double dx1, dy1, dx2, dy2;
        };
        const Deltas table[] = {
            {"move", dx, dy, dx, dy},    {"l-resize", dx, 0, 0, 0},   {"r-resize", 0, 0, dx, 0},
            {"b-resize", 0, dy, 0, 0},   {"t-resize", 0, 0, 0, dy},   {"bl-resize", dx, dy, 0, 0},
            {"br-resize", 0, dy, dx, 0}, {"tl-resize", dx, 0, 0, dy}, {"tr-resize", 0, 0, dx, dy}};
        s = mouseDownSelection;
        for (const Deltas& d : table)
            if (mmode == d.mode) updateSelection(d.dx1, d.dy1, d.dx2, d.dy2, true);
        roundSelection();
    }
    if (on_ && event.has(kit::ModifierFlag::Option))
        suggestion = services::Rect::fromKit(imaging::smartAdjust(core().capture(), s.toKit()));
    else
        suggestion.reset();
    canvasLayers().relayoutRequest = 1;
}

void CropTool::mouseUp(double x, double y, const kit::Event& event) {
    mousePressed = false;
    if (mmode == "default") return;
    const Framer& f = Framer::shared();
    const kit::Point p = f.viewToImage({x, y});
    const double d = std::abs(p.x - mdsx) + std::abs(p.y - mdsy);
    const double dt = event.timestamp - tmMouseDown;
    services::Rect& s = selection_;
    if (d < 6 && dt < 0.3 && isResizeEdge(mmode)) {
        const char side = mmode[0];
        adjustSide(side == 'l' ? "left" : side == 'r' ? "right" : side == 'b' ? "bottom" : "top");
        return;
    }
    if (mmode == "select" && dt < 0.1 && s.width * s.width + s.height * s.height < 300 * f.dpr() * f.dpr()) {
        removeSelection();
        return;
    }
    if (mmode == "units") {
        switchUnits();
        return;
    }
    if (s.width < 0) s.x1 += s.width, s.width = -s.width;
    if (s.height < 0) s.y1 += s.height, s.height = -s.height;
    roundSelection();
    if (s.width == 0 || s.height == 0) removeSelection();
    suggestion.reset();
    if (event.has(kit::ModifierFlag::Option)) actionAdjust();
    if (on_) {
        kit::Json data = sizeData(s);
        if (mmode == "select") {
            services::Telemetry::shared().repeatableEvent("setCutter", data);
        } else {
            data["method"] = "mouse:" + mmode;
            services::Telemetry::shared().repeatableEvent("cutterMoveResize", data);
        }
    }
    mmode = "default";
    saveUndo();
    canvasLayers().relayoutRequest = 1;
    updateContrast();
}

// ---- Keys ------------------------------------------------------------------

void CropTool::stepKey(int code, bool command, double s, const std::string& method) {
    // A refused step (it would empty the selection) leaves it as it was.
    if (!command) {
        const double dx = code == LeftArrow ? -s : code == RightArrow ? s : 0;
        const double dy = code == DownArrow ? -s : code == UpArrow ? s : 0;
        updateSelection(dx, dy, dx, dy, false);
    } else if (code == LeftArrow || code == RightArrow) {
        // Resizes keep the top-left corner: the right edge and the bottom edge move.
        updateSelection(0, 0, code == LeftArrow ? -s : s, 0, false);
    } else {
        updateSelection(0, code == DownArrow ? -s : s, 0, 0, false);
    }
    updateContrast();
    kit::Json data = sizeData(selection_);
    data["method"] = method;
    services::Telemetry::shared().repeatableEvent("cutterMoveResize", data);
}

void CropTool::keyDown(int code, KeyEvt::Modifiers m, const std::string& /*characters*/) {
    if (!on_) return;
    namespace K = kit::KeyCode;
    const std::string method = hotkeyMethod(code, m);
    double s = realPixels() ? 1 : Framer::shared().dpr();
    if (m.shift) s *= 10;
    services::Telemetry& t = services::Telemetry::shared();
    if (code == LeftArrow || code == RightArrow || code == DownArrow || code == UpArrow) {
        stepKey(code, m.command, s, method);
    } else if (code == K::RightBracket || code == K::Nine || code == K::LeftBracket || code == K::Eight) {
        const bool grow = code == K::RightBracket || code == K::Nine;
        if (grow)
            updateSelection(-s, -s, s, s, false);
        else
            updateSelection(s, s, -s, -s, false);
        saveUndo();
        updateContrast();
        kit::Json data = sizeData(selection_);
        data["method"] = method;
        t.repeatableEvent("cutterMoveResize", data);
    } else if (code == K::A) {
        t.preset("adjust", {{"method", method}});
        actionAdjust();
        saveUndo();
    } else if (code == K::C && !m.command) {
        copyAverageColor(method);
    } else if (code == K::C) {
        core().copyImage(true, false);
    } else if (code == K::O && m.command) {
        t.preset("ocr", {{"method", method}});
        t.preset("hide", {{"method", method}});
        core().ocrSelection(method);
    } else if (code == K::Return || code == K::KeypadEnter) {
        t.preset("crop", {{"method", method}});
        core().cropToSelection(false);
    } else if (code == K::Escape) {
        on_ = false;
        mmode = "default";
        core().selectionModeChanged("default");
        forgetContrast();
        t.event("resetCutter", {{"method", method}});
        saveUndo();
    }
    canvasLayers().relayoutRequest = 1;
}

}  // namespace editor
