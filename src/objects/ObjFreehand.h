#pragma once
// The pen stroke: every pointer position while dragging is a raw sample with
// a cheap centre-line preview; at mouse-up the samples become a closed,
// variable-width outline through the stroke smoothing stages, filled with the
// object's colour, and a fifth of a second later a stroke meant as an ellipse
// or a rectangle snaps to that shape. The samples never move: moves and
// resizes change `rect`, and the outline is rebuilt from `rawRect` to it.
// The samples live in `strokePointsStore` under `pointsHash`, not in the dump.
#include <map>

#include "kit/base/Timer.h"
#include "kit/draw/ShapeLayer.h"
#include "objects/FreehandHelper.h"
#include "objects/ProtoObject.h"

namespace objects {

// The stroke samples of every freehand and highlighter dump, by points hash.
// Emptied by the application core when it loads a new screenshot.
std::map<std::string, std::vector<Point>>& strokePointsStore();

class ObjFreehand : public ProtoObject {
public:
    ObjFreehand(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjFreehand"; }

    std::vector<double> widths{1.5, 2.5, 3.8, 5.6, 8.4, 12.7, 19, 28.5, 42.7, 64};
    std::shared_ptr<kit::ShapeLayer> lline;
    std::vector<Point> points;             // preview centre line
    std::vector<Point> shape;              // finished outline
    std::vector<Point> rawPoints;          // samples as drawn
    std::vector<Point> segmentizedPoints;  // smoothed centre line of the outline
    std::optional<kit::Path> pathOutline;  // relative to the origin of rawRect
    double variability = 0.25;
    double smoothing = 0.6;
    bool realtimeShape = false;
    int capStyle = 0;
    double resolution = 0;
    services::Rect rawRect{0, 0, 1, 1};
    int lockDirection = 0;
    std::string shapeCorrection;
    std::string pointsHash;
    std::shared_ptr<kit::ShapeLayer> shapeLayer;

    void draw() override;
    std::string cursor(kit::Point p) override;
    std::string action(kit::Point p) override;
    void mouseDown(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void dblClick(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    void remove() override;
    void changeSize(int step) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    virtual void buildPath();
    virtual void finishStroke();
    virtual void buildOutline();

    // Bounds of samples in whole pixels: x1, y1 rounded down, far edges up.
    static services::Rect strokeBounds(const std::vector<Point>& pts);

protected:
    double widthAt() const;  // nominal width of the current size, points
    kit::Timer finishTimer_;
};

// The marker stroke: a wide stroke whose colour mixes with the screenshot by
// the brightness under it (multiply on light ground, screen on dark, plain at
// a quarter opacity in between).
class ObjHighlighter : public ObjFreehand {
public:
    ObjHighlighter(ObjectHost* parent, const kit::LayerPtr& layer, const kit::LayerPtr& control);
    std::string className() const override { return "ObjHighlighter"; }

    static constexpr double kWidths[8] = {14, 20, 28, 38, 54, 76, 108, 154};
    kit::Color baseColor;  // the chosen colour; `color` is the drawn one

    std::string cursor(kit::Point p) override;
    void mouseDrag(const kit::Event* event, kit::Point p, int button = 0) override;
    void mouseUp(const kit::Event* event, kit::Point p, int button = 0) override;
    void dblClick(const kit::Event* event, kit::Point p, int button = 0) override;
    void keyDown(const kit::Event* event, const KeyEvt& key) override;
    std::optional<std::string> getValue(const std::string& key) override;
    void setValue(const std::string& key, const std::string& value) override;
    std::string dump() override;
    bool restore(const std::string& json) override;

    // Picks blend mode, opacity and drawn colour from the brightness under the stroke.
    virtual void recolor();

    // The tool's size preview: an upright rounded bar at (x, y), view coordinates.
    static void brushPreview(kit::ShapeLayer& preview, kit::ShapeLayer* rim, double x, double y, double zoom);
};

}  // namespace objects
