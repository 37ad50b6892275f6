#include <gtest/gtest.h>

#include "kit/base/Regex.h"

namespace {

TEST(Regex, GroupsMatchesAndCase) {
    kit::Regex re("(a)|(b)");
    auto all = re.matches("xbya");
    ASSERT_EQ(all.size(), 2u);
    ASSERT_EQ(all[0].groups.size(), 3u);
    EXPECT_EQ(all[0].text(), "b");
    EXPECT_FALSE(all[0].groups[1]);  // a group that took no part has no value
    EXPECT_EQ(all[0].groups[2], "b");
    EXPECT_EQ(all[1].groups[1], "a");
    EXPECT_FALSE(all[1].groups[2]);  // even the last one

    EXPECT_FALSE(kit::Regex("abc").firstMatch("xABCx"));
    auto m = kit::Regex("abc", kit::Regex::caseInsensitive).firstMatch("xABCx");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->text(), "ABC");

    EXPECT_TRUE(kit::Regex("[0-9]+").matchesWhole("123"));
    EXPECT_FALSE(kit::Regex("[0-9]+").matchesWhole("123a"));
    EXPECT_FALSE(kit::Regex("[0-9]+").matchesWhole("a123"));
    EXPECT_FALSE(kit::Regex("1|12").matchesWhole("12x"));
    EXPECT_TRUE(kit::Regex("1|12").matchesWhole("12"));
}

TEST(Regex, UnicodeReplacementAndBadPatterns) {
    // Matches are whole characters of UTF-8 text, given back as UTF-8.
    auto m = kit::Regex("\\((.)\\)").firstMatch("Add (\u2318A)");
    EXPECT_FALSE(m);
    m = kit::Regex("\\(([^ ]+)\\)").firstMatch("Add (\u2318A)");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->groups[1], "\u2318A");
    // The replacement is literal text.
    EXPECT_EQ(kit::Regex(" ?\\([^ ]+\\)").replaced("Arrow (A) and (B)", "$1\\1"), "Arrow$1\\1 and$1\\1");
    EXPECT_EQ(kit::Regex("z").replaced("abc", "-"), "abc");

    kit::Regex bad("(unclosed");
    EXPECT_FALSE(bad.isValid());
    EXPECT_FALSE(bad.errorString().empty());
    EXPECT_TRUE(bad.matches("(unclosed").empty());
    EXPECT_FALSE(bad.matchesWhole("(unclosed"));
    EXPECT_EQ(bad.replaced("(unclosed", "x"), "(unclosed");
}

TEST(Regex, LongTextsDoNotExhaustTheStack) {
    // Patterns with alternation and repeated groups over texts far longer
    // than a recursive matcher can take.
    const std::string text = "capture window " + std::string(2000000, 'a') + " 0x1f";
    auto m = kit::Regex("capture window.+0x([0-9a-f]+)").firstMatch(text);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->groups[1], "1f");
    std::string list;
    for (int i = 0; i < 50000; ++i) list += "1.5 ,";
    EXPECT_FALSE(kit::Regex(R"(\(([0-9\-\. ]+\,){3}[0-9\-\. ]+\))").firstMatch("(" + list));
}

}  // namespace
