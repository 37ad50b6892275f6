// The library view's rules without a window: quick-look geometry, the tool
// bar's title matching, popover sizes, status-line texts, which areas show,
// reselection after a delete, typing keys and the ordering of searches.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "library/LibViewText.h"
#include "support/ScopedEnv.h"

using namespace library;

TEST(QuickLookFrame, BesideThePopoverWithinTheRoomOnItsLeft) {
    kit::Rect visible(0, 0, 1920, 1050);
    kit::Rect popover(1000, 400, 380, 600);  // top at 1000
    auto f = quickLookFrame({3000, 2000}, visible, popover);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->width(), 960);  // min(1000 - 40, 1200, 3000)
    EXPECT_EQ(f->height(), 640);
    EXPECT_EQ(f->maxX(), 1000 - 16);
    EXPECT_EQ(f->maxY(), 1000 - 30);
}

TEST(QuickLookFrame, NeverEnlargesAndLimitsTallImagesToTheRoomAbove) {
    kit::Rect visible(0, 0, 1440, 875);
    auto small = quickLookFrame({100, 50}, visible, kit::Rect(1000, 200, 380, 600));
    ASSERT_TRUE(small);
    EXPECT_EQ(small->size, (kit::Size{100, 50}));

    auto tall = quickLookFrame({400, 4000}, visible, kit::Rect(1000, 200, 380, 600));
    ASSERT_TRUE(tall);
    double maxHeight = 800 - 0 - 50;  // popover top 800
    EXPECT_EQ(tall->height(), maxHeight);
    EXPECT_EQ(tall->width(), std::round(maxHeight / 10));
}

TEST(QuickLookFrame, CentredWithoutAPopover) {
    kit::Rect visible(0, 25, 1440, 875);
    auto f = quickLookFrame({3000, 2000}, visible, std::nullopt);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->size, (kit::Size{1200, 800}));  // fits under 875 - 50
    EXPECT_EQ(f->midX(), visible.midX());
    EXPECT_EQ(f->midY(), visible.midY());
}

TEST(QuickLookFrame, NoRoomOnTheLeftOrNoHeightStaysSane) {
    kit::Rect visible(0, 0, 1440, 875);
    // A popover at the screen's left edge leaves no width beside it: centred instead.
    auto f = quickLookFrame({800, 600}, visible, kit::Rect(10, 200, 380, 600));
    ASSERT_TRUE(f);
    EXPECT_GT(f->width(), 0);
    EXPECT_GT(f->height(), 0);
    EXPECT_EQ(f->midX(), visible.midX());
    // A popover so low there is no room above the bottom margin: centred as well.
    auto low = quickLookFrame({800, 600}, visible, kit::Rect(1000, 0, 380, 40));
    ASSERT_TRUE(low);
    EXPECT_GT(low->height(), 0);
    EXPECT_GE(low->minY(), visible.minY());
    // An image without height or width has no frame (no division by zero).
    EXPECT_FALSE(quickLookFrame({800, 0}, visible, std::nullopt));
    EXPECT_FALSE(quickLookFrame({0, 600}, visible, kit::Rect(1000, 200, 380, 600)));
    // A one-pixel-high strip keeps a positive height.
    auto strip = quickLookFrame({5000, 1}, visible, std::nullopt);
    ASSERT_TRUE(strip);
    EXPECT_GE(strip->height(), 1);
}

TEST(ToolTitles, NormalisedAsTheirClicksAreMatched) {
    EXPECT_EQ(normalizeToolTitle("Area Capture"), "area");
    EXPECT_EQ(normalizeToolTitle("Scrolling Capture (Up)"), "scrolling  (up)");
    EXPECT_EQ(normalizeToolTitle("Load From Clipboard "), "load from clipboard");
    EXPECT_EQ(normalizeToolTitle("Fullscreen Screenshot"), "fullscreen screenshot");
    EXPECT_EQ(normalizeToolTitle("Text/QR Recognition"), "text/qr recognition");
}

TEST(PopoverSize, SmallOrTallAsTheScreenAllows) {
    EXPECT_EQ(popoverSize("small", 1000), (kit::Size{380, 580}));
    EXPECT_EQ(popoverSize("large", 1000), (kit::Size{560, 900}));
    EXPECT_EQ(popoverSize("medium", 600), (kit::Size{560, 580}));
    EXPECT_EQ(popoverSize("medium", -1), (kit::Size{560, 580}));  // no screen
    // A screen lower than the popover (1080 pixels at scale 2, a panel at
    // the bottom): the popover is as high as the screen, and no higher.
    EXPECT_EQ(popoverSize("small", 516, 12), (kit::Size{380, 504}));
    EXPECT_EQ(popoverSize("medium", 516, 12), (kit::Size{560, 504}));
    EXPECT_EQ(popoverSize("small", 592, 12), (kit::Size{380, 580})) << "where it fits it keeps its size";
    EXPECT_EQ(popoverSize("medium", 1000, 12), (kit::Size{560, 900}));
}

