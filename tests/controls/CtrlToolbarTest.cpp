#include <gtest/gtest.h>

#include "controls/ControlLook.h"
#include "controls/CtrlButtonHover.h"
#include "controls/CtrlToolbar.h"
#include "controls/ImageAssets.h"
#include "kit/base/Timer.h"
#include "kit/draw/LayerRenderer.h"

using namespace controls;

namespace {

std::vector<std::pair<std::string, std::string>> fifteenTools() {
    std::vector<std::pair<std::string, std::string>> items;
    const char* titles[] = {
        "Crop/Select (V)", "Arrow (A)",      "Text (T)",        "Rectangle (R)", "Oval (O)",
        "Line (L)",        "Freehand (P)",   "Highlighter (H)", "Counter (N)",   "Conceal (B)",
        "Spotlight (S)",   "Ruler (1 or 2)", "Colour (C)",      "Backdrop (K)",  "Add Capture (\u2318A)"};
    int n = 0;
    for (const char* t : titles) {
        std::string icon = "tool-" + std::to_string(n++);
        kit::Image img(20, 20);
        img.setPixel(0, 0, {0, 0, static_cast<uint8_t>(n * 10), 255});
        ImageAssets::set(icon, img);
        items.push_back({t, icon});
    }
    return items;
}

std::shared_ptr<CtrlToolbar> bar(double width, int capacity = 999) {
    auto b = std::make_shared<CtrlToolbar>(kit::Rect{0, 0, width, 30});
    b->maxCapacity = capacity;
    b->layoutItems(fifteenTools());
    return b;
}

int visibleCount(const CtrlToolbar& b) {
    int n = 0;
    for (auto* item : b.itemButtons()) n += item->isHidden() ? 0 : 1;
    return n;
}

int menuCount(const CtrlToolbar& b) {
    int n = 0;
    for (auto& item : b.backupMenu->items()) n += item->isHidden() ? 0 : 1;
    return n;
}

}  // namespace

TEST(CtrlToolbar, EmptyBar) {
    auto b = std::make_shared<CtrlToolbar>(kit::Rect{0, 0, 2, 26});
    b->layoutItems({});
    ASSERT_TRUE(b->btnMore);
    EXPECT_TRUE(b->btnMore->isHidden());
    EXPECT_EQ(b->intrinsicContentSize().width, 2);
    EXPECT_EQ(b->intrinsicContentSize().height, 26);
}

TEST(CtrlToolbar, OverflowAtSeveralWidthsWithTheMenu) {
    auto b = bar(200);
    EXPECT_EQ(b->totalWidth, 16 * 32);
    EXPECT_FALSE(b->btnMore->isHidden());
    EXPECT_EQ(b->btnMore->frame().x(), 160);
    EXPECT_EQ(visibleCount(*b), 5);
    EXPECT_EQ(menuCount(*b), 10);
    EXPECT_TRUE(b->backupMenu->items()[4]->isHidden());
    EXPECT_FALSE(b->backupMenu->items()[5]->isHidden());

    b->setFrameSize({600, 30});
    b->layout();
    EXPECT_TRUE(b->btnMore->isHidden());
    EXPECT_EQ(visibleCount(*b), 15);
    EXPECT_EQ(menuCount(*b), 0);

    auto capped = bar(2000, 11);
    EXPECT_EQ(visibleCount(*capped), 10);
    EXPECT_EQ(capped->btnMore->frame().x(), 320);
}

TEST(CtrlToolbar, MenuItemsCarryKeysAndShortTitles) {
    auto b = bar(200);
    auto& items = b->backupMenu->items();
    ASSERT_EQ(items.size(), 15u);
    EXPECT_EQ(items[1]->title(), "Arrow");
    EXPECT_EQ(items[1]->keyEquivalent(), "a");
    EXPECT_EQ(items[1]->keyEquivalentModifierMask(), 0u);
    EXPECT_EQ(items[11]->title(), "Ruler (1 or 2)");
    EXPECT_EQ(items[11]->keyEquivalent(), "");
    EXPECT_EQ(items[14]->title(), "Add Capture");
    EXPECT_EQ(items[14]->keyEquivalentModifierMask(), kit::ModifierFlag::Command);
}

TEST(CtrlToolbar, SelectionAndTheMoreButton) {
    auto b = bar(200);
    auto items = b->itemButtons();
    kit::Image plainMore = b->btnMore->image();
    b->select("arrow");
    EXPECT_EQ(items[1]->state(), 1);
    EXPECT_EQ(b->btnMore->state(), 0);

    // An overflowing selection marks More with the item's icon.
    b->select("ruler");
    EXPECT_EQ(items[1]->state(), 0);
    EXPECT_EQ(items[11]->state(), 1);
    EXPECT_EQ(b->btnMore->state(), 1);
    EXPECT_NE(b->btnMore->image(), plainMore);
    EXPECT_EQ(b->btnMore->image().pointSize(), (kit::Size{24, 20}));

    // Widening until it shows restores the plain More icon.
    b->setFrameSize({600, 30});
    b->layout();
    EXPECT_EQ(b->btnMore->state(), 0);
    EXPECT_EQ(b->btnMore->image(), plainMore);
    // And narrowing hides it again, marking More.
    b->setFrameSize({200, 30});
    b->layout();
    EXPECT_EQ(b->btnMore->state(), 1);

    // A word no title holds turns everything off and leaves More as it was.
    b->select("nothing");
    EXPECT_EQ(items[11]->state(), 0);
    EXPECT_EQ(b->btnMore->state(), 1);
}

