#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <thread>

#include "kit/base/qt/QtImage.h"
#include "kit/draw/GradientLayer.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "kit/draw/TextMeasure.h"
#include "kit/draw/qt/LayerPainter.h"

using namespace kit;

namespace {

const Color red{1, 0, 0, 1}, green{0, 1, 0, 1}, blue{0, 0, 1, 1};

// The pixel under layer point (x, y), y up from the bottom of the image.
PixelBGRA at(const Image& img, double x, double y) {
    return img.pixel(int(std::floor(x * img.scale())), img.height() - 1 - int(std::floor(y * img.scale())));
}

bool is(PixelBGRA p, int r, int g, int b, int a = 255, int tol = 3) {
    return std::abs(p.r - r) <= tol && std::abs(p.g - g) <= tol && std::abs(p.b - b) <= tol &&
           std::abs(p.a - a) <= tol;
}

::testing::AssertionResult px(const Image& img, double x, double y, int r, int g, int b, int a = 255,
                              int tol = 3) {
    PixelBGRA p = at(img, x, y);
    if (is(p, r, g, b, a, tol)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "at (" << x << ", " << y << ") rgba " << int(p.r) << "," << int(p.g) << "," << int(p.b) << ","
           << int(p.a) << " wanted " << r << "," << g << "," << b << "," << a;
}

LayerPtr box(Rect frame, Color c) {
    auto l = Layer::make();
    l->setFrame(frame);
    l->setBackgroundColor(c);
    return l;
}

// A stroked horizontal line from (x0, y) to (x1, y), no fill.
std::shared_ptr<ShapeLayer> line(double x0, double x1, double y, Color c, double width) {
    auto sh = ShapeLayer::make();
    Path p;
    p.moveTo({x0, y});
    p.lineTo({x1, y});
    sh->setPath(p);
    sh->setFillColor(std::nullopt);
    sh->setStrokeColor(c);
    sh->setLineWidth(width);
    return sh;
}

// How many pixels of two pictures of one size differ by more than `levels`
// in some channel.
int pixelsApart(const Image& a, const Image& b, int levels) {
    int differ = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            PixelBGRA u = a.pixel(x, y), v = b.pixel(x, y);
            differ += std::abs(u.r - v.r) > levels || std::abs(u.g - v.g) > levels ||
                      std::abs(u.b - v.b) > levels || std::abs(u.a - v.a) > levels;
        }
    return differ;
}

LayerPtr root(double w, double h) {
    auto l = Layer::make();
    l->setBounds({0, 0, w, h});
    return l;
}

}  // namespace

class Render : public ::testing::TestWithParam<double> {
protected:
    double s = GetParam();
};

TEST_P(Render, ImageSizeScaleAndYUp) {
    auto r = root(40, 30);
    r->addSublayer(box({0, 0, 10, 10}, red));  // bottom-left in y-up
    Image img = renderToImage(*r, s);
    ASSERT_EQ(img.width(), int(40 * s));
    ASSERT_EQ(img.height(), int(30 * s));
    EXPECT_EQ(img.scale(), s);
    // Bottom rows of the buffer hold the sublayer; top rows stay clear.
    EXPECT_EQ(img.pixel(0, img.height() - 1), (PixelBGRA{0, 0, 255, 255}));
    EXPECT_EQ(img.pixel(0, 0).a, 0);
    EXPECT_TRUE(px(img, 9.5, 9.5, 255, 0, 0));
    EXPECT_TRUE(px(img, 10.5, 5, 0, 0, 0, 0));

    // Only an area, and an empty area gives nothing.
    Image part = renderToImage(*r, Rect{5, 5, 10, 10}, s);
    ASSERT_EQ(part.width(), int(10 * s));
    EXPECT_TRUE(px(part, 1, 1, 255, 0, 0));
    EXPECT_TRUE(px(part, 6, 6, 0, 0, 0, 0));
    EXPECT_TRUE(renderToImage(*r, Rect{0, 0, 0, 5}, s).isNull());
}

