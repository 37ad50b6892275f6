// The stroke smoothing stages and the shape fits.
#include <cmath>

#include "Doubles.h"
#include "objects/FreehandHelper.h"

namespace objects {

namespace {

using Points = FreehandHelper::Points;

class FreehandHelperTest : public ObjectsTest {};

Points line(std::initializer_list<kit::Point> pts) {
    Points out;
    for (auto p : pts) out.push_back(Point::at(p.x, p.y));
    return out;
}

Points circle(double cx, double cy, double r, int n, double sweep = 2 * M_PI) {
    Points out;
    for (int i = 0; i <= n; ++i) {
        double a = sweep * i / n;
        out.push_back(Point::at(cx + r * std::cos(a), cy + r * std::sin(a)));
    }
    return out;
}

Points square(double x, double y, double s, int perSide) {
    Points out;
    const kit::Point corners[5] = {{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}, {x, y}};
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < perSide; ++i) {
            double t = double(i) / perSide;
            kit::Point p = corners[c] * (1 - t) + corners[c + 1] * t;
            out.push_back(Point::at(p.x, p.y));
        }
    out.push_back(Point::at(x, y));
    return out;
}

bool finite(const Points& p) {
    for (const auto& q : p)
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.weight)) return false;
    return true;
}

TEST_F(FreehandHelperTest, ShortListsPassEveryStageUnchanged) {
    Points one = line({{3, 4}});
    for (const Points& p : {Points{}, one}) {
        EXPECT_EQ(FreehandHelper::measureLengths(p), p);
        EXPECT_EQ(FreehandHelper::levelStart(p, 1), p);
        EXPECT_EQ(FreehandHelper::thin(p, 1), p);
        EXPECT_EQ(FreehandHelper::smoothPositions(p, 0.5, 1), p);
        EXPECT_EQ(FreehandHelper::controlPoints(p), p);
        EXPECT_EQ(FreehandHelper::smoothWeights(p), p);
        EXPECT_EQ(FreehandHelper::segmentize(p, handlers), p);
        EXPECT_EQ(FreehandHelper::outline(p, 5, 0.25, 0), p);
        EXPECT_TRUE(FreehandHelper::bezierPath(p).isEmpty());
    }
    EXPECT_TRUE(FreehandHelper::strokeStats({}, 1).empty());
}

TEST_F(FreehandHelperTest, MeasureLengthsWeightsBySlowness) {
    auto two = FreehandHelper::measureLengths(line({{0, 0}, {3, 4}}));
    EXPECT_EQ(two[0].weight, 1.0);
    EXPECT_EQ(two[1].len, 0);  // two points: only the weights
    auto p = FreehandHelper::measureLengths(line({{0, 0}, {3, 4}, {4, 4}, {14, 4}}));
    EXPECT_EQ(p[1].speed, 5);
    EXPECT_EQ(p[3].cumLen, 16);
    EXPECT_EQ(p[0].weight, 0.7);
    EXPECT_DOUBLE_EQ(p[2].weight, 0.9);  // 1 - (1 - 0) / (10 - 0)
    EXPECT_EQ(p[3].weight, p[2].weight);
    // Samples on one spot have no speed to compare: never NaN.
    auto still = FreehandHelper::measureLengths(line({{1, 1}, {1, 1}, {1, 1}}));
    EXPECT_TRUE(finite(still));
}

TEST_F(FreehandHelperTest, LevelStartPullsANearlyLevelStart) {
    auto p = FreehandHelper::measureLengths(line({{0, 0}, {10, 0.5}, {20, 1}, {30, 30}}));
    auto l = FreehandHelper::levelStart(p, 1);
    EXPECT_LT(std::fabs(l[1].y), 0.5);
    EXPECT_EQ(l[3].y, 30);  // 45 degrees: untouched
    auto steep = FreehandHelper::measureLengths(line({{0, 0}, {0, 20}, {5, 20}}));
    EXPECT_EQ(FreehandHelper::levelStart(steep, 1)[1].y, 20);
}

TEST_F(FreehandHelperTest, ThinKeepsBothEnds) {
    auto p = FreehandHelper::thin(line({{0, 0}, {0.1, 0}, {0.2, 0}, {5, 0}, {5.1, 0}}), 3);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p.front().x, 0);
    EXPECT_EQ(p[1].x, 5.1);  // the end replaces a kept sample closer than the threshold
    auto close = FreehandHelper::thin(line({{0, 0}, {0.1, 0}, {0.2, 0}}), 3);
    EXPECT_EQ(close.size(), 2u);
}

