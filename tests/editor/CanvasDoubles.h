#pragma once
// Recording doubles of the components the canvas hands its input to, and a
// fixture that installs them with a loaded screenshot, a 600 × 400 canvas at
// dpr 1 and a manual clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/CanvasInput.h"
#include "editor/CanvasLayers.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/FrameHandlers.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "kit/base/Timer.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"

namespace canvastest {

// Every call lands in one shared log, so the order across components shows.
inline std::vector<std::string>& calls() {
    static std::vector<std::string> log;
    return log;
}
inline int count(const std::string& prefix) {
    int n = 0;
    for (const std::string& c : calls()) n += c.rfind(prefix, 0) == 0;
    return n;
}

struct Core : editor::CoreHost {
    kit::Image image{8, 8};
    kit::Image precompiled{8, 8};
    std::vector<std::string> cursors;
    kit::Image imgSource() const override { return image; }
    kit::Image imgPrecompiled() const override { return precompiled; }
    void setCursor(const std::string& c) override { cursors.push_back(c); }
    void updateStatus() override { calls().push_back("status"); }
    void sampleColor(double x, double y, bool darkest) override {
        calls().push_back("sample " + std::to_string(int(x)) + "," + std::to_string(int(y)) +
                          (darkest ? " dark" : ""));
    }
    bool droppedImageAt(const std::string& file, double x, double y) override {
        calls().push_back("drop " + file + " " + std::to_string(int(x)) + "," + std::to_string(int(y)));
        return true;
    }
};

struct Backdrop : editor::BackdropHost {
    int on = 0;
    void updateTransforms() override { calls().push_back("backdrop.updateTransforms"); }
    int isOn() const override { return on; }
};

struct Objects : editor::ObjectInput {
    std::optional<int> activeIndex;
    std::string armed;
    std::vector<std::string> states;
    bool claims = false;
    std::optional<int> responder;
    bool knobChanges = false;
    kit::LayerPtr root = kit::Layer::make(), control = kit::Layer::make(), canvas = kit::Layer::make(),
                  curtain = kit::Layer::make();
    Objects() { root->addSublayer(canvas); }

    std::optional<int> active() const override { return activeIndex; }
    std::string createOnClick() const override { return armed; }
    int objectCount() const override { return int(states.size()); }
    std::string objectState(int i) const override { return states[size_t(i)]; }
    void setObjectState(int i, const std::string& s) override { states[size_t(i)] = s; }
    bool highlightKnob(kit::Point) override { return knobChanges; }
    bool wantsMouseDown(double, double, int) override { return claims; }
    void mouseDown(const kit::Event&, kit::Point p, int b) override { log("objects.down", p, b); }
    void mouseDrag(const kit::Event&, kit::Point p, int b) override { log("objects.drag", p, b); }
    void mouseUp(const kit::Event&, kit::Point p, int b) override { log("objects.up", p, b); }
    void dblClick(const kit::Event&, kit::Point p, int b) override { log("objects.dbl", p, b); }
    void escEvent() override { calls().push_back("objects.esc"); }
    std::optional<int> getResponder(kit::Point) override { return responder; }
    std::string getCursor(double, double) override { return "object-cursor"; }
    void keyUp(const kit::Event*, const editor::KeyEvt& k) override {
        calls().push_back("objects.keyUp " + std::to_string(k.code));
    }
    services::Rect getRect() override { return {50, 60, -20, -10}; }
    kit::LayerPtr layer() const override { return root; }
    kit::LayerPtr lcontrol() const override { return control; }
    kit::LayerPtr lcanvas() const override { return canvas; }
    kit::LayerPtr lcurtain() const override { return curtain; }
    void layoutObjects() override { calls().push_back("objects.layout"); }

