// The text object and its callout geometry: creation, typing and committing,
// the snapshot, sizing, colours, the pointer, keys, values and the dump.
#include <cmath>

#include "Doubles.h"
#include "kit/base/Timer.h"
#include "kit/ui/TextView.h"
#include "kit/ui/View.h"
#include "objects/OTHelper.h"
#include "objects/ObjText.h"
#include "services/Settings.h"

namespace objects {

namespace {

std::vector<kit::Point> textPathEnds(const kit::Path& p) {
    std::vector<kit::Point> out;
    for (const auto& e : p.elements()) out.push_back(e.pts[0]);
    return out;
}

class TextTest : public ObjectsTest {
public:
    void SetUp() override {
        ObjectsTest::SetUp();
        forget("typeface");
    }
    void TearDown() override {
        handlers.objects.clear();
        ObjectsTest::TearDown();
    }
    // A text created by a click at (x, y) with `typed` in its view.
    std::shared_ptr<ObjText> typed(const std::string& s, kit::Point at = {100, 100}) {
        auto t = handlers.add<ObjText>();
        auto e = mouse();
        t->mouseDown(&e, at);
        t->mouseUp(&e, at);
        t->editor->setString(s);
        return t;
    }
};

// ---- Callout geometry ---------------------------------------------------------

TEST_F(TextTest, PointerPathWorkedExamples) {
    setView(2, 1);
    auto top = textPathEnds(OTHelper::pointerPath({0, 0, 100, 40}, 0.5, 30, 14, "t", handlers));
    ASSERT_EQ(top.size(), 3u);
    EXPECT_NEAR(top[0].x, 40.25, 1e-9);
    EXPECT_EQ(top[0].y, 39);
    EXPECT_EQ(top[1], (kit::Point{50, 70}));
    EXPECT_NEAR(top[2].x, 59.75, 1e-9);
    auto left = textPathEnds(OTHelper::pointerPath({0, 0, 100, 40}, 0.5, 10, 14, "l", handlers));
    EXPECT_EQ(left[0], (kit::Point{1, 8}));
    EXPECT_EQ(left[1], (kit::Point{-12, 20}));
    EXPECT_EQ(left[2], (kit::Point{1, 32}));
    EXPECT_TRUE(OTHelper::pointerPath({0, 0, 14, 40}, 0.5, 30, 14, "b", handlers).isEmpty());
    EXPECT_FALSE(OTHelper::pointerPath({0, 0, 20, 10}, 0.5, 30, 14, "r", handlers).isEmpty());
    // Far past the end the tip stops 100 × dpr beyond it; the base keeps off the corners.
    auto far = textPathEnds(OTHelper::pointerPath({0, 0, 100, 40}, 9, 30, 14, "b", handlers));
    EXPECT_EQ(far[1].x, 300);
    EXPECT_LE(far[2].x, 100 - 7 + 1e-9);
    // No length beside a corner (a pointer dragged onto the box's edge): no
    // pointer rather than a path of undefined points.
    EXPECT_TRUE(OTHelper::pointerPath({0, 0, 100, 40}, 0.02, 0, 14, "t", handlers).isEmpty());
    EXPECT_TRUE(OTHelper::pointerPath({0, 0, 100, 80}, 0.98, 0, 14, "l", handlers).isEmpty());
    // In the straight part it stays the one-unit stub of a text without pointer.
    EXPECT_EQ(textPathEnds(OTHelper::pointerPath({0, 0, 100, 40}, 0.5, 0, 14, "b", handlers)).size(), 3u);
}

TEST_F(TextTest, PointerSideAndBase) {
    services::Rect box{0, 0, 100, 40};
    auto in = OTHelper::pointerSide(box, {50, 20});
    EXPECT_EQ(in.side, "t");
    EXPECT_EQ(in.perc, 0.5);
    EXPECT_EQ(in.dist, 0);
    auto above = OTHelper::pointerSide(box, {50, 1000});
    EXPECT_EQ(above.side, "t");
    EXPECT_EQ(above.dist, 200);
    auto farRight = OTHelper::pointerSide(box, {10000, 20});
    EXPECT_EQ(farRight.side, "r");
    EXPECT_DOUBLE_EQ(farRight.perc, 0.5);
    auto beyond = OTHelper::pointerSide(box, {-5000, -50});
    EXPECT_EQ(beyond.side, "l");
    auto below = OTHelper::pointerSide(box, {5000, -60});
    EXPECT_EQ(below.side, "r");
    auto under = OTHelper::pointerSide(box, {900, -1600});
    EXPECT_EQ(under.side, "b");
    EXPECT_EQ(under.dist, 200);
    EXPECT_DOUBLE_EQ(under.perc, 1 + 200.0 / 100);
    // On the top edge itself: no inward pointer.
    EXPECT_GE(OTHelper::pointerSide(box, {50, 40}).dist, 0);
    setView(2, 1, 10, 20);
    EXPECT_EQ(OTHelper::pointerBase(box, 3, 500, "t", handlers),
              (kit::Point{(300 + 10) / 2.0, (540 + 20) / 2.0}));
}

// ---- Creating and editing ---------------------------------------------------------

TEST_F(TextTest, ACreatingClickSizesTheBoxAndOpensIt) {
    auto t = typed("");
    EXPECT_EQ(t->state, "editing");
    EXPECT_EQ(t->rect, (services::Rect{100, 88, 100, 25}));  // top ceil(100 + 12.6), height round(25.2)
    EXPECT_FALSE(t->isEmpty());
    EXPECT_FALSE(t->editor->isHidden());
    EXPECT_TRUE(t->editor->isEditable());
    EXPECT_EQ(t->cursor({0, 0}), "ibeam");
    EXPECT_TRUE(handlers.layoutAnimationsOff);
}

TEST_F(TextTest, CreatingBelowFullZoomZoomsInUnderTheMouse) {
    setView(1, 0.5, 40, 30);
    handlers.sourceRect = {0, 0, 2000, 2000};  // larger than the view: the pan stays
    auto t = handlers.add<ObjText>();
    auto e = mouse();
    kit::Point click{240, 130};
    kit::Point before = handlers.viewToImage(click);
    t->mouseDown(&e, click);
    EXPECT_EQ(handlers.zoom(), 1.0);
    EXPECT_EQ(handlers.viewToImage(click), before);
    EXPECT_EQ(handlers.backdropLayouts, 1);
}

TEST_F(TextTest, CommitsReportDrawThenEditAndSaveUndo) {
    auto t = typed("Hello");
    KeyEvt esc = key(kit::KeyCode::Escape);
    t->keyDown(nullptr, esc);
    EXPECT_EQ(t->state, "selected");
    EXPECT_EQ(t->text, "Hello");
    EXPECT_EQ(t->textMode, "layer");
    EXPECT_TRUE(t->editor->isHidden());
    ASSERT_EQ(events("draw").size(), 1u);
    EXPECT_EQ(events("draw")[0]["length"], 5);
    EXPECT_EQ(handlers.undoLabels, (std::vector<std::string>{"Text edit"}));
    t->startEditing();
    t->editor->setString("Hello again");
    t->keyDown(nullptr, esc);
    auto edits = events("edit");
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0]["editType"], "text");
    EXPECT_EQ(edits[0]["length"], 11);
    // The reported length counts a joined emoji once.
    t->startEditing();
    t->editor->setString("Hi \xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB");
    t->keyDown(nullptr, esc);
    edits = events("edit");
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(edits[1]["length"], 4);
    t->keyDown(nullptr, esc);  // selected: hands it back to the manager
    EXPECT_EQ(handlers.deactivations, 1);
    EXPECT_EQ(handlers.objects.size(), 1u);  // not empty: kept
}