TEST(CtrlToolbar, MoreGlyphIsDrawnInTheTextColour) {
    auto b = bar(200);
    // The middle dot of the More glyph, in the button's 30 x 26 box.
    kit::Image shot = kit::renderToImage(*b->btnMore->layer(), 2.0);
    auto dot = shot.pixel(30, 26);
    kit::Color ink = ControlLook::textColor(false);
    EXPECT_NEAR(dot.a, ink.a * 255, 3);
    EXPECT_NEAR(dot.r, ink.r * ink.a * 255, 3);
    // Beside the glyph nothing is drawn.
    EXPECT_EQ(shot.pixel(4, 4).a, 0);
}

// The More button marked with an overflowing tool shows that tool's outline
// beside the dots, in the ink of the look: as much ink as the icon and the
// dots have, not a filled square.
TEST(CtrlToolbar, MoreButtonShowsTheChosenToolsShape) {
    for (bool dark : {false, true}) {
        const kit::Image pen = ImageAssets::named("20-highlighter", {dark, 2.0});
        const kit::Image dots = ImageAssets::named("20-more-overlay", {dark, 2.0});
        ASSERT_FALSE(pen.isNull());
        auto inked = [](const kit::Image& img) {
            int n = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y).a > 128 ? 1 : 0;
            return n;
        };
        auto b = bar(200);
        ImageAssets::set("tool-11", pen);
        b->itemButtons()[11]->setImage(pen);
        b->select("ruler");
        ASSERT_EQ(b->btnMore->state(), 1);
        kit::Image shot = kit::renderToImage(*b->btnMore->layer(), 2.0);
        // Only the glyph: the button's own on-state fill is faint.
        int drawn = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) drawn += shot.pixel(x, y).a > 160 ? 1 : 0;
        const int expected = inked(pen) + inked(dots);
        EXPECT_GT(drawn, expected / 2) << (dark ? "dark" : "light");
        EXPECT_LT(drawn, expected * 3 / 2) << (dark ? "dark" : "light");
        EXPECT_LT(drawn, 24 * 20 * 4 / 3) << "a third of the icon's box at most";
        ImageAssets::set("tool-11", {});
    }
}

TEST(CtrlToolbar, ClicksAndMenuChoicesReachTheCallback) {
    auto b = bar(200);
    std::vector<std::string> calls;
    b->callback = [&](ButtonBase*, const std::string& title) { calls.push_back(title); };
    auto items = b->itemButtons();
    ASSERT_GE(items.size(), 3u);
    b->select("arrow");
    items[2]->performClick();
    EXPECT_EQ(items[2]->state(), 1);
    EXPECT_EQ(items[1]->state(), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"Text (T)"}));

    b->theClick(*b->btnMore);  // opens the menu only
    b->backupMenu->close();
    EXPECT_EQ(calls.size(), 1u);

    ASSERT_GE(b->backupMenu->items().size(), 10u);
    b->backupMenu->items()[9]->performAction();
    EXPECT_EQ(calls.back(), "Conceal");
    EXPECT_EQ(items[2]->state(), 0);

    // With the selection in the overflow, a click on a shown item turns More off too.
    b->select("ruler");
    ASSERT_EQ(b->btnMore->state(), 1);
    items[0]->performClick();
    EXPECT_EQ(b->btnMore->state(), 0);
    EXPECT_EQ(items[11]->state(), 0);
}

TEST(CtrlToolbar, HoverReportsTitleAndCentre) {
    auto b = bar(200);
    std::vector<std::pair<std::string, int>> tips;
    int hides = 0;
    b->tooltipCallback = [&](const std::string& t, int x) { tips.push_back({t, x}); };
    b->tooltipCallbackHide = [&] { ++hides; };
    kit::Event move;
    move.type = kit::EventType::MouseMoved;
    move.locationInWindow = {70, 15};
    b->mouseMoved(move);
    ASSERT_EQ(tips.size(), 1u);
    EXPECT_EQ(tips[0].first, "Text (T)");
    EXPECT_EQ(tips[0].second, 79);      // 64 + 15
    move.locationInWindow = {190, 15};  // over a hidden item's place, past More
    b->mouseMoved(move);
    EXPECT_EQ(tips.size(), 1u);
    b->mouseExited({});
    EXPECT_EQ(hides, 1);
}

TEST(CtrlToolbar, FlashAndHoverStyle) {
    kit::ManualClockScope clock;
    auto b = bar(600);
    b->select("oval");
    b->flash();
    auto items = b->itemButtons();
    EXPECT_TRUE(items[4]->isHighlighted());
    EXPECT_EQ(items[4]->state(), 1);
    clock.advance(0.01);
    EXPECT_FALSE(items[4]->isHighlighted());

    kit::Image lit(20, 20);
    lit.setPixel(1, 1, {255, 255, 255, 255});
    ImageAssets::set("tool-0-hl", lit);
    auto hover = std::make_shared<CtrlToolbar>(kit::Rect{0, 0, 300, 32});
    hover->isHoverStyle = true;
    hover->selectable = false;
    hover->itemWidth = hover->itemHeight = 32;
    hover->layoutItems(fifteenTools());
    auto* first = dynamic_cast<CtrlButtonHover*>(hover->itemButtons()[0]);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->hoverImage, lit);
    int calls = 0;
    hover->callback = [&](ButtonBase*, const std::string&) { ++calls; };
    first->mouseDown({});  // hover-style items act on press
    EXPECT_EQ(calls, 1);
    // Without a highlighted variant the icon stays under the pointer.
    auto* second = dynamic_cast<CtrlButtonHover*>(hover->itemButtons()[1]);
    ASSERT_NE(second, nullptr);
    kit::Image before = second->image();
    second->mouseEntered({});
    EXPECT_FALSE(second->image().isNull());
    EXPECT_EQ(second->image(), before);
    hover->select("text");  // not selectable: nothing is marked
    EXPECT_EQ(hover->itemButtons()[2]->state(), 0);
}
