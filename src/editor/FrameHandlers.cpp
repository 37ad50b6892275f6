#include "editor/FrameHandlers.h"

#include <cmath>
#include <cstdio>

#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "objects/PressedKeys.h"
#include "services/KeyCombo.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {
namespace {

using objects::PressedKeys;

bool zoomKeyHeld() {
    return PressedKeys::isHeld(kit::KeyCode::Z) || PressedKeys::isHeld(kit::KeyCode::Y);
}

void request(int level) {
    CanvasLayers& c = canvasLayers();
    c.relayoutRequest = std::max(c.relayoutRequest, level);
}

// Command and nothing else among the modifier keys.
bool commandOnly(const kit::Event& e) {
    using namespace kit::ModifierFlag;
    return (e.modifierFlags & (Shift | Control | Option | Command | Function)) == Command;
}

kit::Point viewCentre() {
    const services::Rect& a = Framer::shared().area;
    return {a.width * 0.5, a.height * 0.5};
}

kit::Point centreOf(const services::Rect& r) {
    return {r.x1 + r.width / 2, r.y1 + r.height / 2};
}

// A rectangle with its size made positive (lines and arrows keep a vector as size).
services::Rect normalised(const services::Rect& r) {
    return {std::min(r.x1, r.x1 + r.width), std::min(r.y1, r.y1 + r.height), std::fabs(r.width),
            std::fabs(r.height)};
}

bool objectActive() {
    ObjectInput* objects = Handlers::shared().objects;
    return objects && objects->active();
}
bool cropOn() {
    CropInput* crop = Handlers::shared().crop;
    return crop && crop->on();
}

// The crop selection, else the active object's frame; none without either.
std::optional<services::Rect> selectionRect() {
    if (cropOn()) return Handlers::shared().crop->selection();
    if (objectActive()) return normalised(Handlers::shared().objects->getRect());
    return std::nullopt;
}

// The end of every keyboard and menu zoom: strict constraint, status, a
// re-layout of its own (animated for level 2) and the zoom event.
void finishCommand(int level) {
    Framer::shared().constrainPan(false);
    core().updateStatus();
    CanvasLayers& c = canvasLayers();
    c.relayoutRequest = level;
    relayoutCanvas(level == 2);
    c.relayoutRequest = 0;
    services::Telemetry::shared().repeatableEvent("zoom", kit::Json::object());
}

std::shared_ptr<kit::ShapeLayer> marqueeLayer(kit::Color stroke, std::vector<double> dashes) {
    auto l = kit::ShapeLayer::make();
    l->setFillColor(std::nullopt);
    l->setLineWidth(1.0);
    l->setStrokeColor(stroke);
    l->setLineDashPattern(std::move(dashes));
    return l;
}

}  // namespace

FrameHandlers& FrameHandlers::shared() {
    static FrameHandlers* instance = new FrameHandlers;  // lives until the process ends
    return *instance;
}

FrameHandlers::FrameHandlers() {
    lmarquee = marqueeLayer(kit::Color::black().withAlpha(0.7), {4, 4});
    lmarquee->name = "marquee";
    lmarqueeInner = marqueeLayer(kit::Color::white(1, 0.7), {0, 4, 4, 0});
    lmarquee->addSublayer(lmarqueeInner);
    lmarquee->setHidden(true);
}

void FrameHandlers::armSettle() {
    timerAdjustPosition = kit::Timer::once(0.05, [] { settleViewport(); });
}

void FrameHandlers::scheduleSettle() {
    enforceConstraints = true;
    armSettle();
    request(1);
}

void FrameHandlers::anchorToPointer(double x, double y) {
    Framer& f = Framer::shared();
    const Framer::Paddings p = canvasPaddings();
    const double z = f.zoom(), d = f.dpr();
    const services::Rect& S = f.source;
    auto setX = [&](double bpx) {
        f.bpx = bpx;
        f._bx.set(std::round(bpx));
        f.roundOffsets();
    };
    auto setY = [&](double bpy) {
        f.bpy = bpy;
        f._by.set(std::round(bpy));
        f.roundOffsets();
    };
    if (x > (f.destFull.x1 + f.destFull.width) * d + (p.padBR + p.padCR) * z)
        setX(x - (p.padBR + p.padCR + S.width) * z);
    if (f.destFull.x1 * d - (p.padBL + p.padCL) * z > x) setX(x + (p.padBL + p.padCL) * z);
    if (y > (f.destFull.y1 + f.destFull.height) * d + (p.padBT + p.padCT) * z)
        setY(y - (p.padBT + p.padCT + S.height) * z);
    if (f.destFull.y1 * d - (p.padBB + p.padCB) * z > y) setY(y + (p.padBB + p.padCB) * z);
}