TEST_F(TextTest, AnEmptyCommitRemovesTheText) {
    auto t = typed("");
    t->stopEditing();
    EXPECT_TRUE(t->isEmpty());
    EXPECT_TRUE(handlers.objects.empty());
}

TEST_F(TextTest, SnapshotKeepsTheTopEdgeAndTakesTheTextSize) {
    setView(2, 1);
    auto t = typed("Snapshot");
    const double top = t->rect.y1 + t->rect.height;
    t->stopEditing();
    auto layout = t->unitLayout(t->text);
    EXPECT_DOUBLE_EQ(t->rect.width, layout.frame.width * 2);
    EXPECT_DOUBLE_EQ(t->rect.height, layout.frame.height * 2);
    EXPECT_DOUBLE_EQ(t->rect.y1 + t->rect.height, top);
    const kit::Image& shot = t->ltshot->contents();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.width(), int(std::ceil(layout.frame.width * 2)));
    // The box is filled with the object's colour and holds light text.
    auto mid = shot.colorAt(2, shot.height() / 2);
    EXPECT_GT(mid.r, 0.9);
    int light = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.colorAt(x, y).g > 0.9) ++light;
    EXPECT_GT(light, 20);
}

TEST_F(TextTest, InsetsGrowWithTheTextLength) {
    auto t = handlers.add<ObjText>();
    const double fs = 14;
    t->text = std::string(40, 'a');
    EXPECT_NEAR(t->unitLayout(t->text).hInset, fs / 6, 1e-9);
    EXPECT_NEAR(t->unitLayout(t->text).vInset, fs / 4, 1e-9);
    t->text = std::string(41, 'a');
    EXPECT_NEAR(t->unitLayout(t->text).hInset, 1.25 * fs / 6, 1e-9);
    t->text = std::string(161, 'a');
    EXPECT_NEAR(t->unitLayout(t->text).vInset, 2 * fs / 4, 1e-9);
    // "é" written with a combining accent counts as one character.
    t->text = std::string(39, 'a') + "e\xCC\x81";
    EXPECT_NEAR(t->unitLayout(t->text).hInset, fs / 6, 1e-9);
    // A flag and a joined family are one character each, as a reader counts.
    const std::string flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
    t->text = std::string(38, 'a') + flag + family;
    EXPECT_NEAR(t->unitLayout(t->text).hInset, fs / 6, 1e-9);
    t->text = std::string(39, 'a') + flag + family;
    EXPECT_NEAR(t->unitLayout(t->text).hInset, 1.25 * fs / 6, 1e-9);
    t->text = "";
    EXPECT_EQ(t->unitLayout(t->text).frame.width, 40);
    t->text = std::string(400, 'w');
    EXPECT_LE(t->unitLayout(t->text).frame.width, t->maxWidth);
}

