#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "kit/draw/Path.h"

using kit::FillRule;
using kit::Path;
using kit::Point;
using kit::Rect;

constexpr double pi = std::numbers::pi;

TEST(Path, ArcDirectionInYUpSpace) {
    // Counter-clockwise from 0 to π/2 is the short quarter through +x+y.
    Path ccw;
    ccw.addArc({0, 0}, 10, 0, pi / 2, false);
    Rect b = ccw.bounds();
    EXPECT_NEAR(b.minX(), 0, 1e-6);
    EXPECT_NEAR(b.minY(), 0, 1e-6);
    EXPECT_NEAR(b.maxX(), 10, 1e-6);
    EXPECT_NEAR(b.maxY(), 10, 1e-6);
    EXPECT_NEAR(ccw.currentPoint().x, 0, 1e-9);
    EXPECT_NEAR(ccw.currentPoint().y, 10, 1e-9);

    // Clockwise between the same angles goes the long way round, through −y.
    Path cw;
    cw.addArc({0, 0}, 10, 0, pi / 2, true);
    b = cw.bounds();
    EXPECT_NEAR(b.minX(), -10, 1e-3);
    EXPECT_NEAR(b.minY(), -10, 1e-3);
    EXPECT_NEAR(b.maxX(), 10, 1e-3);

    // Points on the arc stay on the circle (cubic approximation error is tiny).
    for (const auto& poly : cw.flattened(0.01))
        for (Point p : poly) EXPECT_NEAR(std::hypot(p.x, p.y), 10, 0.01);
}

TEST(Path, ArcJoinsCurrentPointAndFullCircle) {
    Path p;
    p.moveTo({-20, 0});
    p.addArc({0, 0}, 5, pi, 0, true);  // clockwise from the left over the top
    ASSERT_GE(p.elements().size(), 3u);
    EXPECT_EQ(p.elements()[1].type, Path::ElementType::LineTo);
    EXPECT_NEAR(p.bounds().maxY(), 5, 1e-3);
    EXPECT_NEAR(p.bounds().minY(), 0, 1e-6);

    Path circle;
    circle.addArc({0, 0}, 3, 0, 2 * pi, false);
    EXPECT_NEAR(circle.bounds().width(), 6, 1e-3);
    EXPECT_TRUE(circle.contains({0, 0}));
}

TEST(Path, ShapesBoundsAndContainment) {
    Path e = Path::ellipse({10, 20, 40, 20});
    Rect b = e.bounds();
    EXPECT_NEAR(b.minX(), 10, 1e-6);
    EXPECT_NEAR(b.maxY(), 40, 1e-6);
    EXPECT_TRUE(e.contains({30, 30}));
    EXPECT_FALSE(e.contains({11, 21}));  // outside the curve, inside the box

    Path rr = Path::roundedRect({0, 0, 20, 10}, 50, 50);  // radii clamp to half the sides
    EXPECT_NEAR(rr.bounds().width(), 20, 1e-6);
    EXPECT_FALSE(rr.contains({0.5, 0.5}));
    EXPECT_TRUE(rr.contains({10, 5}));

    Path empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(empty.bounds(), Rect());
    EXPECT_FALSE(empty.contains({0, 0}));
}

TEST(Path, RoundedRectRadiiClampToTheirOwnSide) {
    // A wide rect: rx clamps to half the width (20), ry to half the height
    // (5), so each corner is a flat quarter ellipse 20 wide and 5 high.
    Path wide = Path::roundedRect({0, 0, 40, 10}, 50, 50);
    EXPECT_FALSE(wide.contains({2, 2}));   // outside the flat corner
    EXPECT_TRUE(wide.contains({15, 1}));   // under it
    EXPECT_FALSE(wide.contains({38, 8}));  // the opposite corner
    // The same standing up.
    Path tall = Path::roundedRect({0, 0, 10, 40}, 50, 50);
    EXPECT_FALSE(tall.contains({2, 2}));
    EXPECT_TRUE(tall.contains({1, 15}));
    // Radii that fit are kept as given, each on its own axis.
    Path fits = Path::roundedRect({0, 0, 40, 10}, 3, 50);
    EXPECT_TRUE(fits.contains({0.5, 4}));
    EXPECT_FALSE(fits.contains({0.3, 0.3}));
}

