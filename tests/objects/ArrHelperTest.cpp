// The stored outlines, their placement on an arrow, caps, pins and arcs.
#include <cmath>
#include <numbers>

#include "Doubles.h"
#include "objects/ArrHelper.h"

namespace objects {

namespace {

class ArrHelperTest : public ObjectsTest {};

// Every end point of the path's elements.
std::vector<kit::Point> ends(const kit::Path& p) {
    std::vector<kit::Point> out;
    for (const auto& e : p.elements()) {
        if (e.type == kit::Path::ElementType::CubicTo)
            out.push_back(e.pts[2]);
        else if (e.type != kit::Path::ElementType::Close)
            out.push_back(e.pts[0]);
    }
    return out;
}

TEST_F(ArrHelperTest, ParsesEveryStoredOutline) {
    ASSERT_EQ(ArrHelper::parsedHeads().size(), 4u);
    ASSERT_EQ(ArrHelper::parsedPins().size(), 2u);
    for (const auto& table : {ArrHelper::parsedHeads(), ArrHelper::parsedPins()}) {
        for (const auto& cmds : table) {
            ASSERT_FALSE(cmds.empty());
            EXPECT_EQ(cmds.front().letter, "M");
            for (const auto& c : cmds) {
                size_t expect = c.letter == "C" ? 6 : 2;
                EXPECT_EQ(c.numbers.size(), expect) << c.letter;
            }
        }
    }
    // The exponent form and the stored numbers read in the C locale.
    auto style2 = ArrHelper::parsedHeads()[2];
    EXPECT_DOUBLE_EQ(style2[0].numbers[0], 99.6584753);
    bool sawExponent = false;
    for (const auto& c : style2)
        for (double v : c.numbers) sawExponent |= v == 2.84217094e-14;
    EXPECT_TRUE(sawExponent);
}

TEST_F(ArrHelperTest, ParserGrammarAndJunkTokens) {
    auto cmds = ArrHelper::parse("M1,2 L3,-4 C1e1,2 3,4 5,6 Zx,7");
    ASSERT_EQ(cmds.size(), 4u);
    EXPECT_EQ(cmds[0], (ArrHelper::Command{"M", {1, 2}}));
    EXPECT_EQ(cmds[1], (ArrHelper::Command{"L", {3, -4}}));
    EXPECT_EQ(cmds[2], (ArrHelper::Command{"C", {10, 2, 3, 4, 5, 6}}));
    EXPECT_EQ(cmds[3].letter, "Z");
    EXPECT_EQ(cmds[3].numbers, (std::vector<double>{0, 7}));  // junk reads as 0
    // An unknown letter adds nothing to a path.
    auto p = ArrHelper::headPath(0, 0, 100, 0, 1, cmds, handlers);
    EXPECT_EQ(ends(p).size(), 3u);
}

TEST_F(ArrHelperTest, BoxEndsLandOnStartAndTip) {
    ArrHelper::Commands cmds{{"M", {0, 0}}, {"L", {100, 0}}, {"L", {50, 10}}, {"L", {75, 10}}};
    for (double len : {30.0, 150.0, 900.0}) {
        auto pts = ends(ArrHelper::headPath(10, 20, len * 0.6, len * 0.8, 3, cmds, handlers));
        EXPECT_NEAR(pts[0].x, 10, 1e-9);
        EXPECT_NEAR(pts[0].y, 20, 1e-9);
        EXPECT_NEAR(pts[1].x, 10 + len * 0.6, 1e-9);
        EXPECT_NEAR(pts[1].y, 20 + len * 0.8, 1e-9);
    }
    // Up to 100 × dpr of length a point lies at box distance × k × L / 100.
    auto pts = ends(ArrHelper::headPath(0, 0, 80, 0, 1, cmds, handlers));
    EXPECT_NEAR(pts[2].y, 10 * 0.5 * 80 / 100, 1e-9);
    EXPECT_NEAR(pts[3].y, 10 * 0.5 * 80 / 100, 1e-9);
}

TEST_F(ArrHelperTest, LongArrowBarbsStayAtFixedScale) {
    setView(2, 1);
    // size 1 (scale 0.5), length 300 at dpr 2: Lc = 200, one pixel per unit.
    auto p = ArrHelper::headPath(0, 0, 300, 0, 1, ArrHelper::parsedHeads()[0], handlers);
    EXPECT_NEAR(ends(p)[0].y, -22.0862065, 1e-9);  // the first barb point
    EXPECT_NEAR(ends(p)[0].x, 300 - (100 - 53.7652875), 1e-9);
    // From 400 × dpr on, the tip grows by 1/sqrt(0.8) and the tail thins to 0.8.
    ArrHelper::Commands cmds{{"M", {0, 10}}, {"L", {100, 10}}};
    auto far = ends(ArrHelper::headPath(0, 0, 2000, 0, 1, cmds, handlers));
    EXPECT_NEAR(far[0].y, 10 * 0.5 * 0.8 * 200 / 100, 1e-9);
    EXPECT_NEAR(far[1].y, 10 * 0.5 / std::sqrt(0.8) * 200 / 100, 1e-9);
}

TEST_F(ArrHelperTest, CapsArrowAngleAndBullet) {
    kit::Path p;
    ArrHelper::addCap(p, 0, 0, 30, 0, 3, 0, "end", "none", "arrow", handlers);
    auto pts = ends(p);
    ASSERT_EQ(pts.size(), 3u);
    EXPECT_EQ(pts[1], (kit::Point{30, 0}));
    double barb = std::min(0.7 * 3 + 7 * std::sqrt(3.0) + 0.2, 30 * 0.25);
    EXPECT_NEAR(std::hypot(pts[0].x - 30, pts[0].y), barb, 1e-9);
    // 50 degrees each side of the line (45 below a length of 20).
    EXPECT_NEAR(std::atan2(std::fabs(pts[0].y), 30 - pts[0].x), 0.8726646, 1e-6);
    kit::Path s;
    ArrHelper::addCap(s, 0, 0, 12, 0, 3, 0, "start", "arrow", "none", handlers);
    auto sp = ends(s);
    EXPECT_NEAR(std::atan2(std::fabs(sp[0].y), sp[0].x), 0.78539815, 1e-6);
    EXPECT_LE(std::hypot(sp[0].x, sp[0].y), 12 * 0.25 + 1e-9);
    kit::Path b;
    ArrHelper::addCap(b, 0, 0, 30, 0, 3, 0, "end", "none", "bullet", handlers);
    EXPECT_NEAR(b.bounds().width(), 5, 1e-6);  // radius min(3, 2.5)
    kit::Path none;
    ArrHelper::addCap(none, 0, 0, 30, 0, 3, 0, "start", "none", "bullet", handlers);
    EXPECT_TRUE(none.isEmpty());
}

TEST_F(ArrHelperTest, CapAnchorsOnAnEvenWidthBelowZoomOne) {
    setView(1, 0.5);
    kit::Path p;
    ArrHelper::addCap(p, 0, 0, 7, 0, 1, 0, "end", "none", "arrow", handlers);
    EXPECT_EQ(ends(p)[1], (kit::Point{8, 0}));
}

TEST_F(ArrHelperTest, PinPointsAlongItsDirection) {
    auto tip = [](const kit::Path& p) {
        kit::Point best{0, 0};
        double far = -1;
        for (auto q : ends(p))
            if (std::hypot(q.x, q.y) > far) far = std::hypot(q.x, q.y), best = q;
        return best;
    };
    auto down = tip(ArrHelper::pin(0, 0, 0, -1, 10, 0));
    EXPECT_NEAR(down.x, 0, 1e-6);
    EXPECT_NEAR(down.y, -15, 1e-6);                       // 1.5 radii
    auto right = tip(ArrHelper::pin(0, 0, 0, 0, 10, 1));  // (0, 0) points towards +x
    EXPECT_NEAR(right.y, 0, 1e-3);
    EXPECT_NEAR(right.x, 15.5, 1e-2);
}

TEST_F(ArrHelperTest, CircleCenterAndArcEnds) {
    auto c = ArrHelper::circleCenter({0, 0}, {10, 10}, {20, 0});
    EXPECT_NEAR(c.x, 10, 1e-9);
    EXPECT_NEAR(c.y, 0, 1e-9);
    auto arc = ArrHelper::arcPath(0, 0, 20, 0, 10, 10, 1, 2);
    auto b = arc.bounds();
    EXPECT_NEAR(b.maxY(), 10, 1e-3);  // clockwise from the start runs over the top
    EXPECT_GT(b.minX(), 0);           // ends pulled in by half the width
    // Away from the origin, on a circle of radius 13 around (120, -35).
    const kit::Point centre{120, -35};
    auto on = [&](double deg) {
        const double a = deg * std::numbers::pi / 180;
        return kit::Point{centre.x + 13 * std::cos(a), centre.y + 13 * std::sin(a)};
    };
    auto c3 = ArrHelper::circleCenter(on(10), on(95), on(230));
    EXPECT_NEAR(c3.x, 120, 1e-9);
    EXPECT_NEAR(c3.y, -35, 1e-9);
    auto arc2 = ArrHelper::arcPath(on(180).x, on(180).y, 26, 0, on(90).x, on(90).y, 1, 0);
    EXPECT_NEAR(arc2.bounds().maxY(), -22, 1e-3);
    EXPECT_NEAR(arc2.bounds().midX(), 120, 1e-3);
    auto c2 = ArrHelper::circleCenter({0, 0}, {5, 0}, {10, 0});
    EXPECT_FALSE(std::isfinite(c2.x) && std::isfinite(c2.y));
}

TEST_F(ArrHelperTest, LineArrowAlignmentAndStraightCurves) {
    EXPECT_EQ(ArrHelper::alignment(3, handlers), (std::pair<double, double>{0.5, 0}));
    EXPECT_EQ(ArrHelper::alignment(2.5, handlers), (std::pair<double, double>{0.5, 0.25}));
    setView(2, 1);
    EXPECT_EQ(ArrHelper::alignment(3, handlers), (std::pair<double, double>{0, 0}));
    setView(1, 1);
    auto layer = kit::ShapeLayer::make();
    ArrHelper::drawLineArrow(*layer, kit::Color::black(), 0, 0, 100, 0, 3, 50, 0.1, 0.005, 1, handlers);
    auto first = layer->path().elements().front();
    EXPECT_EQ(first.pts[0], (kit::Point{2, 0.5}));  // straight: offset 0.5, pulled in by 1.5
    EXPECT_EQ(layer->lineCap(), kit::LineCap::Square);
    // A curve point on the chord has no circle: drawn straight, never NaN.
    ArrHelper::drawLineArrow(*layer, kit::Color::black(), 0, 0, 100, 0, 3, 50, 0, 0.5, 2, handlers);
    for (const auto& e : layer->path().elements())
        for (auto q : e.pts) EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y));
}

}  // namespace

}  // namespace objects
