// The wrapping grid: cells per row, row placement from the top, intrinsic height.
#include <gtest/gtest.h>

#include "controls/CtrlWrappedStack.h"

using namespace controls;

using controls::CtrlWrappedStack;

TEST(CtrlWrappedStackTest, CellsPerRowAreTheMostThatFitTheWidth) {
    EXPECT_EQ(CtrlWrappedStack::cellsPerRow(140, 40, 10), 3) << "3 × 40 + 2 × 10 fits exactly";
    EXPECT_EQ(CtrlWrappedStack::cellsPerRow(139, 40, 10), 2);
    EXPECT_EQ(CtrlWrappedStack::cellsPerRow(40, 40, 10), 1);
    EXPECT_EQ(CtrlWrappedStack::cellsPerRow(39, 40, 10), 1) << "narrower than a cell: still one per row";
    EXPECT_EQ(CtrlWrappedStack::cellsPerRow(0, 40, 10), 1);
    EXPECT_EQ(CtrlWrappedStack::cellsPerRow(100, 0, 0), 1) << "no cell size: no division by zero";
}

TEST(CtrlWrappedStackTest, HeightCountsTheRowsAndIsZeroWhenEmpty) {
    EXPECT_EQ(CtrlWrappedStack::heightFor(7, 3, 40, 10), 140);
    EXPECT_EQ(CtrlWrappedStack::heightFor(6, 3, 40, 10), 90);
    EXPECT_EQ(CtrlWrappedStack::heightFor(0, 3, 40, 10), 0);
    EXPECT_EQ(CtrlWrappedStack::heightFor(2, 0, 40, 10), 90) << "zero per row counts as one";
}

TEST(CtrlWrappedStackTest, SevenCellsFillRowsOfThreeFromTheTop) {
    auto stack = std::make_shared<CtrlWrappedStack>(kit::Rect{0, 0, 140, 200});
    for (int i = 0; i < 7; ++i) stack->addSubview(kit::View::make({0, 0, 5, 5}));
    stack->layout();
    auto& cells = stack->subviews();
    EXPECT_EQ(cells[0]->frame(), (kit::Rect{0, 160, 40, 40})) << "the first row at the top";
    EXPECT_EQ(cells[2]->frame(), (kit::Rect{100, 160, 40, 40}));
    EXPECT_EQ(cells[3]->frame(), (kit::Rect{0, 110, 40, 40}));
    EXPECT_EQ(cells[6]->frame(), (kit::Rect{0, 60, 40, 40})) << "empty space stays below the last row";
    EXPECT_EQ(stack->intrinsicContentSize().height, 140);
    EXPECT_EQ(stack->intrinsicContentSize().width, 140);

    stack->setFrameSize({139, 200});
    stack->layout();
    EXPECT_EQ(cells[2]->frame(), (kit::Rect{0, 110, 40, 40})) << "two per row at 139";
    EXPECT_EQ(stack->intrinsicContentSize().height, 190);
}
