#pragma once
// Stroke geometry shared by the freehand pen, the highlighter and the oval:
// the smoothing stages that turn raw pointer samples into a smooth, closed
// outline of varying width, and the ellipse and rectangle fits that recognise
// a stroke meant as a shape. Every stage is a pure function over a list of
// samples; the only outside value read is the viewport's pixel ratio.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Json.h"
#include "kit/draw/Path.h"
#include "services/Rect.h"

namespace objects {

class ObjectHost;

// One stroke sample. A control point with a coordinate of -999 means "none".
struct Point {
    double x = 0, y = 0;
    double weight = 0;
    double speed = 0;
    double width = 0;
    bool keep = false;
    kit::Point a{-999, -999};
    kit::Point b{-999, -999};
    double len = 0;
    double cumLen = 0;

    kit::Point pos() const { return {x, y}; }
    static Point at(double x, double y) {
        Point p;
        p.x = x;
        p.y = y;
        return p;
    }
    friend bool operator==(const Point&, const Point&) = default;
};

// JSON form {"x","y","weight","speed","width","keep","a":[x,y],"b":[x,y],"len","cumLen"}.
kit::Json pointToJson(const Point& p);
// Every key required; empty on a missing key or a value of the wrong type.
std::optional<Point> pointFromJson(const kit::Json& j);

class FreehandHelper {
public:
    using Points = std::vector<Point>;
    using StatValue = std::variant<double, int>;

    static Points measureLengths(Points p);
    static Points levelStart(Points p, double size);
    static Points thin(const Points& p, double size);
    static std::pair<Points, double> fitEllipse(const Points& p, double strength);
    static std::pair<Points, double> fitRectangle(const Points& p, double strength);
    static Points rescale(Points p, double x0, double y0, double w0, double h0, double w1, double h1);
    static Points smoothPositions(Points p, double amount, double resolution);
    static Points controlPoints(Points p);
    static Points smoothWeights(Points p);
    static Points splitSegment(const Point& a, const Point& b, const ObjectHost& host);
    static Points segmentize(const Points& p, const ObjectHost& host);
    static Points weightScale(Points p, double low, double high, double amount);
    // The smoothed, weighted centre line the outline is built around, from
    // samples already corrected and rescaled: three smoothing passes,
    // thinning, control points, segments with their weights smoothed and
    // scaled, and two light smoothing passes.
    static Points smoothCenterLine(Points p, double smoothing, double resolution, const ObjectHost& host);
    // Appends one side point to each list and returns the sample's full width.
    static double sidePoints(double baseWidth, const Point& p, const Point& previous, const Point& next,
                             double variability, Points& left, Points& right);
    static Points capPoints(const Point& p, bool start, int style);
    static Points outline(const Points& p, double baseWidth, double variability, int capStyle);
    static kit::Path bezierPath(const Points& p, const std::optional<services::Rect>& origin = std::nullopt);
    static std::map<std::string, StatValue> strokeStats(const Points& p, double scale);

    // Strength of a shape-correction word: 1 - 2^-n for a word of n characters.
    static double correctionStrength(const std::string& word);
};

}  // namespace objects
