#include "controls/SnakeGame.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace controls {

namespace {

constexpr const char* kDigitRuns[10] = {
    "2 4 3 1 4 1 2 1 4 1 3 4 114",
    "17 6 121",
    "2 1 3 1 2 1 3 2 2 1 2 1 1 1 3 2 2 1 113",
    "2 1 2 1 3 1 4 1 2 1 1 1 2 1 3 1 1 2 114",
    "1 4 7 1 7 1 4 6 113",
    "1 3 2 1 2 1 1 1 2 1 2 1 1 1 2 1 2 1 2 2 114",
    "2 4 3 1 1 1 2 1 2 1 1 1 2 1 5 2 114",
    "1 1 7 1 7 1 7 6 113",
    "1 6 2 1 1 1 2 1 2 1 1 1 2 1 2 6 113",
    "2 2 5 1 2 1 1 1 2 1 2 1 1 1 3 4 114",
};

}  // namespace

const char* snakeDigitRuns(int digit) {
    return kDigitRuns[std::clamp(digit, 0, 9)];
}

SnakeGame::SnakeGame(int rows_, int cols_) : rows(rows_), cols(cols_) {
    matrix.assign(static_cast<size_t>(cols), std::vector<int>(static_cast<size_t>(rows), 0));
    reset();
}

void SnakeGame::reset() {
    snake = {{4, 3}, {5, 3}, {6, 3}, {7, 3}};
    delay = 200;
    score = 0;
    direction = "right";
    newDirection.clear();
}

bool SnakeGame::onSnake(GridCell c) const {
    return std::find(snake.begin(), snake.end(), c) != snake.end();
}

bool SnakeGame::isCorner(GridCell c) const {
    return (c.x == 0 || c.x == cols - 1) && (c.y == 0 || c.y == rows - 1);
}

bool SnakeGame::newBait() {
    bool anyFree = false;
    for (int x = 0; x < cols && !anyFree; ++x)
        for (int y = 0; y < rows && !anyFree; ++y) anyFree = !onSnake({x, y}) && !isCorner({x, y});
    if (!anyFree) return false;
    GridCell c;
    do {
        c = {draw(cols), draw(rows)};
    } while (onSnake(c) || isCorner(c));
    bait = c;
    return true;
}

int SnakeGame::draw(int n) {
    return random ? random(n) : std::uniform_int_distribution<int>(0, n - 1)(engine);
}

void SnakeGame::render() {
    for (auto& column : matrix) std::fill(column.begin(), column.end(), 0);
    auto set = [this](GridCell c) {
        if (c.x >= 0 && c.x < cols && c.y >= 0 && c.y < rows) matrix[c.x][c.y] = 1;
    };
    for (const auto& c : snake) set(c);
    set(bait);
}

void SnakeGame::turn(int keyCode) {
    const std::string& ref = newDirection.empty() ? direction : newDirection.back();
    bool horizontal = ref == "left" || ref == "right";
    switch (keyCode) {
        case 123:
            if (!horizontal) newDirection.push_back("left");
            break;
        case 124:
            if (!horizontal) newDirection.push_back("right");
            break;
        case 125:
            if (horizontal) newDirection.push_back("down");
            break;
        case 126:
            if (horizontal) newDirection.push_back("up");
            break;
        default:
            break;
    }
}

SnakeGame::Step SnakeGame::step() {
    if (!newDirection.empty()) {
        direction = newDirection.front();
        newDirection.erase(newDirection.begin());
    }
    GridCell head = snake.back();
    if (direction == "up")
        ++head.y;
    else if (direction == "down")
        --head.y;
    else if (direction == "right")
        ++head.x;
    else if (direction == "left")
        --head.x;

    // The tail counts too, though it would move away in this very step.
    bool outside = head.x < 0 || head.x >= cols || head.y < 0 || head.y >= rows;
    if (outside || onSnake(head)) return Step::over;

    if (head == bait) {
        snake.push_back(head);
        ++score;
        delay = static_cast<int>(std::round(delay * 0.96));
        // A snake that leaves no cell for food has won the grid: the game ends here.
        if (!newBait()) return Step::over;
        render();
        return Step::ate;
    }
    std::rotate(snake.begin(), snake.begin() + 1, snake.end());
    snake.back() = head;
    render();
    return Step::moved;
}

void SnakeGame::writeGlyph(int digit, int fromColumn) {
    std::istringstream runs(snakeDigitRuns(digit));
    int value = 0;
    int x = fromColumn, y = rows - 1;
    int length = 0;
    while (runs >> length) {
        for (int i = 0; i < length && x < cols; ++i) {
            matrix[x][y] = value;
            if (--y < 0) {
                y = rows - 1;
                ++x;
            }
        }
        value = 1 - value;
    }
}

void SnakeGame::drawScore(int value) {
    for (auto& column : matrix) std::fill(column.begin(), column.end(), 0);
    // Two digits is all the grid holds; a longer game shows its best two-digit score.
    value = std::clamp(value, 0, 99);
    int tens = value / 10, units = value % 10;
    if (tens == 0) {
        writeGlyph(units, 7);
    } else {
        writeGlyph(tens, 4);
        writeGlyph(units, 9);
    }
}

}  // namespace controls
