#include "editor/ObjectHandlers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "editor/CanvasLayers.h"
#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/EditorKeys.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "editor/Ruler.h"
#include "editor/TextMatch.h"
#include "editor/Undo.h"
#include "imaging/PixelSampling.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Json.h"
#include "kit/base/WayOut.h"
#include "kit/draw/Animation.h"
#include "kit/ui/Pasteboard.h"
#include "objects/ObjArrow.h"
#include "objects/ObjConceal.h"
#include "objects/ObjCounter.h"
#include "objects/ObjFreehand.h"
#include "objects/ObjImage.h"
#include "objects/ObjLine.h"
#include "objects/ObjOval.h"
#include "objects/ObjRectangle.h"
#include "objects/ObjRuler.h"
#include "objects/ObjText.h"
#include "objects/ObjectsCore.h"
#include "services/KeyCombo.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

using services::Rect;

namespace editor {

using objects::KeyEvt;
using objects::ProtoObject;
namespace K = kit::KeyCode;

namespace {

constexpr const char* kNoActive = "ObjectHandlers: no active layer";
constexpr const char* kOutOfRange = "ObjectHandlers: Active index is out of range";
constexpr const char* kOutFoRange = "ObjectHandlers: Active index is out fo range";

const kit::Color kCurtainColor{0, 0, 0, 0.214};

using Factory = ObjectHandlers::ObjectPtr (*)(objects::ObjectHost*, const kit::LayerPtr&,
                                              const kit::LayerPtr&);

template <class T>
ObjectHandlers::ObjectPtr makeOne(objects::ObjectHost* host, const kit::LayerPtr& layer,
                                  const kit::LayerPtr& control) {
    return std::make_shared<T>(host, layer, control);
}

// The type table, in the order the words are tried; the last row whose word
// the type contains decides.
const std::pair<const char*, Factory> kFactory[] = {
    {"ObjOval", makeOne<objects::ObjOval>},           {"ObjSpotlight", makeOne<objects::ObjSpotlight>},
    {"ObjRectangle", makeOne<objects::ObjRectangle>}, {"ObjLine", makeOne<objects::ObjLine>},
    {"ObjText", makeOne<objects::ObjText>},           {"ObjRuler", makeOne<objects::ObjRuler>},
    {"ObjArrow", makeOne<objects::ObjArrow>},         {"ObjConceal", makeOne<objects::ObjConceal>},
    {"ObjCounter", makeOne<objects::ObjCounter>},     {"ObjImage", makeOne<objects::ObjImage>},
    {"ObjFreehand", makeOne<objects::ObjFreehand>},   {"ObjHighlighter", makeOne<objects::ObjHighlighter>},
};

void oops(const std::string& function, const std::string& message) {
    services::Telemetry::shared().oops(function, message);
}

// A paste that adds nothing says why in the log: the user pressed a key
// and saw nothing happen.
void tellNothingPasted(const std::string& why) {
    std::fprintf(stderr, "kadrix: nothing was pasted. %s\n", why.c_str());
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

std::string keyCombo(const KeyEvt& key) {
    return services::keyComboDescription(key.code, {key.modifiers.shift, key.modifiers.command});
}

// The application core as the editor sees it (the manager's own core() is the objects' view).
CoreHost& core_() {
    return editor::core();
}

}  // namespace

// ---- The canvas's view ---------------------------------------------------

struct ObjectHandlers::Input : ObjectInput {
    ObjectHandlers& h;
    explicit Input(ObjectHandlers& m) : h(m) {}

