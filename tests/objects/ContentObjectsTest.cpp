// The measuring line, the conceal object and the overlay image.
#include <cmath>
#include <random>

#include "Doubles.h"
#include "objects/ObjConceal.h"
#include "objects/ObjImage.h"
#include "objects/ObjRuler.h"
#include "services/Settings.h"

using services::Rect;

namespace objects {

namespace {

class ContentObjectsTest : public ObjectsTest {
public:
    // A capture of w × h pixels painted by colour(x, y) with y up from the bottom.
    void capture(int w, int h, const std::function<kit::Color(int, int)>& colour) {
        kit::Image img(w, h, 1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                kit::Color c = colour(x, y);
                img.setPixel(x, h - 1 - y, {uint8_t(c.b * 255), uint8_t(c.g * 255), uint8_t(c.r * 255), 255});
            }
        app.current = imaging::Capture::of(img);
        app.imgPrecompiled = img;
        app.imgSource = img;
        handlers.sourceRect = {0, 0, double(w), double(h)};
        handlers.cropRect = {0, 0, double(w), double(h)};
    }
    // Colour of the conceal bitmap at (x, y), y up from the bottom of the bitmap.
    static kit::Color bitmapAt(const ObjConceal& c, int x, int y) {
        const kit::Image& img = c.lbitmap->contents();
        return img.colorAt(x, img.height() - 1 - y);
    }
};

// ---- Measuring line -----------------------------------------------------------

TEST_F(ContentObjectsTest, RulerTexts) {
    auto r = handlers.add<ObjRuler>();
    r->updateKnobs(false);
    r->rect = {10, 10, 200, 0};
    EXPECT_EQ(r->valueText(), "100pt");
    r->dpr = 1.0;
    EXPECT_EQ(r->valueText(), "200px");
    r->dpr = 2.0;
    r->rect.width = 201;
    EXPECT_EQ(r->valueText(), "100.5pt");
    setView(1, 1);
    r->setValue("rulerPixels", "pt");
    EXPECT_EQ(r->dpr, 2.0);
    EXPECT_EQ(r->getValue("rulerPixels"), "pt");
    r->setValue("rulerPixels", "px");
    EXPECT_EQ(r->getValue("rulerPixels"), "px");
    EXPECT_EQ(r->knobs[0]->cursor, "l-resize");
}

TEST_F(ContentObjectsTest, RulerLabelClampFlipAndColours) {
    handlers.sourceRect = {0, 0, 400, 300};
    auto r = handlers.add<ObjRuler>();
    r->updateKnobs(false);
    r->rect = {50, 295, 200, 0};
    r->flipIfNeeded = true;
    r->tdist = 12;
    r->tperc = 5;
    r->draw();
    EXPECT_LT(r->tdist, 0);  // flipped below the line
    EXPECT_FALSE(r->flipIfNeeded);
    EXPECT_DOUBLE_EQ(r->tperc, 50.0 / 200 + 1);  // 50 × dpr beyond the end
    EXPECT_EQ(r->ltext->foregroundColor(), kit::Color::white(1));
    r->setValue("color", "#FFFFFF");
    r->draw();
    EXPECT_EQ(r->ltext->foregroundColor(), kit::Color::black());
    EXPECT_EQ(r->ltext->font().weight, kit::FontWeight::Regular);
}

TEST_F(ContentObjectsTest, RulerUnitToggleOnTheLabelOnly) {
    setView(2, 1);
    auto r = handlers.add<ObjRuler>();
    r->updateKnobs(true);
    r->rect = {100, 50, 0, 200};
    r->dpr = 2;
    r->state = "unselected";
    r->draw();
    kit::Point label{r->textRect.x1 + r->textRect.width / 2, r->textRect.y1 + r->textRect.height / 2};
    r->dblClick(nullptr, {100, 150});  // on the line: nothing
    EXPECT_EQ(r->dpr, 2);
    r->dblClick(nullptr, label);
    EXPECT_EQ(r->dpr, 1);
    EXPECT_EQ(handlers.relayouts, 1);
    EXPECT_EQ(r->action(label), "move-text");
    EXPECT_EQ(r->action({101, 150}), "move");
    EXPECT_EQ(r->action({160, 20}), "default");
}

TEST_F(ContentObjectsTest, RulerLabelDragAndDump) {
    auto r = handlers.add<ObjRuler>();
    r->updateKnobs(false);
    r->rect = {0, 100, 200, 0};
    r->state = "selected";
    r->draw();
    kit::Point label{r->textRect.x1 + 2, r->textRect.y1 + 2};
    auto e = mouse();
    r->mouseDown(&e, label);
    EXPECT_EQ(r->state, "move-text");
    r->mouseDrag(&e, {label.x + 20, label.y + 10});
    EXPECT_DOUBLE_EQ(r->tperc, 0.5 + 20.0 / 200);
    EXPECT_DOUBLE_EQ(r->tdist, 20 + 10);
    EXPECT_EQ(r->rect, (Rect{0, 100, 200, 0}));
    std::string d = r->dump();
    auto s = handlers.add<ObjRuler>();
    ASSERT_TRUE(s->restore(d));
    EXPECT_FALSE(s->vertical);
    EXPECT_EQ(s->knobs[1]->cursor, "r-resize");
    EXPECT_EQ(s->dump(), d);
    ASSERT_TRUE(s->restore(
        R"({"color":"#F44723","dpr":0,"rect":{"height":0,"width":10,"x1":0,"y1":0},"size":1,"tdist":1,"tperc":0.5,"vertical":false})"));
    EXPECT_EQ(s->valueText(), "10px");
}

TEST_F(ContentObjectsTest, RulerWithoutLengthKeepsAFiniteLabelAndItsDump) {
    // -0 height (what a vertical ruler of no length dumps as) and negative
    // lengths: the label stays finite and the ruler stays in later dumps.
    for (double h : {-0.0, 0.0, -40.0, 0.25}) {
        auto r = handlers.add<ObjRuler>();
        const std::string record =
            std::string(R"({"color":"#F44723","dpr":2,"rect":{"height":)") +
            (std::signbit(h) && h == 0 ? "-0.0" : std::to_string(h)) +
            R"(,"width":5,"x1":10,"y1":10},"size":1,"tdist":20,"tperc":0.5,"vertical":true})";
        ASSERT_TRUE(r->restore(record)) << h;
        r->draw();
        EXPECT_TRUE(std::isfinite(r->tperc)) << h;
        EXPECT_TRUE(std::isfinite(r->textRect.x1) && std::isfinite(r->textRect.y1)) << h;
        const std::string again = r->dump();
        EXPECT_FALSE(again.empty()) << h;
        auto s = handlers.add<ObjRuler>();
        EXPECT_TRUE(s->restore(again)) << h;
    }
}

// ---- Conceal ------------------------------------------------------------------

TEST_F(ContentObjectsTest, PixelateCoversTheAreaDeterministicallyWithASeed) {
    capture(200, 100, [](int x, int) { return x < 100 ? kit::Color{1, 0, 0, 1} : kit::Color{0, 0, 1, 1}; });
    std::mt19937 gen(7);
    ObjConceal::random01() = [&] { return std::uniform_real_distribution<double>(0, 1)(gen); };
    auto c = handlers.add<ObjConceal>();
    c->rect = {20, 20, 160, 60};
    c->reconceal();
    ASSERT_FALSE(c->lbitmap->isHidden());
    const kit::Image first = c->lbitmap->contents();
    ASSERT_EQ(first.width(), 160);
    for (int y = 0; y < 60; y += 7)
        for (int x = 0; x < 160; x += 7) EXPECT_GT(bitmapAt(*c, x, y).a, 0.99) << x << "," << y;
    // Tiles far from the border average their own colour.
    EXPECT_GT(bitmapAt(*c, 5, 30).r, 0.9);
    EXPECT_GT(bitmapAt(*c, 155, 30).b, 0.9);
    gen.seed(7);
    c->reconceal();
    EXPECT_TRUE(c->lbitmap->contents() == first);
    EXPECT_EQ(c->layer->borderWidth(), 0);
    ObjConceal::random01() = [] { return 0.5; };
}

TEST_F(ContentObjectsTest, EraseRunsVerticalBandsThroughTheRegion) {
    capture(100, 100, [](int x, int) {
        return (x / 10) % 2 ? kit::Color{0, 0, 0, 1} : kit::Color{1, 1, 1, 1};
    });
    auto c = handlers.add<ObjConceal>();
    c->setValue("concealType", "erase");
    c->rect = {20, 20, 40, 40};
    c->reconceal();
    EXPECT_GT(bitmapAt(*c, 5, 20).r, 0.9);   // column 25: white band
    EXPECT_LT(bitmapAt(*c, 15, 20).r, 0.1);  // column 35: black band
    capture(100, 100, [](int, int y) {
        return (y / 10) % 2 ? kit::Color{0, 0, 0, 1} : kit::Color{1, 1, 1, 1};
    });
    c->reconceal();
    EXPECT_GT(bitmapAt(*c, 20, 5).r, 0.9);   // row 25: white band
    EXPECT_LT(bitmapAt(*c, 20, 15).r, 0.1);  // row 35: black band
}

TEST_F(ContentObjectsTest, TextModeConcealsOnlyTheRecognisedLines) {
    capture(200, 100, [](int, int) { return kit::Color{0, 0.5, 0, 1}; });
    kit::Image seen;
    ObjConceal::recognizer() = [&](const kit::Image& img, double) {
        seen = img;
        return std::vector<imaging::TextRect>{{kit::Rect{10, 10, 30, 8}, "hello"}};
    };
    auto c = handlers.add<ObjConceal>();
    c->rect = {50, 20, 100, 50};
    c->setValue("concealType", "erase-text");
    EXPECT_EQ(seen.width(), 100);
    EXPECT_EQ(seen.height(), 50);
    EXPECT_GT(bitmapAt(*c, 20, 12).a, 0.99);  // inside the line (2 px margin)
    EXPECT_GT(bitmapAt(*c, 8, 8).a, 0.99);
    EXPECT_LT(bitmapAt(*c, 60, 40).a, 0.01);  // the rest stays clear
    EXPECT_LT(bitmapAt(*c, 5, 5).a, 0.01);
    ObjConceal::recognizer() = nullptr;
}

TEST_F(ContentObjectsTest, ConcealReadsACroppedCaptureUnderItsRect) {
    // Left half red, right half blue; the crop starts at x 100, so the
    // conceal at crop x 10 lies on blue.
    capture(200, 100, [](int x, int) { return x < 100 ? kit::Color{1, 0, 0, 1} : kit::Color{0, 0, 1, 1}; });
    app.current.crop = {100, 0, 100, 100};
    handlers.cropRect = {100, 0, 100, 100};
    kit::Image seen;
    ObjConceal::recognizer() = [&](const kit::Image& img, double) {
        seen = img;
        return std::vector<imaging::TextRect>{};
    };
    auto c = handlers.add<ObjConceal>();
    c->rect = {10, 10, 20, 20};
    c->setValue("concealType", "pixelate-text");
    ASSERT_FALSE(seen.isNull());
    EXPECT_GT(seen.colorAt(5, 5).b, 0.9);
    c->setValue("concealType", "pixelate");
    EXPECT_GT(bitmapAt(*c, 10, 10).b, 0.9);
    ObjConceal::recognizer() = nullptr;
}

TEST_F(ContentObjectsTest, ConcealDraggedOffTheImageKeepsItsSize) {
    capture(200, 100, [](int, int) { return kit::Color{1, 1, 1, 1}; });
    auto c = handlers.add<ObjConceal>();
    c->rect = {10, 10, 50, 40};
    c->reconceal();
    c->move(-30, 0);  // partly left of the image
    EXPECT_EQ(c->rect, (Rect{-20, 10, 50, 40}));
    EXPECT_EQ(c->lbitmap->contents().width(), 30);
    EXPECT_EQ(c->lbitmap->frame().x(), 20);
    c->move(30, 0);
    EXPECT_EQ(c->rect, (Rect{10, 10, 50, 40}));
    EXPECT_EQ(c->lbitmap->contents().width(), 50);
}

TEST_F(ContentObjectsTest, ConcealDrawsOnlyOnTheImageOnEverySide) {
    capture(200, 100, [](int, int) { return kit::Color{0, 0.5, 0, 1}; });
    auto c = handlers.add<ObjConceal>();
    c->setValue("concealType", "pixelate");
    // Sticking out past the right and top edges: the bitmap ends at the image.
    c->rect = {180, 80, 50, 40};
    c->reconceal();
    EXPECT_EQ(c->lbitmap->contents().width(), 20);
    EXPECT_EQ(c->lbitmap->contents().height(), 20);
    EXPECT_EQ(c->lbitmap->frame(), (kit::Rect{0, 0, 20, 20}));
    // Past the left and bottom edges: the bitmap starts at the image's corner.
    c->rect = {-20, -10, 50, 40};
    c->reconceal();
    EXPECT_EQ(c->lbitmap->frame(), (kit::Rect{20, 10, 30, 30}));
    // Wholly off the image: nothing drawn, no strip left at the edge.
    for (Rect off :
         {Rect{-80, 10, 50, 40}, Rect{250, 10, 50, 40}, Rect{10, -90, 50, 40}, Rect{10, 150, 50, 40}}) {
        c->rect = off;
        c->reconceal();
        EXPECT_TRUE(c->lbitmap->contents().isNull()) << off.x1 << "," << off.y1;
        EXPECT_EQ(c->layer->borderWidth(), 0);
    }
    // A region one click wide still covers one pixel of the image.
    c->rect = {50, 20, 0, 30};
    c->reconceal();
    EXPECT_EQ(c->lbitmap->contents().width(), 1);
}

TEST_F(ContentObjectsTest, TextConcealPastTheImageEdgeCoversItsLineInPlace) {
    // The recognised line sits 30 px into a region that starts 20 px left of
    // and 10 px below the image: its box lands at image x 8...42, y 18...32.
    capture(200, 100, [](int, int) { return kit::Color{0, 0.5, 0, 1}; });
    ObjConceal::recognizer() = [](const kit::Image&, double) {
        return std::vector<imaging::TextRect>{{kit::Rect{30, 30, 30, 10}, "hello"}};
    };
    auto c = handlers.add<ObjConceal>();
    c->rect = {-20, -10, 100, 60};
    c->setValue("concealType", "erase-text");
    const kit::Rect frame = c->lbitmap->frame();
    ASSERT_EQ(frame, (kit::Rect{20, 10, 80, 50}));
    // Bitmap (x, y) is image (x, y) here: the region's part starts at the image corner.
    EXPECT_GT(bitmapAt(*c, 10, 20).a, 0.99);
    EXPECT_GT(bitmapAt(*c, 40, 30).a, 0.99);
    EXPECT_LT(bitmapAt(*c, 5, 20).a, 0.01);   // left of the line's box
    EXPECT_LT(bitmapAt(*c, 45, 20).a, 0.01);  // right of it
    EXPECT_LT(bitmapAt(*c, 20, 35).a, 0.01);  // above it
    ObjConceal::recognizer() = nullptr;
}

TEST_F(ContentObjectsTest, ConcealDragKeysAndDump) {
    capture(200, 100, [](int, int) { return kit::Color{1, 1, 1, 1}; });
    auto c = handlers.add<ObjConceal>();
    auto e = mouse();
    c->mouseDown(&e, {10, 10});
    c->mouseDrag(&e, {50, 40});
    c->mouseUp(&e, {50, 40});
    EXPECT_FALSE(c->lbitmap->isHidden());
    c->state = "move";
    c->mouseDown(&e, {20, 20});
    c->mouseDrag(&e, {25, 20});
    EXPECT_TRUE(c->lbitmap->isHidden());  // placeholder while dragged
    c->mouseUp(&e, {25, 20});
    EXPECT_FALSE(c->lbitmap->isHidden());
    c->rect = {0, 0, 1, 0};
    c->keyDown(nullptr, key(kit::KeyCode::LeftArrow, false, true));
    EXPECT_EQ(c->rect, (Rect{0, 0, 1, 0}));
    c->rect = {10, 10, 30, 20};
    c->setValue("concealType", "erase");
    std::string d = c->dump();
    EXPECT_EQ(d, R"({"fillMode":"erase","rect":{"height":20.0,"width":30.0,"x1":10.0,"y1":10.0},"size":1})");
    auto other = handlers.add<ObjConceal>();
    ASSERT_TRUE(other->restore(d));
    EXPECT_EQ(other->getValue("concealType"), "erase");
    EXPECT_FALSE(other->lbitmap->isHidden());
    EXPECT_FALSE(other->restore(R"({"rect":{"height":1,"width":1,"x1":0,"y1":0},"size":1})"));
}

// ---- Overlay image ------------------------------------------------------------

kit::Image solid(int w, int h, kit::Color c) {
    kit::Image img(w, h, 1);
    img.fill(c);
    return img;
}

TEST_F(ContentObjectsTest, ImagePlacementCentresInTheVisibleArea) {
    handlers.areaRect = {0, 0, 1000, 800};
    handlers.cropRect = {0, 0, 1200, 900};
    auto o = handlers.add<ObjImage>();
    o->setImage(solid(300, 200, kit::Color{0, 1, 0, 1}));
    EXPECT_EQ(o->rect, (Rect{350, 300, 300, 200}));
    EXPECT_EQ(o->state, "selected");
    EXPECT_EQ(o->imageHash.size(), 24u);
    handlers.cropRect = {0, 0, 250, 900};
    auto p = handlers.add<ObjImage>();
    p->setImage(solid(300, 200, kit::Color{0, 1, 0, 1}));
    EXPECT_EQ(p->rect.x1, 100);
}

TEST_F(ContentObjectsTest, ImageCornerDragsKeepTheAspect) {
    auto o = handlers.add<ObjImage>();
    o->image = solid(300, 200, kit::Color{0, 1, 0, 1});
    o->rect = {0, 0, 300, 200};
    auto e = mouse();
    o->state = "tl-resize";
    o->mouseDown(&e, {0, 200});
    o->mouseDrag(&e, {150, 180});  // 150 × 180
    EXPECT_EQ(o->rect, (Rect{30, 0, 270, 180}));
    o->rect = {0, 0, 300, 200};
    o->state = "br-resize";
    o->mouseDown(&e, {300, 0});
    o->mouseDrag(&e, {400, 100});  // 400 × 100, the top edge at 200
    EXPECT_EQ(o->rect, (Rect{0, -67, 400, 267}));
    o->rect = {0, 0, 300, 200};
    o->state = "t-resize";
    o->mouseDown(&e, {150, 200});
    o->mouseDrag(&e, {150, 250});
    EXPECT_EQ(o->rect, (Rect{0, 0, 300, 250}));
}

TEST_F(ContentObjectsTest, ImageValuesCacheAndDraw) {
    auto o = handlers.add<ObjImage>();
    o->setImage(solid(40, 30, kit::Color{0, 1, 0, 1}));
    o->setValue("transparency", "true");
    EXPECT_EQ(o->backgroundAlpha, 0.5);
    EXPECT_EQ(o->getValue("transparency"), "true");
    o->setValue("transparency", "false");
    EXPECT_EQ(o->getValue("transparency"), "false");
    o->size = 0;
    o->draw();
    EXPECT_EQ(o->layer->cornerRadius(), 0);
    EXPECT_EQ(o->layer->zPosition(), -30);
    EXPECT_FALSE(o->layer->contents().isNull());
    std::string d = o->dump();
    EXPECT_TRUE(imageCache().count(o->imageHash));
    auto copy = handlers.add<ObjImage>();
    ASSERT_TRUE(copy->restore(d));
    EXPECT_FALSE(copy->image.isNull());
    EXPECT_EQ(copy->dump(), d);
    imageCache().clear();  // a new screenshot was loaded
    auto late = handlers.add<ObjImage>();
    ASSERT_TRUE(late->restore(d));
    EXPECT_TRUE(late->image.isNull());
    late->dump();  // without an image its key leaves the cache
    EXPECT_FALSE(imageCache().count(late->imageHash));
}

TEST_F(ContentObjectsTest, GifFramesHaveOneSize) {
    capture(200, 100, [](int, int) { return kit::Color{1, 1, 1, 1}; });
    auto o = handlers.add<ObjImage>();
    o->image = solid(80, 40, kit::Color{0, 1, 0, 1});
    o->rect = {-20, 30, 80, 40};  // sticks out to the left
    o->setValue("saveGIF", "");
    ASSERT_EQ(app.gifs, 1);
    EXPECT_EQ(app.gif1.width(), 60);
    EXPECT_EQ(app.gif1.width(), app.gif2.width());
    EXPECT_EQ(app.gif1.height(), app.gif2.height());
    EXPECT_GT(app.gif1.colorAt(5, 5).g, 0.9);
    EXPECT_GT(app.gif2.colorAt(5, 5).r, 0.9);
    // Scaled overlays still give frames of one size.
    o->rect = {10, 10, 40, 20};
    o->keyDown(nullptr, key(kit::KeyCode::G));
    ASSERT_EQ(app.gifs, 2);
    EXPECT_EQ(app.gif1.width(), 40);
    EXPECT_EQ(app.gif2.width(), 40);
    o->rect = {500, 500, 40, 20};  // nowhere near the screenshot
    o->saveGIF();
    EXPECT_EQ(app.gifs, 2);
    o->rect = {10, 10, 0, 20};
    o->saveGIF();
    auto oops = events("oops");
    ASSERT_FALSE(oops.empty());
    EXPECT_EQ(oops.back()["message"],
              "Zero pixels selected: Rect(x1: 10.0, y1: 10.0, width: 0.0, height: 20.0)");
}

}  // namespace

}  // namespace objects
