#pragma once
// The vector shapes of the arrow, line and counter objects: four filled-arrow
// outlines and two pin outlines stored as compact path strings in a 100-unit
// box, parsed once and re-placed on every draw by a polar transformation that
// turns them onto the object's direction and scales them to its length, size
// and pixel ratio; the "arrow" and "bullet" line caps; and stroked line
// arrows, straight or bent into a circular arc. Coordinates are image
// coordinates of the annotation layer.
#include <string>
#include <vector>

#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/draw/Path.h"
#include "kit/draw/ShapeLayer.h"

namespace objects {

class ObjectHost;

// An angle brought into -π...π by one turn at most.
double wrapAngle(double a);

class ArrHelper {
public:
    // One parsed command: its letter and its numbers, in order (x, y pairs).
    struct Command {
        std::string letter;
        std::vector<double> numbers;
        friend bool operator==(const Command&, const Command&) = default;
    };
    using Commands = std::vector<Command>;

    static const std::vector<std::string>& heads();
    static const std::vector<std::string>& pins();
    static constexpr double headScales[10] = {0.33, 0.5, 0.7, 0.9, 1.1, 1.4, 2.0, 2.8, 4.2, 6.4};
    static constexpr double arrowWidths[10] = {1, 2, 3, 4, 6, 10, 14, 20, 28, 40};
    // The parsed tables, made on first use and kept for the process.
    static const std::vector<Commands>& parsedHeads();
    static const std::vector<Commands>& parsedPins();

    static Commands parse(const std::string& path);
    static kit::Path headPath(double x, double y, double dx, double dy, int size, const Commands& commands,
                              const ObjectHost& host);
    static void drawHead(kit::ShapeLayer& layer, const kit::Color& color, double x, double y, double dx,
                         double dy, int size, int style, const ObjectHost& host);
    static kit::Path pinPath(double x, double y, double dx, double dy, double radius,
                             const Commands& commands);
    static kit::Path pin(double x, double y, double dx, double dy, double radius, int index);
    static void addCap(kit::Path& path, double x, double y, double dx, double dy, double width, double angle,
                       const std::string& end, const std::string& startCap, const std::string& endCap,
                       const ObjectHost& host);
    // Centre of the circle through three points; not finite for collinear points.
    static kit::Point circleCenter(kit::Point p0, kit::Point p1, kit::Point p2);
    static kit::Path arcPath(double x, double y, double dx, double dy, double mx, double my, double direction,
                             double width);
    static void drawLineArrow(kit::ShapeLayer& layer, const kit::Color& color, double x, double y, double dx,
                              double dy, double width, double mx, double my, double curve, int type,
                              const ObjectHost& host);

    // Pixel alignment of a stroke of this width at dpr 1: (o1, o2), both 0 at
    // any other pixel ratio.
    static std::pair<double, double> alignment(double width, const ObjectHost& host);
};

}  // namespace objects