TEST(StatusLine, SizesAndDates) {
    EXPECT_EQ(statusSize(1048576), ", 1024kb");
    EXPECT_EQ(statusSize(1048577), ", 1.0mb");
    EXPECT_EQ(statusSize(2516582), ", 2.4mb");
    EXPECT_EQ(statusSize(1536), ", 2kb");  // 1.5 rounds away from zero
    EXPECT_EQ(statusSize(0), "");

    {
        testsupport::ScopedEnv utc("TZ", "UTC");
        tzset();
        EXPECT_EQ(statusDate(1709651220), "Mar 5, 2024 at 3:07pm");
        EXPECT_EQ(statusDate(1709596800), "Mar 5, 2024 at 12:00am");
        EXPECT_EQ(selectedStatus(1709651220, 0), "1 image (Mar 5, 2024 at 3:07pm)");
        EXPECT_EQ(selectedStatus(1709651220, 250880), "1 image (Mar 5, 2024 at 3:07pm, 245kb)");
    }
    tzset();

    EXPECT_EQ(imagesText(1), "1 image");
    EXPECT_EQ(imagesText(0), "0 images");
}

TEST(Visibility, FollowsTheStateTable) {
    // Off: only the big message may show, and the status line hides.
    Visibility off = visibilityFor({.enabled = false, .bigMessage = true, .visibleCount = 5});
    EXPECT_TRUE(off.message);
    EXPECT_FALSE(off.gallery || off.search || off.spinner || off.progress);
    EXPECT_EQ(off.status, false);

    // Idle with entries and files waiting: gallery, search and the offer; the status line is left alone.
    Visibility idle = visibilityFor({.enabled = true, .queued = 3, .visibleCount = 5});
    EXPECT_TRUE(idle.gallery && idle.search && idle.progress);
    EXPECT_FALSE(idle.spinner || idle.message);
    EXPECT_FALSE(idle.status.has_value());

    // Loading: the spinner only.
    Visibility loading = visibilityFor({.enabled = true, .loading = true, .visibleCount = 5});
    EXPECT_TRUE(loading.spinner);
    EXPECT_FALSE(loading.gallery || loading.search || loading.message || loading.progress);

    // A message while indexing: message, no search, no offer, no status.
    Visibility indexing = visibilityFor(
        {.enabled = true, .bigMessage = true, .indexing = true, .queued = 3, .visibleCount = 5});
    EXPECT_TRUE(indexing.message);
    EXPECT_FALSE(indexing.search || indexing.progress || indexing.gallery);
    EXPECT_EQ(indexing.status, false);

    // A message beside entries (nothing found): the search stays to change the query.
    Visibility notFound = visibilityFor({.enabled = true, .bigMessage = true, .visibleCount = 5});
    EXPECT_TRUE(notFound.message && notFound.search);
    EXPECT_FALSE(notFound.gallery);

    // An empty library shows no gallery and no search.
    Visibility empty = visibilityFor({.enabled = true, .queued = 3});
    EXPECT_FALSE(empty.gallery || empty.search || empty.progress);
}

TEST(DeleteReselection, SelectsTheNextOrTheNewLastItem) {
    EXPECT_EQ(reselectAfterDelete(4, 1, 9), 4);  // the item that moved up into the place
    EXPECT_EQ(reselectAfterDelete(9, 1, 9), 8);  // the last was deleted: the new last
    EXPECT_EQ(reselectAfterDelete(5, 3, 7), 3);  // three up to the anchor
    EXPECT_EQ(reselectAfterDelete(0, 4, 2), 0);
    EXPECT_EQ(reselectAfterDelete(2, 3, 0), std::nullopt);  // nothing left
}

TEST(TypingKeys, LettersPunctuationOrBlanksButNotMixedOrControl) {
    EXPECT_TRUE(isTypingKey("a"));
    EXPECT_TRUE(isTypingKey("7"));
    EXPECT_TRUE(isTypingKey("é"));
    EXPECT_TRUE(isTypingKey("?"));
    EXPECT_TRUE(isTypingKey(" "));
    EXPECT_FALSE(isTypingKey(""));
    EXPECT_FALSE(isTypingKey("\r"));
    EXPECT_FALSE(isTypingKey("\x1b"));
    EXPECT_FALSE(isTypingKey("a?"));
}

TEST(SearchSequence, OnlyTheNewestTicketIsCurrent) {
    SearchSequence seq;
    uint64_t first = seq.begin();
    uint64_t second = seq.begin();
    EXPECT_FALSE(seq.isCurrent(first));
    EXPECT_TRUE(seq.isCurrent(second));
    seq.cancel();
    EXPECT_FALSE(seq.isCurrent(second));
}