    std::optional<int> active() const override { return h.active; }
    std::string createOnClick() const override { return h.createOnClick; }
    int objectCount() const override { return int(h.objects.size()); }
    std::string objectState(int i) const override {
        return i >= 0 && i < int(h.objects.size()) ? h.objects[size_t(i)]->state : std::string();
    }
    void setObjectState(int i, const std::string& state) override {
        if (i >= 0 && i < int(h.objects.size())) h.objects[size_t(i)]->state = state;
    }
    bool highlightKnob(kit::Point p) override {
        ProtoObject* o = h.activeObj().get();
        if (!o) return false;
        std::vector<bool> before;
        for (const auto& k : o->knobs) before.push_back(k->isHighlighted);
        o->highlightKnob(p);
        for (size_t i = 0; i < o->knobs.size(); ++i)
            if (o->knobs[i]->isHighlighted != before[i]) return true;
        return false;
    }
    bool wantsMouseDown(double x, double y, int button) override { return h.wantsMouseDown({x, y}, button); }
    void mouseDown(const kit::Event& e, kit::Point p, int button) override { h.mouseDown(&e, p, button); }
    void mouseDrag(const kit::Event& e, kit::Point p, int button) override { h.mouseDrag(&e, p, button); }
    void mouseUp(const kit::Event& e, kit::Point p, int button) override { h.mouseUp(&e, p, button); }
    void dblClick(const kit::Event& e, kit::Point p, int button) override { h.dblClick(&e, p, button); }
    void escEvent() override { h.escEvent(); }
    std::optional<int> getResponder(kit::Point p) override { return h.getResponder(p); }
    std::string getCursor(double dx, double dy) override { return h.getCursor(dx, dy); }
    void keyUp(const kit::Event* e, const KeyEvt& key) override { h.keyUp(e, key); }
    Rect getRect() override { return h.getRect(); }
    kit::LayerPtr layer() const override { return h.layer; }
    kit::LayerPtr lcontrol() const override { return h.lcontrol; }
    kit::LayerPtr lcanvas() const override { return h.lcanvas; }
    kit::LayerPtr lcurtain() const override { return h.lcurtain; }
    void layoutObjects() override { h.layoutObjects(); }
};

// ---- Life -----------------------------------------------------------------

ObjectHandlers& ObjectHandlers::shared() {
    static ObjectHandlers* manager = new ObjectHandlers();  // lives as long as the process
    return *manager;
}

ObjectHandlers::ObjectHandlers() : input_(std::make_unique<Input>(*this)) {
    auto mask = kit::Layer::make();
    mask->setBackgroundColor(kit::Color::black());
    mask->setFrame(Framer::shared().crop.toKit());
    layer->setMask(mask);
    lcanvas->setZPosition(-200);
    layer->addSublayer(lcanvas);
    lplaceholder->setHidden(true);
    lplaceholder->setFillColor(std::nullopt);
    lplaceholder->setLineWidth(1.0);
    lplaceholder->setStrokeColor(kit::Color{0, 0, 0, 0.4});
    auto rim = kit::ShapeLayer::make();
    rim->setFillColor(std::nullopt);
    rim->setLineWidth(1.0);
    rim->setStrokeColor(kit::Color{1, 1, 1, 0.4});
    lplaceholder->addSublayer(rim);
    lcontrol->addSublayer(lplaceholder);
    lcurtain->setFillColor(kCurtainColor);
    lcurtain->setFillRule(kit::FillRule::EvenOdd);
}

ObjectHandlers::~ObjectHandlers() = default;

ObjectInput& ObjectHandlers::input() {
    return *input_;
}

bool ObjectHandlers::validActive() const {
    return active && *active >= 0 && *active < int(objects.size());
}

bool ObjectHandlers::anyCreating() const {
    return std::any_of(objects.begin(), objects.end(),
                       [](const ObjectPtr& o) { return o->state == "creating"; });
}

double ObjectHandlers::topZ() const {
    double z = 0;
    for (const auto& o : objects) z = std::max(z, o->layer->zPosition());
    return z;
}

bool ObjectHandlers::guard(const char* function, const char* outOfRange) {
    if (!active) {
        oops(function, kNoActive);
        return false;
    }
    if (!validActive()) {
        oops(function, outOfRange);
        return false;
    }
    return true;
}

// ---- Model and creation ---------------------------------------------------

ObjectHandlers::ObjectPtr ObjectHandlers::activeObj() {
    if (!active) return nullptr;
    if (!validActive()) {
        oops("activeObj()", kOutFoRange);
        return nullptr;
    }
    return objects[size_t(*active)];
}

void ObjectHandlers::deactivate() {
    createOnClick.clear();
    if (validActive() && objects[size_t(*active)]->isEmpty()) {
        if (auto* c = core()) c->selectionModeChanged("default");
        selectedIndex.reset();
        active.reset();
    }
    for (int i = int(objects.size()) - 1; i >= 0; --i)
        if (i < int(objects.size()) && objects[size_t(i)]->isEmpty()) removeObject(i);
    // Held while it runs: a text left empty ends by asking for this very deactivation.
    if (validActive()) ObjectPtr(objects[size_t(*active)])->unselect();
    active.reset();
}

void ObjectHandlers::escEvent() {
    createOnClick.clear();
    if (!active) return;
    if (!validActive()) return oops("escEvent()", kOutFoRange);
    ObjectPtr(objects[size_t(*active)])->deactivate();
}

ObjectHandlers::ObjectPtr ObjectHandlers::make(const std::string& type) {
    Factory factory = nullptr;
    for (const auto& [word, f] : kFactory)
        if (contains(type, word)) factory = f;
    if (!factory) return nullptr;
    ObjectPtr o = factory(this, layer, lcontrol);
    deactivate();
    objects.push_back(o);
    o->layer->setZPosition(topZ() + 1);
    return o;
}

ObjectHandlers::ObjectPtr ObjectHandlers::addObject(const std::string& type, const Rect& rect) {
    deactivate();
    if (!make(type)) {
        oops("addObject(type:rect:)", "Failed to add object");
        return nullptr;
    }
    const int index = int(objects.size()) - 1;
    active = index;
    objects.back()->rect = rect;
    select(index);
    return index < int(objects.size()) ? objects[size_t(index)] : nullptr;
}

bool ObjectHandlers::addImageFromPasteboard(std::function<void()> otherwise) {
    using Answer = kit::Pasteboard::ImageAnswer;
    // The turn is the moment of asking: a screenshot asked for while the
    // clipboard is waited on comes after this paste, whatever answers first.
    const uint64_t turn = core_().additionTurn();
    kit::Pasteboard& pb = kit::Pasteboard::general();
    const int asked = pb.changeCount();
    // The key reads the clipboard anyway: a busy owner is given its second.
    const Answer answer = pb.awaitImageAnswer();
    std::string why;
    kit::Image image = answer == Answer::offered ? pb.image(&why) : kit::Image{};
    const bool offered = answer == Answer::offered;
    // A clipboard replaced meanwhile (Escape copies the screenshot as it
    // hides the editor) no longer holds what was asked about: the paste is
    // dropped, picture and objects alike, as one whose screenshot has gone.
    if (pb.changeCount() != asked) {
        tellNothingPasted("The clipboard changed while it was being read.");
        return offered;
    }
    if (!image.isNull()) {
        core_().addInTurn(turn, [this, image] { placePastedImage(image); });
        return true;
    }
    // The objects copied here only stand in for a clipboard known to hold
    // no picture: one copied elsewhere since, however slow its owner, is
    // the user's latest copy and must not be answered with older objects.
    if (answer == Answer::notOffered) {
        if (otherwise) core_().addInTurn(turn, std::move(otherwise));
        return false;
    }
    if (offered)
        tellNothingPasted(why);
    else if (!kit::wayOutBegun())  // a wait the ending cut short is no owner's silence
        tellNothingPasted(
            "The program holding the clipboard did not say within a second whether it offers a picture.");
    return false;
}

void ObjectHandlers::placePastedImage(const kit::Image& image) {
    deactivate();
    auto o = std::dynamic_pointer_cast<objects::ObjImage>(make("ObjImage"));
    if (!o) return;
    active = int(objects.size()) - 1;
    o->setImage(image);
    services::Telemetry::shared().event(
        "draw", {{"object", activeType()}, {"width", o->rect.width}, {"height", o->rect.height}});
    layoutNow(false);
}

void ObjectHandlers::clear() {
    deactivate();
    lcurtain->setFillColor(kCurtainColor);
    for (int i = int(objects.size()) - 1; i >= 0; --i) removeObject(i);
}

// ---- Layout and z-order ---------------------------------------------------

void ObjectHandlers::layoutObjects() {
    for (const auto& o : objects) o->draw();
    // The canvas places and scales `layer` with the viewport; here its mask
    // and the canvas background follow the expanded canvas.
    const Framer& f = Framer::shared();
    const Framer::Paddings pad = canvasPaddings();
    const Rect& s = f.source;
    const kit::Rect canvas{s.x1 - pad.padCL, s.y1 - pad.padCB, s.width + pad.padCL + pad.padCR,
                           s.height + pad.padCB + pad.padCT};
    const double radius = backdrop().innerRadiusPx();
    if (kit::LayerPtr mask = layer->mask()) {
        mask->setFrame(canvas);
        mask->setCornerRadius(radius);
    }
    lcanvas->setFrame(canvas);
    lcanvas->setMasksToBounds(true);
    lcanvas->setCornerRadius(radius);
    startCanvasColor();
    lcanvas->setBorderColor(kit::Color{0, 0, 0, 0.08});
    lcanvas->setBorderWidth(backdrop().isOn() == 1 ? 0 : 1 / zoom());

    const Handlers& h = Handlers::shared();
    const bool held =
        std::any_of(h.pressedMouseButtons.begin(), h.pressedMouseButtons.end(), [](bool b) { return b; });
    if (contains(createOnClick, "Highlighter") && !held) {
        lplaceholder->setHidden(false);
        auto* rim = lplaceholder->sublayers().empty()
                        ? nullptr
                        : dynamic_cast<kit::ShapeLayer*>(lplaceholder->sublayers().front().get());
        objects::ObjHighlighter::brushPreview(*lplaceholder, rim, h.mouseDX / dpr(), h.mouseDY / dpr(),
                                              zoom());
    } else {
        lplaceholder->setHidden(true);
    }

    if (std::none_of(objects.begin(), objects.end(), [](const ObjectPtr& o) { return o->wantsSpotlight; })) {
        lcurtain->setHidden(true);
        return;
    }
    // The holes are united first, so overlapping spotlights stay one hole.
    kit::Path holes;
    for (const auto& o : objects)
        if (o->wantsSpotlight)
            if (auto outline = o->outlinePath()) holes = holes.united(*outline);
    lcurtain->setPath(kit::Path::roundedRect(canvas, radius, radius).subtracted(holes));
    lcurtain->setHidden(false);
}

void ObjectHandlers::startCanvasColor() {
    ++colorJobs_;
    // Single flight, latest wins: while a job runs, later layouts only ask it
    // to run once more when it ends, so a drag never queues a job per event.
    // 0 idle, 1 running, 2 running and asked again.
    if (colorState_->fetch_add(1) > 0) {
        colorState_->store(2);
        return;
    }
    std::weak_ptr<kit::Layer> target = lcanvas;
    auto state = colorState_;
    struct Job {
        static void run(std::weak_ptr<kit::Layer> target, std::shared_ptr<std::atomic<int>> state) {
            kit::globalQueue().async([target, state] {
                std::optional<kit::Color> c = backdrop().bestCanvasColor();
                kit::dispatchMain([target, state, c] {
                    if (auto l = target.lock(); l && c) l->setBackgroundColor(*c);
                    int expected = 1;
                    if (state->compare_exchange_strong(expected, 0)) return;
                    state->store(1);
                    run(target, state);
                });
            });
        }
    };
    colorState_->store(1);
    Job::run(target, state);
}

void ObjectHandlers::sortLayers() {
    std::vector<kit::LayerPtr> subs = layer->sublayers();
    if (subs.empty()) return;
    std::stable_sort(subs.begin(), subs.end(), [](const kit::LayerPtr& a, const kit::LayerPtr& b) {
        return a->zPosition() < b->zPosition();
    });
    for (const auto& l : subs) {
        l->removeFromSuperlayer();
        layer->insertSublayer(l, layer->sublayers().size());
    }
}

// ---- Pointer ---------------------------------------------------------------

bool ObjectHandlers::wantsMouseDown(kit::Point p, int button) {
    if (!createOnClick.empty() || anyCreating()) return true;
    if (button != 0) return false;
    return std::any_of(objects.begin(), objects.end(),
                       [&](const ObjectPtr& o) { return o->action(p) != "default"; });
}

std::optional<int> ObjectHandlers::getResponder(kit::Point p) {
    if (createOnClick == "ObjFreehand" || createOnClick == "ObjHighlighter") return std::nullopt;
    // The front-most hit: the highest score, and of equal scores the last in the list.
    std::optional<int> candidate;
    double best = 0;
    for (int i = 0; i < int(objects.size()); ++i) {
        const auto& o = objects[size_t(i)];
        const double score = i + o->layer->zPosition() * 1000;
        if (candidate && score < best) continue;
        if (o->state == "creating" || o->action(p) != "default") {
            candidate = i;
            best = score;
        }
    }
    const bool toolFree = createOnClick.empty() || createOnClick == "ObjCounter";
    if (!active) return toolFree ? candidate : std::nullopt;
    if (!toolFree && candidate != active) return std::nullopt;
    if (!validActive()) {
        oops("getResponder(point:)", kOutOfRange);
        return candidate;
    }
    ProtoObject& a = *objects[size_t(*active)];
    const std::string type = typeName(a.className());
    if ((type == "ObjImage" || type == "ObjConceal") && candidate && a.cursor(p) == "move") return candidate;
    if (a.state == "creating" || a.action(p) != "default") return active;
    return candidate;
}

void ObjectHandlers::mouseDown(const kit::Event* event, kit::Point p, int button) {
    tsMouseDown = nowSeconds();
    lplaceholder->setHidden(true);
    setLayoutRequest(1);
    std::optional<int> target = getResponder(p);
    prevCreated = createOnClick;
    if (!createOnClick.empty() && !target) {
        const std::string tool = createOnClick;
        deactivate();
        if (make(tool)) {
            active = int(objects.size()) - 1;
            target = active;
        } else {
            target = -1;
        }
    }
    createOnClick.clear();
    if (!target) return;
    if (!active || *active != *target) {
        select(*target);
        if (*target < 0 || *target >= int(objects.size())) return;
        ProtoObject& o = *objects[size_t(*target)];
        const std::string word = o.action(p);
        o.state = contains(word, "move") ? word : "move";
        if (!contains(o.className(), "Conceal") && !contains(o.className(), "Image"))
            o.layer->setZPosition(topZ() + 1);
    }
    if (*target < 0 || *target >= int(objects.size())) return;
    ObjectPtr(objects[size_t(*target)])->mouseDown(event, p, button);
    for (const auto& o : objects)
        if (o->state == "highlighted") o->state = "unselected";
    setLayoutRequest(1);
    // Option is Alt here. Window managers that move windows by Alt+drag
    // (openbox does by default) keep such a press from ever reaching us.
    if (event && event->has(kit::ModifierFlag::Option) && *target < int(objects.size()) &&
        objects[size_t(*target)]->state == "move") {
        services::Telemetry::shared().preset("duplicate", {{"method", "Opt+Drag"}});
        duplicate(0);
        if (ObjectPtr copy = activeObj()) copy->mouseDown(event, p, button);
    }
    backdropLayout();
}

std::string ObjectHandlers::getCursor(double dx, double dy) {
    const kit::Point p{dx, dy};
    std::optional<int> responder;
    if (!createOnClick.empty() || anyCreating()) {
        responder = getResponder(p);
        if (!responder) {
            if (contains(createOnClick, "Text")) return "ibeam";
            if (contains(createOnClick, "Freehand")) return "pen";
            return "crosshair";
        }
    } else {
        responder = getResponder(p);
    }
    if (!active) return "default";
    if (!validActive()) {
        oops("getCursor(dx:dy:)", kOutOfRange);
        return "default";
    }
    const int index = responder && *responder >= 0 && *responder < int(objects.size()) ? *responder : *active;
    return objects[size_t(index)]->cursor(p);
}

void ObjectHandlers::muteSettingsNear(kit::Point p) {
    const Framer& f = Framer::shared();
    const double d = f.dpr(), z = f.zoom();
    const Rect& A = f.area;
    const Rect& r = objects[size_t(*active)]->rect;
    const kit::Point v = f.imageToView({r.x1, r.y1});
    const double right = std::max(v.x, v.x + r.width * z), bottom = std::max(v.y, v.y + r.height * z);
    auto near = [&](double x, double y) { return y > A.height - 60 * d && x > A.width - 300 * d; };
    if ((near(p.x, p.y) || near(right, bottom)) && editorHooks().muteToolSettings)
        editorHooks().muteToolSettings();
}

void ObjectHandlers::mouseDrag(const kit::Event* event, kit::Point p, int button) {
    if (!guard("mouseDrag(event:point:button:)", kOutOfRange)) return;
    ObjectPtr(objects[size_t(*active)])->mouseDrag(event, p, button);
    if (validActive()) muteSettingsNear(p);
    backdropLayout();
}

void ObjectHandlers::mouseUp(const kit::Event* event, kit::Point p, int button) {
    if (!guard("mouseUp(event:point:button:)", kOutFoRange)) return;
    const std::string s0 = objects[size_t(*active)]->state;
    const bool wasCreating = !createOnClick.empty() || anyCreating();
    ObjectPtr(objects[size_t(*active)])->mouseUp(event, p, button);
    for (int i = int(objects.size()) - 1; i >= 0; --i)
        if (i < int(objects.size()) && objects[size_t(i)]->isEmpty()) removeObject(i);
    if (editorHooks().unmuteToolSettings) editorHooks().unmuteToolSettings();
    if (validActive()) {
        ProtoObject& o = *objects[size_t(*active)];
        if (o.state == "editing") {
            core_().refreshCropButton();
            return;
        }
        if (!wasCreating)
            services::Telemetry::shared().event("edit", {{"editType", s0},
                                                         {"object", activeType()},
                                                         {"width", o.rect.width},
                                                         {"height", o.rect.height}});
        else
            services::Telemetry::shared().event("draw", {{"object", activeType()},
                                                         {"color", imaging::hexString(o.color)},
                                                         {"width", o.rect.width},
                                                         {"height", o.rect.height}});
        if (continuousCreation && !contains(prevCreated, "Text") && activeType() == prevCreated &&
            *active == int(objects.size()) - 1) {
            createOnClick = prevCreated;
            prevCreated.clear();
        }
    }
    if (createOnClick.empty()) core_().refreshCropButton();
    backdropLayout();
    undoSave("");
}

void ObjectHandlers::dblClick(const kit::Event* event, kit::Point p, int button) {
    if (!guard("dblClick(event:point:button:)", kOutFoRange)) return;
    ObjectPtr(objects[size_t(*active)])->dblClick(event, p, button);
}

// ---- Keys and the object clipboard ----------------------------------------

void ObjectHandlers::keyDown(const kit::Event* event, const KeyEvt& key) {
    const bool command = key.modifiers.command;
    if (key.code == K::Escape && (!createOnClick.empty() || anyCreating())) {
        if (validActive()) ObjectPtr(objects[size_t(*active)])->deactivate();
        Handlers::shared().mmode = "default";
        core_().refreshCropButton();
        return;
    }
    if (key.code == K::V && command && !isEditing()) {
        services::Telemetry::shared().preset("draw", {{"method", "toolbar"}});
        // Without a picture on the clipboard, the objects copied when the key came.
        std::function<void()> objects;
        if (copiedType && copiedString)
            objects = [this, type = *copiedType, json = *copiedString] {
                insertObject(type, json, "paste", 10);
            };
        addImageFromPasteboard(std::move(objects));
        return;
    }
    if (!guard("keyDown(event:key:)", kOutFoRange)) return;
    ObjectPtr(objects[size_t(*active)])->keyDown(event, key);
    if (createOnClick.empty() && !anyCreating()) core_().refreshCropButton();
    if (!validActive()) return;
    const bool editing = isEditing();
    if (editing && key.code == K::Tab) {
        if (auto* t = dynamic_cast<objects::ObjText*>(objects[size_t(*active)].get()))
            t->appendText(core_().colorCopyString());
        return;
    }
    if (editing && !command) return;

    ProtoObject& o = *objects[size_t(*active)];
    const std::string combo = keyCombo(key);
    if (key.code == K::D && command) {
        services::Telemetry::shared().preset("duplicate", {{"method", combo}});
        duplicate(10);
    } else if (key.code == K::C && command) {
        if (!editing) {
            const std::string type = activeType();
            services::Telemetry::shared().event("copyObject",
                                                {{"object", type}, {"method", "hotkey:" + combo}});
            if (!contains(type, "Image")) {
                // The dump is taken first: a failed encoding leaves the clipboard as it was.
                const std::string dump = o.dump();
                if (!dump.empty()) {
                    copiedString = dump;
                    copiedType = type;
                    std::string word = type;
                    for (size_t at; (at = word.find("Obj")) != std::string::npos;) word.erase(at, 3);
                    kit::Pasteboard::general().clearContents();
                    kit::Pasteboard::general().setString("Kadrix " + word);
                }
            } else if (auto* img = dynamic_cast<objects::ObjImage*>(&o); img && !img->image.isNull()) {
                core_().copyImageToPasteboard(img->image);
            }
        }
    } else if ((key.code == K::RightBracket || key.code == K::LeftBracket) && command) {
        o.changeSize(key.code == K::RightBracket ? 1 : -1);
        services::Telemetry::shared().event(
            "edit", {{"editType", "size"}, {"value", o.size}, {"object", activeType()}, {"method", combo}});
        refreshToolSettings();
        undoSave("");
    } else if (key.code == K::Tab) {
        select(*active + 1 < int(objects.size()) ? *active + 1 : 0);
    } else if (key.code == K::Delete || key.code == K::ForwardDelete) {
        if (editing) return;
        services::Telemetry::shared().event("delete",
                                            {{"object", activeType()}, {"method", "hotkey:" + combo}});
        removeObject(*active);
        undoSave("");
    }
    if (createOnClick.empty() && !anyCreating()) core_().refreshCropButton();
    backdropLayout();
    setLayoutRequest(1);
}

void ObjectHandlers::keyUp(const kit::Event* event, const KeyEvt& key) {
    if (!guard("keyUp(event:key:)", kOutFoRange)) return;
    ObjectPtr(objects[size_t(*active)])->keyUp(event, key);
    if (!isEditing()) undoSave("");
}

// ---- Selection, removal, counters, duplication ----------------------------

std::string ObjectHandlers::typeName(const std::string& className) {
    const size_t dot = className.find('.');
    return dot == std::string::npos ? className : className.substr(dot + 1);
}

std::string ObjectHandlers::activeType() const {
    return validActive() ? typeName(objects[size_t(*active)]->className()) : std::string();
}

void ObjectHandlers::select(int index) {
    if (index < 0 || index >= int(objects.size()))
        return oops("select(index:)", "Attempting to select an index out of range");
    deactivate();
    if (index < int(objects.size())) {
        active = index;
        ObjectPtr(objects[size_t(index)])->select();
    } else {
        oops("select(index:)", "NOTE: Object was empty, removed during deactivation");
    }
}

void ObjectHandlers::removeObject(int index) {
    createOnClick.clear();
    if (index < 0 || index >= int(objects.size())) return;
    {
        kit::ScopedTransaction t(true);
        if (active) {
            if (*active == index)
                active.reset();
            else if (*active > index)
                --*active;
        }
        objects[size_t(index)]->remove();
        objects.erase(objects.begin() + index);
    }
    if (auto* c = core()) c->selectionModeChanged("default");
    selectedIndex.reset();
}

void ObjectHandlers::renumberCounters() {
    int best = 0;
    for (const auto& o : objects)
        if (auto* c = dynamic_cast<objects::ObjCounter*>(o.get())) best = std::max(best, c->count);
    counterCount = best;
}

bool ObjectHandlers::isEditing() {
    if (!active) return false;
    if (!validActive()) {
        oops("isEditing()", kOutFoRange);
        return false;
    }
    if (!contains(activeType(), "ObjText")) return false;
    return objects[size_t(*active)]->state == "editing";
}

void ObjectHandlers::duplicate(int shift) {
    if (!guard("duplicate(shift:)", kOutFoRange)) return;
    insertObject(activeType(), objects[size_t(*active)]->dump(), "duplicate", shift);
}

void ObjectHandlers::insertObject(const std::string& type, const std::string& json, const std::string& event,
                                  int offset) {
    kit::ScopedTransaction t(true);
    createOnClick.clear();
    prevCreated.clear();
    ObjectPtr o = make(type);
    if (!o) return;
    o->restore(json);
    const double d = services::Settings::shared().getBool("realPixels", false) ? offset : offset * dpr();
    o->move(d, -d);
    const kit::Point p0 = viewToImage({0, 0});
    const Rect A = area();
    const kit::Point p1 = viewToImage({std::max(A.x1, A.x1 + A.width), std::max(A.y1, A.y1 + A.height)});
    Rect& r = o->rect;
    if (std::max(r.x1, r.x1 + r.width) < p0.x || std::max(r.y1, r.y1 + r.height) < p0.y ||
        p1.x < std::min(r.x1, r.x1 + r.width) || p1.y < std::min(r.y1, r.y1 + r.height)) {
        r.x1 = (p0.x + p1.x) / 2 - r.width / 2;
        r.y1 = (p0.y + p1.y) / 2 - r.height / 2;
    }
    select(int(objects.size()) - 1);
    services::Telemetry::shared().event(event, {{"object", activeType()}});
}

// ---- Tool values, geometry, restore ---------------------------------------

void ObjectHandlers::setToolValue(const std::string& key, const std::string& value) {
    if (!validActive()) return;
    objects[size_t(*active)]->setValue(key, value);
    layoutNow(true);
    services::Telemetry::shared().repeatableEvent("edit", {{"editType", key == "size" ? "thickness" : key},
                                                           {"value", value},
                                                           {"object", activeType()},
                                                           {"method", "toolbar"}});
    undoSave("");
}

const std::vector<std::string>& ObjectHandlers::defaultPalette() {
    static const std::vector<std::string> colors{"#00A490", "#00AFEE", "#1C2B41", "#F7F4E7",
                                                 "#F44723", "#7758EF", "#FFDC2C", "#FA3C63"};
    return colors;
}

std::vector<std::string> ObjectHandlers::palette() {
    if (validActive() && objects[size_t(*active)]->preferredPalette)
        return *objects[size_t(*active)]->preferredPalette;
    return defaultPalette();
}

Rect ObjectHandlers::getRect() {
    const Rect s = source();
    if (!guard("getRect()", kOutFoRange)) return {s.x1, s.y1, 0, 0};
    return objects[size_t(*active)]->anchorPoint();
}

namespace {
Rect bounds(const Rect& s, const std::vector<ObjectHandlers::ObjectPtr>& objects, bool imagesOnly) {
    double minX = std::min(s.x1, s.x1 + s.width), maxX = std::max(s.x1, s.x1 + s.width);
    double minY = std::min(s.y1, s.y1 + s.height), maxY = std::max(s.y1, s.y1 + s.height);
    for (const auto& o : objects) {
        if (imagesOnly && ObjectHandlers::typeName(o->className()) != "ObjImage") continue;
        const Rect& r = o->rect;
        minX = std::min({minX, r.x1, r.x1 + r.width});
        maxX = std::max({maxX, r.x1, r.x1 + r.width});
        minY = std::min({minY, r.y1, r.y1 + r.height});
        maxY = std::max({maxY, r.y1, r.y1 + r.height});
    }
    return {minX, minY, maxX - minX, maxY - minY};
}
}  // namespace

Rect ObjectHandlers::contentBounds() const {
    return bounds(source(), objects, false);
}

Rect ObjectHandlers::imageOverlayValue() const {
    return bounds(source(), objects, true);
}

bool ObjectHandlers::restore(const std::string& json, std::optional<int> activeIndex) {
    // The text is read whole before anything is cleared: a text that is no
    // object list leaves the canvas as it was.
    auto doc = kit::json::parse(json);
    if (!doc || !doc->is_array()) {
        oops("restore(json:active:)", "Cannot decode JSON");
        return false;
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& e : *doc) {
        if (!e.is_array() || e.size() != 2 || !e[0].is_string() || !e[1].is_string()) {
            oops("restore(json:active:)", "Cannot decode JSON");
            return false;
        }
        entries.emplace_back(e[0].get<std::string>(), e[1].get<std::string>());
    }
    deactivate();
    core_().refreshCropButton();
    clear();
    {
        kit::ScopedTransaction t(true);
        for (const auto& [type, dump] : entries) {
            ObjectPtr o = make(type);
            if (!o) continue;
            o->restore(dump);
            o->unselect();
        }
    }
    deactivate();
    if (activeIndex) select(*activeIndex);
    setLayoutRequest(1);
    return true;
}

std::string ObjectHandlers::objectsJSON() const {
    kit::Json list = kit::Json::array();
    for (const auto& o : objects) {
        if (o->state == "creating") continue;
        const std::string dump = o->dump();
        if (dump.empty()) return {};
        list.push_back(kit::Json::array({typeName(o->className()), dump}));
    }
    return objects::encode(list);
}

std::string ObjectHandlers::typeLetters() const {
    std::string letters;
    for (const auto& o : objects) {
        const std::string name = o->className();
        char letter = 0;
        if (contains(name, "Ruler"))
            letter = 'I';
        else if (contains(name, "Conceal"))
            letter = 'B';
        else if (contains(name, "Image"))
            letter = 'P';
        else if (size_t at = ("." + name).find(".Obj"); at != std::string::npos && at + 3 < name.size())
            letter = name[at + 3];
        if (letter) letters += letter;
    }
    std::sort(letters.begin(), letters.end());
    return letters;
}

std::string ObjectHandlers::textContent() const {
    std::string out;
    bool first = true;
    for (const auto& o : objects) {
        if (!contains(typeName(o->className()), "Text")) continue;
        if (auto* t = dynamic_cast<objects::ObjText*>(o.get())) {
            if (!first) out += "\n\n";
            out += t->text;
            first = false;
        }
    }
    return out;
}

// ---- The objects' host ----------------------------------------------------

double ObjectHandlers::dpr() const {
    return Framer::shared().dpr();
}
double ObjectHandlers::zoom() const {
    return Framer::shared().zoom();
}
kit::Point ObjectHandlers::viewToImage(kit::Point v) const {
    return Framer::shared().viewToImage(v);
}
kit::Point ObjectHandlers::imageToView(kit::Point p) const {
    return Framer::shared().imageToView(p);
}
Rect ObjectHandlers::source() const {
    return Framer::shared().source;
}
Rect ObjectHandlers::crop() const {
    return Framer::shared().crop;
}
Rect ObjectHandlers::area() const {
    return Framer::shared().area;
}

void ObjectHandlers::zoomToActualSizeAt(kit::Point imagePoint, kit::Point viewPoint) {
    Framer& f = Framer::shared();
    f._zoom.set(1.0);
    f.setOffset(imagePoint, viewPoint);
    f.constrainPan(false);
}

void ObjectHandlers::setLayoutRequest(int level) {
    layoutRequest = level;
}

void ObjectHandlers::layoutNow(bool animated) {
    layoutRequest = 0;
    relayoutCanvas(animated);
}

void ObjectHandlers::setLayoutAnimationsOff(bool off) {
    layoutAnimationsOff = off;
}

kit::View* ObjectHandlers::canvasView() const {
    return editorHooks().canvasView ? editorHooks().canvasView() : nullptr;
}

void ObjectHandlers::refreshToolSettings() {
    if (active && editorHooks().updateToolSettings) editorHooks().updateToolSettings(activeType());
}

void ObjectHandlers::updateToolSettings(const std::string& type) {
    if (editorHooks().updateToolSettings) editorHooks().updateToolSettings(type);
}

void ObjectHandlers::undoSave(const std::string& label) {
    Undo::shared().save(label);
}

void ObjectHandlers::backdropLayout() {
    backdrop().layout();
}

objects::ObjectsCore* ObjectHandlers::core() const {
    return objectsCore();
}

// ---- Installation ----------------------------------------------------------

void installObjectHandlers() {
    ObjectHandlers& m = ObjectHandlers::shared();
    Handlers& h = Handlers::shared();
    if (!h.objects) h.objects = &m.input();
    installUndo();
    EditorKeys::Links& keys = EditorKeys::shared().links;
    if (!keys.isEditing) keys.isEditing = [&m] { return m.isEditing(); };
    if (!keys.objectKeyDown)
        keys.objectKeyDown = [&m](const kit::Event* e, const KeyEvt& k) { m.keyDown(e, k); };
    if (!keys.deactivate) keys.deactivate = [&m] { m.deactivate(); };
    if (!keys.addConceal)
        keys.addConceal = [&m](const Rect& r) {
            if (auto o = std::dynamic_pointer_cast<objects::ObjConceal>(m.addObject("ObjConceal", r)))
                o->reconceal();
        };
    if (!keys.redo) keys.redo = [] { Undo::shared().redo(); };
    Ruler& ruler = Ruler::shared();
    if (!ruler.addObject)
        ruler.addObject = [&m](const std::string& type, const Rect& r) { return m.addObject(type, r); };
    if (!ruler.deactivateObjects) ruler.deactivateObjects = [&m] { m.deactivate(); };
}

}  // namespace editor
