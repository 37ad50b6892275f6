#pragma once
// The rules of the logo snake: the grid, the snake, the food, the turn queue and
// the score digits. No timers and no drawing here, so every rule can be played
// move by move; CtrlLogoSnake drives it and paints the matrix.
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace controls {

struct GridCell {
    int x = 0, y = 0;
    friend bool operator==(const GridCell&, const GridCell&) = default;
};

class SnakeGame {
public:
    // What one move did.
    enum class Step { moved, ate, over };

    explicit SnakeGame(int rows = 8, int cols = 18);

    int rows;
    int cols;
    int score = 0;
    int delay = 0;                         // milliseconds between moves
    std::vector<std::vector<int>> matrix;  // [x][y]: 0 off, 1 on
    std::vector<GridCell> snake;           // tail first, head last
    GridCell bait;
    std::string direction = "right";
    std::vector<std::string> newDirection;  // queued turns, oldest first

    // Starting snake, speed and score; the queue is emptied.
    void reset();
    // A uniformly drawn free cell that is not a corner. False when none is left
    // (the snake fills the grid): drawing again would never end.
    bool newBait();
    // matrix = snake + bait.
    void render();
    // Queues a turn from an arrow key code (123 left, 124 right, 125 down, 126 up);
    // turns that would keep or reverse the current line are dropped.
    void turn(int keyCode);
    // One move: takes the oldest queued turn, advances the head, eats or collides.
    // Renders the matrix unless the game is over.
    Step step();
    // Fills the matrix with the score in pixel digits (two at most).
    void drawScore(int value);

    // Random source for the food: a number in [0, n). Unset: a random engine of the game's own.
    std::function<int(int)> random;

private:
    bool onSnake(GridCell c) const;
    bool isCorner(GridCell c) const;
    int draw(int n);
    void writeGlyph(int digit, int fromColumn);
    std::mt19937 engine{std::random_device{}()};
};

// Run lengths of the ten score digits, alternating off and on from off; each sums to 144.
const char* snakeDigitRuns(int digit);

}  // namespace controls