TEST_P(Render, BorderInsideBoundsAboveSublayers) {
    auto l = box({0, 0, 20, 20}, red);
    l->setBorderWidth(3);
    l->setBorderColor(blue);
    l->addSublayer(box({0, 0, 20, 20}, green));  // covers everything
    Image img = renderToImage(*l, s);
    EXPECT_EQ(img.width(), int(20 * s));  // nothing drawn outside the bounds
    EXPECT_TRUE(px(img, 0.5, 0.5, 0, 0, 255));
    EXPECT_TRUE(px(img, 19.5, 10, 0, 0, 255));
    EXPECT_TRUE(px(img, 2.5, 10, 0, 0, 255));
    EXPECT_TRUE(px(img, 3.5, 10, 0, 255, 0));  // sublayer under the border, over the background
    EXPECT_TRUE(px(img, 10, 10, 0, 255, 0));
}

TEST_P(Render, RoundedCornersAreTransparent) {
    auto r = root(20, 20);
    auto l = box({0, 0, 20, 20}, red);
    l->setCornerRadius(8);
    r->addSublayer(l);
    Image img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 0.3, 0.3, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 19.7, 19.7, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 10, 10, 255, 0, 0));
    EXPECT_TRUE(px(img, 10, 0.5, 255, 0, 0));

    // Sublayers spill over the corners unless masksToBounds; then they are cut round.
    l->addSublayer(box({0, 0, 20, 20}, green));
    EXPECT_TRUE(px(renderToImage(*r, s), 0.3, 0.3, 0, 255, 0));
    l->setMasksToBounds(true);
    img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 0.3, 0.3, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 10, 10, 0, 255, 0));
}

TEST_P(Render, MasksToBoundsClipsSublayersButNotOwnPathStroke) {
    auto r = root(40, 40);
    auto l = box({10, 10, 10, 10}, red);
    l->addSublayer(box({5, 5, 20, 20}, green));  // reaches beyond its parent
    r->addSublayer(l);
    EXPECT_TRUE(px(renderToImage(*r, s), 33, 33, 0, 255, 0));
    l->setMasksToBounds(true);
    Image img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 33, 33, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 19, 19, 0, 255, 0));

    // A shape layer's path is drawn unclipped beyond a 1×1 frame.
    auto stroke = line(2, 38, 38, blue, 2);
    stroke->setFrame({0, 0, 1, 1});
    r->addSublayer(stroke);
    EXPECT_TRUE(px(renderToImage(*r, s), 30, 38, 0, 0, 255));
}

TEST_P(Render, DashGapsAndZeroWidth) {
    auto r = root(40, 10);
    auto sh = line(0, 40, 5, blue, 2);
    sh->setFrame({0, 0, 40, 10});
    sh->setLineDashPattern({5, 5});  // absolute lengths, not multiples of the width
    r->addSublayer(sh);
    Image img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 2.5, 5, 0, 0, 255));
    EXPECT_TRUE(px(img, 7.5, 5, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 12.5, 5, 0, 0, 255));
    EXPECT_TRUE(px(img, 17.5, 5, 0, 0, 0, 0));
    sh->setLineDashPhase(5);
    EXPECT_TRUE(px(renderToImage(*r, s), 2.5, 5, 0, 0, 0, 0));

    // Zero-length entries: [0, 4, 4, 0] is the complement of [4, 4] (the marquee's white half).
    sh->setLineDashPhase(0);
    sh->setLineDashPattern({0, 4, 4, 0});
    img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 2, 5, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 6, 5, 0, 0, 255));
    EXPECT_TRUE(px(img, 10, 5, 0, 0, 0, 0));

    sh->setLineWidth(0);  // no stroke, not a hairline
    img = renderToImage(*r, s);
    for (double x : {2.5, 12.5, 22.5}) EXPECT_TRUE(px(img, x, 5, 0, 0, 0, 0));
}

TEST_P(Render, StrokeStartAndEnd) {
    auto sh = line(0, 40, 5, red, 4);
    sh->setBounds({0, 0, 40, 10});
    sh->setStrokeStart(0.25);
    sh->setStrokeEnd(0.5);
    Image img = renderToImage(*sh, s);
    EXPECT_TRUE(px(img, 5, 5, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 15, 5, 255, 0, 0));
    EXPECT_TRUE(px(img, 25, 5, 0, 0, 0, 0));
}

