// The pen and the highlighter: sampling, the finished outline, shape
// snapping, resizing, keys, values, the samples store and the blend choice.
#include <cmath>

#include "Doubles.h"
#include "kit/base/Timer.h"
#include "objects/ObjFreehand.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace objects {

namespace {

class FreehandTest : public ObjectsTest {
public:
    // Draws a stroke through the points (image = canvas at zoom 1).
    template <class T>
    std::shared_ptr<T> stroke(const std::vector<kit::Point>& pts, uint32_t flags = 0) {
        auto f = handlers.add<T>();
        auto e = mouse(flags);
        f->mouseDown(&e, pts.front());
        for (size_t i = 1; i < pts.size(); ++i) f->mouseDrag(&e, pts[i]);
        f->mouseUp(&e, pts.back());
        return f;
    }
    static std::vector<kit::Point> circlePts(double cx, double cy, double r, int n) {
        std::vector<kit::Point> out;
        for (int i = 0; i <= n; ++i)
            out.push_back({cx + r * std::cos(2 * M_PI * i / n), cy + r * std::sin(2 * M_PI * i / n)});
        return out;
    }
    static bool finite(const std::vector<Point>& p) {
        for (const auto& q : p)
            if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
        return true;
    }
};

TEST_F(FreehandTest, AClickLeavesADotEvenOnAWholeNumberRow) {
    auto f = stroke<ObjFreehand>({{40, 30}});
    ASSERT_EQ(f->rawPoints.size(), 2u);
    EXPECT_EQ(f->rawPoints[1].x, 41);
    EXPECT_EQ(f->rawRect, (services::Rect{40, 30, 1, 0}));
    EXPECT_GT(f->shape.size(), 2u);
    EXPECT_TRUE(finite(f->shape));
    EXPECT_FALSE(f->dump().empty());
    EXPECT_EQ(f->state, "selected");
    f->draw();
    EXPECT_FALSE(f->layer->isHidden());
    auto b = f->shapeLayer->path().bounds();
    EXPECT_GT(b.width(), 1);
    EXPECT_GT(b.height(), 1);
}

TEST_F(FreehandTest, StrokeBoundsAtNegativeCoordinates) {
    EXPECT_EQ(ObjFreehand::strokeBounds({Point::at(-30.5, -20.2), Point::at(-10.2, -5.5)}),
              (services::Rect{-31, -21, 21, 16}));
    EXPECT_EQ(ObjFreehand::strokeBounds({}), (services::Rect{0, 0, 0, 0}));
}

TEST_F(FreehandTest, ShiftLocksTheDirectionFromTheLastSample) {
    auto f = handlers.add<ObjFreehand>();
    auto plain = mouse(), shift = mouse(kit::ModifierFlag::Shift);
    f->mouseDown(&plain, {10, 10});
    f->mouseDrag(&shift, {20, 12});
    f->mouseDrag(&shift, {30, 40});
    EXPECT_EQ(f->rawPoints[2].y, 10);  // horizontal: y held
    f->mouseDrag(&plain, {31, 41});
    EXPECT_EQ(f->lockDirection, 0);
    f->mouseDrag(&shift, {32, 60});
    EXPECT_EQ(f->rawPoints.back().x, 31);  // chosen anew: vertical
}

TEST_F(FreehandTest, CornerResizeKeepsTheAspectAndEdgesDoNot) {
    auto f = stroke<ObjFreehand>({{0, 0}, {50, 20}, {100, 50}});
    ASSERT_EQ(f->rect, (services::Rect{0, 0, 100, 50}));
    f->state = "tr-resize";
    auto e = mouse();
    f->mouseDown(&e, {100, 50});
    f->mouseDrag(&e, {110, 50});
    EXPECT_EQ(f->rect, (services::Rect{0, 0, 110, 55}));
    EXPECT_TRUE(finite(f->shape));
    f->state = "l-resize";
    f->mouseDown(&e, {0, 25});
    f->mouseDrag(&e, {10, 40});
    EXPECT_EQ(f->rect, (services::Rect{10, 0, 100, 55}));
    // Past the opposite edge the drag continues as the mirrored corner.
    f->rect = {0, 0, -100, 50};
    f->state = "r-resize";
    f->mouseDown(&e, {0, 0});
    f->mouseDrag(&e, {10, 0});
    EXPECT_EQ(f->rect, (services::Rect{10, 0, -110, 50}));
}

TEST_F(FreehandTest, ACircleSnapsAfterAFifthOfASecond) {
    kit::ManualClockScope clock;
    auto f = stroke<ObjFreehand>(circlePts(200, 200, 80, 60));
    EXPECT_EQ(f->getValue("correction"), "x");
    clock.advance(0.19);
    EXPECT_EQ(f->shapeCorrection, "");
    clock.advance(0.02);
    EXPECT_EQ(f->getValue("correction"), "c");
    EXPECT_EQ(handlers.undoLabels.size(), 1u);
    auto open = stroke<ObjFreehand>({{0, 0},
                                     {30, 5},
                                     {60, 0},
                                     {90, 5},
                                     {120, 0},
                                     {150, 5},
                                     {180, 0},
                                     {210, 5},
                                     {240, 0},
                                     {270, 5},
                                     {300, 0}});
    clock.advance(0.3);
    EXPECT_EQ(open->getValue("correction"), "x");
}

TEST_F(FreehandTest, TheRecognitionTimerNeverFiresIntoARemovedStroke) {
    kit::ManualClockScope clock;
    auto f = stroke<ObjFreehand>(circlePts(200, 200, 80, 60));
    f->remove();
    handlers.objects.clear();
    clock.advance(1);
    EXPECT_EQ(f->shapeCorrection, "");
    EXPECT_TRUE(handlers.undoLabels.empty());
    // Dropped from the editor but still referenced elsewhere: left alone too.
    auto g = stroke<ObjFreehand>(circlePts(200, 200, 80, 60));
    handlers.objects.clear();
    clock.advance(1);
    EXPECT_EQ(g->shapeCorrection, "");
}

TEST_F(FreehandTest, CorrectionValues) {
    auto f = stroke<ObjFreehand>({{0, 0}, {40, 40}, {80, 10}});
    f->setValue("correction", "s");
    f->setValue("correction", "s");
    EXPECT_EQ(f->shapeCorrection, "ss");
    f->setValue("correction", "c");
    EXPECT_EQ(f->shapeCorrection, "c");
    f->setValue("correction", "x");
    EXPECT_EQ(f->getValue("correction"), "x");
    EXPECT_EQ(f->getValue("fill"), std::nullopt);
    // A flat stroke forced to an ellipse or a rectangle stays finite.
    auto flat = stroke<ObjFreehand>({{0, 10},
                                     {20, 10},
                                     {40, 10},
                                     {60, 10},
                                     {80, 10},
                                     {100, 10},
                                     {120, 10},
                                     {140, 10},
                                     {160, 10},
                                     {180, 10},
                                     {200, 10}});
    for (const char* c : {"c", "s", "cc"}) {
        flat->setValue("correction", c);
        EXPECT_TRUE(finite(flat->shape)) << c;
        EXPECT_FALSE(flat->dump().empty()) << c;
    }
}

TEST_F(FreehandTest, DoubleClickCyclesVariabilityAndCommandClickDoesToo) {
    auto f = stroke<ObjFreehand>({{0, 0}, {40, 40}, {80, 10}});
    std::vector<double> seen;
    for (int i = 0; i < 5; ++i) {
        f->dblClick(nullptr, {0, 0});
        seen.push_back(f->variability);
    }
    EXPECT_NEAR(seen[0], 0.5, 1e-12);
    EXPECT_NEAR(seen[2], 0.05, 1e-12);
    EXPECT_NEAR(seen[3], 0.3, 1e-12);
    auto cmd = mouse(kit::ModifierFlag::Command);
    f->state = "move";
    f->mouseUp(&cmd, {0, 0});
    EXPECT_EQ(f->state, "selected");
    EXPECT_NEAR(f->variability, 0.8, 1e-12);
}

TEST_F(FreehandTest, KeysSmoothingResizeAndMove) {
    setView(2, 1);
    auto f = stroke<ObjFreehand>({{0, 0}, {40, 40}, {80, 10}});
    f->smoothing = 0.8;
    KeyEvt up = key(kit::KeyCode::UpArrow);
    up.modifiers.option = true;
    f->keyDown(nullptr, up);
    EXPECT_EQ(f->smoothing, 0.9);
    f->smoothing = 0.1;
    KeyEvt down = key(kit::KeyCode::DownArrow);
    down.modifiers.option = true;
    f->keyDown(nullptr, down);
    EXPECT_EQ(f->smoothing, 0);
    services::Rect r = f->rect;
    f->keyDown(nullptr, key(kit::KeyCode::RightArrow));
    EXPECT_EQ(f->rect.x1, r.x1 + 2);
    f->keyDown(nullptr, key(kit::KeyCode::RightArrow, true));
    EXPECT_EQ(f->rect.x1, r.x1 + 22);
    f->keyDown(nullptr, key(kit::KeyCode::RightArrow, false, true));
    EXPECT_EQ(f->rect.width, r.width + 2);
    f->keyDown(nullptr, key(kit::KeyCode::Escape));
    EXPECT_EQ(handlers.deactivations, 1);
}

TEST_F(FreehandTest, SamplesTravelThroughTheStore) {
    auto f = stroke<ObjFreehand>({{0, 0}, {40, 40}, {80, 10}});
    f->setValue("correction", "h");
    std::string d = f->dump();
    EXPECT_TRUE(strokePointsStore().count(f->pointsHash));
    EXPECT_EQ(f->pointsHash.size(), 25u);
    auto j = kit::json::parse(d);
    ASSERT_TRUE(j);
    EXPECT_EQ(j->size(), 9u);
    auto g = handlers.add<ObjFreehand>();
    ASSERT_TRUE(g->restore(d));
    EXPECT_EQ(g->rawPoints.size(), f->rawPoints.size());
    EXPECT_EQ(g->shape.size(), f->shape.size());
    EXPECT_EQ(g->dump(), d);
    strokePointsStore().clear();
    auto h = handlers.add<ObjFreehand>();
    ASSERT_TRUE(h->restore(d));
    EXPECT_TRUE(h->rawPoints.empty());
    EXPECT_EQ(h->rect, f->rect);
    EXPECT_FALSE(h->dump().empty());
    EXPECT_FALSE(h->restore(R"({"color":"#FF0000"})"));
}

TEST_F(FreehandTest, KnobsHideWhileAToolIsArmed) {
    auto f = stroke<ObjFreehand>({{0, 0}, {40, 40}, {80, 10}});
    f->draw();
    EXPECT_FALSE(f->lcontrol->isHidden());
    handlers.createOnClick = "ObjArrow";
    f->draw();
    EXPECT_TRUE(f->lcontrol->isHidden());
    EXPECT_EQ(f->cursor({500, 500}), "default");
    EXPECT_EQ(handlers.add<ObjFreehand>()->cursor({0, 0}), "pen");
}

TEST_F(FreehandTest, HitTestFollowsTheStrokeAfterAMove) {
    auto f = stroke<ObjFreehand>({{0, 0}, {50, 0}, {100, 0}, {150, 0}});
    f->state = "unselected";
    EXPECT_EQ(f->action({75, 0}), "move");
    EXPECT_EQ(f->action({75, 40}), "default");
    f->rect.y1 += 40;
    EXPECT_EQ(f->action({75, 40}), "move");
}

// ---- Highlighter ------------------------------------------------------------

class HighlighterTest : public FreehandTest {
public:
    void ground(double grey, int w = 400, int h = 300, kit::Rect crop = {}) {
        kit::Image img(w, h, 1);
        img.fill(kit::Color{grey, grey, grey, 1});
        app.current = imaging::Capture::of(img);
        if (!crop.isEmpty()) app.current.crop = crop;
    }
};

TEST_F(HighlighterTest, BlendFollowsTheGroundUnderTheStroke) {
    ground(1.0);
    // Along one pixel row, as a Shift-locked stroke runs: still measured.
    auto h = stroke<ObjHighlighter>({{50, 100}, {150, 100}, {250, 100}});
    ground(0.0);
    h->recolor();
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    ground(1.0);
    h->recolor();
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Multiply);
    EXPECT_EQ(h->shapeLayer->opacity(), 1.0);
    EXPECT_EQ(h->color, h->baseColor);
    ground(0.0);
    h->recolor();
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    EXPECT_EQ(h->shapeLayer->opacity(), 0.33);
    EXPECT_NEAR(h->color.g, 105.0 / 114, 1e-9);  // the pure hue of #FFF68D
    EXPECT_EQ(h->color.b, 0);
    ground(0.5);
    h->recolor();
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::None);
    EXPECT_EQ(h->shapeLayer->opacity(), 0.25);
    EXPECT_EQ(h->getValue("color"), "#FFF68D");
}

TEST_F(HighlighterTest, ACroppedCaptureIsSampledUnderTheStroke) {
    // The capture is black but for a white band; the crop starts inside it,
    // so the stroke at crop y 20 lies on white.
    kit::Image img(400, 300, 1);
    img.fill(kit::Color::black());
    for (int row = 0; row < 100; ++row)
        for (int x = 0; x < 400; ++x) img.setPixel(x, row, {255, 255, 255, 255});
    app.current = imaging::Capture::of(img);
    app.current.crop = {0, 50, 400, 100};  // rows 50...149 from the top
    auto h = stroke<ObjHighlighter>({{50, 80}, {150, 80}, {250, 80}});
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Multiply);
    h->rect.y1 -= 60;  // moved down onto the black part of the crop
    h->recolor();
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
}

