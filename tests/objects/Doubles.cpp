#include "Doubles.h"

#include "objects/PressedKeys.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "support/TelemetryQueue.h"

namespace objects {

void SpyHost::deactivate() {
    ++deactivations;
    createOnClick.clear();
    for (int i = int(objects.size()) - 1; i >= 0; --i) {
        if (objects[size_t(i)]->isEmpty()) {
            objects[size_t(i)]->remove();
            objects.erase(objects.begin() + i);
        }
    }
    active.reset();
}

std::string SpyHost::activeType() const {
    if (!active || *active < 0 || size_t(*active) >= objects.size()) return "";
    return objects[size_t(*active)]->className();
}

void SpyHost::renumberCounters() {
    int best = 0;
    for (const auto& o : objects) {
        if (o->className().find("Counter") == std::string::npos) continue;
        if (auto v = o->dump(); !v.empty()) {
            auto j = kit::json::parse(v);
            if (j) best = std::max(best, int(kit::json::intAt(*j, "count").value_or(0)));
        }
    }
    counterCount = best;
}

void ObjectsTest::SetUp() {
    testsupport::emptyTelemetryQueue();
    setView(1, 1);
    handlers.coreDouble = &app;
    PressedKeys::shared().pressed.clear();
    for (const auto& k : services::Settings::shared().storage().keys())
        if (k.rfind("Kadrix.", 0) == 0) forget(k);
    services::Settings::shared().setRealPixels(false);
    services::Settings::shared().setDefaultColor("#F44723");
}

void ObjectsTest::setView(double dpr, double zoom, double bx, double by) {
    handlers.dprValue = dpr;
    handlers.zoomValue = zoom;
    handlers.bx = bx;
    handlers.by = by;
}

void SpyHost::zoomToActualSizeAt(kit::Point q, kit::Point p) {
    zoomValue = 1;
    bx = p.x - q.x;
    by = p.y - q.y;
}

void ObjectsTest::forget(const std::string& key) {
    services::Settings::shared().storage().remove(key);
}

void ObjectsTest::store(const std::string& key, const std::string& value) {
    services::Settings::shared().storeString(key, value);
}

std::string ObjectsTest::stored(const std::string& key) {
    auto v = services::Settings::shared().storage().object(key);
    return v && v->is_string() ? v->get<std::string>() : "<none>";
}

kit::Event ObjectsTest::mouse(uint32_t flags) {
    kit::Event e;
    e.type = kit::EventType::LeftMouseDragged;
    e.modifierFlags = flags;
    return e;
}

kit::Event ObjectsTest::keyEvent(const std::string& chars, uint32_t flags) {
    kit::Event e;
    e.type = kit::EventType::KeyDown;
    e.characters = chars;
    e.modifierFlags = flags;
    return e;
}

KeyEvt ObjectsTest::key(int code, bool shift, bool command) {
    KeyEvt k;
    k.code = code;
    k.modifiers.shift = shift;
    k.modifiers.command = command;
    return k;
}

std::vector<kit::Json> ObjectsTest::events(const std::string& name) const {
    std::vector<kit::Json> out;
    for (const auto& e : services::Telemetry::shared().events())
        if (e.value("type", "") == name) out.push_back(e);
    return out;
}

}  // namespace objects
