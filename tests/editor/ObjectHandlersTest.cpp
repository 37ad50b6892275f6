// The object manager with the real object classes: the type table, z order,
// the hit test, creation, the empty sweep, duplication, the key table, the
// object clipboard, restore and the summaries; and the undo history over it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "editor/CropTool.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "kit/base/Dispatch.h"
#include "kit/ui/Pasteboard.h"
#include "objects/ObjArrow.h"
#include "objects/ObjCounter.h"
#include "objects/ObjImage.h"
#include "objects/ObjOval.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjText.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "support/TelemetryQueue.h"

namespace editor {
namespace {

namespace K = kit::KeyCode;
using objects::KeyEvt;

struct RecordingCore : CoreHost {
    std::vector<std::string>* log = nullptr;
    int statusRefreshes = 0;
    void updateStatus() override { ++statusRefreshes; }
    void copyImageToPasteboard(const kit::Image& image) override {
        log->push_back("copy image " + std::to_string(image.width()));
    }
    bool cropAbsolute(const services::Rect& r) override {
        log->push_back("crop " + std::to_string(int(r.width)));
        Framer::shared().crop = r;
        return true;
    }
};

struct RecordingBackdrop : BackdropHost {
    std::vector<std::string>* log = nullptr;
    mutable std::atomic<int> colorCalls{0};
    int on = 0;
    void applyConfig(const kit::Json&) override { log->push_back("backdrop.apply"); }
    void layout() override { log->push_back("backdrop.layout"); }
    void updateControls() override { log->push_back("backdrop.controls"); }
    void setup(bool) override { log->push_back("backdrop.setup"); }
    int isOn() const override { return on; }
    std::string configJSON(bool comparable) const override { return comparable ? "{\"c\":1}" : "{\"f\":1}"; }
    std::optional<kit::Color> bestCanvasColor() const override {
        ++colorCalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return kit::Color{0.5, 0.5, 0.5, 1};
    }
};

// Two dump records alike, numbers to within rounding.
bool sameRecord(const kit::Json& a, const kit::Json& b) {
    if (a.is_number() && b.is_number()) return std::fabs(a.get<double>() - b.get<double>()) < 1e-9;
    if (a.type() != b.type() || a.size() != b.size()) return false;
    if (a.is_object()) {
        for (auto it = a.begin(); it != a.end(); ++it)
            if (!b.contains(it.key()) || !sameRecord(it.value(), b[it.key()])) return false;
        return true;
    }
    if (a.is_array()) {
        for (size_t i = 0; i < a.size(); ++i)
            if (!sameRecord(a[i], b[i])) return false;
        return true;
    }
    return a == b;
}

class ObjectHandlersTest : public ::testing::Test {
protected:
    // New objects take the stored colour and the values their tool keeps,
    // and changed values are stored: each test starts from none stored and
    // leaves none behind.
    static void freshSettings() {
        services::Settings::shared().resetSettings();
        services::Settings::shared().storeBool("allowTelemetry", false);
        services::Settings::shared().setRealPixels(false);
    }
    void SetUp() override {
        freshSettings();
        Handlers::shared().pressedMouseButtons = {};
        objects::PressedKeys::shared().pressed.clear();
        Framer& f = Framer::shared();
        f._dpr.set(1);
        f._zoom.set(1);
        f._bx.set(0);
        f._by.set(0);
        f.source = f.crop = {0, 0, 800, 600};
        f.area = {0, 0, 800, 600};
        core.log = backdropHost.log = &log;
        setCore(&core);
        setBackdrop(&backdropHost);
        editorHooks() = EditorHooks{};
        testsupport::emptyTelemetryQueue();
        Undo::shared().states.clear();
        Undo::shared().position = -1;
        ObjectHandlers::shared().clear();
    }
    void TearDown() override {
        kit::runMainLoopUntil(
            [&] { return m.canvasColorIdle() && ObjectHandlers::shared().canvasColorIdle(); }, 2.0);
        m.clear();
        ObjectHandlers::shared().clear();
        setCore(nullptr);
        setBackdrop(nullptr);
        freshSettings();
    }