TEST_F(TextTest, ColoursAndTypeface) {
    auto t = handlers.add<ObjText>();
    t->setValue("color", "#FFFFFF");
    EXPECT_EQ(t->textColor(), kit::Color::black());
    EXPECT_EQ(t->textFont(14).weight, kit::FontWeight::Regular);
    t->setValue("color", "#202020");
    EXPECT_EQ(t->textColor(), kit::Color::white(1));
    EXPECT_EQ(t->textFont(14).weight, kit::FontWeight::Medium);
    t->nobg = true;
    EXPECT_EQ(t->textColor(), t->color);
    store("typeface", "No Such Typeface 12345");
    EXPECT_TRUE(t->textFont(14).isSystem());
}

TEST_F(TextTest, DumpWhileTypingTakesNoNestedSnapshot) {
    auto t = typed("Typed but not committed");
    std::string d = t->dump();
    EXPECT_NE(d.find("Typed but not committed"), std::string::npos);
    EXPECT_TRUE(handlers.undoLabels.empty());
    EXPECT_EQ(t->state, "selected");
    // An empty text asked for its dump leaves only after the caller is done.
    auto empty = typed("");
    empty->dump();
    EXPECT_EQ(handlers.objects.size(), 2u);
}

TEST_F(TextTest, PlainArrowKeysMoveASelectedTextEachTheirWay) {
    auto t = typed("Moved by keys");
    t->stopEditing();
    t->state = "selected";
    services::Settings::shared().setRealPixels(true);
    const services::Rect start = t->rect;
    t->keyDown(nullptr, key(kit::KeyCode::LeftArrow));
    EXPECT_EQ(t->rect.x1, start.x1 - 1);
    t->keyDown(nullptr, key(kit::KeyCode::UpArrow));
    EXPECT_EQ(t->rect.y1, start.y1 + 1);  // y up
    t->keyDown(nullptr, key(kit::KeyCode::RightArrow, true));
    EXPECT_EQ(t->rect.x1, start.x1 - 1 + 10);
    t->keyDown(nullptr, key(kit::KeyCode::DownArrow, true));
    EXPECT_EQ(t->rect.y1, start.y1 + 1 - 10);
    // Only the position moves; the size and the wrap width stay.
    EXPECT_EQ(t->rect.width, start.width);
    EXPECT_EQ(t->rect.height, start.height);
    // Not while typing: the keys belong to the text then.
    t->startEditing();
    const services::Rect typing = t->rect;
    t->keyDown(nullptr, key(kit::KeyCode::LeftArrow));
    EXPECT_EQ(t->rect.x1, typing.x1);
}

