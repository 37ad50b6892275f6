#include <gtest/gtest.h>

#include <stdexcept>

#include "controls/ClickableView.h"
#include "controls/CtrlColoredPopoverView.h"
#include "controls/CtrlInputCell.h"
#include "controls/CtrlMouseListener.h"
#include "controls/CtrlTooltippedSegments.h"
#include "controls/cellSliderSize.h"
#include "controls/hoveredToolTip.h"
#include "kit/base/Dispatch.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"

using namespace controls;

namespace {

kit::Event moveTo(kit::Point p) {
    kit::Event e;
    e.type = kit::EventType::MouseMoved;
    e.locationInWindow = p;
    return e;
}

std::shared_ptr<CtrlTooltippedSegments> threeSegments() {
    auto s = std::make_shared<CtrlTooltippedSegments>(kit::Rect{0, 0, 90, 24});
    s->setSegmentCount(3);
    s->setToolTip("Copy", 0);
    s->setToolTip("Save", 1);
    return s;
}

}  // namespace

TEST(CtrlTooltippedSegments, TakesTooltipsOnceAndReportsHoveredSegment) {
    auto s = threeSegments();
    s->mouseMoved(moveTo({10, 10}));  // no callback yet: the tooltips are taken anyway
    EXPECT_EQ(s->tooltipsCache, (std::vector<std::string>{"Copy", "Save", ""}));
    EXPECT_EQ(s->toolTip(0), "");
    s->setToolTip("Later", 2);  // set after the first move: never reported

    std::vector<std::pair<std::string, int>> tips;
    s->tooltipCallback = [&](const std::string& t, int x) { tips.push_back({t, x}); };
    s->mouseMoved(moveTo({40, 10}));
    s->mouseMoved(moveTo({80, 10}));
    ASSERT_EQ(tips.size(), 2u);
    EXPECT_EQ(tips[0], (std::pair<std::string, int>{"Save", 45}));
    EXPECT_EQ(tips[1], (std::pair<std::string, int>{"", 75}));

    int hides = 0;
    s->mouseExited({});
    s->tooltipCallbackHide = [&] { ++hides; };
    s->mouseExited({});
    EXPECT_EQ(hides, 1);
}

TEST(CtrlTooltippedSegments, ClickSelectsASegment) {
    auto s = threeSegments();
    int acted = -1;
    s->action = [&](CtrlTooltippedSegments& c) { acted = c.selectedSegment(); };
    kit::Event down = moveTo({70, 5});
    s->mouseDown(down);
    s->mouseUp(down);
    EXPECT_EQ(acted, 2);
    // Released over another segment: nothing.
    acted = -1;
    s->mouseDown(moveTo({5, 5}));
    s->mouseUp(moveTo({50, 5}));
    EXPECT_EQ(acted, -1);
    EXPECT_EQ(s->selectedSegment(), 2);
}

TEST(HoveredToolTip, LastViewUnderThePointWins) {
    auto root = kit::View::make({0, 0, 200, 100});
    auto parent = kit::View::make({10, 10, 100, 50});
    auto child = kit::View::make({5, 5, 20, 20});
    auto sibling = kit::View::make({0, 0, 50, 50});
    parent->setToolTip("parent");
    child->setToolTip("child");
    sibling->setToolTip("sibling");
    parent->addSubview(child);
    root->addSubview(parent);
    root->addSubview(sibling);

    std::optional<std::string> found;
    hoveredToolTip(root->subviews(), {20, 20}, found);
    EXPECT_EQ(found, "sibling");  // parent, child, then the later sibling
    EXPECT_EQ(parent->toolTip(), "");
    EXPECT_EQ(child->toolTip(), "");

    // Remembered after the platform tooltips were taken away.
    sibling->setHidden(true);
    found.reset();
    hoveredToolTip(root->subviews(), {20, 20}, found);
    EXPECT_EQ(found, "child");

    // A hidden view shows nothing, nor do the views inside it.
    parent->setHidden(true);
    found = "untouched";
    hoveredToolTip(root->subviews(), {20, 20}, found);
    EXPECT_EQ(found, "untouched");

    found.reset();
    parent->setHidden(false);
    hoveredToolTip(root->subviews(), {150, 90}, found);
    EXPECT_FALSE(found.has_value());
}