TEST_P(Render, EvenOddHole) {
    auto sh = ShapeLayer::make();
    sh->setBounds({0, 0, 30, 30});
    Path p;
    p.addRect({0, 0, 30, 30});
    p.addRect({10, 10, 10, 10});
    sh->setPath(p);
    sh->setFillColor(red);
    sh->setFillRule(FillRule::EvenOdd);
    Image img = renderToImage(*sh, s);
    EXPECT_TRUE(px(img, 15, 15, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 5, 5, 255, 0, 0));
    sh->setFillRule(FillRule::NonZero);
    EXPECT_TRUE(px(renderToImage(*sh, s), 15, 15, 255, 0, 0));
}

TEST_P(Render, AChangedPathIsDrawnAnew) {
    auto sh = ShapeLayer::make();
    sh->setBounds({0, 0, 40, 20});
    Path left, right;
    left.addRect({0, 0, 10, 20});
    right.addRect({30, 0, 10, 20});
    sh->setPath(left);
    sh->setFillColor(red);
    Image img = renderToImage(*sh, s);
    EXPECT_TRUE(px(img, 5, 10, 255, 0, 0));
    EXPECT_TRUE(px(renderToImage(*sh, s), 5, 10, 255, 0, 0));  // drawn again unchanged
    sh->setPath(right);
    img = renderToImage(*sh, s);
    EXPECT_TRUE(px(img, 5, 10, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 35, 10, 255, 0, 0));
}

TEST_P(Render, ShadowFallsBelowInYUp) {
    auto r = root(40, 40);
    auto l = box({10, 15, 20, 20}, blue);
    l->setShadowOpacity(1);
    l->setShadowColor(red);
    l->setShadowRadius(0);
    l->setShadowOffset({0, -3});
    r->addSublayer(l);
    Image img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 20, 13.5, 255, 0, 0));  // below the shape: shadow
    EXPECT_TRUE(px(img, 20, 16, 0, 0, 255));    // the shape covers its own shadow
    EXPECT_TRUE(px(img, 20, 36, 0, 0, 0, 0));   // nothing above
    EXPECT_TRUE(px(img, 20, 11.5, 0, 0, 0, 0));

    // A blurred shadow fades out gradually beyond the edge.
    l->setShadowRadius(4);
    img = renderToImage(*r, s);
    int a1 = at(img, 20, 12.5).a, a2 = at(img, 20, 10).a, a3 = at(img, 20, 7).a;
    EXPECT_GT(a1, a2);
    EXPECT_GT(a2, a3);
    EXPECT_GT(a2, 0);
    EXPECT_LT(a1, 255);
}

TEST_P(Render, GroupOpacityVersusLayerOpacity) {
    auto r = root(30, 10);
    auto group = Layer::make();
    group->setFrame({0, 0, 30, 10});
    group->addSublayer(box({0, 0, 20, 10}, red));
    group->addSublayer(box({10, 0, 20, 10}, blue));
    r->addSublayer(group);
    group->setOpacity(0.5);
    Image img = renderToImage(*r, s);
    // The overlap shows only the top child, at half alpha: the group was composited first.
    EXPECT_TRUE(px(img, 15, 5, 0, 0, 128, 128, 2));
    EXPECT_TRUE(px(img, 5, 5, 128, 0, 0, 128, 2));

    // Per-layer opacity lets the lower child show through the upper one.
    group->setOpacity(1);
    for (auto& c : group->sublayers()) c->setOpacity(0.5);
    img = renderToImage(*r, s);
    PixelBGRA o = at(img, 15, 5);
    EXPECT_NEAR(o.a, 191, 2);
    EXPECT_NEAR(o.r, 64, 2);
    EXPECT_NEAR(o.b, 128, 2);
}

