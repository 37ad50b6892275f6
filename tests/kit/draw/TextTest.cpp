#include <gtest/gtest.h>

#include <cmath>

#include "kit/draw/Font.h"
#include "kit/draw/TextLayer.h"
#include "kit/draw/TextMeasure.h"

using namespace kit;

TEST(Font, SystemFontAndExistenceCheck) {
    std::string sys = Font::systemFamily();
    ASSERT_FALSE(sys.empty());
    EXPECT_TRUE(Font::exists(sys));
    EXPECT_FALSE(Font::exists("No Such Typeface 7f3a"));
    EXPECT_FALSE(Font::exists(""));
    EXPECT_FALSE(Font::named("No Such Typeface 7f3a", 12));
    auto f = Font::named(sys, 12, FontWeight::Medium);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->weight, FontWeight::Medium);
    auto all = Font::families();
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
}

TEST(TextMeasure, SizesFollowTextFontAndWidth) {
    Font f = Font::system(20);
    FontMetrics m = fontMetrics(f);
    EXPECT_GT(m.ascent, 10);
    EXPECT_NEAR(m.lineHeight, m.ascent + m.descent + m.leading, 1.0);

    Size one = measureText("Screenshot", f);
    Size two = measureText("Screenshot Screenshot", f);
    EXPECT_GT(one.width, 40);
    EXPECT_GT(two.width, one.width * 1.8);
    EXPECT_NEAR(one.height, m.lineHeight, 1.0);
    EXPECT_NEAR(textAdvance("Screenshot", f), one.width, 1.0);

    // Twice the size, about twice the width.
    Size big = measureText("Screenshot", f.withSize(40));
    EXPECT_NEAR(big.width / one.width, 2.0, 0.15);

    // Wrapping at a width: more lines, none wider than the width.
    Size wrapped = measureText("Screenshot Screenshot Screenshot", f, one.width * 1.2);
    EXPECT_LE(wrapped.width, one.width * 1.2 + 0.5);
    EXPECT_NEAR(wrapped.height, 3 * one.height, 1.5);

    Size lines = measureText("a\nb", f);
    EXPECT_NEAR(lines.height, 2 * one.height, 1.0);
    Size empty = measureText("", f);
    EXPECT_EQ(empty.width, 0);
    EXPECT_NEAR(empty.height, one.height, 1.0);
}

TEST(TextLayer, PreferredFrameSizeRoundsUpTheMeasure) {
    auto t = TextLayer::make();
    t->setFontSize(11);
    t->setFont(Font::system(11, FontWeight::Medium));
    t->setString("42");
    Size m = measureText("42", Font::system(11, FontWeight::Medium));
    Size p = t->preferredFrameSize();
    EXPECT_EQ(p.width, std::ceil(m.width));
    EXPECT_EQ(p.height, std::ceil(m.height));
    t->setFontSize(-3);  // ignored
    EXPECT_EQ(t->fontSize(), 11);
}
