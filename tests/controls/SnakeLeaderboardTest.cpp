#include <gtest/gtest.h>

#include "controls/SnakeLeaderboard.h"

using namespace controls;

namespace {
bool succeeded(const std::string& text) {
    return SnakeLeaderboard::succeeded(services::Bytes(text.begin(), text.end()));
}
}  // namespace

TEST(SnakeLeaderboard, SignedBody) {
    // sha256("Ann 12 crimson lantern owl")
    EXPECT_EQ(SnakeLeaderboard::hash("Ann", 12),
              "6485acf043357f421279c88bf4f210c2f15036622402a697cea877eb2898460b");
    auto body = SnakeLeaderboard::payload("Zo\u00eb", 99);
    EXPECT_EQ(body.at("name"), "Zo\u00eb");
    EXPECT_EQ(body.at("score"), "99");
    EXPECT_EQ(body.at("hash"), "d72e23f78a7daeb4e46c7c05319fc77b82da3a6d3a10c1aad41a9aab427b9181");
    EXPECT_EQ(body.size(), 3u);
}

TEST(SnakeLeaderboard, ReplySuccessFlag) {
    EXPECT_TRUE(succeeded(R"({"success": 1})"));
    EXPECT_TRUE(succeeded(R"({"success": "1", "rank": 4})"));
    EXPECT_FALSE(succeeded(R"({"success": 0})"));
    EXPECT_FALSE(succeeded(R"({"success": "yes"})"));
    EXPECT_FALSE(succeeded(R"({"error": "late"})"));
    EXPECT_FALSE(succeeded(R"([1])"));
    EXPECT_FALSE(succeeded("<html>502</html>"));
    EXPECT_FALSE(succeeded(""));
}
