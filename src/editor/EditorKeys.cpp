#include "editor/EditorKeys.h"

#include <cctype>
#include <iostream>

#include "editor/CanvasLayers.h"
#include "editor/CropTool.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/FrameHandlers.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/MainWindowController.h"
#include "editor/Ruler.h"
#include "imaging/ColorFormats.h"
#include "imaging/PixelSampling.h"
#include "objects/PressedKeys.h"
#include "services/Alerts.h"
#include "services/KeyCombo.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace editor {

namespace {

namespace K = kit::KeyCode;

template <class F, class... Args>
auto call(const F& fn, Args&&... args) {
    using R = decltype(fn(std::forward<Args>(args)...));
    if constexpr (std::is_void_v<R>) {
        if (fn) fn(std::forward<Args>(args)...);
    } else {
        return fn ? fn(std::forward<Args>(args)...) : R{};
    }
}

std::string describe(const KeyEvt& key) {
    return services::keyComboDescription(key.code, {key.modifiers.shift, key.modifiers.command});
}

ObjectInput* objectsRoute() {
    return Handlers::shared().objects;
}

bool anyCreating() {
    ObjectInput* objs = objectsRoute();
    if (!objs) return false;
    for (int i = 0, n = objs->objectCount(); i < n; ++i)
        if (objs->objectState(i) == "creating") return true;
    return false;
}

bool toolArmed() {
    ObjectInput* objs = objectsRoute();
    return (objs && !objs->createOnClick().empty()) || anyCreating();
}

services::Telemetry& telemetry() {
    return services::Telemetry::shared();
}

}  // namespace

EditorKeys& EditorKeys::shared() {
    static EditorKeys* keys = new EditorKeys();
    return *keys;
}

EditorKeys::EditorKeys(CropTool* crop, Ruler* ruler)
    : crop_(crop ? *crop : CropTool::shared()), ruler_(ruler ? *ruler : Ruler::shared()) {}

std::string EditorKeys::toolForKey(int code) {
    switch (code) {
        case K::A:
            return "ObjArrow";
        case K::S:
            return "ObjSpotlight";
        case K::D:
            return "ObjFreehand";
        case K::H:
            return "ObjHighlighter";
        case K::C:
            return "ObjCounter";
        case K::B:
            return "ObjConceal";
        case K::R:
            return "ObjRectangle";
        case K::T:
            return "ObjText";
        case K::O:
            return "ObjOval";
        case K::L:
            return "ObjLine";
        default:
            return "";
    }
}

bool EditorKeys::objectActive() const {
    ObjectInput* objs = objectsRoute();
    return objs && objs->active().has_value();
}

bool EditorKeys::imagePresent() const {
    return !core().imgPrecompiled().isNull();
}

void EditorKeys::keyDown(const KeyEvt& key, const kit::Event* event) {
    objects::PressedKeys::shared().press(key.code);
    if (objectActive() && call(links.isEditing)) {
        call(links.objectKeyDown, event, key);  // a text being typed takes every key
        return;
    }
    const std::string method = "hotkey:" + describe(key);
    bool tab = false;
    if (!leadingRows(key, event, method, tab)) return;
    appRows(key, event, method, tab);
    if (imagePresent() && !Handlers::shared().pressedMouseButtons[0] && !toolRows(key, method)) return;
    ruler_.keyDown(event, key.code, key.modifiers, !crop_.on() && !objectActive());
    debugRows(key);
    const KeyEvt::Modifiers& m = key.modifiers;
    if (key.code == K::O && m.command && imagePresent() && !crop_.on()) recognizeText(method);
    if (crop_.on()) crop_.keyDown(key.code, m, key.chars.value_or(""));
    if (objectActive() || (key.code == K::V && m.command)) call(links.objectKeyDown, event, key);
    FrameHandlers::keyDown(key.code, m);
    finish();
}

bool EditorKeys::leadingRows(const KeyEvt& key, const kit::Event* event, const std::string& method,
                             bool& tab) {
    if (key.code == K::Escape) {
        if (toolArmed()) {
            call(links.objectKeyDown, event, key);  // cancels the armed tool
            return false;
        }
        if (call(links.hideHelpers)) return false;
        escape(method);
    } else if (key.code == K::Tab) {
        if (call(links.anyHelperVisible)) return false;
        tab = true;
    } else if (key.code == K::C && key.modifiers.command && !crop_.on() && !objectActive()) {
        telemetry().preset("hide", {{"method", method}});
        telemetry().preset("copyImage", {{"method", method}});
        core().copyImage(false, false);
    }
    return true;
}