TEST_F(FreehandHelperTest, SegmentCountFollowsThePixelRatio) {
    setView(2, 1);
    auto cp = FreehandHelper::controlPoints(line({{0, 0}, {5, 0}}));
    EXPECT_EQ(FreehandHelper::splitSegment(cp[0], cp[1], handlers).size(), 2u);  // ceil(6 / 4)
    auto tiny = FreehandHelper::controlPoints(line({{0, 0}, {1, 0}}));
    EXPECT_EQ(FreehandHelper::splitSegment(tiny[0], tiny[1], handlers).size(), 1u);
    auto seg = FreehandHelper::segmentize(cp, handlers);
    ASSERT_EQ(seg.size(), 3u);
    EXPECT_EQ(seg.back().x, 5);
    // A segment of no finite length is never split into unbounded samples.
    Point far = Point::at(1.6e308, 0);
    far.a = {1.6e308, 0};
    EXPECT_EQ(FreehandHelper::splitSegment(cp[0], far, handlers).size(), 1u);
    Point long1 = Point::at(1e300, 0);
    long1.a = {1e300, 0};
    EXPECT_EQ(FreehandHelper::splitSegment(cp[0], long1, handlers).size(), 4096u);
}

TEST_F(FreehandHelperTest, ControlPointsOfTwoPointsMeetInTheMiddle) {
    auto p = FreehandHelper::controlPoints(line({{0, 0}, {10, 4}}));
    EXPECT_EQ(p[0].b, (kit::Point{5, 2}));
    EXPECT_EQ(p[1].a, (kit::Point{5, 2}));
    EXPECT_EQ(p[0].a, (kit::Point{0, 0}));
}

TEST_F(FreehandHelperTest, OutlineIsClosedAndFinite) {
    setView(1, 1);
    Points raw;
    for (int i = 0; i < 60; ++i) raw.push_back(Point::at(i * 3.0, 20 * std::sin(i / 6.0)));
    auto p = FreehandHelper::measureLengths(raw);
    p = FreehandHelper::smoothPositions(p, 0.6, 1);
    p = FreehandHelper::thin(p, 10);
    p = FreehandHelper::controlPoints(p);
    p = FreehandHelper::segmentize(p, handlers);
    auto o = FreehandHelper::outline(p, 6, 0.25, 3);
    EXPECT_TRUE(finite(o));
    EXPECT_GT(o.size(), p.size());
    auto path = FreehandHelper::bezierPath(o);
    EXPECT_GT(path.bounds().width(), 170);
    EXPECT_GT(path.bounds().height(), 40);
}

TEST_F(FreehandHelperTest, CapTablesAndBezierOrigin) {
    Point p = Point::at(10, 0);
    p.width = 4;
    p.a = {0, 0};
    EXPECT_EQ(FreehandHelper::capPoints(p, false, 1).size(), 6u);
    EXPECT_EQ(FreehandHelper::capPoints(p, false, 2).size(), 7u);
    auto s3 = FreehandHelper::capPoints(p, false, 3);
    ASSERT_EQ(s3.size(), 9u);
    EXPECT_NEAR(s3[4].x, 10 + 2 * 0.693, 1e-6);                    // straight ahead of the end
    EXPECT_EQ(FreehandHelper::capPoints(p, false, 7).size(), 7u);  // round
    auto path = FreehandHelper::bezierPath(line({{10, 20}, {30, 40}}), services::Rect{10, 20, 5, 5});
    EXPECT_EQ(path.elements().front().pts[0], (kit::Point{0, 0}));
}

TEST_F(FreehandHelperTest, RescaleStretchesEachAxisByItsOwnFactor) {
    // From 10 × 20 at (10, 5) to 30 × 10: x triples, y halves, the corner stays.
    auto p = FreehandHelper::rescale(line({{10, 5}, {20, 25}, {15, 15}}), 10, 5, 10, 20, 30, 10);
    EXPECT_EQ(p[0].pos(), (kit::Point{10, 5}));
    EXPECT_EQ(p[1].pos(), (kit::Point{40, 15}));
    EXPECT_EQ(p[2].pos(), (kit::Point{25, 10}));
}

