#include "editor/Handlers.h"

#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/FrameHandlers.h"
#include "editor/Framer.h"
#include "objects/PressedKeys.h"
#include "services/Telemetry.h"

namespace editor {
namespace {

using objects::PressedKeys;

// Control alone (Super on this desktop): the drag-out gesture, not a click.
bool controlOnly(const kit::Event& e) {
    using namespace kit::ModifierFlag;
    return e.has(Control) && !e.has(Command) && !e.has(Shift) && !e.has(Option);
}

// Pointer positions in canvas points → view space (device pixels); presses,
// drags, releases and moves sit one device pixel further left.
kit::Point toView(double x, double y, bool pointerShift) {
    const double d = Framer::shared().dpr();
    return {x * d - (pointerShift ? 1.0 : 0.0), y * d};
}

void forgetKey(int code) {
    objects::PressedKeys& keys = objects::PressedKeys::shared();
    keys.pressed.erase(code);
    auto it = keys.timers.find(code);
    if (it != keys.timers.end()) {
        it->second.invalidate();
        keys.timers.erase(it);
    }
}

}  // namespace

KeyEvt keyEvtFromEvent(const kit::Event& e) {
    using namespace kit::ModifierFlag;
    KeyEvt k;
    k.code = e.keyCode;
    k.modifiers = {e.has(Shift), e.has(Command), e.has(Option), e.has(Control)};
    if (e.type == kit::EventType::FlagsChanged) {
        if (k.code == kit::KeyCode::RightShift) k.code = kit::KeyCode::Shift;
        if (k.code == kit::KeyCode::Command) k.code = kit::KeyCode::RightCommand;
        k.chars = std::string();
    } else {
        k.chars = e.characters;
    }
    return k;
}

Handlers& Handlers::shared() {
    static Handlers* handlers = new Handlers;  // lives until the process ends
    return *handlers;
}

ObjectInput& Handlers::objectsRoute() {
    static ObjectInput none;
    return objects ? *objects : none;
}
CropInput& Handlers::cropRoute() {
    static CropInput none;
    return crop ? *crop : none;
}
RulerInput& Handlers::rulerRoute() {
    static RulerInput none;
    return ruler ? *ruler : none;
}

bool Handlers::imageLoaded() const {
    return !core().imgSource().isNull();
}

void Handlers::setPressed(int button, bool pressed) {
    if (button >= 0 && size_t(button) < pressedMouseButtons.size())
        pressedMouseButtons[size_t(button)] = pressed;
}

void Handlers::flush() {
    flushRelayoutRequest();
}

void Handlers::mouseDown(const kit::Event& event, double x0, double y0, int button) {
    if (!imageLoaded()) return;
    const kit::Point v = toView(x0, y0, true);
    const double x = v.x, y = v.y;
    if (controlOnly(event)) return;
    mmodePrev = mmode;
    std::string owner;
    if (button == 1 || button == 2 ||
        (button == 0 && (PressedKeys::isHeld(kit::KeyCode::Space) || PressedKeys::isHeld(kit::KeyCode::Z) ||
                         PressedKeys::isHeld(kit::KeyCode::Y)))) {
        FrameHandlers::shared().mouseDown(button, x, y);
        mmode = "pan";
        owner = mmode;
    } else if (button == 0 && rulerRoute().on()) {
        if (!core().imgPrecompiled().isNull()) rulerRoute().imprint();
    } else if (!cropRoute().on() && objectsRoute().wantsMouseDown(x, y, button)) {
        mmode = "objectHandlers";
        owner = mmode;
        objectsRoute().mouseDown(event, v, button);
    } else if (mmode == "default" && (button == 0 || button == 3)) {
        objectsRoute().escEvent();
        cropRoute().mouseDown(event, button, x, y);
        mmode = "croptool";
        owner = mmode;
    }
    // The release of this button goes where its press went.
    if (owner.empty())
        owners_.erase(button);
    else
        owners_[button] = owner;

    cursorTimer_ = kit::Timer::once(0.01, [this] { updateCursor(); });
    updateCursor();
    core().updateStatus();
    setPressed(button, true);
    flush();
}

void Handlers::mouseDragged(const kit::Event& event, double x0, double y0, int button) {
    if (!imageLoaded()) return;
    if (controlOnly(event)) {
        services::Telemetry::shared().preset("dragout", {{"method", "ctrl+drag"}});
        if (dragOut && shotView) dragOut->initiate(*shotView, event);
        return;
    }
    const kit::Point v = toView(x0, y0, true);
    mouseDX = v.x;
    mouseDY = v.y;
    // Drags follow the current mode: a second button that started a pan
    // takes the pointer over while it is held.
    if (mmode == "pan")
        FrameHandlers::shared().mouseDragged(button, v.x, v.y);
    else if (mmode == "croptool")
        dragCropSelection(v, event);
    else if (mmode == "objectHandlers")
        objectsRoute().mouseDrag(event, v, button);
    updateCursor();
    core().updateStatus();
    flush();
}

void Handlers::dragCropSelection(kit::Point v, const kit::Event& event) {
    cropRoute().mouseDragged(v.x, v.y, event);
    // The press only ended the typing of a text and left it selected. Once a
    // selection shows, it owns the keys: were the text still active, the
    // Return that crops would open it for typing on its release, and every
    // key after that (undo, redo, copy) would go into the text.
    if (cropRoute().on() && objectsRoute().active()) objectsRoute().escEvent();
}

void Handlers::mouseUp(const kit::Event& event, double x0, double y0, int button) {
    if (!imageLoaded()) return;
    const kit::Point v = toView(x0, y0, true);
    auto it = owners_.find(button);
    if (it != owners_.end()) {
        const std::string route = it->second;
        owners_.erase(it);
        if (route == "pan") {
            FrameHandlers::shared().mouseUp(button, v.x, v.y);
        } else if (route == "croptool") {
            cropRoute().mouseUp(v.x, v.y, event);
        } else {
            objectsRoute().mouseUp(event, v, button);
            if (event.clickCount == 2) objectsRoute().dblClick(event, v, button);
        }
        if (route == mmode) {
            // A pan started over another mode returns to it.
            mmode = mmode == mmodePrev ? "default" : mmodePrev;
        } else if (route == mmodePrev) {
            // An earlier press ended under a later one: when the later one
            // ends there is nothing left to return to.
            mmodePrev = "default";
        }
    }
    setPressed(button, false);
    updateCursor();
    core().updateStatus();
    flush();
}

void Handlers::mouseMoved(const kit::Event& event, double x0, double y0) {
    if (!imageLoaded()) return;
    const kit::Point v = toView(x0, y0, true);
    mouseDX = v.x;
    mouseDY = v.y;
    rulerRoute().pointerMoved(v.x, v.y);
    if (cropRoute().on()) cropRoute().mouseMoved(v.x, v.y);
    if (!rulerRoute().on() && !cropRoute().on()) {
        // Hover highlight; the canvas re-lays out only when something changed.
        ObjectInput& objs = objectsRoute();
        const std::optional<int> h = objs.getResponder(v);
        bool changed = false;
        for (int i = 0, n = objs.objectCount(); i < n; ++i) {
            const std::string state = objs.objectState(i);
            if (h == i && state == "unselected") {
                objs.setObjectState(i, "highlighted");
                changed = true;
            } else if (h != i && state == "highlighted") {
                objs.setObjectState(i, "unselected");
                changed = true;
            }
        }
        if (objs.active() && objs.highlightKnob(v)) changed = true;
        if (changed) canvasLayers().relayoutRequest = std::max(canvasLayers().relayoutRequest, 1);
    }
    const kit::Point p = Framer::shared().viewToImage(v);
    core().sampleColor(p.x, p.y, event.has(kit::ModifierFlag::Shift));
    updateCursor();
    flush();
}

void Handlers::scroll(const kit::Event& event, double x0, double y0) {
    const kit::Point v = toView(x0, y0, false);
    if (rulerRoute().on())
        rulerRoute().scrolled(event);
    else
        FrameHandlers::shared().scrollWheel(event, pressedMouseButtons, v.x, v.y);
    flush();
}

void Handlers::magnify(const kit::Event& event, double x0, double y0) {
    const kit::Point v = toView(x0, y0, false);
    FrameHandlers::shared().magnify(event, v.x, v.y);
    flush();
}

void Handlers::keyDown(const KeyEvt& key, const kit::Event* event) {
    if (keys) keys->keyDown(key, event);
}

void Handlers::keyUp(const KeyEvt& key, const kit::Event* event) {
    // X11 repeats a held key as release/press pairs; only the last release counts.
    if (event && event->isARepeat) return;
    // The key's own code, and the normalised one its key-down put in the set
    // (a right Shift or left Command went in as 56 or 54).
    forgetKey(event ? event->keyCode : key.code);
    forgetKey(key.code);
    if (key.code == kit::KeyCode::RightCommand) {
        // Command released: a free pan or zoom ends and the view settles.
        FrameHandlers& fh = FrameHandlers::shared();
        fh.enforceConstraints = true;
        fh.timerAdjustPosition = kit::Timer::once(0.05, [] { settleViewport(); });
    }
    rulerRoute().keyUp();
    if (objectsRoute().active()) objectsRoute().keyUp(event, key);
    updateCursor();
    flush();
}

void Handlers::updateCursor() {
    const bool buttonHeld = pressedMouseButtons[0] || pressedMouseButtons[1] || pressedMouseButtons[2];
    std::string name;
    if (PressedKeys::isHeld(kit::KeyCode::Space) && !buttonHeld) {
        name = "open-hand";
    } else if (PressedKeys::isHeld(kit::KeyCode::Z) || PressedKeys::isHeld(kit::KeyCode::Y)) {
        name = "zoom";
    } else if (mmode == "pan") {
        name = FrameHandlers::shared().isDragging ? "closed-hand" : "default";
    } else if (cropRoute().on()) {
        name = cropRoute().getCursor(mouseDX, mouseDY);
    } else {
        ObjectInput& objs = objectsRoute();
        bool creating = false;
        for (int i = 0, n = objs.objectCount(); i < n && !creating; ++i)
            creating = objs.objectState(i) == "creating";
        if (!objs.active() && objs.createOnClick().empty() && !creating)
            name = "default";
        else
            name = objs.getCursor(mouseDX, mouseDY);
    }
    core().setCursor(name);
}

void Handlers::resignKey() {
    pressedMouseButtons.fill(false);
    owners_.clear();
    objects::PressedKeys& keys = objects::PressedKeys::shared();
    for (auto& [code, timer] : keys.timers) timer.invalidate();
    keys.timers.clear();
    keys.pressed.clear();
    mmode = "default";
    mmodePrev = "default";
    FrameHandlers& fh = FrameHandlers::shared();
    fh.isDragging = false;
    fh.enforceConstraints = true;
    if (fh.lmarquee) fh.lmarquee->setHidden(true);
    updateCursor();
}

}  // namespace editor
