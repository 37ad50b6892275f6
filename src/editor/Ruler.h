#pragma once
// The measuring ruler. While an arrow key or the digit key 1 or 2 is held, a
// line runs through the pointer across the run of uniform pixels it lies in:
// along the pixel row (left/right arrows, 2) or the pixel column (up/down
// arrows, 1). Its ends are found by walking the capture's pixels outwards
// from the pointer until the colour changes; a label shows the length in
// pixels or points. Alt turns it into a guide across the whole image, Shift
// steps over the first edge, scrolling changes the edge sensitivity, and a
// click imprints the measurement as a ruler (or, for a guide, a line) object.
//
// Spaces: `point` is in canvas device pixels (view space), `pointSource` and
// `rect` in image pixels (y up); the layers are laid out in canvas points.
// Main thread only; the scout reads a capture snapshot whose pixel storage
// stays alive while it walks.
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "editor/CanvasInput.h"
#include "editor/KeyEvt.h"
#include "imaging/PixelMap.h"
#include "kit/base/Timer.h"
#include "kit/draw/Layer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "services/Rect.h"

namespace objects {
class ProtoObject;
}  // namespace objects

namespace editor {

// The run [start, end) of uniform pixels through crop pixel (x, y) (y up)
// along its row, or along its column when vertical (then in image y). A step
// between neighbours whose channel differences sum to more than `threshold`
// is an edge, unless the next step is at least twice as steep; `persistence`
// edges are stepped over in each direction first. (0, 0) without pixels.
std::pair<double, double> rulerScout(const imaging::PixelMap& map, int x, int y, bool vertical,
                                     int persistence, int threshold);

// With KADRIX_TEST set, the read-outs of the crop tool and the ruler go to
// the console whenever their text changes ("crop label: 200×150 pt"), so a
// test of the running program can read what the user sees.
void reportReadout(const std::string& what, const std::string& text);

class Ruler : public RulerInput {
public:
    static Ruler& shared();
    Ruler();
    ~Ruler() override = default;
    Ruler(const Ruler&) = delete;
    Ruler& operator=(const Ruler&) = delete;

    kit::LayerPtr layer_;                     // holds lshape and ltext
    std::shared_ptr<kit::ShapeLayer> lshape;  // line, end ticks and label box as one path
    std::shared_ptr<kit::TextLayer> ltext;
    double dx = 0, dy = 0;                 // point: pointer in view space
    double sx = 0, sy = 0;                 // pointSource: the same in image pixels
    services::Rect rect{10, 10, 1000, 1};  // (start, row, length, 0) or (column, start, 0, length)
    std::string text;
    double value = 0;  // measured length in image pixels
    bool vertical = true;
    bool guide = false;
    int persistence = 0;
    double validZoom = 0;
    bool on_ = false;
    kit::Timer timerHide;
    double sensitivity = 3.54;  // 0…20; threshold = int(2 × sensitivity²)

    // What imprint() asks of the object manager: a new object of a class over
    // an image rectangle (null when none was made), and ending the object
    // interaction. Installed when the editor starts.
    std::function<std::shared_ptr<objects::ProtoObject>(const std::string& type, const services::Rect& rect)>
        addObject;
    std::function<void()> deactivateObjects;

    // The canvas's calls.
    bool on() const override { return on_; }
    void pointerMoved(double x, double y) override;
    void imprint() override;
    void scrolled(const kit::Event& event) override;
    void keyUp() override;
    kit::LayerPtr layer() const override { return layer_; }
    void layout() override;

    // The key table's call for every key-down it passes on; `enabled` is
    // false while a selection exists or an object is active.
    virtual void keyDown(const kit::Event* event, int code, KeyEvt::Modifiers modifiers, bool enabled);

    struct Shape {
        kit::Path path;
        kit::Rect labelFrame;
    };
    Shape makeShape();
    std::pair<double, double> labelOrigin(double x, double y) const;
    void setPoint(double x, double y);
    void readout(double length);
    void measure(bool vertical, int persistence, bool guide, const std::string& method);
    std::pair<double, double> scout(double sx, double sy, bool vertical, int persistence);

private:
    // Ruler keys seen going down and not yet up; with the time of the last
    // such key-down. They keep the ruler up between the key-downs of a held
    // key even when the keyboard repeats slower than the hide delay.
    std::set<int> held_;
    double lastKeyDown_ = 0;

    void hide();
    bool rulerKeyHeld() const;
    bool heldByKeyboard() const;
    void armHideTimer();
};

}  // namespace editor