TEST(TooltipText, SplitsTheLabelFromTheShortcut) {
    auto p = splitTooltip("  Copy  (Ctrl+C)");
    EXPECT_EQ(p.label, "Copy");
    EXPECT_EQ(p.key, "(Ctrl+C)");
    p = splitTooltip("Close");
    EXPECT_EQ(p.label, "Close");
    EXPECT_EQ(p.key, "");
    // A leading parenthesis: the first piece is what follows it.
    p = splitTooltip("(Ctrl+C) (more");
    EXPECT_EQ(p.label, "Ctrl+C)");
    EXPECT_EQ(p.key, "(more");
}

TEST(CellSliderSize, WedgeAndTracking) {
    kit::Path wedge = cellSliderSize::barPath({0, 0, 100, 20});
    EXPECT_EQ(wedge.bounds(), (kit::Rect{4.5, 4.5, 91, 11}));
    EXPECT_TRUE(wedge.contains({90, 14}));   // tall at the right
    EXPECT_FALSE(wedge.contains({10, 14}));  // thin at the left
    EXPECT_TRUE(wedge.contains({10, 10}));

    auto s = std::make_shared<cellSliderSize>(kit::Rect{0, 0, 104, 24});
    s->minValue = 0;
    s->maxValue = 7;
    s->numberOfTickMarks = 8;
    s->allowsTickMarkValuesOnly = true;
    int changes = 0;
    s->action = [&](cellSliderSize&) { ++changes; };
    kit::Event e = moveTo({60, 12});
    s->mouseDown(e);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(s->value(), 4);
    s->mouseDragged(moveTo({500, 12}));
    EXPECT_EQ(s->value(), 7);
}

TEST(CtrlColoredPopoverView, PutsOneBackgroundBehindThePopover) {
    kit::Window window({100, 100, 240, 160}, kit::WindowStyle::Borderless);
    auto label = kit::View::make({10, 10, 50, 20});
    window.contentView()->addSubview(label);
    auto content = std::make_shared<CtrlColoredPopoverView>(kit::Rect{0, 0, 240, 160});
    window.contentView()->addSubview(content);
    ASSERT_TRUE(content->backgroundView);
    EXPECT_EQ(window.contentView()->subviews().front(), content->backgroundView);
    EXPECT_EQ(content->backgroundView->frame(), window.contentView()->bounds());
    EXPECT_EQ(content->backgroundView->layer()->backgroundColor(), (kit::Color{0.16, 0.16, 0.17, 1.0}));
    auto first = content->backgroundView;
    content->removeFromSuperview();
    window.contentView()->addSubview(content);
    EXPECT_EQ(content->backgroundView, first);

    // A kit popover paints its own background: it takes the colour.
    kit::Popover popover;
    auto inPopover = std::make_shared<CtrlColoredPopoverView>(kit::Rect{0, 0, 200, 120});
    CtrlColoredPopoverView::installIn(popover, inPopover);
    EXPECT_EQ(popover.contentView(), inPopover);
    EXPECT_EQ(popover.backgroundColor(), (kit::Color{0.16, 0.16, 0.17, 1.0}));
}

TEST(CtrlMouseListener, ReportsEnterAndExit) {
    auto l = std::make_shared<CtrlMouseListener>(kit::Rect{0, 0, 10, 10});
    l->mouseEntered({});  // no closure: ignored
    std::vector<bool> seen;
    l->mouseInside = [&](bool in) { seen.push_back(in); };
    l->mouseEntered({});
    l->mouseExited({});
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    ASSERT_EQ(l->trackingAreas().size(), 1u);
    EXPECT_TRUE(l->trackingAreas()[0].options & kit::TrackingOption::ActiveAlways);
}

TEST(ClickableView, HighlightAndActionOnEveryMouseUp) {
    auto c = std::make_shared<ClickableView>(kit::Rect{0, 0, 40, 20});
    int acted = 0;
    c->action = [&](ClickableView&) { ++acted; };
    c->mouseEntered({});
    EXPECT_DOUBLE_EQ(c->layer()->backgroundColor()->a, 0.18);
    c->mouseDown({});
    EXPECT_DOUBLE_EQ(c->layer()->backgroundColor()->a, 0.28);
    c->mouseExited({});
    c->mouseUp(moveTo({300, 300}));  // released far outside: still acts
    EXPECT_EQ(acted, 1);
    EXPECT_EQ(c->layer()->backgroundColor(), kit::Color::clear());
}

