#include "Doubles.h"

#include "objects/PressedKeys.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

void FakeObjectHandlers::deactivate() {
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

std::string FakeObjectHandlers::activeType() const {
    if (!active || *active < 0 || size_t(*active) >= objects.size()) return "";
    std::string name = objects[size_t(*active)]->className();
    return name.rfind("Obj", 0) == 0 ? name.substr(3) : name;
}

void FakeObjectHandlers::renumberCounters() {
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
    // Keep the queue in memory: no batch leaves it (and nothing goes out to
    // the product site) while a test counts events. Stored without the
    // setter, which would flush the queue on its way.
    Settings::shared().storeBool("allowTelemetry", false);
    setView(1, 1);
    Framer::shared().source = {0, 0, 800, 600};
    Framer::shared().crop = {0, 0, 800, 600};
    Framer::shared().area = {0, 0, 600, 400};
    Framer::shared().paddings = nullptr;
    Framer::shared().backdropPanelWidth = nullptr;
    layoutRequest = 0;
    layoutAnimationsOff = false;
    PressedKeys::shared().pressed.clear();
    for (const auto& k : Settings::shared().storage().keys())
        if (k.rfind("Kadrix.", 0) == 0) forget(k);
    Settings::shared().setRealPixels(false);
    Settings::shared().setDefaultColor("#F44723");
    ObjectsCore::shared = &app;
    seen_.clear();
    for (const auto& e : Telemetry::shared().events()) seen_.insert(e.value("evtid", int64_t(0)));
    editorHooks() = EditorHooks{};
    editorHooks().relayoutCanvas = [this](bool) { ++relayouts; };
    editorHooks().refreshToolSettings = [this] { ++toolRefreshes; };
}

void ObjectsTest::TearDown() {
    ObjectsCore::shared = nullptr;
    editorHooks() = EditorHooks{};
}

void ObjectsTest::setView(double dpr, double zoom, double bx, double by) {
    Framer& f = Framer::shared();
    f._dpr.set(dpr);
    f._zoom.set(zoom);
    f._bx.set(bx);
    f._by.set(by);
    f.bpx = bx;
    f.bpy = by;
}

void ObjectsTest::forget(const std::string& key) {
    Settings::shared().storage().remove(key);
}

void ObjectsTest::store(const std::string& key, const std::string& value) {
    Settings::shared().storeString(key, value);
}

std::string ObjectsTest::stored(const std::string& key) {
    auto v = Settings::shared().storage().object(key);
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
    for (const auto& e : Telemetry::shared().events())
        if (!seen_.count(e.value("evtid", int64_t(0))) && e.value("type", "") == name) out.push_back(e);
    return out;
}
