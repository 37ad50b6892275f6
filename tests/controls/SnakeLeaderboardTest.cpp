#include <gtest/gtest.h>

#include "controls/SnakeLeaderboard.h"

TEST(SnakeLeaderboard, SignedBody) {
    // sha256("Ann 12 crimson lantern owl")
    EXPECT_EQ(SnakeLeaderboard::hash("Ann", 12),
              "6485acf043357f421279c88bf4f210c2f15036622402a697cea877eb2898460b");
    auto body = SnakeLeaderboard::payload("Zo\u00eb", 99);
    EXPECT_EQ(body["name"], "Zo\u00eb");
    EXPECT_EQ(body["score"], "99");
    EXPECT_EQ(body["hash"], "d72e23f78a7daeb4e46c7c05319fc77b82da3a6d3a10c1aad41a9aab427b9181");
    EXPECT_EQ(body.size(), 3u);
}

TEST(SnakeLeaderboard, ReplySuccessFlag) {
    EXPECT_TRUE(SnakeLeaderboard::succeeded(R"({"success": 1})"));
    EXPECT_TRUE(SnakeLeaderboard::succeeded(R"({"success": "1", "rank": 4})"));
    EXPECT_FALSE(SnakeLeaderboard::succeeded(R"({"success": 0})"));
    EXPECT_FALSE(SnakeLeaderboard::succeeded(R"({"success": "yes"})"));
    EXPECT_FALSE(SnakeLeaderboard::succeeded(R"({"error": "late"})"));
    EXPECT_FALSE(SnakeLeaderboard::succeeded(R"([1])"));
    EXPECT_FALSE(SnakeLeaderboard::succeeded("<html>502</html>"));
    EXPECT_FALSE(SnakeLeaderboard::succeeded(""));
}
