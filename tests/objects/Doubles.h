#pragma once
// The objects' host double (manager, viewport and the editor's neighbours in
// one, recording the calls), a double of the application core, and a fixture
// that puts the viewport, the settings and the held keys in a known state for
// every test.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "kit/base/Event.h"
#include "kit/draw/Layer.h"
#include "kit/ui/View.h"
#include "objects/ObjectHost.h"
#include "objects/ObjectsCore.h"
#include "objects/ProtoObject.h"

inline void PrintTo(const services::Rect& r, std::ostream* os) {
    *os << "Rect(" << r.x1 << ", " << r.y1 << ", " << r.width << ", " << r.height << ")";
}

namespace objects {

class SpyHost : public ObjectHost {
public:
    int deactivations = 0;
    void deactivate() override;
    std::string activeType() const override;
    void renumberCounters() override;

    // Viewport: v = p × zoom + b.
    double dprValue = 1, zoomValue = 1, bx = 0, by = 0;
    services::Rect sourceRect{0, 0, 800, 600}, cropRect{0, 0, 800, 600}, areaRect{0, 0, 600, 400};
    double dpr() const override { return dprValue; }
    double zoom() const override { return zoomValue; }
    kit::Point viewToImage(kit::Point v) const override {
        return {(v.x - bx) / zoomValue, (v.y - by) / zoomValue};
    }
    kit::Point imageToView(kit::Point p) const override {
        return {p.x * zoomValue + bx, p.y * zoomValue + by};
    }
    services::Rect source() const override { return sourceRect; }
    services::Rect crop() const override { return cropRect; }
    services::Rect area() const override { return areaRect; }
    void zoomToActualSizeAt(kit::Point q, kit::Point p) override;

    // What the objects asked of the editor.
    int layoutRequest = 0;
    bool layoutAnimationsOff = false;
    int relayouts = 0;
    int toolRefreshes = 0;
    int backdropLayouts = 0;
    std::vector<std::string> undoLabels;
    std::vector<std::string> toolSettingsTypes;
    kit::View* canvas = nullptr;
    ObjectsCore* coreDouble = nullptr;
    void setLayoutRequest(int level) override { layoutRequest = level; }
    void layoutNow(bool) override {
        ++relayouts;
        layoutRequest = 0;
    }
    void setLayoutAnimationsOff(bool off) override { layoutAnimationsOff = off; }
    kit::View* canvasView() const override { return canvas; }
    void refreshToolSettings() override { ++toolRefreshes; }
    void updateToolSettings(const std::string& type) override { toolSettingsTypes.push_back(type); }
    void undoSave(const std::string& label) override { undoLabels.push_back(label); }
    void backdropLayout() override { ++backdropLayouts; }
    ObjectsCore* core() const override { return coreDouble; }

    kit::LayerPtr drawing = kit::Layer::make();
    kit::LayerPtr control = kit::Layer::make();

    // Creates an object of a class, appends it and makes it the active one.
    template <class T>
    std::shared_ptr<T> add() {
        auto obj = std::make_shared<T>(this, drawing, control);
        objects.push_back(obj);
        active = int(objects.size()) - 1;
        return obj;
    }
};

class FakeAppLogic : public ObjectsCore {
public:
    std::vector<std::string> modes;
    imaging::Capture current;
    int gifs = 0;
    kit::Image gif1, gif2;
    imaging::Capture capture() const override { return current; }
    void selectionModeChanged(const std::string& mode) override { modes.push_back(mode); }
    void refreshToolSettings() override {}
    void updateStatus() override {}
    void saveGIF(const kit::Image& a, const kit::Image& b, double, const std::string&) override {
        ++gifs;
        gif1 = a;
        gif2 = b;
    }
};

class ObjectsTest : public ::testing::Test {
public:
    void SetUp() override;

    // Viewport: pixel ratio, zoom and pan offset.
    void setView(double dpr, double zoom, double bx = 0, double by = 0);
    // Removes a stored setting (tool options and plain settings alike).
    static void forget(const std::string& key);
    static void store(const std::string& key, const std::string& value);
    static std::string stored(const std::string& key);

    // Mouse and key events with modifier flags.
    static kit::Event mouse(uint32_t flags = 0);
    static kit::Event keyEvent(const std::string& chars, uint32_t flags = 0);
    static KeyEvt key(int code, bool shift = false, bool command = false);

    // Telemetry events of a name queued since the test began.
    std::vector<kit::Json> events(const std::string& name) const;

    SpyHost handlers;
    FakeAppLogic app;
};

}  // namespace objects