TEST_F(FreehandHelperTest, RescaleKeepsAnAxisWithoutExtent) {
    auto p = FreehandHelper::rescale(line({{10, 5}, {20, 5}}), 10, 5, 10, 0, 20, 8);
    EXPECT_EQ(p[1].x, 30);
    EXPECT_EQ(p[1].y, 5);
    EXPECT_TRUE(finite(p));
}

TEST_F(FreehandHelperTest, StrokeStats) {
    auto p = FreehandHelper::measureLengths(line({{0, 0}, {3, 4}, {4, 4}, {14, 4}}));
    auto s = FreehandHelper::strokeStats(p, 2);
    EXPECT_EQ(std::get<double>(s["length"]), 32);
    EXPECT_EQ(std::get<double>(s["maxSpeed"]), 20);
    EXPECT_EQ(std::get<double>(s["avgSpeed"]), 8);
    EXPECT_EQ(std::get<double>(s["medSpeed"]), 10);
    EXPECT_EQ(std::get<int>(s["points"]), 4);
}

TEST_F(FreehandHelperTest, EllipseFitRecognisesACircleNotAnOpenArc) {
    auto [moved, score] = FreehandHelper::fitEllipse(circle(100, 100, 50, 80), 0.5);
    EXPECT_GT(score, 1.0);
    EXPECT_EQ(moved.size(), 81u);
    auto open = FreehandHelper::fitEllipse(circle(100, 100, 50, 80, M_PI), 0.5);
    EXPECT_EQ(open.second, 0.01);
    auto rect = FreehandHelper::fitEllipse(square(0, 0, 100, 20), 0.5);
    EXPECT_LT(rect.second, 1.0);  // the corners turn 90 degrees
    EXPECT_EQ(FreehandHelper::fitEllipse(circle(0, 0, 5, 8), 0.5).second, 0.0);
}

TEST_F(FreehandHelperTest, RectangleFitRecognisesASquare) {
    auto [moved, score] = FreehandHelper::fitRectangle(square(10, 10, 100, 20), 0.5);
    EXPECT_GT(score, 1.0);
    EXPECT_TRUE(finite(moved));
    auto c = FreehandHelper::fitRectangle(circle(100, 100, 50, 80), 0.5);
    EXPECT_LT(c.second, FreehandHelper::fitEllipse(circle(100, 100, 50, 80), 0.5).second);
    auto open = FreehandHelper::fitRectangle(circle(100, 100, 50, 80, M_PI), 0.5);
    EXPECT_TRUE(open.second == 0.01 || open.second == 0.0);
}

TEST_F(FreehandHelperTest, FlatStrokesNeverProduceNaN) {
    Points flat;
    for (int i = 0; i < 30; ++i) flat.push_back(Point::at(i * 5.0, 7));
    auto e = FreehandHelper::fitEllipse(flat, 0.875);
    EXPECT_TRUE(finite(e.first));
    EXPECT_EQ(e.second, 0.0);
    Points upright;
    for (int i = 0; i < 30; ++i) upright.push_back(Point::at(3, i * 5.0));
    EXPECT_TRUE(finite(FreehandHelper::fitEllipse(upright, 0.5).first));
    EXPECT_TRUE(finite(FreehandHelper::fitRectangle(upright, 0.5).first));
    // A sample on the centre lines of a fitted square moves without dividing by zero.
    auto sq = square(0, 0, 100, 20);
    sq.push_back(Point::at(50, 50));
    EXPECT_TRUE(finite(FreehandHelper::fitRectangle(sq, 0.5).first));
}

TEST_F(FreehandHelperTest, PointJsonRoundTripAndStrictKeys) {
    Point p = Point::at(1.5, -2);
    p.weight = 0.25;
    p.keep = true;
    p.a = {3, 4};
    auto j = pointToJson(p);
    EXPECT_EQ(pointFromJson(j), p);
    EXPECT_TRUE(j["b"].is_array());
    j.erase("cumLen");
    EXPECT_FALSE(pointFromJson(j).has_value());
}

TEST_F(FreehandHelperTest, CorrectionStrength) {
    EXPECT_EQ(FreehandHelper::correctionStrength("c"), 0.5);
    EXPECT_EQ(FreehandHelper::correctionStrength("ccc"), 0.875);
    EXPECT_EQ(FreehandHelper::correctionStrength(""), 0.0);
}

}  // namespace

}  // namespace objects