TEST(Path, FillRulesDecideHoles) {
    Path p;
    p.addRect({0, 0, 30, 30});
    p.addRect({10, 10, 10, 10});  // same direction: a hole only under even-odd
    EXPECT_TRUE(p.contains({15, 15}, FillRule::NonZero));
    EXPECT_FALSE(p.contains({15, 15}, FillRule::EvenOdd));
    EXPECT_TRUE(p.contains({5, 5}, FillRule::EvenOdd));
    EXPECT_FALSE(p.contains({35, 5}, FillRule::NonZero));
}

TEST(Path, UnionAndSubtraction) {
    Path a = Path::rect({0, 0, 20, 20});
    Path b = Path::ellipse({10, 10, 20, 20});
    Path u = a.united(b);
    EXPECT_TRUE(u.contains({5, 5}));
    EXPECT_TRUE(u.contains({25, 20}));
    EXPECT_TRUE(u.contains({15, 15}));
    EXPECT_FALSE(u.contains({28, 3}));
    EXPECT_NEAR(u.bounds().maxX(), 30, 0.05);

    Path d = a.subtracted(b);
    EXPECT_TRUE(d.contains({5, 5}));
    EXPECT_FALSE(d.contains({18, 18}));  // cut away by the ellipse
    EXPECT_FALSE(d.contains({25, 20}));  // never in a

    // The curtain: two overlapping holes cut from one outer shape stay holes
    // (winding), unlike appending them under even-odd.
    Path holes = Path::rect({10, 10, 20, 20});
    holes.addRect({20, 20, 20, 20});
    Path curtain = Path::rect({0, 0, 50, 50}).subtracted(holes);
    EXPECT_FALSE(curtain.contains({25, 25}));
    EXPECT_FALSE(curtain.contains({15, 15}));
    EXPECT_TRUE(curtain.contains({5, 45}));
    Path appended = Path::rect({0, 0, 50, 50});
    appended.addPath(holes);
    EXPECT_TRUE(appended.contains({25, 25}, FillRule::EvenOdd));
}

TEST(Path, StrokedOutlineCoversTheLineWidth) {
    Path line;
    line.moveTo({0, 0});
    line.lineTo({100, 0});
    Path s = line.stroked(10, kit::LineCap::Butt);
    EXPECT_TRUE(s.contains({50, 4.5}));
    EXPECT_FALSE(s.contains({50, 5.5}));
    EXPECT_FALSE(s.contains({-2, 0}));  // butt cap ends at the end point
    EXPECT_TRUE(line.stroked(10, kit::LineCap::Square).contains({-2, 0}));
    EXPECT_TRUE(line.stroked(0).isEmpty());
}

TEST(Path, BuildingRulesAndTransforms) {
    Path p;
    p.lineTo({5, 5});  // no current point: starts a subpath there
    ASSERT_EQ(p.elements().size(), 1u);
    EXPECT_EQ(p.elements()[0].type, Path::ElementType::MoveTo);
    p.lineTo({10, 5});
    p.closeSubpath();
    p.closeSubpath();  // a second close adds nothing
    EXPECT_EQ(p.elements().size(), 3u);
    EXPECT_EQ(p.currentPoint(), (Point{5, 5}));

    Path q;
    q.moveTo({0, 0});
    q.quadTo({10, 20}, {20, 0});
    EXPECT_NEAR(q.bounds().maxY(), 10, 1e-6);  // the curve's peak, not the control point

    Path moved = q.transformed(kit::AffineTransform::translation(5, -1));
    EXPECT_NEAR(moved.bounds().minX(), 5, 1e-9);
    Path both = p;
    both.addPath(q, kit::AffineTransform::scale(2, 2));
    EXPECT_NEAR(both.bounds().maxX(), 40, 1e-9);
}