TEST_F(TextTest, WidthKeysAndKnobDrags) {
    auto t = typed("Some words to wrap");
    t->stopEditing();
    services::Settings::shared().setRealPixels(true);
    // Command+Left narrows from the shown width, Command+Right widens the stored one.
    t->maxWidth = 500;
    double shown = t->rect.width;
    t->keyDown(nullptr, key(kit::KeyCode::LeftArrow, false, true));
    EXPECT_DOUBLE_EQ(t->maxWidth, std::max(shown - 1, 40.0));
    double before = t->maxWidth;
    t->keyDown(nullptr, key(kit::KeyCode::RightArrow, true, true));
    EXPECT_DOUBLE_EQ(t->maxWidth, before + 10);
    t->rect.width = 20;
    t->keyDown(nullptr, key(kit::KeyCode::LeftArrow, false, true));
    EXPECT_EQ(t->maxWidth, 40);
    // The pointer knob of a text without pointer gives it one.
    t->pDist = 0;
    t->state = "selected";
    t->draw();
    auto e = mouse();
    kit::Point knob{t->knobs[0]->dx, t->knobs[0]->dy};
    t->mouseDown(&e, knob);
    EXPECT_EQ(t->state, "point-pointer");
    EXPECT_EQ(t->pDist, 12);
    t->mouseDrag(&e, {t->rect.x1 + 10, t->rect.y1 - 40});
    EXPECT_EQ(t->pSide, "b");
    t->mouseUp(&e, {0, 0});
    EXPECT_EQ(stored("Kadrix.ObjText: pointerPresent"), "true");
    EXPECT_EQ(handlers.add<ObjText>()->pDist, 30);
}

TEST_F(TextTest, DrawHighlightAndPointerPreview) {
    auto t = typed("Hi");
    t->stopEditing();
    t->state = "highlighted";
    t->draw();
    EXPECT_FALSE(t->lbox->isHidden());
    EXPECT_EQ(t->lbox->frame(),
              (kit::Rect{t->rect.x1 - 2, t->rect.y1 - 2, t->rect.width + 4, t->rect.height + 4}));
    EXPECT_EQ(t->lpointer->lineWidth(), 2);
    t->pDist = 0;
    t->state = "selected";
    t->draw();
    EXPECT_FALSE(t->lpointer->path().isEmpty());  // the pale preview
    EXPECT_NEAR(t->lpointer->fillColor()->a, 0.3, 1e-9);
    t->text = "";
    t->state = "unselected";
    t->draw();
    EXPECT_TRUE(t->layer->isHidden());
}

TEST_F(TextTest, SizeValuesScaleTheWrapWidthAndStayInTheTable) {
    auto t = handlers.add<ObjText>();
    t->maxWidth = 300;
    t->setValue("size", "3");  // 14 → 20 points
    EXPECT_NEAR(t->maxWidth, 300 * 20.0 / 14, 1e-9);
    // The text's size value is taken as given ("size 9 sets size 9"); the
    // font table clamps only its index.
    t->setValue("size", "9");  // 20 → 150 points
    EXPECT_EQ(t->size, 9);
    EXPECT_NEAR(t->maxWidth, 300 * 150.0 / 14, 1e-9);
    t->setValue("size", "42");  // still the last entry, 150 points
    EXPECT_EQ(t->size, 42);
    EXPECT_NEAR(t->maxWidth, 300 * 150.0 / 14, 1e-9);
}