    std::vector<kit::Json> events(const std::string& name) const {
        std::vector<kit::Json> out;
        for (const auto& e : services::Telemetry::shared().events())
            if (e.value("type", "") == name) out.push_back(e);
        return out;
    }

    // A drag with the armed tool from a to b (view points at zoom 1: image points).
    void draw(ObjectHandlers& h, const std::string& tool, kit::Point a, kit::Point b) {
        h.createOnClick = tool;
        kit::Event e;
        h.mouseDown(&e, a, 0);
        h.mouseDrag(&e, {(a.x + b.x) / 2, (a.y + b.y) / 2}, 0);
        h.mouseDrag(&e, b, 0);
        h.mouseUp(&e, b, 0);
    }
    static KeyEvt key(int code, bool command = false) {
        KeyEvt k;
        k.code = code;
        k.modifiers.command = command;
        return k;
    }

    std::vector<std::string> log;
    RecordingCore core;
    RecordingBackdrop backdropHost;
    ObjectHandlers m;
};

TEST_F(ObjectHandlersTest, TheTypeTableMatchesByContainmentAndStacksNewObjectsInFront) {
    auto arrow = m.make("Kadrix.ObjArrow");
    EXPECT_NE(dynamic_cast<objects::ObjArrow*>(arrow.get()), nullptr);
    arrow->rect = {0, 0, 10, 10};  // an empty object goes at the next deactivation
    EXPECT_EQ(m.make("Arrow"), nullptr);
    auto spot = m.make("ObjSpotlight");
    EXPECT_NE(dynamic_cast<objects::ObjSpotlight*>(spot.get()), nullptr);
    EXPECT_EQ(spot->className(), "ObjSpotlight");
    spot->rect = {0, 0, 10, 10};
    m.make("ObjRectangle")->rect = {0, 0, 10, 10};
    ASSERT_EQ(m.objects.size(), 3u);
    EXPECT_EQ(m.objects[0]->layer->zPosition(), 1);
    EXPECT_EQ(m.objects[1]->layer->zPosition(), 2);
    EXPECT_EQ(m.objects[2]->layer->zPosition(), 3);
    EXPECT_FALSE(m.active);
    EXPECT_EQ(m.addObject("Nothing", {0, 0, 10, 10}), nullptr);
    EXPECT_EQ(m.addObject("ObjRectangle", {0, 0, 0, 0}), nullptr);  // empty: swept at once
    EXPECT_EQ(m.objects.size(), 3u);
}

TEST_F(ObjectHandlersTest, SortLayersIsStableByZ) {
    const double zs[] = {3, -200, 1, -10, 1};
    m.layer->removeAllSublayers();
    std::vector<kit::LayerPtr> ls;
    for (double z : zs) {
        ls.push_back(kit::Layer::make());
        ls.back()->setZPosition(z);
        m.layer->addSublayer(ls.back());
    }
    m.sortLayers();
    const auto& subs = m.layer->sublayers();
    ASSERT_EQ(subs.size(), 5u);
    EXPECT_EQ(subs[0], ls[1]);
    EXPECT_EQ(subs[1], ls[3]);
    EXPECT_EQ(subs[2], ls[2]);  // the first 1 stays before the second
    EXPECT_EQ(subs[3], ls[4]);
    EXPECT_EQ(subs[4], ls[0]);
}

TEST_F(ObjectHandlersTest, TheResponderIsTheFrontMostHitUnderTheToolRules) {
    auto a = m.addObject("ObjRectangle", {100, 100, 200, 200});
    auto b = m.addObject("ObjRectangle", {150, 150, 200, 200});
    m.deactivate();
    const kit::Point overlap{300, 150};  // where their outlines cross
    EXPECT_EQ(m.getResponder(overlap), 1);
    a->layer->setZPosition(5);
    EXPECT_EQ(m.getResponder(overlap), 0);
    b->layer->setZPosition(5);
    EXPECT_EQ(m.getResponder(overlap), 1);  // equal z: the higher index
    m.createOnClick = "ObjArrow";
    EXPECT_FALSE(m.getResponder(overlap));  // an armed tool creates
    m.createOnClick = "ObjCounter";
    EXPECT_EQ(m.getResponder(overlap), 1);  // the counter tool still selects
    m.createOnClick = "ObjFreehand";
    EXPECT_FALSE(m.getResponder({150, 150}));
    EXPECT_EQ(m.getCursor(5, 5), "pen");
    m.createOnClick = "ObjText";
    EXPECT_EQ(m.getCursor(5, 5), "ibeam");
    m.createOnClick.clear();
    EXPECT_EQ(m.getCursor(5, 5), "default");
    EXPECT_FALSE(m.wantsMouseDown({5, 5}, 0));
    EXPECT_TRUE(m.wantsMouseDown(overlap, 0));
    EXPECT_FALSE(m.wantsMouseDown(overlap, 1));
}

TEST_F(ObjectHandlersTest, APressOnAnInactiveObjectSelectsMovesAndRaisesItButNotAConceal) {
    auto conceal = m.addObject("ObjConceal", {100, 100, 200, 200});
    auto rect = m.addObject("ObjRectangle", {400, 100, 100, 100});
    m.deactivate();
    kit::Event e;
    m.mouseDown(&e, {150, 150}, 0);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(conceal->state, "move");
    EXPECT_EQ(conceal->layer->zPosition(), 1);  // not raised
    m.mouseUp(&e, {150, 150}, 0);
    m.mouseDown(&e, {400, 150}, 0);
    EXPECT_EQ(m.active, 1);
    EXPECT_EQ(rect->layer->zPosition(), 3);
}

TEST_F(ObjectHandlersTest, APressOnAKnobMovesAnInactiveObjectButResizesTheActiveOne) {
    auto a = m.addObject("ObjRectangle", {100, 100, 200, 200});
    m.layoutObjects();  // a's knobs are placed while it is selected
    m.addObject("ObjRectangle", {400, 100, 100, 100});
    m.layoutObjects();
    kit::Event e;
    const kit::Point corner{100, 100};
    m.mouseDown(&e, corner, 0);  // a was not active: the press moves it
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(a->state, "move");
    m.mouseUp(&e, corner, 0);
    m.layoutObjects();  // its knobs are shown now
    m.mouseDown(&e, corner, 0);
    EXPECT_NE(a->state, "move");
    EXPECT_NE(a->state.find("resize"), std::string::npos) << a->state;
    m.mouseUp(&e, corner, 0);
}

TEST_F(ObjectHandlersTest, AnOptionPressOnTheActiveObjectDragsACopyAndLeavesTheFirst) {
    auto first = m.addObject("ObjRectangle", {100, 100, 200, 200});
    kit::Event e;
    e.modifierFlags = kit::ModifierFlag::Option;
    m.mouseDown(&e, {100, 200}, 0);  // on its left side
    m.mouseDrag(&e, {130, 220}, 0);
    m.mouseDrag(&e, {150, 250}, 0);
    m.mouseUp(&e, {150, 250}, 0);
    ASSERT_EQ(m.objects.size(), 2u);
    EXPECT_EQ(first->rect, (services::Rect{100, 100, 200, 200}));
    EXPECT_EQ(m.active, 1);
    EXPECT_EQ(m.objects[1]->rect, (services::Rect{150, 150, 200, 200}));
    EXPECT_GT(m.objects[1]->layer->zPosition(), first->layer->zPosition());
    ASSERT_EQ(events("duplicate").size(), 1u);
    EXPECT_EQ(events("duplicate")[0]["method"], "Opt+Drag");
    // Without Option the same press moves the object itself.
    e.modifierFlags = 0;
    m.mouseDown(&e, {150, 250}, 0);
    m.mouseDrag(&e, {160, 250}, 0);
    m.mouseUp(&e, {160, 250}, 0);
    ASSERT_EQ(m.objects.size(), 2u);
    EXPECT_EQ(m.objects[1]->rect, (services::Rect{160, 150, 200, 200}));
}

TEST_F(ObjectHandlersTest, AnObjectInFrontOfAnActiveImageTakesPressesOnTheImageBodyButNotOnItsKnobs) {
    auto img = std::dynamic_pointer_cast<objects::ObjImage>(m.make("ObjImage"));
    img->setImage(kit::Image(300, 200));
    img->rect = {100, 100, 300, 200};
    auto arrow = m.addObject("ObjArrow", {50, 50, 100, 100});  // across the image's corner
    m.select(0);
    m.layoutObjects();
    EXPECT_EQ(m.getResponder({100, 100}), 0) << "the image's knob";
    EXPECT_EQ(m.getResponder({125, 125}), 1) << "the arrow over the image's body";
    kit::Event e;
    m.mouseDown(&e, {125, 125}, 0);
    EXPECT_EQ(m.active, 1);
    EXPECT_EQ(m.activeObj(), arrow);
    m.mouseUp(&e, {125, 125}, 0);
}

TEST_F(ObjectHandlersTest, CreationReportsDrawRearmsAndAClickAloneLeavesNothing) {
    draw(m, "ObjRectangle", {100, 100}, {200, 180});
    ASSERT_EQ(m.objects.size(), 1u);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(m.objects[0]->state, "selected");
    EXPECT_EQ(m.createOnClick, "ObjRectangle");  // continuous creation
    ASSERT_EQ(events("draw").size(), 1u);
    EXPECT_EQ(events("draw")[0]["object"], "ObjRectangle");
    EXPECT_EQ(events("draw")[0]["color"], "#F44723");

    kit::Event e;
    m.mouseDown(&e, {400, 400}, 0);  // a click with the tool: an empty object
    EXPECT_EQ(m.objects.size(), 2u);
    m.mouseUp(&e, {400, 400}, 0);
    EXPECT_EQ(m.objects.size(), 1u);
    EXPECT_FALSE(m.active);
    EXPECT_EQ(events("draw").size(), 1u);

    m.continuousCreation = true;
    draw(m, "ObjText", {300, 300}, {300, 300});
    EXPECT_TRUE(m.createOnClick.empty());  // a text never re-arms
}

TEST_F(ObjectHandlersTest, AnEmptyTextStillBeingTypedGoesCleanlyWhenEditingEnds) {
    // Ending its editing makes the text ask for this same deactivation, which
    // removes it while it is still being unselected.
    draw(m, "ObjText", {300, 300}, {300, 300});
    ASSERT_EQ(m.objects.size(), 1u);
    EXPECT_EQ(m.objects[0]->state, "editing");
    m.deactivate();
    EXPECT_TRUE(m.objects.empty());
    EXPECT_FALSE(m.active);
}

TEST_F(ObjectHandlersTest, RemovalShiftsTheActiveIndexAndTheSweepDropsEmptyObjects) {
    m.addObject("ObjRectangle", {0, 0, 10, 10});
    m.addObject("ObjArrow", {20, 20, 10, 10});
    auto last = m.addObject("ObjOval", {40, 40, 10, 10});
    m.removeObject(0);
    EXPECT_EQ(m.active, 1);
    EXPECT_EQ(m.objects[1], last);
    m.objects[0]->rect = {0, 0, 0, 0};
    m.select(1);  // the deactivation sweeps the empty arrow first
    EXPECT_EQ(m.objects.size(), 1u);
    EXPECT_FALSE(m.active);
    m.select(5);
    EXPECT_FALSE(m.active);
}

TEST_F(ObjectHandlersTest, DuplicatesLandOffsetByThePixelRatioUnlessRealPixels) {
    for (double dpr : {1.0, 2.0}) {
        Framer::shared()._dpr.set(dpr);
        m.clear();
        m.addObject("ObjRectangle", {100, 100, 50, 50});
        m.keyDown(nullptr, key(K::D, true));
        ASSERT_EQ(m.objects.size(), 2u);
        EXPECT_EQ(m.active, 1);
        EXPECT_EQ(m.objects[1]->rect, (services::Rect{100 + 10 * dpr, 100 - 10 * dpr, 50, 50}));
    }
    services::Settings::shared().setRealPixels(true);
    m.duplicate(10);
    EXPECT_EQ(m.objects.back()->rect, (services::Rect{130, 70, 50, 50}));
    services::Settings::shared().setRealPixels(false);
    // Wholly out of view: centred in the visible area.
    m.addObject("ObjRectangle", {-500, -500, 50, 50});
    m.duplicate(0);
    EXPECT_EQ(m.objects.back()->rect, (services::Rect{375, 275, 50, 50}));
}

TEST_F(ObjectHandlersTest, CopyThenPasteGivesTheSameObjectForEveryClass) {
    for (const char* type : {"ObjRectangle", "ObjOval", "ObjSpotlight", "ObjLine", "ObjArrow", "ObjConceal",
                             "ObjCounter", "ObjText", "ObjRuler", "ObjFreehand", "ObjHighlighter"}) {
        m.clear();
        // A ruler measures along one axis.
        draw(m, type, {100, 100},
             std::string(type) == "ObjRuler" ? kit::Point{100, 220} : kit::Point{260, 220});
        m.createOnClick.clear();
        ASSERT_TRUE(m.active) << type;
        if (auto* t = dynamic_cast<objects::ObjText*>(m.activeObj().get())) {
            t->appendText("Copied");
            m.select(0);  // ends the typing
        }
        auto source = m.activeObj();
        const std::string before = source->dump();
        m.keyDown(nullptr, key(K::C, true));
        EXPECT_EQ(kit::Pasteboard::general().string(), "Kadrix " + std::string(type).substr(3)) << type;
        m.keyDown(nullptr, key(K::V, true));
        ASSERT_EQ(m.objects.size(), 2u) << type;
        auto copy = m.objects.back();
        EXPECT_EQ(m.activeType(), type);
        copy->move(-10, 10);
        EXPECT_TRUE(sameRecord(*kit::json::parse(copy->dump()), *kit::json::parse(before)))
            << type << "\n"
            << copy->dump() << "\n"
            << before;
    }
}

TEST_F(ObjectHandlersTest, CopyingAnImageObjectCopiesItsImageAndKeepsTheObjectClipboard) {
    m.addObject("ObjArrow", {10, 10, 50, 20});
    m.keyDown(nullptr, key(K::C, true));
    auto img = std::dynamic_pointer_cast<objects::ObjImage>(m.make("ObjImage"));
    m.active = int(m.objects.size()) - 1;
    img->setImage(kit::Image(30, 20));
    m.keyDown(nullptr, key(K::C, true));
    EXPECT_EQ(std::count(log.begin(), log.end(), "copy image 30"), 1);
    EXPECT_EQ(m.copiedType, "ObjArrow");
    m.keyDown(nullptr, key(K::V, true));
    EXPECT_EQ(m.activeType(), "ObjArrow");
}

TEST_F(ObjectHandlersTest, RestoreReadsTheWholeListBeforeTouchingTheObjects) {
    m.addObject("ObjRectangle", {10, 10, 50, 50});
    m.addObject("ObjArrow", {100, 100, 50, 20});
    const std::string list = m.objectsJSON();
    for (const char* bad : {"not json", "{\"a\":1}", "[[\"ObjRectangle\"]]", "[[\"ObjRectangle\", 3]]"}) {
        EXPECT_FALSE(m.restore(bad, std::nullopt)) << bad;
        EXPECT_EQ(m.objects.size(), 2u) << bad;
    }
    EXPECT_TRUE(m.restore(list, 0));
    ASSERT_EQ(m.objects.size(), 2u);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(m.objectsJSON(), list);
    EXPECT_TRUE(m.restore("[]", std::nullopt));
    EXPECT_TRUE(m.objects.empty());
    EXPECT_FALSE(m.active);
}

TEST_F(ObjectHandlersTest, TheKeyTable) {
    m.addObject("ObjRectangle", {10, 10, 50, 50});
    m.addObject("ObjRectangle", {100, 100, 50, 50});
    m.keyDown(nullptr, key(K::Tab));
    EXPECT_EQ(m.active, 0);  // past the last: the first
    const int size = m.objects[0]->size;
    m.keyDown(nullptr, key(K::RightBracket, true));
    EXPECT_EQ(m.objects[0]->size, size + 1);
    m.keyDown(nullptr, key(K::RightBracket));  // without Command: nothing
    EXPECT_EQ(m.objects[0]->size, size + 1);
    m.keyDown(nullptr, key(K::Delete));
    EXPECT_EQ(m.objects.size(), 1u);
    ASSERT_EQ(events("delete").size(), 1u);
    EXPECT_EQ(events("delete")[0]["object"], "ObjRectangle");
    m.keyDown(nullptr, key(K::Delete));  // nothing active: only the report
    EXPECT_EQ(m.objects.size(), 1u);
    m.createOnClick = "ObjArrow";
    m.keyDown(nullptr, key(K::Escape));
    EXPECT_EQ(m.objects.size(), 1u);
}

TEST_F(ObjectHandlersTest, ToolValuesSummariesAndBounds) {
    EXPECT_EQ(m.palette(), ObjectHandlers::defaultPalette());
    auto r = m.addObject("ObjRectangle", {10, 10, 50, 50});
    m.setToolValue("size", "3");
    ASSERT_FALSE(events("edit").empty());
    EXPECT_EQ(events("edit").back()["editType"], "thickness");
    m.addObject("ObjRuler", {0, 0, 100, 0});
    m.addObject("ObjConceal", {10, 10, 30, 30});
    m.addObject("ObjArrow", {900, 700, -200, -50});
    auto t = std::dynamic_pointer_cast<objects::ObjText>(m.make("ObjText"));
    t->text = "one";
    t->rect = {5, 5, 40, 20};
    auto t2 = std::dynamic_pointer_cast<objects::ObjText>(m.make("ObjText"));
    t2->text = "two";
    t2->rect = {5, 50, 40, 20};
    EXPECT_EQ(m.typeLetters(), "ABIRTT");
    EXPECT_EQ(m.textContent(), "one\n\ntwo");
    EXPECT_EQ(m.contentBounds(), (services::Rect{0, 0, 900, 700}));
    EXPECT_EQ(m.imageOverlayValue(), (services::Rect{0, 0, 800, 600}));
    (void)r;
}

TEST_F(ObjectHandlersTest, ASliderRunFoldsIntoOneEditAndCountersFollowTheHighestNumber) {
    m.addObject("ObjRectangle", {10, 10, 50, 50});
    for (int v = 0; v < 10; ++v) m.setToolValue("size", std::to_string(v % 8));
    ASSERT_EQ(events("edit").size(), 1u);
    EXPECT_EQ(events("edit")[0]["rep"], 10);

    for (int n : {1, 2, 5}) {
        auto c = std::dynamic_pointer_cast<objects::ObjCounter>(m.make("ObjCounter"));
        c->rect = {double(20 * n), 20, 1, 0};
        c->count = n;
    }
    m.renumberCounters();
    EXPECT_EQ(m.counterCount, 5);
    m.clear();
    m.renumberCounters();
    EXPECT_EQ(m.counterCount, 0);
}

TEST_F(ObjectHandlersTest, ADragDimsTheToolSettingsWhenThePointerOrTheObjectsFarCornerNearsThem) {
    int mutes = 0;
    editorHooks().muteToolSettings = [&] { ++mutes; };
    kit::Event e;
    // The bar's corner of the 800 × 600 area: x beyond 500 and y beyond 540.
    m.addObject("ObjRectangle", {100, 100, 50, 50});
    m.mouseDown(&e, {100, 120}, 0);
    m.mouseDrag(&e, {110, 120}, 0);
    m.mouseUp(&e, {110, 120}, 0);
    EXPECT_EQ(mutes, 0);
    m.addObject("ObjRectangle", {300, 300, 250, 230});  // far corner at (550, 530)
    m.mouseDown(&e, {300, 400}, 0);
    m.mouseDrag(&e, {300, 420}, 0);  // the corner reaches y 550; the pointer stays away
    EXPECT_EQ(mutes, 1);
    m.mouseUp(&e, {300, 420}, 0);
}

TEST_F(ObjectHandlersTest, TheCanvasBorderAndTheBrushPreviewFollowTheBackdropAndTheButton) {
    Framer::shared()._zoom.set(2);
    backdropHost.on = 0;
    m.layoutObjects();
    EXPECT_DOUBLE_EQ(m.lcanvas->borderWidth(), 0.5);
    backdropHost.on = 1;
    m.layoutObjects();
    EXPECT_DOUBLE_EQ(m.lcanvas->borderWidth(), 0);
    m.createOnClick = "ObjHighlighter";
    m.layoutObjects();
    EXPECT_FALSE(m.lplaceholder->isHidden());
    Handlers::shared().pressedMouseButtons[0] = true;
    m.layoutObjects();
    EXPECT_TRUE(m.lplaceholder->isHidden());
    Handlers::shared().pressedMouseButtons[0] = false;
    m.createOnClick.clear();
}

TEST_F(ObjectHandlersTest, DeleteWhileATextIsTypedDeletesNothing) {
    draw(m, "ObjText", {300, 300}, {300, 300});
    ASSERT_TRUE(m.isEditing());
    m.keyDown(nullptr, key(K::Delete, true));
    m.keyDown(nullptr, key(K::ForwardDelete));
    EXPECT_EQ(m.objects.size(), 1u);
    EXPECT_TRUE(events("delete").empty());
}

TEST_F(ObjectHandlersTest, ADragRunsOneCanvasColourJobAtATime) {
    for (int i = 0; i < 50; ++i) m.layoutObjects();
    EXPECT_EQ(m.canvasColorJobs(), 50);
    kit::runMainLoopUntil(
        [&] { return m.lcanvas->backgroundColor().has_value() && backdropHost.colorCalls >= 2; }, 2.0);
    kit::runMainLoopUntil([] { return false; }, 0.1);
    // The first job and one more for every layout that came while it ran.
    EXPECT_LE(backdropHost.colorCalls.load(), 2);
    EXPECT_GE(backdropHost.colorCalls.load(), 1);
    EXPECT_EQ(m.lcanvas->backgroundColor(), (kit::Color{0.5, 0.5, 0.5, 1}));
}

TEST_F(ObjectHandlersTest, OverlappingSpotlightsCutOneHoleFromTheCurtain) {
    m.addObject("ObjSpotlight", {100, 100, 200, 200});
    m.addObject("ObjSpotlight", {200, 200, 200, 200});
    m.deactivate();
    m.layoutObjects();
    EXPECT_FALSE(m.lcurtain->isHidden());
    const kit::Path& curtain = m.lcurtain->path();
    EXPECT_TRUE(curtain.contains({20, 20}));
    EXPECT_FALSE(curtain.contains({200, 200}));
    EXPECT_FALSE(curtain.contains({250, 250}));  // the overlap stays a hole
    m.clear();
    m.layoutObjects();
    EXPECT_TRUE(m.lcurtain->isHidden());
}

// ---- Undo ------------------------------------------------------------------

class UndoTest : public ObjectHandlersTest {
protected:
    ObjectHandlers& h = ObjectHandlers::shared();
    Undo& undo = Undo::shared();
};

TEST_F(UndoTest, UnchangedStatesAndSelectionAloneAreNotStored) {
    undo.reset();
    undo.save("");
    EXPECT_EQ(undo.states.size(), 1u);
    h.addObject("ObjRectangle", {10, 10, 50, 50});
    h.addObject("ObjRectangle", {100, 10, 50, 50});
    undo.save("");
    EXPECT_EQ(undo.states.size(), 2u);
    h.select(0);
    undo.save("");
    EXPECT_EQ(undo.states.size(), 2u);
    EXPECT_FALSE(undo.canRedo());
}

TEST_F(UndoTest, UndoRedoAndTheCutTail) {
    undo.reset();
    h.addObject("ObjRectangle", {10, 10, 50, 50});
    undo.save("");
    h.addObject("ObjArrow", {100, 10, 50, 50});
    undo.save("");
    h.addObject("ObjOval", {200, 10, 50, 50});
    undo.save("");
    ASSERT_EQ(undo.states.size(), 4u);
    undo.undo();
    undo.undo();
    EXPECT_EQ(h.objects.size(), 1u);
    EXPECT_EQ(h.active, 0);  // the selection saved with that state
    undo.save("");           // nothing changed: the tail stays
    EXPECT_TRUE(undo.canRedo());
    undo.redo();
    EXPECT_EQ(h.objects.size(), 2u);
    undo.undo();
    h.addObject("ObjCounter", {300, 300, 20, 20});
    undo.save("");
    EXPECT_EQ(undo.states.size(), 3u);
    EXPECT_FALSE(undo.canRedo());
    undo.undo();
    undo.undo();
    undo.undo();
    ASSERT_EQ(events("undo:fail").size(), 1u);
    EXPECT_EQ(events("undo:fail")[0]["position"], 0);
    EXPECT_TRUE(h.objects.empty());
}

TEST_F(UndoTest, UndoBringsBackAnObjectDeletedByItsKey) {
    undo.reset();
    h.addObject("ObjRectangle", {10, 10, 50, 50});
    h.addObject("ObjOval", {100, 100, 40, 30});
    undo.save("");
    for (int code : {K::Delete, K::ForwardDelete}) {
        h.select(1);
        h.keyDown(nullptr, key(code));
        ASSERT_EQ(h.objects.size(), 1u);
        undo.undo();
        ASSERT_EQ(h.objects.size(), 2u) << "key " << code;
        EXPECT_EQ(h.objects[1]->className(), "ObjOval");
        EXPECT_EQ(h.objects[1]->rect, (services::Rect{100, 100, 40, 30}));
        undo.redo();
        EXPECT_EQ(h.objects.size(), 1u) << "and redo deletes it again";
        undo.undo();
    }
}

TEST_F(UndoTest, UndoAndRedoRefreshTheStatusLineAndAFailedStepDoesNot) {
    undo.reset();
    CropTool::shared().setSelection(services::Rect{10, 10, 200, 100});
    undo.save("");
    core.statusRefreshes = 0;
    undo.undo();  // the selection size on the status line goes with the selection
    EXPECT_FALSE(CropTool::shared().on());
    EXPECT_EQ(core.statusRefreshes, 1);
    undo.undo();
    EXPECT_EQ(core.statusRefreshes, 1);
    undo.redo();
    EXPECT_EQ(CropTool::shared().selection(), (services::Rect{10, 10, 200, 100}));
    EXPECT_EQ(core.statusRefreshes, 2);
    CropTool::shared().setSelection(std::nullopt);
}

TEST_F(UndoTest, ACreatingObjectIsLeftOutAndAFailedEncodingIsNeverStored) {
    undo.reset();
    auto o = h.make("ObjRectangle");
    o->rect = {10, 10, 50, 50};  // still "creating"
    undo.save("");
    EXPECT_EQ(undo.states.size(), 1u);
    o->state = "unselected";
    o->rect.width = std::numeric_limits<double>::quiet_NaN();
    undo.save("");
    ASSERT_EQ(undo.states.size(), 1u);
    EXPECT_FALSE(undo.states.back().full.empty());
}

TEST_F(UndoTest, RestoreAppliesTheCropBeforeTheObjectsAndTheBackdropLast) {
    undo.reset();
    h.addObject("ObjRectangle", {10, 10, 50, 50});
    Framer::shared().crop = {0, 0, 400, 300};
    backdropHost.on = 1;
    undo.save("");
    undo.undo();
    log.clear();
    undo.redo();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[0], "crop 400");
    EXPECT_EQ(h.objects.size(), 1u);
    const std::vector<std::string> tail(log.end() - 4, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"backdrop.apply", "backdrop.layout", "backdrop.controls",
                                              "backdrop.setup"}));
    EXPECT_FALSE(undo.restore("{}"));
}

}  // namespace
}  // namespace editor