void FrameHandlers::scrollWheel(const kit::Event& e, const std::array<bool, 6>& buttons, double x, double y) {
    Framer& f = Framer::shared();
    const bool trackpad = e.hasPreciseScrollingDeltas;
    const bool command = commandOnly(e);
    if (!buttons[1] && !command && trackpad) {
        f.panBy(e.scrollingDeltaX * 2 * f.dpr(), e.scrollingDeltaY * -2.0 * f.dpr());
        f.constrainPan(true);
        core().updateStatus();
        request(1);
        services::Telemetry::shared().repeatableEvent("pan", {{"method", "trackpad"}});
        return;
    }
    if (e.scrollingDeltaY == 0) return;
    if (trackpad && command) {
        // Trackpad fine zoom: one step for every 10 of scroll, at most one an event.
        if (e.momentumPhase == kit::EventPhase::Changed) return;
        totalScrollDelta += e.scrollingDeltaY;
        if (std::fabs(totalScrollDelta) <= 10.0) return;
        totalScrollDelta += totalScrollDelta > 0 ? -10.0 : 10.0;
    }
    tmrScrollCheckConstraints.invalidate();
    enforceConstraints = false;
    anchorToPointer(x, y);
    bool in = e.scrollingDeltaY >= 0;
    if (services::Settings::shared().getBool("altZoomDirection", false)) in = e.scrollingDeltaY < 0;
    if (trackpad && command)
        f.zoomFine(in, {x, y});
    else
        f.zoom(in, {x, y});
    request(1);
    core().updateStatus();
    std::string method = std::string(trackpad ? "Trackpad-" : "") + "wheel" + (buttons[1] ? "+1" : "") +
                         (command ? "+Cmd" : "");
    services::Telemetry::shared().repeatableEvent("zoom", {{"method", method}});
    if (!buttons[0] && !buttons[1] && !command)
        tmrScrollCheckConstraints = kit::Timer::once(0.4, [this] { scheduleSettle(); });
}

void FrameHandlers::magnify(const kit::Event& e, double x, double y) {
    enforceConstraints = false;
    accMagnification += e.magnification;
    if (std::fabs(accMagnification) > 0.1) {
        anchorToPointer(x, y);
        Framer::shared().zoomFine(accMagnification > 0, {x, y});
        request(1);
        core().updateStatus();
        accMagnification += accMagnification >= 0 ? -0.1 : 0.1;
    }
    if (e.phase == kit::EventPhase::Ended) {
        enforceConstraints = true;
        armSettle();
    }
    services::Telemetry::shared().repeatableEvent("zoom", {{"method", "pinch"}});
}

void FrameHandlers::mouseDown(int button, double x, double y) {
    pdx = mdx = x;
    pdy = mdy = y;
    tmrScrollCheckConstraints.invalidate();
    if (button == 1 || button == 2 || (button == 0 && PressedKeys::isHeld(kit::KeyCode::Space))) {
        isDragging = true;
        timerAdjustPosition.invalidate();
        request(1);
    }
}

void FrameHandlers::mouseDragged(int button, double x, double y) {
    Framer& f = Framer::shared();
    const double ddx = x - pdx, ddy = y - pdy;
    if (button == 0 && zoomKeyHeld()) {
        const double d = f.dpr();
        kit::Path path;
        path.addRect(
            {std::round(mdx) / d, std::round(mdy) / d, std::round(x - mdx) / d, std::round(y - mdy) / d});
        lmarquee->setPath(path);
        lmarqueeInner->setPath(path);
        lmarquee->setHidden(false);
    } else if (!lmarquee->isHidden()) {
        lmarquee->setHidden(true);
    }
    if (!isDragging) return;
    f.panBy(ddx, ddy);
    if (enforceConstraints) f.constrainPan(true);
    request(1);
    services::Telemetry::shared().repeatableEvent(
        "pan", {{"method", "mouse:" + std::string(PressedKeys::isHeld(kit::KeyCode::Space) ? "Space+" : "") +
                               std::to_string(button)}});
    pdx = x;
    pdy = y;
}