TEST_P(Render, MultiplyAndScreenOverWhiteAndBlack) {
    for (Color ground : {Color::white(1), Color::black()}) {
        auto r = box({0, 0, 20, 10}, ground);
        auto mul = box({0, 0, 10, 10}, Color::rgb(255, 128, 0));
        mul->setCompositingFilter(CompositingFilter::Multiply);
        auto scr = box({10, 0, 10, 10}, Color::rgb(255, 128, 0));
        scr->setCompositingFilter(CompositingFilter::Screen);
        r->addSublayer(mul);
        r->addSublayer(scr);
        Image img = renderToImage(*r, s);
        if (ground.r == 1) {
            EXPECT_TRUE(px(img, 5, 5, 255, 128, 0));     // multiply over white: the colour
            EXPECT_TRUE(px(img, 15, 5, 255, 255, 255));  // screen over white: white
        } else {
            EXPECT_TRUE(px(img, 5, 5, 0, 0, 0));       // multiply over black: black
            EXPECT_TRUE(px(img, 15, 5, 255, 128, 0));  // screen over black: the colour
        }
    }
}

TEST_P(Render, MaskLayerCutsTheSubtree) {
    auto l = box({0, 0, 20, 20}, red);
    l->addSublayer(box({0, 0, 20, 10}, green));
    auto m = Layer::make();
    m->setFrame({0, 0, 10, 20});  // left half
    m->setBackgroundColor(Color::white(1, 0.5));
    l->setMask(m);
    Image img = renderToImage(*l, s);
    EXPECT_TRUE(px(img, 5, 15, 128, 0, 0, 128, 2));  // half the mask's alpha (premultiplied)
    EXPECT_TRUE(px(img, 5, 5, 0, 128, 0, 128, 2));
    EXPECT_TRUE(px(img, 15, 15, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 15, 5, 0, 0, 0, 0));
}

TEST_P(Render, ContentsUprightWithGravity) {
    Image pic(4, 4);
    pic.fill(blue);
    for (int x = 0; x < 4; ++x)  // the top two rows red
        for (int y = 0; y < 2; ++y) pic.setPixel(x, y, {0, 0, 255, 255});
    auto l = Layer::make();
    l->setBounds({0, 0, 20, 20});
    l->setContents(pic);
    l->setMagnificationFilter(ScalingFilter::Nearest);
    Image img = renderToImage(*l, s);
    EXPECT_TRUE(px(img, 10, 19, 255, 0, 0));  // the image's top rows land at the top
    EXPECT_TRUE(px(img, 10, 1, 0, 0, 255));

    l->setContentsGravity(ContentsGravity::TopLeft);
    img = renderToImage(*l, s);
    EXPECT_TRUE(px(img, 1, 19.5, 255, 0, 0));
    EXPECT_TRUE(px(img, 1, 16.5, 0, 0, 255));
    EXPECT_TRUE(px(img, 5, 19, 0, 0, 0, 0));
    EXPECT_TRUE(px(img, 1, 15, 0, 0, 0, 0));

    l->setContentsGravity(ContentsGravity::BottomRight);
    l->setContentsScale(2);  // 4 pixels at 2 per unit: 2 units wide
    l->setMinificationFilter(ScalingFilter::Nearest);
    img = renderToImage(*l, s);
    EXPECT_TRUE(px(img, 19, 1.5, 255, 0, 0));
    EXPECT_TRUE(px(img, 19, 0.5, 0, 0, 255));
    EXPECT_TRUE(px(img, 17.5, 1, 0, 0, 0, 0));

    l->setContentsGravity(ContentsGravity::ResizeAspect);
    l->setBounds({0, 0, 40, 20});
    img = renderToImage(*l, s);
    EXPECT_TRUE(px(img, 5, 10, 0, 0, 0, 0));  // letterboxed left and right
    EXPECT_TRUE(px(img, 20, 5, 0, 0, 255));
    EXPECT_TRUE(px(img, 20, 15, 255, 0, 0));
    EXPECT_TRUE(px(img, 35, 10, 0, 0, 0, 0));
}

