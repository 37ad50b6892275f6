// The shape objects drawn into pixels: borders, fills, dashes, arrow tips,
// the spotlight cut-out, and the contact sheet of every shape.
#include <algorithm>
#include <cmath>
#include <functional>

#include "Render.h"
#include "objects/ObjArrow.h"
#include "objects/ObjCounter.h"
#include "objects/ObjLine.h"
#include "objects/ObjOval.h"
#include "objects/ObjRectangle.h"

namespace objects {

namespace {

class RenderTest : public ObjectsTest {};

bool isRed(const kit::Color& c) {
    return c.a > 0.9 && c.r > 0.9 && c.g < 0.35 && c.b < 0.2;
}
bool isClear(const kit::Color& c) {
    return c.a < 0.05;
}

TEST_F(RenderTest, RectangleBorderAndFillOpacity) {
    auto r = handlers.add<ObjRectangle>();
    r->size = 2;  // 3 points
    r->rect = {20, 20, 60, 40};
    r->state = "unselected";
    auto img = renderCanvas(handlers, 100, 80, 1);
    EXPECT_TRUE(isRed(probe(img, 20, 40))) << "left edge";
    EXPECT_TRUE(isRed(probe(img, 50, 59))) << "top edge";
    EXPECT_TRUE(isClear(probe(img, 50, 40))) << "inside";
    EXPECT_TRUE(isClear(probe(img, 10, 40))) << "outside";
    r->setValue("fill", "40");
    img = renderCanvas(handlers, 100, 80, 1);
    EXPECT_NEAR(probe(img, 50, 40).a, 0.4, 0.02);
    r->state = "highlighted";
    img = renderCanvas(handlers, 100, 80, 1);
    auto edge = probe(img, 20, 40);
    EXPECT_LT(edge.r, 0.1);
    EXPECT_GT(edge.b, 0.8);
}

TEST_F(RenderTest, RectangleBorderIsTwiceAsWideAtPixelRatioTwo) {
    setView(2, 1);
    auto r = handlers.add<ObjRectangle>();
    r->size = 0;
    r->rect = {20, 20, 60, 40};
    r->state = "unselected";
    auto img = renderCanvas(handlers, 100, 80, 2);
    EXPECT_TRUE(isRed(probe(img, 19, 40)));
    EXPECT_TRUE(isRed(probe(img, 20, 40)));
    EXPECT_TRUE(isClear(probe(img, 21.5, 40)));
}

TEST_F(RenderTest, DottedLineLeavesGaps) {
    auto l = handlers.add<ObjLine>();
    l->size = 2;
    l->rect = {10, 50, 180, 0};
    l->dotted = true;
    auto img = renderCanvas(handlers, 200, 100, 1);
    int on = 0, off = 0;
    for (int x = 20; x < 180; ++x) (isClear(probe(img, x, 50)) ? off : on)++;
    EXPECT_GT(on, 10);
    EXPECT_GT(off, 40);  // gaps of 6.5 after dots of about 3
    l->dotted = false;
    img = renderCanvas(handlers, 200, 100, 1);
    for (int x = 20; x < 180; x += 7) EXPECT_FALSE(isClear(probe(img, x, 50))) << x;
}

TEST_F(RenderTest, FilledArrowEndsAtItsTip) {
    auto a = handlers.add<ObjArrow>();
    a->size = 3;
    a->rect = {20, 100, 160, 0};
    auto img = renderCanvas(handlers, 200, 200, 1);
    EXPECT_TRUE(isRed(probe(img, 176, 100)));
    EXPECT_TRUE(isClear(probe(img, 183, 100)));
    EXPECT_TRUE(isRed(probe(img, 60, 100)));  // the shaft
    EXPECT_TRUE(isClear(probe(img, 60, 130)));
    EXPECT_TRUE(isRed(probe(img, 160, 108)));  // a barb beside the head
}

TEST_F(RenderTest, LineArrowStrokesAHeadAtTheTip) {
    auto a = handlers.add<ObjArrow>();
    a->type = 1;
    a->size = 3;
    a->rect = {20, 100, 160, 0};
    auto img = renderCanvas(handlers, 200, 200, 1);
    EXPECT_TRUE(isRed(probe(img, 100, 100)));
    EXPECT_TRUE(isClear(probe(img, 30, 110)));  // no head at the start
    EXPECT_TRUE(isRed(probe(img, 172, 106)));   // the upper barb near the tip
}

TEST_F(RenderTest, SpotlightCutsItsShapeOutOfTheCurtain) {
    auto s = handlers.add<ObjSpotlight>();
    s->size = 0;
    s->rect = {50, 50, 100, 60};
    s->state = "unselected";
    layoutCurtain(handlers, 200, 160);
    auto img = renderCanvas(handlers, 200, 160, 1);
    EXPECT_TRUE(isClear(probe(img, 100, 80)));
    EXPECT_NEAR(probe(img, 10, 10).a, 0.214, 0.02);
    EXPECT_NEAR(probe(img, 180, 140).a, 0.214, 0.02);
}

TEST_F(RenderTest, CounterBadgeFilledWithItsNumberInWhite) {
    auto c = handlers.add<ObjCounter>();
    c->style = 0;
    c->size = 4;  // 64 points
    c->rect = {100, 100, 48, 0};
    c->count = 8;
    auto img = renderCanvas(handlers, 200, 200, 1);
    EXPECT_TRUE(isRed(probe(img, 100, 70)));
    EXPECT_TRUE(isClear(probe(img, 100, 140)));
    int white = 0;
    for (int y = 85; y < 115; ++y)
        for (int x = 90; x < 110; ++x) {
            auto p = probe(img, x, y);
            if (p.r > 0.9 && p.g > 0.9 && p.b > 0.9) ++white;
        }
    EXPECT_GT(white, 15);
}

// ---- Contact sheet ----------------------------------------------------------

struct Cell {
    std::string label;
    std::function<void(SpyHost&, double x, double y)> make;
};

void addIn(SpyHost& h, const std::shared_ptr<ProtoObject>& o, const std::string& state) {
    o->state = state;
    if (state == "selected") h.active = int(h.objects.size()) - 1;
}

std::vector<Cell> shapeCells() {
    std::vector<Cell> cells;
    const char* states[] = {"unselected", "selected", "highlighted", "creating"};
    for (const char* st : states) {
        std::string state = st;
        cells.push_back({"rect", [state](SpyHost& h, double x, double y) {
                             auto r = h.add<ObjRectangle>();
                             r->size = 3;
                             r->rect = {x + 20, y + 20, 110, 70};
                             addIn(h, r, state);
                         }});
        cells.push_back({"rect-fill", [state](SpyHost& h, double x, double y) {
                             auto r = h.add<ObjRectangle>();
                             r->setValue("fill", "40");
                             r->rect = {x + 20, y + 20, 110, 70};
                             addIn(h, r, state);
                         }});
        cells.push_back({"line", [state](SpyHost& h, double x, double y) {
                             auto l = h.add<ObjLine>();
                             l->size = 4;
                             l->startCap = "bullet";
                             l->endCap = "arrow";
                             l->rect = {x + 20, y + 20, 110, 70};
                             addIn(h, l, state);
                         }});
        cells.push_back({"line-dotted", [state](SpyHost& h, double x, double y) {
                             auto l = h.add<ObjLine>();
                             l->size = 3;
                             l->dotted = true;
                             l->rect = {x + 20, y + 90, 110, -70};
                             addIn(h, l, state);
                         }});
        for (int style = 0; style < 4; ++style)
            cells.push_back({"arrow", [state, style](SpyHost& h, double x, double y) {
                                 auto a = h.add<ObjArrow>();
                                 a->style = style;
                                 a->size = 2 + style;
                                 a->rect = {x + 15, y + 20, 120, 70};
                                 addIn(h, a, state);
                             }});
        for (int type = 1; type <= 2; ++type)
            cells.push_back({"line-arrow", [state, type](SpyHost& h, double x, double y) {
                                 auto a = h.add<ObjArrow>();
                                 a->type = type;
                                 a->size = 3;
                                 a->rect = {x + 15, y + 20, 120, 70};
                                 if (type == 2) a->midpa = 0.6;
                                 addIn(h, a, state);
                             }});
        for (int style = 0; style < 3; ++style)
            cells.push_back({"counter", [state, style](SpyHost& h, double x, double y) {
                                 auto c = h.add<ObjCounter>();
                                 c->style = style;
                                 c->size = 3;
                                 c->count = style == 2 ? 12 : style + 1;
                                 if (style == 1) c->setValue("color", "#FFF68D");
                                 c->rect = {x + 75, y + 60, -20, -20};
                                 c->snapAngle(false);
                                 addIn(h, c, state);
                             }});
        cells.push_back({"oval", [state](SpyHost& h, double x, double y) {
                             auto o = h.add<ObjOval>();
                             o->size = 3;
                             o->rect = {x + 20, y + 20, 110, 70};
                             addIn(h, o, state);
                         }});
        cells.push_back({"oval-rect-fill", [state](SpyHost& h, double x, double y) {
                             auto o = h.add<ObjOval>();
                             o->shape = "rect";
                             o->setValue("fill", "40");
                             o->rect = {x + 20, y + 20, 110, 70};
                             addIn(h, o, state);
                         }});
        cells.push_back({"spotlight", [state](SpyHost& h, double x, double y) {
                             auto s = h.add<ObjSpotlight>();
                             s->size = 2;
                             s->rect = {x + 20, y + 20, 110, 70};
                             addIn(h, s, state);
                         }});
    }
    return cells;
}

// A light page with dark stripes, so strokes and blends show against both.
kit::LayerPtr paper(int width, int height) {
    auto bg = kit::Layer::make();
    bg->setAnchorPoint({0, 0});
    bg->setBounds({0, 0, double(width), double(height)});
    bg->setPosition({0, 0});
    bg->setBackgroundColor(kit::Color{0.97, 0.97, 0.95, 1});
    for (int y = 30; y < height; y += 150) {
        auto stripe = kit::Layer::make();
        stripe->setFrame({0, double(y), double(width), 24});
        stripe->setBackgroundColor(kit::Color{0.15, 0.16, 0.2, 1});
        bg->addSublayer(stripe);
    }
    return bg;
}

TEST_F(RenderTest, ContactSheetOfTheShapeObjects) {
    auto cells = shapeCells();
    const int cols = 8, cw = 150, ch = 150;
    const int rows = int((cells.size() + cols - 1) / cols);
    for (double dpr : {1.0, 2.0}) {
        SpyHost h;
        setView(dpr, 1);
        for (size_t i = 0; i < cells.size(); ++i)
            cells[i].make(h, double(i % cols) * cw, double(rows - 1 - int(i / cols)) * ch);
        layoutCurtain(h, cols * cw, rows * ch);
        auto img = renderCanvas(h, cols * cw, rows * ch, dpr, paper(cols * cw, rows * ch));
        ASSERT_FALSE(img.isNull());
        std::string path = contactSheetPath("shapes-dpr" + std::to_string(int(dpr)) + ".png");
        EXPECT_TRUE(writePNG(img, path)) << path;
        // Every cell drew its shape where it must be: a coloured pixel (the
        // paper and its stripes are grey) on the stroke, in the fill or on
        // the badge; a spotlight leaves its inside lighter than beside it.
        auto colourful = [](const kit::Color& c) {
            return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 0.25;
        };
        for (size_t i = 0; i < cells.size(); ++i) {
            auto o = h.objects[i];
            EXPECT_FALSE(o->layer->isHidden()) << cells[i].label;
            const double x = double(i % cols) * cw, y = double(rows - 1 - int(i / cols)) * ch;
            const std::string& label = cells[i].label;
            const std::string where = label + " " + o->state + " at dpr " + std::to_string(dpr);
            if (label == "spotlight") {
                EXPECT_GT(probe(img, x + 75, y + 60).r, probe(img, x + 5, y + 60).r + 0.1) << where;
            } else if (label == "counter") {
                // Beside the number, on the badge.
                EXPECT_TRUE(colourful(probe(img, x + 63, y + 60))) << where;
            } else if (label == "rect-fill" || label == "oval-rect-fill") {
                // The fill, or (highlighted, which shows no fill) the border.
                EXPECT_TRUE(colourful(probe(img, x + 75, y + 55)) ||
                            (o->state == "highlighted" && colourful(probe(img, x + 20.5, y + 55))))
                    << where;
            } else if (label == "rect" || label == "oval") {
                EXPECT_TRUE(colourful(probe(img, x + 21, y + 55))) << where;
            } else if (label == "line-dotted") {
                // A dotted line may have a gap anywhere: one of three points along it.
                const bool any = colourful(probe(img, x + 75, y + 55)) ||
                                 colourful(probe(img, x + 69, y + 58.5)) ||
                                 colourful(probe(img, x + 81, y + 51.2));
                EXPECT_TRUE(any) << where;
            } else if (label == "line") {
                EXPECT_TRUE(colourful(probe(img, x + 75, y + 55))) << where;
            } else if (label == "line-arrow" || label == "arrow") {
                EXPECT_TRUE(colourful(probe(img, x + 120, y + 81.25)) ||
                            colourful(probe(img, x + 75, y + 55)))
                    << where;
            }
        }
    }
}

}  // namespace

}  // namespace objects