void EditorKeys::escape(const std::string& method) {
    Handlers& h = Handlers::shared();
    if (h.mmode == "croptool" || h.mmode == "objectHandlers") h.mmode = "default";
    if (crop_.on() || objectActive()) return;
    telemetry().preset("hide", {{"method", method}});
    services::Settings& s = services::Settings::shared();
    const bool copy = s.getBool("copyOnEsc", true), save = s.getBool("saveOnEsc", false);
    if (copy) {
        telemetry().preset("copyImage", {{"method", method}});
        core().copyImage(false, false);
    }
    if (save) core().saveImage(method, true);
    if (!copy && !save) core().hideMainWindow();
}

void EditorKeys::appRows(const KeyEvt& key, const kit::Event* event, const std::string& method, bool tab) {
    const int code = key.code;
    const KeyEvt::Modifiers& m = key.modifiers;
    if (code == K::Q && m.command) core().quitOrHide(method);
    if (code == K::F2) core().uploadImage(method);
    const bool typedZ =
        event && event->type == kit::EventType::KeyDown &&
        (event->charactersIgnoringModifiers == "z" || event->charactersIgnoringModifiers == "Z");
    if (m.command && (typedZ || code == K::Z) && !call(links.isEditing)) {
        // Undo itself comes through the window's undo command; here the
        // zoom keys it shares let go, and Shift makes it a redo.
        objects::PressedKeys::shared().pressed.erase(K::Z);
        objects::PressedKeys::shared().pressed.erase(K::Y);
        Handlers::shared().updateCursor();
        Handlers::shared().flush();
        if (m.shift) {
            call(links.redo);
            Handlers::shared().flush();
        }
    }
    if (code == K::I && imagePresent()) copyColor(m.shift, method);
    if (code == K::Tab && tab && imagePresent() && !objectActive()) copyColor(m.shift, method);
    if (code == K::P && m.command) {
        telemetry().preset("pin", {{"method", method}});
        core().pinImage(std::nullopt, std::nullopt);
    }
    if (code == K::P && !m.command) {
        telemetry().preset("setting-realPixels", {{"method", method}});
        core().setRealPixels(!services::Settings::shared().realPixels());
    }
    if (code == K::A && m.command) core().addCaptureToScreenshot(method);
    if (imagePresent() && !crop_.on() && !objectActive())
        backdrop().handleHotkey(code, m.shift, m.command, m.option, m.control, key.chars.value_or(""));
}

bool EditorKeys::toolRows(const KeyEvt& key, const std::string& method) {
    const int code = key.code;
    const KeyEvt::Modifiers& m = key.modifiers;
    Handlers& h = Handlers::shared();
    if (!crop_.on() && !m.command && !m.shift) {
        const std::string description = describe(key);
        if (const std::string tool = toolForKey(code); !tool.empty())
            core().selectTool(tool, "hotkey:bypass:" + description);
        if (code == K::V) {
            call(links.deactivate);
            core().refreshCropButton();
            h.mmode = "default";
            telemetry().event("DefaultTool", {{"method", description}});
        }
        if (code == K::K || key.chars == "k") {
            call(links.deactivate);
            core().refreshCropButton();
            h.mmode = "default";
            core().checkBackdropAllowed(method);
        }
    }
    if (!crop_.on()) return true;
    const std::string imprint = "imprint:" + describe(key);
    if (code == K::Delete || code == K::ForwardDelete) {
        core().selectConcealTool();
        telemetry().event("erase", {{"object", "ObjConceal"}, {"method", imprint}});
        canvasLayers().relayoutRequest = 1;
        h.updateCursor();
        core().updateStatus();
        h.flush();
        return false;
    }
    if (code == K::R) {
        core().selectRectangleTool();
        canvasLayers().relayoutRequest = 1;
        telemetry().event("draw",
                          {{"object", "ObjRectangle"},
                           {"color", services::Settings::shared().getString("defaultColor", "#F44723")},
                           {"method", imprint}});
    }
    if (code == K::B) {
        call(links.addConceal, crop_.selection());
        crop_.setSelection(std::nullopt);  // the selection became the conceal object
        canvasLayers().relayoutRequest = 1;
        h.updateCursor();
        core().updateStatus();
        h.flush();
        telemetry().event("draw", {{"object", "ObjConceal"}, {"method", imprint}});
        return false;
    }
    return true;
}