TEST_P(Render, ZPositionOrderKeepsTiesStable) {
    auto r = root(10, 10);
    auto a = box({0, 0, 10, 10}, red), b = box({0, 0, 10, 10}, green), c = box({0, 0, 10, 10}, blue);
    c->setZPosition(-1);
    r->addSublayer(a);
    r->addSublayer(b);
    r->addSublayer(c);
    EXPECT_TRUE(px(renderToImage(*r, s), 5, 5, 0, 255, 0));  // tie: later one on top; c below both
    b->setZPosition(-1);
    EXPECT_TRUE(px(renderToImage(*r, s), 5, 5, 255, 0, 0));
    a->setZPosition(-1);  // all tied again: insertion order
    EXPECT_TRUE(px(renderToImage(*r, s), 5, 5, 0, 0, 255));
    auto order = r->sortedSublayers();
    EXPECT_EQ(order[0], a.get());
    EXPECT_EQ(order[2], c.get());
}

TEST_P(Render, GradientEnds) {
    auto g = GradientLayer::make();
    g->setBounds({0, 0, 10, 100});
    g->setColors({red, blue});
    Image img = renderToImage(*g, s);
    EXPECT_TRUE(px(img, 5, 0.3, 255, 0, 0, 255, 8));  // default: bottom (0) → top (1)
    EXPECT_TRUE(px(img, 5, 99.7, 0, 0, 255, 255, 8));
    EXPECT_TRUE(px(img, 5, 50, 128, 0, 127, 255, 8));

    g->setLocations({0.5, 1.0});
    EXPECT_TRUE(px(renderToImage(*g, s), 5, 25, 255, 0, 0, 255, 4));

    g->setType(GradientType::Radial);
    g->setLocations({});
    g->setBounds({0, 0, 100, 100});
    g->setStartPoint({0.5, 0.5});
    g->setEndPoint({1, 1});
    img = renderToImage(*g, s);
    EXPECT_TRUE(px(img, 50, 50, 255, 0, 0, 255, 12));
    EXPECT_TRUE(px(img, 99.5, 50, 0, 0, 255, 255, 12));
}

TEST_P(Render, TransformsRotateAboutTheAnchor) {
    auto r = root(40, 40);
    auto l = box({10, 15, 20, 10}, red);  // wide bar centred at (20, 20)
    r->addSublayer(l);
    Image flat = renderToImage(*r, s);
    EXPECT_TRUE(px(flat, 12, 20, 255, 0, 0));
    EXPECT_TRUE(px(flat, 20, 28, 0, 0, 0, 0));
    l->setTransform(AffineTransform::rotation(std::numbers::pi / 2));
    Image turned = renderToImage(*r, s);
    EXPECT_TRUE(px(turned, 12, 20, 0, 0, 0, 0));
    EXPECT_TRUE(px(turned, 20, 28, 255, 0, 0));
    EXPECT_NEAR(l->frame().height(), 20, 1e-9);

    // Scale about the anchor; the flipped parent places sublayers y down.
    l->setTransform(AffineTransform::scale(0.5, 0.5));
    EXPECT_TRUE(px(renderToImage(*r, s), 20, 20, 255, 0, 0));
    EXPECT_TRUE(px(renderToImage(*r, s), 12, 20, 0, 0, 0, 0));
    l->setTransform({});
    auto flipped = root(40, 40);
    flipped->setGeometryFlipped(true);
    flipped->addSublayer(box({0, 0, 10, 10}, blue));
    Image f = renderToImage(*flipped, s);
    EXPECT_TRUE(px(f, 5, 35, 0, 0, 255));
    EXPECT_TRUE(px(f, 5, 5, 0, 0, 0, 0));
}

