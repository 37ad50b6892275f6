#include "objects/ObjText.h"

#include <cmath>

#include "imaging/PixelSampling.h"
#include "kit/base/Dispatch.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/TextMeasure.h"
#include "objects/OTHelper.h"
#include "objects/ObjectHost.h"
#include "objects/ObjectsCore.h"
#include "services/Settings.h"
#include "services/Str.h"

namespace objects {

namespace {

// The text container's padding on each side of a line, as text views keep it.
constexpr double kLinePadding = 5;

// The text object whose text the shared view is editing now.
ObjText* editingObject = nullptr;

std::string trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

}  // namespace

ObjText::ObjText(ObjectHost* parentManager, const kit::LayerPtr& drawing, const kit::LayerPtr& control)
    : ProtoObject(parentManager, drawing, control),
      editor(&OTHelper::makeEditor(parent ? parent->canvasView() : nullptr)),
      lbox(kit::Layer::make()),
      lpointer(kit::ShapeLayer::make()),
      ltext(kit::TextLayer::make()),
      ltshot(kit::Layer::make()) {
    loadStoredSize();
    layer->addSublayer(lbox);
    layer->addSublayer(lpointer);
    layer->addSublayer(ltext);
    layer->addSublayer(ltshot);
    const double d = dpr();
    layer->setShadowOffset({0, -10 * d});
    layer->setShadowColor(kit::Color::black());
    layer->setShadowRadius(10 * d);
    layer->setShadowOpacity(0.08);
    lpointer->setShouldRasterize(true);
    lpointer->setMagnificationFilter(kit::ScalingFilter::Nearest);
    if (loadOption("pointerPresent", "true") != "true") {
        pPerc = 0.5;
        pDist = 0;
        pSide = "t";
    }
    for (const char* word : {"point-pointer", "l-resize", "r-resize"})
        knobs.push_back(std::make_unique<Knob>(lcontrol, word));
    maxWidth = fs() * 8 + 188;
    attachLayers(drawing, control);
}

ObjText::~ObjText() {
    if (editingObject == this) {
        editingObject = nullptr;
        editor->setKeyHandler(nullptr);
        editor->setTextChangeHandler(nullptr);
        editor->setHidden(true);
    }
}

// ---- Layout and rendering -------------------------------------------------------

kit::Font ObjText::textFont(double sizePoints) const {
    const bool light = 0.299 * color.r + 0.587 * color.g + 0.114 * color.b > 0.6;
    const kit::FontWeight weight = light ? kit::FontWeight::Regular : kit::FontWeight::Medium;
    if (auto face = services::Settings::shared().storage().string("typeface"); face && !face->empty())
        if (auto named = kit::Font::named(*face, sizePoints, weight)) return *named;
    return kit::Font::system(sizePoints, weight);
}

kit::Color ObjText::textColor() const {
    if (nobg) return color;
    const bool light = 0.299 * color.r + 0.587 * color.g + 0.114 * color.b > 0.6;
    return light ? kit::Color::black() : kit::Color::white(1);
}

ObjText::Layout ObjText::unitLayout(const std::string& shown) const {
    const size_t n = services::Str::characterCount(text);
    const double k = n <= 40 ? 1.0 : n <= 80 ? 1.25 : n <= 120 ? 1.5 : n <= 160 ? 1.75 : 2.0;
    Layout l;
    l.hInset = k * fs() / 6;
    l.vInset = k * fs() * 0.25;
    const double container = maxWidth - 2 * l.hInset;
    kit::Size used = kit::measureText(shown, textFont(fs()), std::max(1.0, container - 2 * kLinePadding));
    // The box grows with its text from 40 × 8 up to the wrap width.
    l.frame.width = std::clamp(used.width + 2 * kLinePadding + 2 * l.hInset, 40.0, std::max(40.0, maxWidth));
    l.frame.height = std::max(8.0, used.height + 2 * l.vInset);
    return l;
}

bool ObjText::typing() const {
    return state == "editing" && editingObject == this;
}

void ObjText::layoutText() {
    Layout l = unitLayout(typing() ? editor->string() : text);
    // One text point shows as zoom canvas points: the box holds dpr image
    // pixels per text point, and an image pixel shows as zoom / dpr points.
    const double z = zoom();
    editor->setInset({l.hInset * z, l.vInset * z});
    editor->setContainerWidth((maxWidth - 2 * l.hInset) * z);
    editorUnitSize_ = l.frame;
}

void ObjText::font() {
    const double z = zoom();
    editor->setBackgroundColor(nobg ? std::nullopt : std::optional(color));
    editor->setTextColor(textColor());
    editor->setInsertionPointColor(textColor());
    editor->setFont(textFont(fs() * z));
}

void ObjText::showEditor() {
    OTHelper::makeEditor(host().canvasView());  // on the canvas, should it have come after this text
    // The string first: while typing, the view is measured by what it holds.
    editor->setString(text);
    layoutText();
    editor->setCornerRadius(fs() * 0.25 * zoom());
    editor->setSelectionColor(kit::Color{0, 0, 0, 0.3});
    font();
    placeEditorFrame();
    editor->setHidden(false);
    ltshot->setHidden(true);
    lpointer->setHidden(true);
    editor->makeFirstResponder();
    host().setLayoutAnimationsOff(true);
    textMode = "editor";
}

void ObjText::placeEditorFrame() {
    const double d = dpr(), z = zoom();
    kit::Point p = imageToView({rect.x1, rect.y1 + rect.height});
    kit::Size size{editorUnitSize_.width * z, editorUnitSize_.height * z};
    editor->setFrame({p.x / d, p.y / d - size.height, size.width, size.height});
}

void ObjText::fitEditorToText() {
    if (!typing() || textMode != "editor") return;
    editorUnitSize_ = unitLayout(editor->string()).frame;
    placeEditorFrame();
}

void ObjText::placeEditor() {
    layoutText();
    font();
    editor->setString(text);
    editor->setHidden(true);
    editor->setHidden(false);
    editor->setNeedsDisplay();
}

void ObjText::preRender() {
    preRenderMainThread();
}

void ObjText::preRenderMainThread() {
    text = editor->string();
    editor->setEditable(false);
    editor->selectNothing();
    layoutText();
    font();
    // The snapshot: the box's background and the text, laid out at unit
    // scale and rendered at the capture's pixel ratio.
    const double d = dpr();
    Layout l = unitLayout(text);
    auto box = kit::Layer::make();
    box->setBounds({0, 0, l.frame.width, l.frame.height});
    if (!nobg) box->setBackgroundColor(color);
    box->setCornerRadius(fs() * 0.25);
    auto label = kit::TextLayer::make();
    label->setFont(textFont(fs()));
    label->setForegroundColor(textColor());
    label->setWrapped(true);
    label->setString(text);
    label->setFrame({l.hInset + kLinePadding, l.vInset, l.frame.width - 2 * l.hInset - 2 * kLinePadding,
                     l.frame.height - 2 * l.vInset});
    box->addSublayer(label);
    kit::Image shot = kit::renderToImage(*box, d);
    if (shot.isNull()) {
        oops("preRenderMainThread()", "Can't create a cached display");
        // The old snapshot stays; the view is put away rather than left on
        // screen where it can no longer be typed into.
        editor->setHidden(true);
        return;
    }
    ltshot->setContents(shot);
    ltshot->setShouldRasterize(true);
    ltshot->setMagnificationFilter(kit::ScalingFilter::Nearest);
    const double top = rect.y1 + rect.height;
    rect.width = l.frame.width * d;
    rect.height = l.frame.height * d;
    rect.y1 = top - rect.height;
    ltshot->setHidden(false);
    lpointer->setHidden(false);
    if (editingObject == this) editingObject = nullptr;
    editor->setHidden(true);
    textMode = "layer";
    host().setLayoutAnimationsOff(false);
    draw();
}

void ObjText::draw() {
    if (state != "editing" && text.empty()) {
        setLayersVisible(false, false);
        return;
    }
    const double d = dpr(), z = zoom(), F = fs();
    if (state.find("resize") != std::string::npos) {
        lbox->setHidden(false);
        lbox->setCornerRadius(F * d * 0.25);
        lbox->setBackgroundColor(transparentColor(color, 0.3));
        lbox->setFrame(rect.toKit());
    } else if (state == "highlighted") {
        lbox->setHidden(false);
        lbox->setCornerRadius(F * d * 0.25 + 1);
        lbox->setBackgroundColor(kHighlightColor);
        lbox->setFrame({rect.x1 - 2, rect.y1 - 2, rect.width + 4, rect.height + 4});
    } else {
        lbox->setHidden(true);
    }
    lpointer->setFillColor(color);
    knobs[0]->shown = !nobg;
    if (nobg) lpointer->setHidden(true);
    if (state == "highlighted") {
        lpointer->setStrokeColor(kHighlightColor);
        lpointer->setLineWidth(2);
    } else {
        lpointer->setLineWidth(0);
    }
    if (pDist == 0 && state == "selected") {
        lpointer->setFillColor(transparentColor(color, 0.3));
        lpointer->setPath(OTHelper::pointerPath(rect, pPerc, 12, F, pSide, host()));
    } else if (state == "editing") {
        lpointer->setPath({});
    } else {
        lpointer->setPath(OTHelper::pointerPath(rect, pPerc, pDist, F, pSide, host()));
    }
    ltshot->setFrame(rect.toKit());
    if (textMode == "editor") {
        placeEditorFrame();
        font();
    }
    if (state == "selected") {
        kit::Point o = imageToView({rect.x1, rect.y1});
        kit::Rect b = kit::Rect(o.x / d, o.y / d, rect.width * z / d, rect.height * z / d).standardized();
        if (knobs.size() >= 3) {
            knobs[1]->draw(std::round(b.x() - 6), b.y() + b.height() / 2);
            knobs[2]->draw(std::round(b.x() + b.width() + 6), b.y() + b.height() / 2);
        }
        double len = pDist != 0 ? pDist : 10 / z + 12;
        kit::Point tip = OTHelper::pointerBase(rect, pPerc, len, pSide, host());
        knobs[0]->draw(tip.x, tip.y);
    }
    setLayersVisible(true, state == "selected");
}

// ---- Editing --------------------------------------------------------------------

void ObjText::reportActive() {
    if (parent && parent->active && !(parent->selectedIndex && *parent->selectedIndex == *parent->active)) {
        parent->selectedIndex = parent->active;
        reportSelectionMode(parent->activeType());
    }
}

void ObjText::startEditing() {
    state = "editing";
    // The view is this text's from here on, so its changes reach this text.
    editingObject = this;
    showEditor();
    reportActive();
    editor->setEditable(true);
    // Escape reaches the text while the view has the keyboard.
    editor->setKeyHandler([](const kit::Event& e) {
        if (e.keyCode != kit::KeyCode::Escape || !editingObject) return false;
        KeyEvt k;
        k.code = kit::KeyCode::Escape;
        editingObject->keyDown(&e, k);
        return true;
    });
    editor->setTextChangeHandler([] {
        if (editingObject) editingObject->fitEditorToText();
    });
}

void ObjText::appendText(const std::string& more) {
    if (state != "editing") return;
    editor->setString(trimmed(editor->string() + " " + more));
}

// Objects live on the main thread, where every caller of this runs.
void ObjText::stopEditing() {
    endEditing();
}

void ObjText::endEditing() {
    commit(false);
}

void ObjText::commit(bool forDump) {
    state = "selected";
    const bool typed = !editor->string().empty();
    if (typed) reportActive();
    preRender();
    if (!text.empty()) {
        kit::Json data{{"width", rect.width},
                       {"height", rect.height},
                       {"object", "ObjText"},
                       {"length", int64_t(services::Str::characterCount(text))}};
        if (!initialized) {
            initialized = true;
            data["color"] = imaging::hexString(color);
            telemetryEvent("draw", data);
        } else {
            data["editType"] = "text";
            telemetryEvent("edit", data);
        }
    }
    host().backdropLayout();
    if (forDump) {
        // The caller is taking a snapshot of every object: no snapshot inside
        // it, and an empty text leaves the editor only after it is done.
        if (!typed && parent) {
            std::weak_ptr<ProtoObject> self = weak_from_this();
            ObjectHost* manager = parent;
            kit::dispatchMain([self, manager] {
                if (auto me = self.lock())
                    for (const auto& o : manager->objects)
                        if (o == me) return manager->deactivate();
            });
        }
        return;
    }
    host().undoSave("Text edit");
    if (!typed && parent) parent->deactivate();
}

// ---- Selection ------------------------------------------------------------------

void ObjText::select() {
    state = "selected";
    reportActive();
    host().setLayoutRequest(1);
}

void ObjText::unselect() {
    if (state == "editing") stopEditing();
    ProtoObject::unselect();
}

void ObjText::deactivate() {
    if (state == "editing")
        stopEditing();
    else if (parent)
        parent->deactivate();
}

std::string ObjText::cursor(kit::Point p) {
    if (state == "editing" || state == "creating") return "ibeam";
    if (state == "move") return "move";
    std::string w = action(p);
    return w.find("point") != std::string::npos ? "point" : w;
}

bool ObjText::isEmpty() {
    return state == "editing" ? false : text.empty();
}

services::Rect ObjText::anchorPoint() {
    if (state == "editing") {
        const double top = rect.y1 + rect.height;
        rect.width = editorUnitSize_.width * dpr();
        rect.height = editorUnitSize_.height * dpr();
        rect.y1 = top - rect.height;
    }
    return rect;
}

// ---- Mouse and keys ---------------------------------------------------------------

void ObjText::mouseDown(const kit::Event* event, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    mdsx = q.x;
    mdsy = q.y;
    mouseDownRect = rect;
    const double d = dpr(), F = fs();
    if (state == "creating") {
        rect.x1 = std::floor(q.x);
        rect.width = 100 * d;
        const double top = std::ceil(q.y + 0.9 * F * d);
        rect.height = std::round(1.8 * F * d);
        rect.y1 = top - rect.height;
        if (zoom() < 1.0) {
            host().backdropLayout();
            host().zoomToActualSizeAt(q, p);
            if (ObjectsCore* core = host().core()) core->updateStatus();
            host().setLayoutRequest(1);
        }
        startEditing();
    } else if (state == "selected") {
        if (eventHas(event, kit::ModifierFlag::Command)) {
            nobg = !nobg;
            refreshAfterResize();
            telemetryEvent("edit", {{"editType", "transparency"}, {"object", "ObjText"}, {"value", nobg}});
        } else {
            mouseDownTime = kit::monotonicNow();
            state = action(p);
            if (state.find("resize") != std::string::npos) showEditor();
            if (state.find("point") != std::string::npos && pDist == 0) pDist = 12;
        }
    }
}

void ObjText::mouseDrag(const kit::Event* event, kit::Point p, int) {
    kit::Point q = viewToImage(p);
    if (state == "move" || state.find("resize") != std::string::npos ||
        state.find("point") != std::string::npos) {
        kit::Point delta = dragDelta(q, state == "move" && eventHas(event, kit::ModifierFlag::Shift));
        rect = mouseDownRect;
        if (state == "move") {
            rect.x1 += delta.x;
            rect.y1 += delta.y;
        } else if (state == "l-resize" || state == "r-resize") {
            if (state == "l-resize") {
                rect.x1 += delta.x;
                rect.width -= delta.x;
            } else {
                rect.width += delta.x;
            }
            maxWidth = std::max(rect.width / dpr() + 1, 40.0);
            layoutText();
        } else if (state == "point-pointer") {
            OTHelper::Side s = OTHelper::pointerSide(rect, q);
            pSide = s.side;
            pPerc = s.perc;
            pDist = s.dist;
        }
    }
    host().setLayoutRequest(1);
}

void ObjText::mouseUp(const kit::Event*, kit::Point, int) {
    if (state.find("resize") != std::string::npos && textMode == "editor") preRender();
    if (state == "move" && kit::monotonicNow() - mouseDownTime < 0.2 &&
        std::fabs(rect.x1 - mouseDownRect.x1) + std::fabs(rect.y1 - mouseDownRect.y1) < 10) {
        // A quick click on a selected text edits it.
        rect = mouseDownRect;
        startEditing();
    }
    if (state.find("point-pointer") != std::string::npos) {
        telemetryPreset("edit", {{"editType", "point-pointer"},
                                 {"object", "ObjText"},
                                 {"pPerc", pPerc},
                                 {"pDist", pDist},
                                 {"pSide", pSide}});
        saveOption("pointerPresent", pDist > 0 ? "true" : "false");
    }
    if (state != "editing") select();
    host().setLayoutRequest(1);
}

void ObjText::keyDown(const kit::Event*, const KeyEvt& key) {
    if (key.code == kit::KeyCode::Escape) {
        if (state == "editing")
            stopEditing();
        else if (parent)
            parent->deactivate();
    }
    if (state != "selected") return;
    const double step = keyStep(key.modifiers.shift);
    if (!key.modifiers.command) {
        if (key.code == kit::KeyCode::LeftArrow) rect.x1 -= step;
        if (key.code == kit::KeyCode::RightArrow) rect.x1 += step;
        if (key.code == kit::KeyCode::DownArrow) rect.y1 -= step;
        if (key.code == kit::KeyCode::UpArrow) rect.y1 += step;
        return;
    }
    if (key.code != kit::KeyCode::LeftArrow && key.code != kit::KeyCode::RightArrow) return;
    maxWidth = key.code == kit::KeyCode::LeftArrow ? rect.width / dpr() - step : maxWidth + step;
    maxWidth = std::max(maxWidth, 40.0);
    showEditor();
    placeEditor();
    preRender();
}

void ObjText::keyUp(const kit::Event*, const KeyEvt& key) {
    if (state == "selected" && (key.code == kit::KeyCode::Return || key.code == kit::KeyCode::KeypadEnter))
        startEditing();
}

// ---- Size and values --------------------------------------------------------------

void ObjText::refreshAfterResize() {
    if (textMode == "editor") {
        layoutText();
        font();
    } else {
        showEditor();
        placeEditor();
        preRender();
    }
}

void ObjText::changeSize(int step) {
    const double f = fs();
    ProtoObject::changeSize(step);
    maxWidth = maxWidth * fs() / f;
    refreshAfterResize();
}

void ObjText::setValue(const std::string& key, const std::string& value) {
    if (key == "size") {
        const double f = fs();
        // Taken as given, unlike the base: the font table clamps its own index.
        size = parseIntOr(value, 1);
        saveOption("size", std::to_string(size));
        maxWidth = maxWidth * fs() / f;
    } else {
        ProtoObject::setValue(key, value);
    }
    refreshAfterResize();
}

// ---- Dump -------------------------------------------------------------------------

std::string ObjText::dump() {
    if (state == "editing") commit(true);
    kit::Json j = baseRecord();
    j["nobg"] = nobg;
    j["text"] = text;
    j["maxWidth"] = maxWidth;
    j["pPerc"] = pPerc;
    j["pDist"] = pDist;
    j["pSide"] = pSide;
    return encode(j);
}

bool ObjText::restore(const std::string& json) {
    auto j = kit::json::parse(json);
    if (!j) return false;
    auto base = readBase(*j);
    auto nb = kit::json::boolAt(*j, "nobg");
    auto t = kit::json::stringAt(*j, "text"), side = kit::json::stringAt(*j, "pSide");
    auto mw = kit::json::doubleAt(*j, "maxWidth"), pp = kit::json::doubleAt(*j, "pPerc"),
         pd = kit::json::doubleAt(*j, "pDist");
    if (!base || !nb || !t || !side || !mw || !pp || !pd) return false;
    applyBase(*base);
    text = *t;
    nobg = *nb;
    maxWidth = *mw;
    pPerc = *pp;
    pDist = *pd;
    pSide = *side;
    auto refresh = [this] {
        // The shared view may be busy with another text by now.
        if (editingObject && editingObject != this) return;
        showEditor();
        placeEditor();
        preRender();
    };
    refresh();
    // Once more after the view settled; the timer belongs to the object, so
    // it never fires into a text that is gone.
    restoreTimer_ = kit::Timer::once(0.05, refresh);
    return true;
}

}  // namespace objects
