#pragma once
// The root of every annotation object placed over a screenshot: its drawing
// and control layers, its geometry in image coordinates (x right, y up,
// relative to the crop origin), its state word, colour and size index, its
// selection handles and per-class tool options, and the overridable
// operations through which the editor's object manager drives any kind of
// object without knowing its class.
//
// State words: "creating", "selected", "unselected", "highlighted", "move",
// the eight "*-resize" words and the "point-*" words; a state containing
// "resize" or "point" is a handle drag.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Event.h"
#include "kit/base/Json.h"
#include "kit/draw/Layer.h"
#include "kit/draw/Path.h"
#include "objects/KeyEvt.h"
#include "objects/Knob.h"
#include "services/Rect.h"

namespace objects {

class ObjectHost;

// The highlight colour of a hovered object's outline.
inline const kit::Color kHighlightColor{0, 0.495, 0.85, 1};

// JSON text of a value: compact, keys sorted. A value holding a number that
// is not finite cannot be read back, so it is refused like any encoding
// failure: reported, and the empty text returned.
std::string encode(const kit::Json& value);

// The colour with its red, green and blue and the given alpha.
kit::Color transparentColor(const kit::Color& clr, double alpha);

// n uniformly random base-36 digits, upper or lower case (the keys under
// which stroke samples and overlay images are kept).
std::string randomBase36(int n, bool upperCase);

// Whole-text integer and decimal parsing with the operation's fallback.
int parseIntOr(const std::string& text, int fallback);
double parseDoubleOr(const std::string& text, double fallback);

// An entry of a size or style table; an index past either end takes the
// nearest entry, so a corrupt option or dump never reads outside the table.
template <class T, size_t N>
T tableAt(const T (&table)[N], int64_t index) {
    if (index < 0) return table[0];
    if (index >= int64_t(N)) return table[N - 1];
    return table[index];
}
// The same for a table held in a vector (one a subclass may replace); an
// empty table gives zero.
template <class T>
T tableAt(const std::vector<T>& table, int64_t index) {
    if (table.empty()) return T{};
    if (index < 0) return table.front();
    if (index >= int64_t(table.size())) return table.back();
    return table[size_t(index)];
}

class ProtoObject : public std::enable_shared_from_this<ProtoObject> {
public:
    ProtoObject(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    virtual ~ProtoObject();
    ProtoObject(const ProtoObject&) = delete;
    ProtoObject& operator=(const ProtoObject&) = delete;

    // The class name options are stored under ("ObjRectangle").
    virtual std::string className() const { return "ProtoObject"; }

    kit::LayerPtr layer;     // drawing layer
    kit::LayerPtr lcontrol;  // holds the knobs
    services::Rect rect;
    std::string state = "creating";
    ObjectHost* parent = nullptr;  // the manager outlives its objects

    // The parent, or the do-nothing host when the object has none.
    ObjectHost& host() const;
    double mdsx = 0, mdsy = 0;
    services::Rect mouseDownRect{0, 0, 100, 100};
    kit::Color color;
    int size = 1;
    std::vector<std::unique_ptr<Knob>> knobs;
    std::optional<std::vector<std::string>> preferredPalette;
    bool wantsSpotlight = false;

    virtual void draw();
    virtual std::optional<kit::Path> outlinePath();
    virtual void unselect();
    virtual void select();
    virtual void deactivate();
    virtual std::string cursor(kit::Point p);
    virtual std::string action(kit::Point p);
    virtual void mouseDown(const kit::Event* event, kit::Point p, int button = 0);
    virtual void move(double dx, double dy);
    virtual void mouseDrag(const kit::Event* event, kit::Point p, int button = 0);
    virtual void mouseUp(const kit::Event* event, kit::Point p, int button = 0);
    virtual void dblClick(const kit::Event* event, kit::Point p, int button = 0);
    virtual void keyDown(const kit::Event* event, const KeyEvt& key);
    virtual void keyUp(const kit::Event* event, const KeyEvt& key);
    virtual void remove();
    virtual bool isEmpty();
    virtual services::Rect anchorPoint();
    virtual void changeSize(int step);
    virtual std::optional<std::string> getValue(const std::string& key);
    virtual void setValue(const std::string& key, const std::string& value);
    virtual void saveOption(const std::string& key, const std::string& value);
    virtual std::string loadOption(const std::string& key, const std::string& defaultValue);
    virtual std::string dump();
    // Applies a dump; false (and the object unchanged) when the text is not a
    // complete record of this class.
    virtual bool restore(const std::string& json);

    // Marks the knobs under a canvas point; called by the editor on hover.
    void highlightKnob(kit::Point p);

    // The settings key of a tool option: "Kadrix.ObjArrow: arrowStyle".
    std::string optionKey(const std::string& key) const;
    // The settings key under which objects of a class keep an option.
    static std::string optionKeyFor(const std::string& className, const std::string& key);

protected:
    // The parts of the base that overrides call directly.
    void baseMouseDown(kit::Point p);
    void baseMouseDrag(const kit::Event* event, kit::Point p);
    void baseKeyDown(const KeyEvt& key);
    // The same, undone when it would leave neither width nor height positive.
    void baseKeyDownKeepingExtent(const KeyEvt& key);
    // The creating drag's far corner under the pointer (x rounded up, y down):
    // with Space held the whole rect moves there, otherwise it stretches.
    void dragFarCorner(kit::Point q);
    // The rounded pointer displacement since mouse-down, along the dominant
    // axis only when `dominantOnly` (a tie keeps y).
    kit::Point dragDelta(kit::Point q, bool dominantOnly) const;
    // Makes width and height non-negative, keeping the covered area.
    void normalizeRect();
    // Whether a line-like object's state asks for the knobs first.
    bool knobsFirst() const;
    // The first knob under the point when the state tries knobs first.
    std::optional<std::string> knobFirst(kit::Point p) const;
    // The rect's span on each axis, widened by t on both sides, contains q (strictly).
    bool withinSpan(kit::Point q, double t) const;
    // Where a line-like object's end knobs go, in view points: the start and
    // end of its vector on the view, and how far each knob sits out beyond
    // its end along the line (7 points below zoom 2, none from there up).
    struct VectorEnds {
        kit::Point start, end, out;
    };
    VectorEnds vectorEnds() const;
    // Whether a shown knob lies under a canvas point.
    bool knobHit(const Knob& knob, kit::Point p) const;
    // The first shown knob under the point, in creation order.
    std::optional<std::string> knobAt(kit::Point p) const;

    // The base record {rect, size, color} and its reading.
    kit::Json baseRecord() const;
    struct BaseFields {
        services::Rect rect;
        int size = 0;
        kit::Color color;
    };
    static std::optional<BaseFields> readBase(const kit::Json& record);
    void applyBase(const BaseFields& f);
    // A rect's record {x1, y1, width, height} and its reading.
    static kit::Json rectRecord(const services::Rect& r);
    static std::optional<services::Rect> readRect(const kit::Json* value);

    // Nudge step of the arrow keys: 1 image unit with real pixels, else dpr; ×10 with Shift.
    double keyStep(bool shift) const;
    // Characters a digit key typed, "0" when there is no event (the editor's
    // synthetic keys), empty when the key is not a digit key.
    static bool isDigitKey(int code);
    static std::string keyCharacters(const kit::Event* event);
    static bool eventHas(const kit::Event* event, uint32_t flag) { return event && event->has(flag); }

    // Shows the object's own drawing layer (which a subclass may replace).
    void setLayersVisible(bool drawing, bool control);

    // Reports to the core that the editor's selection mode changed.
    void reportSelectionMode(const std::string& mode) const;
    // Sends a usage event, or merges a preset into the next one of that name.
    static void telemetryEvent(const std::string& name, const kit::Json& data);
    static void telemetryPreset(const std::string& name, const kit::Json& data);
    static void oops(const std::string& function, const std::string& message);
    std::string activeTypeOfParent() const;

    // The viewport values, read at each use.
    double dpr() const;
    double zoom() const;
    kit::Point viewToImage(kit::Point p) const;
    kit::Point imageToView(kit::Point p) const;

    // Size index as the tables see it (clamped to 0...7).
    static int clampSize(int64_t s);
    // A size from a dump, as stored (only kept within the range of an int).
    static int storedSize(int64_t s);
    // The end of every initialiser: the size from the class's stored option
    // "size" (1 when none is stored or it is no number). Read by the subclass,
    // whose class name the option key needs.
    void loadStoredSize();
    // The last step of every initialiser: the drawing layer kept sharp while
    // edited (no cached bitmap, nearest-neighbour scaling) and hung, with the
    // knobs' layer, into the editor's layers where there are any.
    void attachLayers(const kit::LayerPtr& drawing, const kit::LayerPtr& control);
};

}  // namespace objects