TEST_P(Render, RasterizedSubtreeIsMagnifiedWithItsFilter) {
    auto sh = ShapeLayer::make();
    sh->setBounds({0, 0, 10, 10});
    sh->setPath(Path::ellipse({1, 1, 8, 8}));
    sh->setFillColor(red);
    sh->setShouldRasterize(true);
    sh->setMagnificationFilter(ScalingFilter::Nearest);
    Image img = renderToImage(*sh, 4 * s);
    // Rendered at one pixel per unit and blown up: every 4s×4s block is uniform.
    int block = int(4 * s);
    for (int by = 0; by < 10; ++by)
        for (int bx = 0; bx < 10; ++bx) {
            PixelBGRA first = img.pixel(bx * block, by * block);
            for (int k = 1; k < block; ++k) ASSERT_EQ(img.pixel(bx * block + k, by * block + k), first);
        }
    EXPECT_TRUE(px(img, 5, 5, 255, 0, 0));

    // Changing the layer invalidates the cached bitmap.
    sh->setFillColor(blue);
    EXPECT_TRUE(px(renderToImage(*sh, 4 * s), 5, 5, 0, 0, 255));
    sh->setShouldRasterize(false);
    Image smooth = renderToImage(*sh, 4 * s);
    int mixed = 0;  // drawn as vectors, the edge blocks are not uniform
    for (int by = 0; by < 10; ++by)
        for (int bx = 0; bx < 10; ++bx)
            mixed += smooth.pixel(bx * block, by * block) !=
                     smooth.pixel(bx * block + block - 1, by * block + block - 1);
    EXPECT_GT(mixed, 4);
}

TEST_P(Render, TextDrawsFromTheTopLeft) {
    auto t = TextLayer::make();
    t->setString("Hamburgefonts");
    t->setFont(Font::system(14, FontWeight::Medium));
    t->setForegroundColor(Color::black());
    Size pref = t->preferredFrameSize();
    EXPECT_GT(pref.width, 40);
    EXPECT_GT(pref.height, 10);
    EXPECT_LT(pref.height, 30);
    t->setBounds({0, 0, pref.width + 20, 60});
    Image img = renderToImage(*t, s);
    int top = 0, bottom = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y).a > 128) (y < img.height() / 2 ? top : bottom)++;
    EXPECT_GT(top, 20);
    EXPECT_EQ(bottom, 0);

    t->setAlignmentMode(TextAlignment::Right);
    img = renderToImage(*t, s);
    int left = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < int(15 * s); ++x) left += img.pixel(x, y).a > 0;
    EXPECT_EQ(left, 0);
}

TEST_P(Render, TruncationAndWrapping) {
    auto t = TextLayer::make();
    t->setString("Hamburgefonts Hamburgefonts Hamburgefonts");
    t->setFont(Font::system(12));
    t->setForegroundColor(Color::black());
    t->setBounds({0, 0, 80, 60});
    auto inkRows = [&](const Image& img) {
        int rows = 0;
        for (int y = 0; y < img.height(); ++y) {
            bool ink = false;
            for (int x = 0; x < img.width() && !ink; ++x) ink = img.pixel(x, y).a > 128;
            rows += ink;
        }
        return rows;
    };
    Image clipped = renderToImage(*t, s);
    t->setTruncationMode(TextTruncation::End);
    Image truncated = renderToImage(*t, s);
    EXPECT_FALSE(clipped == truncated);                        // an ellipsis replaces the cut-off tail
    EXPECT_NEAR(inkRows(truncated), inkRows(clipped), 2 * s);  // still one line
    t->setWrapped(true);
    Image wrapped = renderToImage(*t, s);
    EXPECT_GT(inkRows(wrapped), 2 * inkRows(clipped));  // three lines
    EXPECT_GT(t->preferredFrameSize().height, 2.5 * measureText("H", t->font()).height);
}

INSTANTIATE_TEST_SUITE_P(Scales, Render, ::testing::Values(1.0, 2.0));

TEST_P(Render, ShadowPathAndConicGradient) {
    auto r = root(40, 40);
    auto l = Layer::make();  // nothing drawn, yet the shadow path casts a shadow
    l->setFrame({10, 10, 20, 20});
    l->setShadowPath(Path::rect({0, 0, 20, 20}));
    l->setShadowOpacity(1);
    l->setShadowRadius(0);
    l->setShadowOffset({5, 0});
    r->addSublayer(l);
    Image img = renderToImage(*r, s);
    EXPECT_TRUE(px(img, 32, 20, 0, 0, 0, 255));
    EXPECT_TRUE(px(img, 16, 20, 0, 0, 0, 255));
    EXPECT_TRUE(px(img, 12, 20, 0, 0, 0, 0));

    // Conic: angle 0 points at the end point and grows counter-clockwise (y up).
    auto g = GradientLayer::make();
    g->setType(GradientType::Conic);
    g->setBounds({0, 0, 100, 100});
    g->setColors({red, blue});
    g->setStartPoint({0.5, 0.5});
    g->setEndPoint({1, 0.5});
    img = renderToImage(*g, s);
    PixelBGRA early = at(img, 90, 55), late = at(img, 90, 45);  // +3° and −3° about +x
    EXPECT_GT(early.r, 230);
    EXPECT_GT(late.b, 230);
    PixelBGRA quarter = at(img, 50, 95);  // 90°: a quarter of the way
    EXPECT_NEAR(quarter.r, 191, 8);
}

