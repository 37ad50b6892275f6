#pragma once
// Doubles of the editor's object manager and the application core, and a
// fixture that puts the viewport, the settings and the held keys in a known
// state for every test.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "objects/ObjectsCore.h"
#include "editor/EditorHooks.h"
#include "editor/Framer.h"
#include "editor/ObjectHandlers.h"
#include "kit/Event.h"
#include "kit/Layer.h"
#include "objects/ProtoObject.h"

inline void PrintTo(const Rect& r, std::ostream* os) {
    *os << "Rect(" << r.x1 << ", " << r.y1 << ", " << r.width << ", " << r.height << ")";
}

class FakeObjectHandlers : public ObjectHandlers {
public:
    int deactivations = 0;
    void deactivate() override;
    std::string activeType() const override;
    void renumberCounters() override;

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
    void TearDown() override;

    // Viewport: pixel ratio, zoom and pan offset.
    static void setView(double dpr, double zoom, double bx = 0, double by = 0);
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

    FakeObjectHandlers handlers;
    FakeAppLogic app;
    std::set<int64_t> seen_;
    int relayouts = 0;
    int toolRefreshes = 0;
};