TEST_F(TextTest, RestoreRoundTripAndItsLateRefresh) {
    kit::ManualClockScope clock;
    auto t = typed("Round trip");
    t->stopEditing();
    std::string d = t->dump();
    auto u = handlers.add<ObjText>();
    ASSERT_TRUE(u->restore(d));
    EXPECT_EQ(u->text, "Round trip");
    EXPECT_EQ(u->textMode, "layer");
    EXPECT_EQ(u->dump(), d);
    EXPECT_FALSE(u->restore(R"({"color":"#FF0000","text":"x"})"));
    // The late refresh belongs to the object: gone with it.
    auto v = handlers.add<ObjText>();
    ASSERT_TRUE(v->restore(d));
    handlers.objects.pop_back();
    v.reset();
    clock.advance(0.1);
    EXPECT_EQ(u->text, "Round trip");
}

TEST_F(TextTest, TheEditingViewSitsOnTheCanvas) {
    auto canvas = kit::View::make({0, 0, 600, 400});
    handlers.canvas = canvas.get();
    setView(2, 1, 10, 20);
    auto t = typed("On the canvas", {100, 100});
    EXPECT_EQ(t->editor->superview(), canvas.get());
    // Its top-left corner on the box's, in canvas points.
    kit::Rect f = t->editor->frame();
    EXPECT_DOUBLE_EQ(f.x(), 100 / 2.0);  // the clicked canvas point
    EXPECT_DOUBLE_EQ(f.maxY(), ((t->rect.y1 + t->rect.height) + 20) / 2.0);
    t->stopEditing();
    t->editor->removeFromSuperview();
}

TEST_F(TextTest, TheEditingViewGrowsWithWhatIsTyped) {
    setView(2, 1, 10, 20);
    auto t = typed("");
    const kit::Rect empty = t->editor->frame();
    // Typing reaches the view itself, not the object.
    t->editor->view().setString("A longer line of typed text");
    const kit::Rect line = t->editor->frame();
    EXPECT_GT(line.width(), empty.width() + 50);
    EXPECT_DOUBLE_EQ(line.x(), empty.x());  // its top-left corner stays on the box's
    EXPECT_DOUBLE_EQ(line.maxY(), empty.maxY());
    t->editor->view().setString(
        "A longer line of typed text that goes on past the wrap width and so onto more lines");
    const kit::Rect lines = t->editor->frame();
    EXPECT_GT(lines.height(), line.height() * 1.5);
    EXPECT_LE(lines.width(), t->maxWidth + 1e-9);  // wraps at maxWidth (at zoom 1)
    EXPECT_DOUBLE_EQ(lines.maxY(), empty.maxY());
    // A layout while typing keeps the grown view.
    t->draw();
    EXPECT_EQ(t->editor->frame(), lines);
    // The box the editor reports while typing covers the typed text.
    EXPECT_DOUBLE_EQ(t->anchorPoint().width, lines.width() * 2);
    // The snapshot takes the typed text (with the insets of its length).
    t->stopEditing();
    EXPECT_GE(t->rect.height, lines.height() * 2);
    // Edited again at half zoom, the view lies exactly over the box it showed.
    setView(2, 0.5, 10, 20);
    t->startEditing();
    const kit::Rect again = t->editor->frame();
    EXPECT_DOUBLE_EQ(again.width(), t->rect.width * 0.5 / 2);
    EXPECT_DOUBLE_EQ(again.height(), t->rect.height * 0.5 / 2);
    EXPECT_EQ(t->editor->view().font().size, 14 * 0.5);  // the font at the canvas zoom too
    t->stopEditing();
}

TEST_F(TextTest, QuickClickEditsAgain) {
    kit::ManualClockScope clock;
    auto t = typed("Click me");
    t->stopEditing();
    auto e = mouse();
    kit::Point inside{t->rect.x1 + 10, t->rect.y1 + 5};
    t->mouseDown(&e, inside);
    EXPECT_EQ(t->state, "move");
    clock.advance(0.1);
    t->mouseUp(&e, inside);
    EXPECT_EQ(t->state, "editing");
    t->appendText("#FF0000");
    EXPECT_EQ(t->editor->string(), "Click me #FF0000");
}

}  // namespace

}  // namespace objects