TEST_P(Render, ScreenPaintingMatchesExport) {
    // A view paints its root layer with the same code the export uses: a
    // widget-like target of logical size 60×40 at the device ratio gives the
    // very pixels of renderToImage at that scale.
    auto r = root(60, 40);
    r->setAnchorPoint({0, 0});
    auto a = box({5, 5, 30, 20}, red);
    a->setCornerRadius(5);
    a->setShadowOpacity(0.5);
    a->setOpacity(0.8);
    a->addSublayer(box({10, 10, 30, 20}, green));
    r->addSublayer(a);
    auto t = TextLayer::make();
    t->setString("Kadrix");
    t->setFont(Font::system(11));
    t->setFrame({20, 20, 40, 16});
    t->setForegroundColor(blue);
    r->addSublayer(t);
    Image exported = renderToImage(*r, s);

    QImage screen(int(60 * s), int(40 * s), QImage::Format_ARGB32_Premultiplied);
    screen.setDevicePixelRatio(s);
    screen.fill(Qt::transparent);
    {
        QPainter p(&screen);
        qt::paintLayerTree(p, *r, 40);
    }
    Image shown = qt::toImage(screen, s);
    ASSERT_EQ(shown.width(), exported.width());
    EXPECT_EQ(pixelsApart(shown, exported, 2), 0);
}

TEST_P(Render, BackgroundPatternTilesUpright) {
    // A 16×16-point checker tile at 2 pixels a point, its top-left quarter dark.
    Image tile(32, 32, 2.0);
    tile.fill(Color::white(1));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) tile.setPixel(x, y, {0, 0, 0, 255});
    auto l = Layer::make();
    l->setBounds({0, 0, 40, 40});
    l->setBackgroundColor(red);  // the pattern takes its place
    l->setBackgroundPattern(tile);
    Image img = renderToImage(*l, s);
    EXPECT_TRUE(px(img, 4, 12, 0, 0, 0));  // first tile: dark at its top-left
    EXPECT_TRUE(px(img, 12, 12, 255, 255, 255));
    EXPECT_TRUE(px(img, 4, 4, 255, 255, 255));
    EXPECT_TRUE(px(img, 20, 28, 0, 0, 0));  // repeats every 16 points
    EXPECT_TRUE(px(img, 36, 36, 255, 255, 255));

    // See-through squares show what lies below (opaque tiles are drawn by a faster road).
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) tile.setPixel(x, y, {0, 0, 0, 0});
    auto base = Layer::make();
    base->setBounds({0, 0, 40, 40});
    base->setBackgroundColor(red);
    auto over = Layer::make();
    over->setFrame({0, 0, 40, 40});
    over->setBackgroundPattern(tile);
    base->addSublayer(over);
    img = renderToImage(*base, s);
    EXPECT_TRUE(px(img, 4, 12, 255, 0, 0));
    EXPECT_TRUE(px(img, 20, 28, 255, 0, 0));
    EXPECT_TRUE(px(img, 12, 12, 255, 255, 255));
}

TEST_P(Render, ABackgroundCutoutShowsWhatLiesBelow) {
    auto base = box({0, 0, 40, 40}, blue);
    auto frame = box({0, 0, 40, 40}, red);
    frame->setCornerRadius(4);
    frame->setBackgroundCutout(Rect{10, 10, 20, 20});
    base->addSublayer(frame);
    Image img = renderToImage(*base, s);
    EXPECT_TRUE(px(img, 5, 20, 255, 0, 0));
    EXPECT_TRUE(px(img, 20, 20, 0, 0, 255));  // the cutout
    EXPECT_TRUE(px(img, 10.5, 29.5, 0, 0, 255));
    EXPECT_TRUE(px(img, 0.3, 0.3, 0, 0, 255));  // still rounded
    frame->setBackgroundCutout(std::nullopt);
    EXPECT_TRUE(px(renderToImage(*base, s), 20, 20, 255, 0, 0));
}