    static void log(const std::string& what, kit::Point p, int b) {
        calls().push_back(what + " " + std::to_string(int(p.x)) + "," + std::to_string(int(p.y)) + " b" +
                          std::to_string(b));
    }
};

struct Crop : editor::CropInput {
    bool isOn = false;
    services::Rect sel{10, 10, 40, 20};
    kit::LayerPtr l = kit::Layer::make();
    bool on() const override { return isOn; }
    services::Rect selection() const override { return sel; }
    void mouseDown(const kit::Event&, int b, double x, double y) override {
        Objects::log("crop.down", {x, y}, b);
    }
    void mouseDragged(double x, double y, const kit::Event&) override {
        Objects::log("crop.drag", {x, y}, 0);
    }
    void mouseUp(double x, double y, const kit::Event&) override { Objects::log("crop.up", {x, y}, 0); }
    void mouseMoved(double x, double y) override { Objects::log("crop.moved", {x, y}, 0); }
    std::string getCursor(double, double) override { return "crop-cursor"; }
    kit::LayerPtr layer() const override { return l; }
    void render(bool animated) override {
        calls().push_back(animated ? "crop.render animated" : "crop.render");
    }
};

struct Ruler : editor::RulerInput {
    bool isOn = false;
    kit::LayerPtr l = kit::Layer::make();
    bool on() const override { return isOn; }
    void pointerMoved(double x, double y) override { Objects::log("ruler.moved", {x, y}, 0); }
    void imprint() override { calls().push_back("ruler.imprint"); }
    void scrolled(const kit::Event&) override { calls().push_back("ruler.scrolled"); }
    void keyUp() override { calls().push_back("ruler.keyUp"); }
    kit::LayerPtr layer() const override { return l; }
    void layout() override { calls().push_back("ruler.layout"); }
};

struct DragOut : editor::DragOut {
    void initiate(kit::View&, const kit::Event&) override { calls().push_back("dragout"); }
};

class CanvasFixture : public ::testing::Test {
protected:
    void SetUp() override {
        calls().clear();
        services::Settings::shared().storeBool("allowTelemetry", false);
        services::Settings::shared().storeBool("altZoomDirection", false);
        editor::setCore(&core);
        editor::setBackdrop(&backdrop);
        h.objects = &objects;
        h.crop = &crop;
        h.ruler = &ruler;
        h.dragOut = &dragOut;
        h.shotView = nullptr;
        h.mmode = h.mmodePrev = "default";
        h.resignKey();
        f.area = {0, 0, 600, 400};
        f.source = {0, 0, 300, 200};
        f.minzoom = 0.03125;
        f._dpr.set(1);
        f._zoom.set(1);
        f.setOffset({0, 0}, {0, 0});
        f.backdropPanelWidth = nullptr;
        f.paddings = nullptr;
        f.compositionRect = nullptr;
        fh.totalScrollDelta = 0;
        fh.accMagnification = 0;
        fh.timerAdjustPosition.invalidate();
        fh.tmrScrollCheckConstraints.invalidate();
        editor::resetCanvasLayers();
        editor::canvasLayers().root = kit::Layer::make();
        editor::canvasLayers().relayoutRequest = 0;
        editor::canvasLayers().suppressAnimation = false;
        editor::layoutRequest = 0;
        calls().clear();
    }
    void TearDown() override {
        // A key held for a test stays held until its release timer fires on
        // the test's clock, which stops here: the next test would drag with it.
        objects::PressedKeys::shared().timers.clear();
        objects::PressedKeys::shared().pressed.clear();
        h.objects = nullptr;
        h.crop = nullptr;
        h.ruler = nullptr;
        h.dragOut = nullptr;
        editor::resetCanvasLayers();
        editor::setCore(nullptr);
        editor::setBackdrop(nullptr);
    }

    // Loads a screenshot so that re-layouts run.
    void showImage() {
        editor::setCanvasImage(kit::Image(300, 200));
        calls().clear();
    }
    static kit::Event mouse(kit::EventType type, uint32_t flags = 0, int clicks = 1) {
        kit::Event e;
        e.type = type;
        e.modifierFlags = flags;
        e.clickCount = clicks;
        return e;
    }
    static void hold(int key) { objects::PressedKeys::shared().press(key); }

    kit::ManualClockScope clock;
    Core core;
    Backdrop backdrop;
    Objects objects;
    Crop crop;
    Ruler ruler;
    DragOut dragOut;
    editor::Handlers& h = editor::Handlers::shared();
    editor::FrameHandlers& fh = editor::FrameHandlers::shared();
    editor::Framer& f = editor::Framer::shared();
};

}  // namespace canvastest