void EditorKeys::debugRows(const KeyEvt& key) {
    const KeyEvt::Modifiers& m = key.modifiers;
    if (key.code == K::L && m.control && m.shift && m.command) {
        std::cout << "Reset all settings" << std::endl;
        services::Settings::shared().resetSettings();
    } else if (key.code == K::X && m.control && m.option && m.command) {
        const kit::Json& common = telemetry().commonData();
        auto text = [&](const char* k) { return kit::json::stringAt(common, k).value_or(""); };
        services::alertOnMain("Kadrix", telemetry().uid() + "\n" + text("os") + "\n" + text("appv") + " (" +
                                            text("build") + ")");
    } else if (key.code == K::K && m.shift && m.command) {
        telemetry().dump();
        std::cout << core().metadata().dump() << std::endl;
    }
}

void EditorKeys::copyColor(bool darkest, const std::string& method) {
    // Only a colour of the screenshot is copied: with the pointer beside the
    // image (or never yet over it) there is none, and the editor stays.
    const Handlers& h = Handlers::shared();
    const Framer& f = Framer::shared();
    const kit::Point p = f.viewToImage({h.mouseDX, h.mouseDY});
    if (!(p.x >= 0 && p.x < f.source.width && p.y >= 0 && p.y < f.source.height)) return;
    services::Telemetry& t = telemetry();
    const std::string format = services::Settings::shared().colorFormat();
    if (!darkest) {
        t.event("copyColor",
                {{"method", method}, {"color", core().colorDisplayString()}, {"format", format}});
        t.preset("hide", {{"method", method}});
        const std::string copied = core().colorCopyString();
        core().copyText(copied, copied, "Copied to the clipboard", core().colorValue());
        return;
    }
    const imaging::SampledColor c =
        imaging::avgColorFast(core().capture(), kit::Rect(p.x - 10, p.y - 10, 20, 20), "darkest");
    const int r = int(c.packed & 0xFF), g = int((c.packed >> 8) & 0xFF), b = int((c.packed >> 16) & 0xFF);
    const auto [shown, copied] = imaging::formatColor(r, g, b);
    t.event("copyColorDark", {{"method", method}, {"color", shown}, {"format", format}});
    t.preset("hide", {{"method", method}});
    core().copyText(copied, "Darkest color: " + copied, "Copied to the clipboard", c.color);
}

void EditorKeys::recognizeText(const std::string& method) {
    const kit::Image image = core().imgPrecompiled();
    const int d = std::max(1, int(std::lround(Framer::shared().dpr())));
    if (image.width() / d > 1000 || image.height() / d > 1000) {
        services::alertOnMain("Select area first",
                              "Select rectangle with text that you want to recognize and copy");
        return;
    }
    telemetry().preset("ocr", {{"method", method}});
    telemetry().preset("hide", {{"method", method}});
    core().ocrSelection(method);
}

void installCropRulerAndKeys() {
    Handlers& h = Handlers::shared();
    h.crop = &CropTool::shared();
    h.ruler = &Ruler::shared();
    h.keys = &EditorKeys::shared();
    // The hint bubbles belong to the editor window's view controller, which
    // exists once the window does.
    EditorKeys::Links& links = EditorKeys::shared().links;
    links.anyHelperVisible = [] {
        MainWindowController* w = MainWindowController::existing();
        return w && w->viewController && w->viewController->anyHelperVisible();
    };
    links.hideHelpers = [] {
        MainWindowController* w = MainWindowController::existing();
        return w && w->viewController && w->viewController->hideHelpers();
    };
}

void EditorKeys::finish() {
    Handlers& h = Handlers::shared();
    h.updateCursor();
    core().updateStatus();
    h.flush();
}

}  // namespace editor
