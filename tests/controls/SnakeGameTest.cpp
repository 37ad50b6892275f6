#include <gtest/gtest.h>

#include <numeric>
#include <sstream>

#include "controls/SnakeGame.h"

using namespace controls;

namespace {

// A random source that plays back a fixed list of numbers.
std::function<int(int)> scripted(std::vector<int> values) {
    auto pos = std::make_shared<size_t>(0);
    return [values, pos](int n) { return values.at((*pos)++) % n; };
}

std::string column(const SnakeGame& g, int x) {
    std::string s;
    for (int y = g.rows - 1; y >= 0; --y) s += g.matrix[x][y] ? '#' : '.';
    return s;
}

}  // namespace

TEST(SnakeGame, TurnsQueueOnePerMoveAndNeverReverse) {
    SnakeGame g;
    g.turn(123);  // left while moving right: dropped
    g.turn(124);  // right while moving right: dropped
    EXPECT_TRUE(g.newDirection.empty());
    g.turn(126);  // up
    g.turn(125);  // down after queued up: dropped
    g.turn(123);  // left after queued up
    g.turn(50);   // not an arrow
    EXPECT_EQ(g.newDirection, (std::vector<std::string>{"up", "left"}));
    g.bait = {0, 5};
    EXPECT_EQ(g.step(), SnakeGame::Step::moved);
    EXPECT_EQ(g.snake.back(), (GridCell{7, 4}));
    EXPECT_EQ(g.step(), SnakeGame::Step::moved);
    EXPECT_EQ(g.snake.back(), (GridCell{6, 4}));
    EXPECT_EQ(g.direction, "left");
    EXPECT_EQ(g.snake.front(), (GridCell{6, 3}));
    EXPECT_EQ(g.snake.size(), 4u);
}

TEST(SnakeGame, CollisionsWithWallsBodyAndTail) {
    SnakeGame wall;
    wall.bait = {0, 0};
    for (int i = 0; i < 10; ++i) ASSERT_EQ(wall.step(), SnakeGame::Step::moved) << i;
    EXPECT_EQ(wall.snake.back(), (GridCell{17, 3}));
    EXPECT_EQ(wall.step(), SnakeGame::Step::over);

    // A square loop: the head moves into the cell the tail is about to leave.
    SnakeGame tail;
    tail.bait = {0, 0};
    tail.snake = {{5, 4}, {5, 3}, {6, 3}, {6, 4}};  // head (6,4) moving left hits the tail (5,4)
    tail.direction = "left";
    EXPECT_EQ(tail.step(), SnakeGame::Step::over);

    SnakeGame bottom;
    bottom.bait = {10, 7};
    bottom.turn(125);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(bottom.step(), SnakeGame::Step::moved);
    EXPECT_EQ(bottom.step(), SnakeGame::Step::over);
}

TEST(SnakeGame, EatingGrowsScoresAndSpeedsUp) {
    SnakeGame g;
    g.random = scripted({9, 5});
    g.bait = {8, 3};
    EXPECT_EQ(g.step(), SnakeGame::Step::ate);
    EXPECT_EQ(g.score, 1);
    EXPECT_EQ(g.delay, 192);
    ASSERT_EQ(g.snake.size(), 5u);
    EXPECT_EQ(g.snake.back(), (GridCell{8, 3}));
    EXPECT_EQ(g.bait, (GridCell{9, 5}));
    EXPECT_EQ(g.matrix[9][5], 1);

    std::vector<int> series;
    int d = 200;
    for (int i = 0; i < 4; ++i) series.push_back(d = static_cast<int>(std::round(d * 0.96)));
    EXPECT_EQ(series, (std::vector<int>{192, 184, 177, 170}));
    // The speed settles instead of reaching zero.
    SnakeGame fast;
    fast.delay = 12;
    fast.bait = {8, 3};
    fast.step();
    EXPECT_EQ(fast.delay, 12);
}

TEST(SnakeGame, BaitNeverOnSnakeOrCorner) {
    SnakeGame g;
    // Corners and snake cells first, then a free cell.
    g.random = scripted({0, 0, 17, 7, 5, 3, 0, 7, 17, 0, 2, 2});
    ASSERT_TRUE(g.newBait());
    EXPECT_EQ(g.bait, (GridCell{2, 2}));

    SnakeGame random;
    for (int i = 0; i < 2000; ++i) {
        ASSERT_TRUE(random.newBait());
        auto b = random.bait;
        EXPECT_FALSE((b.x == 0 || b.x == 17) && (b.y == 0 || b.y == 7));
        EXPECT_EQ(std::count(random.snake.begin(), random.snake.end(), b), 0);
    }
}

TEST(SnakeGame, FullGridEndsInsteadOfSearchingForever) {
    SnakeGame g(2, 3);
    // Non-corner free cells of a 3x2 grid: (1,0) and (1,1).
    g.snake = {{0, 0}, {1, 0}, {2, 0}, {2, 1}};
    g.direction = "left";
    g.bait = {1, 1};
    EXPECT_EQ(g.step(), SnakeGame::Step::over);  // ate the last free cell
    EXPECT_EQ(g.score, 1);
    EXPECT_FALSE(g.newBait());
}

TEST(SnakeGame, RenderSkipsCellsOutsideTheGrid) {
    SnakeGame g;
    g.snake = {{-1, 3}, {0, 3}, {18, 3}};
    g.bait = {3, 8};
    g.render();
    int on = 0;
    for (auto& c : g.matrix) on += std::accumulate(c.begin(), c.end(), 0);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(g.matrix[0][3], 1);
}

TEST(SnakeGame, DigitGlyphsCoverTheGrid) {
    for (int d = 0; d < 10; ++d) {
        std::istringstream runs(snakeDigitRuns(d));
        int sum = 0, n = 0;
        while (runs >> n) sum += n;
        EXPECT_EQ(sum, 144) << d;
    }
}

TEST(SnakeGame, ScoreDrawing) {
    SnakeGame g;
    g.drawScore(7);
    // "1 1 7 1 7 1 7 6 113" from column 7: one off, one on at the top, ...
    EXPECT_EQ(column(g, 6), "........");
    EXPECT_EQ(column(g, 7), ".#......");
    EXPECT_EQ(column(g, 8), ".#......");
    EXPECT_EQ(column(g, 9), ".#......");
    EXPECT_EQ(column(g, 10), ".######.");
    EXPECT_EQ(column(g, 11), "........");

    g.drawScore(12);
    // "1" from column 4: 17 off, 6 on -> column 6 rows 6..1.
    EXPECT_EQ(column(g, 4), "........");
    EXPECT_EQ(column(g, 6), ".######.");
    EXPECT_EQ(column(g, 8), "........");
    // "2" from column 9: "2 1 3 1 ..." first on cell at row 5.
    EXPECT_EQ(column(g, 9), "..#...#.");
    EXPECT_EQ(column(g, 11), ".#..#.#.");
    EXPECT_EQ(column(g, 12), "..##..#.");

    // Beyond two digits the grid shows 99 rather than an unknown glyph.
    SnakeGame big;
    big.drawScore(123);
    SnakeGame ninetyNine;
    ninetyNine.drawScore(99);
    EXPECT_EQ(big.matrix, ninetyNine.matrix);
}

TEST(SnakeGame, ACopyPlaysOnItsOwn) {
    SnakeGame copy(8, 18);
    {
        SnakeGame original(8, 18);
        copy = original;
    }
    EXPECT_TRUE(copy.newBait());
    EXPECT_FALSE(copy.bait.x < 0 || copy.bait.x >= 18 || copy.bait.y < 0 || copy.bait.y >= 8);
}
