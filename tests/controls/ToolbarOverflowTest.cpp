#include <gtest/gtest.h>

#include "controls/ToolbarOverflow.h"

using namespace controls;

TEST(ToolbarOverflow, KeysAndMenuTitlesFromItemTitles) {
    auto arrow = toolbarKeyEquivalent("Arrow (A)");
    EXPECT_EQ(arrow.key, "a");
    EXPECT_FALSE(arrow.command);
    auto add = toolbarKeyEquivalent("Add Capture (\u2318A)");
    EXPECT_EQ(add.key, "a");
    EXPECT_TRUE(add.command);
    EXPECT_EQ(toolbarKeyEquivalent("Ruler (1 or 2)").key, "");
    EXPECT_EQ(toolbarKeyEquivalent("Crop/Select (V)").key, "v");
    EXPECT_EQ(toolbarKeyEquivalent("Plain").key, "");

    EXPECT_EQ(toolbarMenuTitle("Arrow (A)"), "Arrow");
    EXPECT_EQ(toolbarMenuTitle("Add Capture (\u2318A)"), "Add Capture");
    EXPECT_EQ(toolbarMenuTitle("Ruler (1 or 2)"), "Ruler (1 or 2)");
    EXPECT_EQ(toolbarMenuTitle("Text(T)"), "Text");
}

// Visible item indexes of a bar of n items under the plan.
static int visibleItems(int n, double itemWidth, double padding, const ToolbarOverflow& plan) {
    int visible = 0;
    for (int k = 0; k < n; ++k)
        if (k * (itemWidth + padding) + itemWidth <= plan.limit) ++visible;
    return visible;
}

TEST(ToolbarOverflow, SlotsAtSeveralWidths) {
    double total = 16 * 32.0;  // fifteen tools and the More button
    auto narrow = toolbarOverflow(30, 2, 999, 200, total);
    EXPECT_TRUE(narrow.moreVisible);
    EXPECT_EQ(narrow.moreLeading, 160);
    EXPECT_EQ(narrow.limit, 167);
    EXPECT_EQ(visibleItems(15, 30, 2, narrow), 5);

    // Exactly wide enough for every item (the More slot's own width is not needed).
    auto fits = toolbarOverflow(30, 2, 999, 481, total);
    EXPECT_FALSE(fits.moreVisible);
    EXPECT_EQ(visibleItems(15, 30, 2, fits), 15);
    auto oneShort = toolbarOverflow(30, 2, 999, 480, total);
    EXPECT_TRUE(oneShort.moreVisible);
    EXPECT_EQ(oneShort.moreLeading, 14 * 32);
    EXPECT_EQ(visibleItems(15, 30, 2, oneShort), 14);

    // A capacity of eleven slots: ten items and the More button however wide the bar.
    auto capped = toolbarOverflow(30, 2, 11, 2000, total);
    EXPECT_TRUE(capped.moreVisible);
    EXPECT_EQ(capped.moreLeading, 320);
    EXPECT_EQ(visibleItems(15, 30, 2, capped), 10);

    // Hover-style 32 x 32 items with a narrow bar.
    auto hover = toolbarOverflow(32, 2, 32, 100, 6 * 34.0);
    EXPECT_EQ(hover.moreLeading, 34);
    EXPECT_EQ(visibleItems(5, 32, 2, hover), 1);
}

TEST(ToolbarOverflow, EmptyBarHidesMore) {
    // The empty bar's own width is its intrinsic width, the padding.
    auto empty = toolbarOverflow(30, 2, 999, 2, 32);
    EXPECT_FALSE(empty.moreVisible);
    EXPECT_EQ(empty.limit, 3);
}