TEST_F(HighlighterTest, OutsideTheImageItReportsAndKeepsItsBlend) {
    ground(0.0, 100, 100);
    auto h = stroke<ObjHighlighter>({{20, 50}, {60, 50}, {80, 50}});
    ASSERT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    h->rect.x1 += 1000;
    h->recolor();
    EXPECT_EQ(h->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    auto oops = events("oops");
    ASSERT_FALSE(oops.empty());
    EXPECT_EQ(oops.back()["message"], "No lum data points");
}

TEST_F(HighlighterTest, OptionsColourCapStyleAndPreview) {
    auto h = stroke<ObjHighlighter>({{20, 50}, {60, 50}, {80, 50}});
    EXPECT_EQ(h->capStyle, 3);
    EXPECT_EQ(h->shapeCorrection, "h");
    h->dblClick(nullptr, {0, 0});
    EXPECT_EQ(h->capStyle, 0);
    EXPECT_EQ(stored("Kadrix.ObjHighlighter: capStyle"), "0");
    h->setValue("color", "#D8FF55");
    EXPECT_EQ(stored("Kadrix.ObjHighlighter: color"), "#D8FF55");
    auto next = handlers.add<ObjHighlighter>();
    EXPECT_EQ(next->capStyle, 0);
    EXPECT_EQ(next->getValue("color"), "#D8FF55");
    ASSERT_TRUE(next->preferredPalette.has_value());
    EXPECT_EQ(next->preferredPalette->size(), 8u);
    auto j = kit::json::parse(h->dump());
    ASSERT_TRUE(j);
    EXPECT_EQ((*j)["color"], "#D8FF55");
    setView(1, 2);
    auto preview = kit::ShapeLayer::make(), rim = kit::ShapeLayer::make();
    ObjHighlighter::brushPreview(*preview, rim.get(), 100, 100, handlers.zoom());
    EXPECT_NEAR(preview->path().bounds().height(), 40, 1e-6);  // 20 × zoom
    EXPECT_NEAR(rim->path().bounds().width(), 22, 1e-6);
    store("Kadrix.ObjHighlighter: size", "9");  // past the eight widths
    ObjHighlighter::brushPreview(*preview, nullptr, 100, 100, handlers.zoom());
    EXPECT_NEAR(preview->path().bounds().height(), 308, 1e-6);
}

TEST_F(HighlighterTest, DumpRestoreRoundTripKeepsTheChosenColour) {
    ground(0.0);
    auto h = stroke<ObjHighlighter>({{20, 50}, {60, 52}, {120, 50}});
    ASSERT_NE(h->color, h->baseColor);  // drawn in the pure hue over black
    std::string d = h->dump();
    auto g = handlers.add<ObjHighlighter>();
    ASSERT_TRUE(g->restore(d));
    EXPECT_EQ(g->getValue("color"), "#FFF68D");
    EXPECT_EQ(g->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    EXPECT_EQ(g->rawPoints.size(), h->rawPoints.size());
    EXPECT_EQ(g->dump(), d);
}

TEST_F(HighlighterTest, SizesPastTheEightWidthsStayInTheTable) {
    store("Kadrix.ObjHighlighter: size", "7");
    auto h = stroke<ObjHighlighter>({{20, 50}, {60, 50}, {80, 50}});
    EXPECT_EQ(h->size, 7);
    h->changeSize(1);
    EXPECT_TRUE(finite(h->shape));
    EXPECT_TRUE(h->restore(
        R"({"capStyle":3,"color":"#FFF68D","pointsHash":"X","rawRect":{"height":1,"width":1,"x1":0,"y1":0},"rect":{"height":1,"width":1,"x1":0,"y1":0},"resolution":1,"shapeCorrection":"h","size":9,"smoothing":0.9})"));
    // Restored as stored; the eight-entry width table gives its last width.
    EXPECT_EQ(h->size, 9);
    h->buildOutline();
    EXPECT_TRUE(finite(h->shape));
}

}  // namespace

}  // namespace objects