TEST_P(Render, ShrunkContentsAverageEveryPixel) {
    // Thin white lines every 8 pixels drawn at an eighth of the size: linear
    // minification averages them in (an eighth of white), where sampling
    // alone would fall between the lines and show black.
    Image lines(64, 64);
    lines.fill(Color::black());
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; x += 8) lines.setPixel(x, y, {255, 255, 255, 255});
    auto l = Layer::make();
    l->setBounds({0, 0, 8 / s, 8 / s});
    l->setContents(lines);
    Image img = renderToImage(*l, s);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_NEAR(img.pixel(x, y).g, 32, 12) << x << "," << y;
    l->setMinificationFilter(ScalingFilter::Nearest);
    img = renderToImage(*l, s);
    EXPECT_TRUE(img.pixel(3, 3).g < 10 || img.pixel(3, 3).g > 245);
}

TEST_P(Render, PartialRepaintMatchesTheFullPicture) {
    // A view repaints only its dirty area; shadows and groups cut at that
    // area's edge must still come out as in the full picture.
    auto r = root(60, 40);
    r->setAnchorPoint({0, 0});
    auto a = box({10, 10, 20, 20}, blue);
    a->setShadowOpacity(1);
    a->setShadowRadius(6);
    a->setShadowOffset({4, -4});
    a->setOpacity(0.7);
    a->addSublayer(box({5, 5, 30, 5}, green));
    r->addSublayer(a);
    auto paint = [&](std::optional<QRect> clip) {
        QImage img(int(60 * s), int(40 * s), QImage::Format_ARGB32_Premultiplied);
        img.setDevicePixelRatio(s);
        img.fill(Qt::transparent);
        QPainter p(&img);
        if (clip) p.setClipRect(*clip);
        qt::paintLayerTree(p, *r, 40);
        p.end();
        return qt::toImage(img, s);
    };
    Image full = paint(std::nullopt);
    QRect dirty(28, 14, 14, 16);  // widget coordinates: right of the box, over its shadow
    Image part = paint(dirty);
    int differ = 0, inked = 0;
    for (int y = int(dirty.top() * s); y < int((dirty.bottom() + 1) * s); ++y)
        for (int x = int(dirty.left() * s); x < int((dirty.right() + 1) * s); ++x) {
            PixelBGRA u = full.pixel(x, y), v = part.pixel(x, y);
            differ += std::abs(u.a - v.a) > 2 || std::abs(u.b - v.b) > 2 || std::abs(u.g - v.g) > 2;
            inked += u.a > 0;
        }
    EXPECT_GT(inked, 20);
    EXPECT_EQ(differ, 0);
}

TEST_P(Render, ExportOnAWorkerThreadMatchesTheMainThread) {
    auto r = root(30, 30);
    auto sh = ShapeLayer::make();
    sh->setFrame({0, 0, 30, 30});
    sh->setPath(Path::ellipse({5, 5, 20, 20}));
    sh->setFillColor(red);
    sh->setShouldRasterize(true);
    sh->setShadowOpacity(0.5);
    r->addSublayer(sh);
    auto t = TextLayer::make();
    t->setString("x");
    t->setFrame({0, 0, 30, 15});
    r->addSublayer(t);
    Image onMain = renderToImage(*r, s);
    Image onWorker;
    std::thread([&] { onWorker = renderToImage(*r, s); }).join();
    // The glyphs' edges may differ by a few levels: the main thread's font
    // cache keeps what the text drawn on it before chose, a new thread's
    // starts empty. Anything more is a different picture.
    ASSERT_EQ(onMain.width(), onWorker.width());
    ASSERT_EQ(onMain.height(), onWorker.height());
    EXPECT_EQ(pixelsApart(onMain, onWorker, 16), 0);
}