void FrameHandlers::mouseUp(int button, double x, double y) {
    Framer& f = Framer::shared();
    enforceConstraints = true;
    isDragging = false;
    armSettle();
    lmarquee->setHidden(true);
    if (button == 0 && zoomKeyHeld()) {
        const double d = std::hypot(x - mdx, y - mdy);
        if (d >= 6.0) {
            const kit::Point p1 = f.viewToImage({mdx, mdy}), p2 = f.viewToImage({x, y});
            f.zoomToFit(
                {std::min(p1.x, p2.x), std::min(p1.y, p2.y), std::fabs(p2.x - p1.x), std::fabs(p2.y - p1.y)},
                false);
            char distance[32];
            std::snprintf(distance, sizeof distance, "%.1f", std::round(d));
            services::Telemetry::shared().event("zoom", {{"method", "z+drag"}, {"dragdistance", distance}});
        } else {
            const kit::Point p = f.viewToImage({x, y});
            const double z = f.zoom();
            if (z < 4.0)
                f._zoom.set(4.0);
            else if (z < 16.0)
                f._zoom.set(16.0);
            else if (z < 64.0)
                f._zoom.set(64.0);
            f.setOffset(p, {x, y});
            services::Telemetry::shared().event("zoom", {{"method", "z+click"}});
        }
    }
    request(1);
}

void FrameHandlers::keyDown(int code, const KeyEvt::Modifiers& modifiers) {
    if (!modifiers.shift) return;
    void (*operation)() = nullptr;
    switch (code) {
        case 18:
        case 83:
            operation = [] { fitToWindow(false); };
            break;
        case 19:
        case 84:
            operation = zoomToSelection;
            break;
        case 24:
        case 69:
            operation = zoomIn;
            break;
        case 27:
        case 78:
            operation = zoomOut;
            break;
        case 29:
        case 82:
            operation = zoomToActualSize;
            break;
        default:
            return;
    }
    services::Telemetry::shared().preset(
        "zoom", {{"method", "hotkey:" + services::keyComboDescription(
                                            code, services::KeyComboModifiers{true, modifiers.command})}});
    operation();
}

void FrameHandlers::zoomIn() {
    Framer::shared().zoom(true, viewCentre());
    finishCommand(2);
}

void FrameHandlers::zoomOut() {
    Framer::shared().zoom(false, viewCentre());
    finishCommand(2);
}

void FrameHandlers::fitToWindow(bool instant) {
    Framer::shared().zoomToFit(compositionRect(), false);
    finishCommand(instant ? 1 : 2);
}

void FrameHandlers::zoomToActualSize() {
    Framer& f = Framer::shared();
    const kit::Point c = viewCentre();
    const kit::Point p = f.viewToImage(c);
    f._zoom.set(1.0);
    f.setOffset(p, c);
    f.constrainPan(false);
    if (f.area.width > f.source.width && f.area.height > f.source.height) {
        // The image fits at actual size: centre the composition instead.
        const services::Rect e = f.getEffectiveArea();
        f.setOffset(centreOf(compositionRect()), {e.width * 0.5, e.height * 0.5});
    }
    finishCommand(2);
}

void FrameHandlers::zoomToSelection() {
    Framer::shared().zoomToFit(selectionRect().value_or(compositionRect()), false);
    finishCommand(2);
}

void FrameHandlers::zoomToSelectionCorner(bool topLeft) {
    const std::optional<services::Rect> r = selectionRect();
    if (!r) return;
    Framer& f = Framer::shared();
    const double before = f.zoom();
    f._zoom.set(16.0);
    const kit::Point corner =
        topLeft ? kit::Point{r->x1, r->y1 + r->height} : kit::Point{r->x1 + r->width, r->y1};
    f.setOffset(corner, viewCentre());
    finishCommand(before < 8.0 ? 2 : 1);
}

void FrameHandlers::zoomToSelectionTopLeft() {
    zoomToSelectionCorner(true);
}

void FrameHandlers::zoomToSelectionBottomRight() {
    zoomToSelectionCorner(false);
}

void settleViewport() {
    Framer::shared().constrainPan(true);
    relayoutCanvas(true);
}

}  // namespace editor