TEST(CtrlInputCell, BoxWhileEditingAndNot) {
    CtrlInputCell cell;
    auto idle = cell.box({0, 0, 100, 24}, false, false);
    EXPECT_EQ(idle.lineWidth, 0.5);
    EXPECT_EQ(idle.rect, (kit::Rect{1.25, 1.25, 97.5, 21.5}));
    EXPECT_DOUBLE_EQ(idle.fill.a, 0.07);
    EXPECT_DOUBLE_EQ(idle.stroke.a, 0.13);
    auto editing = cell.box({0, 0, 100, 24}, true, false);
    EXPECT_EQ(editing.lineWidth, 2.0);
    EXPECT_EQ(editing.rect, (kit::Rect{1, 1, 98, 22}));

    EXPECT_EQ(CtrlInputCell::centredTitleRect({2, 2, 96, 20}, 14), (kit::Rect{2, 4, 96, 14}));
    auto shape = kit::ShapeLayer::make();
    cell.drawWithFrame(*shape, {0, 0, 100, 24}, true, false);
    EXPECT_EQ(shape->lineWidth(), 2.0);
    EXPECT_EQ(shape->path().bounds(), (kit::Rect{1, 1, 98, 22}));
}

// In a real field the cell sees the field start and stop being edited by
// itself, and the text sits in the cell's centred rectangle, one point up.
TEST(CtrlInputCell, InARealFieldFollowsEditingAndCentresTheText) {
    kit::Window window({100, 100, 240, 120}, kit::WindowStyle::Titled);
    auto other = std::make_shared<kit::TextField>(kit::Rect{10, 10, 100, 24});
    auto field = std::make_shared<kit::TextField>(kit::Rect{10, 50, 100, 30});
    window.contentView()->addSubview(other);
    window.contentView()->addSubview(field);
    field->setStringValue("1280");
    auto cell = std::make_shared<CtrlInputCell>();
    field->setCell(cell);
    window.makeKeyAndOrderFront();
    kit::processMainEvents();

    auto box = [&]() -> const kit::ShapeLayer& {
        for (const auto& l : field->layer()->sublayers())
            if (auto* s = dynamic_cast<const kit::ShapeLayer*>(l.get())) return *s;
        throw std::runtime_error("the field has no box");
    };
    EXPECT_EQ(box().lineWidth(), 0.5);
    EXPECT_EQ(box().path().bounds(), (kit::Rect{1.25, 1.25, 97.5, 27.5}));

    field->makeFirstResponder();
    kit::processMainEvents();
    ASSERT_TRUE(field->isEditing());
    EXPECT_EQ(box().lineWidth(), 2.0);
    EXPECT_EQ(box().path().bounds(), (kit::Rect{1, 1, 98, 28}));
    other->makeFirstResponder();
    kit::processMainEvents();
    EXPECT_FALSE(field->isEditing());
    EXPECT_EQ(box().lineWidth(), 0.5);

    kit::Rect text = field->textRect();
    double line = text.height();
    EXPECT_GT(line, 8);
    EXPECT_NEAR(text.y(), (30 - line) / 2 - 1, 1.0);

    // A taller field keeps the text centred: its ink moves down by half the
    // growth. The box follows the new size.
    auto inkTop = [&](kit::View& v) {
        kit::Image shot = v.snapshot(1);
        for (int row = 3; row < shot.height() - 3; ++row)
            for (int x = 4; x < 60; ++x)
                if (shot.colorAt(x, row).r < 0.5 && shot.colorAt(x, row).a > 0.5) return row;
        return -1;
    };
    const int before = inkTop(*field);
    ASSERT_GE(before, 0) << "no text drawn";
    // One point above where a plain field of that size puts it.
    auto plain = std::make_shared<kit::TextField>(kit::Rect{120, 50, 100, 30});
    plain->setBezeled(false);
    plain->setStringValue("1280");
    window.contentView()->addSubview(plain);
    kit::processMainEvents();
    EXPECT_EQ(inkTop(*plain) - before, 1);
    field->setFrameSize({100, 44});
    kit::processMainEvents();
    EXPECT_NEAR(inkTop(*field) - before, 7, 1);
    EXPECT_NEAR(field->textRect().y(), (44 - line) / 2 - 1, 1.0);
    EXPECT_EQ(box().path().bounds(), (kit::Rect{1.25, 1.25, 97.5, 41.5}));
    window.orderOut();
}
