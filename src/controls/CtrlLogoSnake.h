#pragma once
// The logo in the editor's tool bar, which hides a snake game: a Command-click
// on its hot spot turns the logo into a grid of cells; the arrow keys steer,
// food makes the snake longer and faster, and a collision shows the score in
// pixel digits (and offers the leaderboard from 10 points on) before the logo
// comes back.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "controls/SnakeGame.h"
#include "kit/base/Timer.h"
#include "kit/ui/View.h"

namespace controls {

class CtrlLogoSnake : public kit::View {
public:
    explicit CtrlLogoSnake(const kit::Rect& frame = {});

    bool initialized = false;
    std::optional<kit::Image> img;
    std::vector<kit::LayerPtr> lcells;  // index x * rows + y
    kit::LayerPtr lfield = kit::Layer::make();
    int rows = 8;
    int cols = 18;
    double cellSize = 3.0;
    double gap = 1.0;
    bool playing = false;
    bool isOn = false;
    // The rules and their state (score, delay, matrix, snake, bait, directions).
    SnakeGame game{8, 18};

    // The logo picture shown while no game runs.
    const kit::Image& image() const { return image_; }
    void setImage(kit::Image image);

    // Builds the grid (once).
    void buildGrid();
    // Starts a game.
    void start();
    // One move; the milliseconds until the next, or -1 when the game is over.
    int move();
    // Queues a turn from an arrow key's code; the editor passes every key-down while isOn.
    void turn(int keyCode);
    // Posts a result to the leaderboard.
    void leaderboard(const std::string& name, int score);
    // Paints the cells from the game's matrix.
    void redraw();

    // Where the leaderboard page opens and where its failures are told;
    // the defaults are the browser and the notifier.
    static std::function<void(const std::string& url)> openPage;
    static std::function<void(const std::string& title, const std::string& message)> warn;

    void viewDidMoveToWindow() override;
    void mouseDown(const kit::Event& e) override;
    void layout() override;
    // The off cells are tinted for the look; a still field is not redrawn by
    // the game.
    void viewDidChangeEffectiveAppearance() override {
        if (!lcells.empty()) redraw();
    }

private:
    void tick();
    void showLogo(bool on);
    kit::LayerPtr logo_ = kit::Layer::make();
    kit::Image image_;
    kit::Timer tickTimer_;
};

}  // namespace controls
