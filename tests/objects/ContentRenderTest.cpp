// The content objects drawn into pixels over a screenshot: highlighter
// blends, text boxes, conceal bitmaps, overlays and rulers, and the contact
// sheet of all of them at pixel ratio 1 and 2.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "Render.h"
#include "kit/draw/TextLayer.h"
#include "objects/ObjConceal.h"
#include "objects/ObjFreehand.h"
#include "objects/ObjImage.h"
#include "objects/ObjRuler.h"
#include "objects/ObjText.h"
#include "support/TestData.h"

namespace objects {

namespace {

// A screenshot of w × h pixels: light paper with dark bars and colour patches.
kit::Image screenshot(int w, int h) {
    kit::Image img(w, h, 1);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) {
            int y = h - 1 - row;  // y up
            kit::PixelBGRA p{242, 244, 246, 255};
            if (y % 150 >= 30 && y % 150 < 54) p = {50, 40, 38, 255};
            if ((x / 40 + y / 40) % 7 == 0)
                p = {uint8_t(60 + x % 190), uint8_t(120), uint8_t(200 - y % 150), 255};
            img.setPixel(x, row, p);
        }
    return img;
}

class ContentRenderTest : public ObjectsTest {
public:
    void useScreenshot(const kit::Image& img) {
        app.current = imaging::Capture::of(img);
        app.imgPrecompiled = img;
        app.imgSource = img;
        handlers.sourceRect = {0, 0, double(img.width()), double(img.height())};
        handlers.cropRect = handlers.sourceRect;
    }
    static kit::LayerPtr imageLayer(const kit::Image& img) {
        auto l = kit::Layer::make();
        l->setAnchorPoint({0, 0});
        l->setBounds({0, 0, double(img.width()), double(img.height())});
        l->setPosition({0, 0});
        l->setContents(img);
        return l;
    }
    // A stroke through the points; without `finish` the button is still down.
    template <class T>
    std::shared_ptr<T> stroke(SpyHost& h, const std::vector<kit::Point>& pts, bool finish = true) {
        auto f = h.add<T>();
        auto e = mouse();
        f->mouseDown(&e, pts.front());
        for (size_t i = 1; i < pts.size(); ++i) f->mouseDrag(&e, pts[i]);
        if (finish) f->mouseUp(&e, pts.back());
        return f;
    }
    std::shared_ptr<ObjText> text(SpyHost& h, kit::Point at, const std::string& s) {
        auto t = h.add<ObjText>();
        auto e = mouse();
        t->mouseDown(&e, at);
        t->editor->setString(s);
        t->stopEditing();
        return t;
    }
};

TEST_F(ContentRenderTest, HighlighterMultipliesOnPaperAndScreensOnDarkBars) {
    kit::Image shot = screenshot(300, 200);
    useScreenshot(shot);
    auto light = stroke<ObjHighlighter>(handlers, {{20, 110}, {100, 111}, {180, 110}});
    auto dark = stroke<ObjHighlighter>(handlers, {{20, 42}, {100, 43}, {180, 42}});
    EXPECT_EQ(light->shapeLayer->compositingFilter(), kit::CompositingFilter::Multiply);
    EXPECT_EQ(dark->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    auto img = renderCanvas(handlers, 300, 200, 1, imageLayer(shot));
    auto onPaper = probe(img, 100, 110);
    EXPECT_GT(onPaper.r, 0.85);
    EXPECT_LT(onPaper.b, 0.65);  // yellow over white
    auto onBar = probe(img, 100, 42);
    auto bar = probe(img, 230, 42);   // the bar beside the stroke
    EXPECT_GT(onBar.r, bar.r + 0.1);  // screened lighter
}

// At pixel ratio 2 the same stroke in points is twice as wide in image
// pixels, and over a dark bar it still screens lighter in its colour.
TEST_F(ContentRenderTest, HighlighterOverADarkBarShowsAtPixelRatioTwo) {
    kit::Image shot(400, 200, 1);
    shot.fill({242, 244, 246, 255});
    for (int row = 20; row < 180; ++row)  // y 20 to 179, y up
        for (int x = 0; x < 400; ++x) shot.setPixel(x, row, {50, 40, 38, 255});
    useScreenshot(shot);
    auto rowsCovered = [&](const kit::Image& img) {
        kit::Color bar = probe(img, 330, 100);
        int rows = 0;
        for (int y = 20; y < 180; ++y) rows += probe(img, 100, y).r > bar.r + 0.1 ? 1 : 0;
        return rows;
    };
    auto thin = stroke<ObjHighlighter>(handlers, {{20, 100}, {100, 100}, {180, 100}});
    const int at1 = rowsCovered(renderCanvas(handlers, 400, 200, 1, imageLayer(shot)));
    thin->shapeLayer->removeFromSuperlayer();
    handlers.objects.clear();

    setView(2, 1);
    auto wide = stroke<ObjHighlighter>(handlers, {{20, 100}, {100, 100}, {180, 100}});
    EXPECT_EQ(wide->shapeLayer->compositingFilter(), kit::CompositingFilter::Screen);
    auto img = renderCanvas(handlers, 400, 200, 2, imageLayer(shot));
    const int at2 = rowsCovered(img);
    EXPECT_GE(at1, 6);
    EXPECT_NEAR(at2, 2 * at1, 2) << "rows over the bar at ratio 1: " << at1;
    kit::Color onBar = probe(img, 100, 100), beside = probe(img, 330, 100);
    EXPECT_GT(onBar.r, beside.r + 0.1);
    EXPECT_GT(onBar.g, beside.g + 0.1);
    EXPECT_LT(onBar.b, onBar.r);  // yellow, not grey
}

TEST_F(ContentRenderTest, TextBoxShowsItsSnapshotAndPointer) {
    setView(2, 1);
    auto t = text(handlers, {60, 120}, "Note");
    t->state = "unselected";
    auto img = renderCanvas(handlers, 300, 200, 2);
    auto inBox = probe(img, t->rect.x1 + 3, t->rect.y1 + t->rect.height / 2);
    EXPECT_GT(inBox.r, 0.9);
    EXPECT_LT(inBox.g, 0.4);
    // The pointer leaves the bottom side 30 image units down.
    double tipX = t->rect.x1 + t->pPerc * t->rect.width;
    EXPECT_GT(probe(img, tipX, t->rect.y1 - 10).a, 0.9);
    EXPECT_LT(probe(img, t->rect.x1 + t->rect.width + 20, t->rect.y1 - 10).a, 0.1);
}

TEST_F(ContentRenderTest, PixelatedRegionHidesTheDetailUnderIt) {
    kit::Image shot = screenshot(300, 200);
    useScreenshot(shot);
    auto c = handlers.add<ObjConceal>();
    c->rect = {40, 20, 120, 60};
    c->reconceal();
    c->state = "unselected";
    auto img = renderCanvas(handlers, 300, 200, 1, imageLayer(shot));
    // Inside, neighbouring pixels mostly repeat (tiles); outside the detail stays.
    int same = 0, total = 0;
    for (int y = 25; y < 75; y += 3)
        for (int x = 45; x < 155; x += 3, ++total)
            if (probe(img, x, y) == probe(img, x + 1, y)) ++same;
    EXPECT_GT(same, total * 3 / 4);
}

// A dump from the clipboard or an undo step may hold any finite size: 4.3e11
// units wide paints as the part that lies on the image (every coordinate in
// range before it becomes a pixel), the rest of the picture untouched.
TEST_F(ContentRenderTest, AConcealRestoredHugelyWidePaintsOnlyWhatLiesOnTheImage) {
    kit::Image shot = screenshot(300, 200);
    useScreenshot(shot);
    auto c = handlers.add<ObjConceal>();
    // The fuzzer's first byte chose the kind of object; the dump follows.
    std::string found = testsupport::testDataBytes("repro/conceal-dump-huge-width.json");
    ASSERT_EQ(found.substr(0, 2), "\x01{");
    ASSERT_TRUE(c->restore(found.substr(1)));
    EXPECT_EQ(c->rect.width, 429496729630.0);  // kept as stored
    for (const char* state : {"selected", "unselected"}) {
        if (std::string(state) == "unselected")
            c->unselect();  // the object's layer is drawn through a bitmap then
        else
            c->state = state;
        c->draw();
        auto img = renderCanvas(handlers, 300, 200, 1, imageLayer(shot));
        // The band from x 10, y 12 to 32 is tiles to the right edge; outside it the picture stays.
        int same = 0, total = 0;
        for (int y = 16; y < 28; y += 3)
            for (int x = 20; x < 290; x += 3, ++total)
                if (probe(img, x, y) == probe(img, x + 1, y)) ++same;
        EXPECT_GT(same, total * 3 / 4) << state;
        EXPECT_EQ(probe(img, 100, 100), probe(shot, 100, 100)) << state;
    }
    // Sizes that are no number at all are refused.
    for (const char* bad : {"1e999", "-1e999"})
        EXPECT_FALSE(c->restore(std::string(R"({"fillMode":"pixelate","rect":{"height":20.0,"width":)") +
                                bad + R"(,"x1":10.0,"y1":12.0},"size":1})"))
            << bad;
}

struct ContentCell {
    std::string label;
    std::function<void(ContentRenderTest&, SpyHost&, double x, double y)> make;
};

std::vector<ContentCell> contentCells() {
    std::vector<ContentCell> cells;
    for (const char* st : {"unselected", "selected", "highlighted", "creating"}) {
        std::string state = st;
        // While typing the text shows in the editing view, outside the layers.
        cells.push_back({"text", [state](ContentRenderTest& t, SpyHost& h, double x, double y) {
                             if (state == "creating") return;
                             auto o = t.text(h, {x + 20, y + 100}, "Callout text");
                             o->state = state;
                         }});
        cells.push_back({"text-nobg", [state](ContentRenderTest& t, SpyHost& h, double x, double y) {
                             if (state == "creating") return;
                             auto o = t.text(h, {x + 20, y + 80}, "No background, two lines of it");
                             o->nobg = true;
                             o->setValue("color", "#1E6FD9");  // renders the snapshot again
                             o->state = state;
                         }});
        cells.push_back({"freehand", [state](ContentRenderTest& t, SpyHost& h, double x, double y) {
                             std::vector<kit::Point> pts;
                             for (int i = 0; i < 40; ++i)
                                 pts.push_back({x + 15 + i * 3, y + 75 + 35 * std::sin(i / 5.0)});
                             auto o = t.stroke<ObjFreehand>(h, pts, state != "creating");
                             o->state = state;
                         }});
        cells.push_back(
            {"freehand-circle", [state](ContentRenderTest& t, SpyHost& h, double x, double y) {
                 std::vector<kit::Point> pts;
                 for (int i = 0; i <= 48; ++i)
                     pts.push_back({x + 75 + 50 * std::cos(i / 7.64), y + 75 + 40 * std::sin(i / 7.64)});
                 auto o = t.stroke<ObjFreehand>(h, pts, state != "creating");
                 if (state != "creating") o->setValue("correction", "c");
                 o->state = state;
             }});
        cells.push_back({"highlighter", [state](ContentRenderTest& t, SpyHost& h, double x, double y) {
                             auto o = t.stroke<ObjHighlighter>(
                                 h, {{x + 15, y + 42}, {x + 80, y + 43}, {x + 135, y + 42}},
                                 state != "creating");
                             o->state = state;
                         }});
        cells.push_back({"conceal", [state](ContentRenderTest&, SpyHost& h, double x, double y) {
                             auto o = h.add<ObjConceal>();
                             o->rect = {x + 15, y + 20, 120, 90};
                             if (state != "creating") o->reconceal();
                             o->state = state;
                         }});
        cells.push_back({"conceal-erase", [state](ContentRenderTest&, SpyHost& h, double x, double y) {
                             auto o = h.add<ObjConceal>();
                             o->fillMode = "erase";
                             o->rect = {x + 15, y + 20, 120, 90};
                             if (state != "creating") o->reconceal();
                             o->state = state;
                         }});
        cells.push_back({"image", [state](ContentRenderTest&, SpyHost& h, double x, double y) {
                             kit::Image img(90, 60, 1);
                             img.fill(kit::Color{0.2, 0.6, 0.9, 1});
                             for (int i = 0; i < 60; ++i) img.setPixel(i, i, {255, 255, 255, 255});
                             auto o = h.add<ObjImage>();
                             o->image = img;
                             o->rect = {x + 30, y + 40, 90, 60};
                             if (state == "selected") o->setValue("transparency", "true");
                             o->state = state;
                         }});
        cells.push_back({"ruler", [state](ContentRenderTest&, SpyHost& h, double x, double y) {
                             auto o = h.add<ObjRuler>();
                             o->updateKnobs(false);
                             o->rect = {x + 20, y + 40, 110, 0};
                             o->dpr = state == "selected" ? 1.0 : 2.0;
                             o->state = state;
                         }});
        cells.push_back({"ruler-vertical", [state](ContentRenderTest&, SpyHost& h, double x, double y) {
                             auto o = h.add<ObjRuler>();
                             o->updateKnobs(true);
                             o->rect = {x + 40, y + 20, 0, 110};
                             o->tdist = 8;
                             o->state = state;
                         }});
    }
    return cells;
}

TEST_F(ContentRenderTest, ContactSheetOfTheContentObjects) {
    auto cells = contentCells();
    const int cols = 10, cw = 150, ch = 150;
    const int rows = int((cells.size() + cols - 1) / cols);
    for (double dpr : {1.0, 2.0}) {
        SpyHost h;
        setView(dpr, 1);
        kit::Image shot = screenshot(cols * cw, rows * ch);
        useScreenshot(shot);
        std::vector<std::string> labels;  // of each object made
        std::vector<kit::Point> origins;  // of its cell
        for (size_t i = 0; i < cells.size(); ++i) {
            const kit::Point origin{double(i % cols) * cw, double(rows - 1 - int(i / cols)) * ch};
            cells[i].make(*this, h, origin.x, origin.y);
            labels.resize(h.objects.size(), cells[i].label);
            origins.resize(h.objects.size(), origin);
        }
        h.active.reset();
        auto img = renderCanvas(h, cols * cw, rows * ch, dpr, imageLayer(shot));
        ASSERT_FALSE(img.isNull());
        EXPECT_TRUE(writePNG(img, contactSheetPath("content-dpr" + std::to_string(int(dpr)) + ".png")));
        // Each object changed the picture where its shape lies: a point on
        // its stroke, label, box or region differs from the screenshot there.
        const std::map<std::string, kit::Point> onShape{
            {"text", {23, 92}},        {"freehand", {75, 48.5}}, {"freehand-circle", {125, 75}},
            {"highlighter", {80, 43}}, {"conceal", {75, 65}},    {"conceal-erase", {75, 65}},
            {"image", {50, 85}},       {"ruler", {75, 40}},      {"ruler-vertical", {40, 75}}};
        for (size_t i = 0; i < h.objects.size(); ++i) {
            const std::string where =
                labels[i] + " " + h.objects[i]->state + " at dpr " + std::to_string(dpr);
            EXPECT_FALSE(h.objects[i]->layer->isHidden()) << where;
            auto at = onShape.find(labels[i]);
            if (at == onShape.end()) continue;
            kit::Point on = at->second;
            // A region not rendered yet shows its placeholder instead.
            const bool placeholder = labels[i].starts_with("conceal") && h.objects[i]->state == "creating";
            if (placeholder) on = {25, 90};
            const double px = origins[i].x + on.x, py = origins[i].y + on.y;
            const kit::Color drawn = probe(img, px, py), under = probe(shot, px, py);
            const double change = std::max(
                {std::fabs(drawn.r - under.r), std::fabs(drawn.g - under.g), std::fabs(drawn.b - under.b)});
            if (placeholder) {
                // The placeholder's 10 % black over the picture.
                EXPECT_NEAR(drawn.g, under.g * 0.9, 0.02) << where;
                EXPECT_NEAR(drawn.r, under.r * 0.9, 0.02) << where;
                continue;
            }
            EXPECT_GT(change, 0.08) << where;
        }
        h.objects.clear();
    }
}

}  // namespace

}  // namespace objects
