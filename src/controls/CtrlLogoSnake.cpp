#include "controls/CtrlLogoSnake.h"

#include <algorithm>

#include "controls/ControlLook.h"
#include "controls/SnakeLeaderboard.h"
#include "kit/base/Displays.h"
#include "kit/desktop/SyntheticInput.h"
#include "kit/desktop/Workspace.h"
#include "services/Alerts.h"
#include "services/Networker.h"
#include "services/Notifier.h"
#include "services/Site.h"
#include "services/Telemetry.h"

namespace controls {

std::function<void(const std::string&)> CtrlLogoSnake::openPage = [](const std::string& url) {
    kit::Workspace::openURL(url);
};
std::function<void(const std::string&, const std::string&)> CtrlLogoSnake::warn =
    [](const std::string& title, const std::string& message) {
        services::Notifier::shared().warning(title, message);
    };

CtrlLogoSnake::CtrlLogoSnake(const kit::Rect& frame) : kit::View(frame) {
    logo_->setContentsGravity(kit::ContentsGravity::ResizeAspect);
    layer()->addSublayer(logo_);
    CtrlLogoSnake::layout();
}

void CtrlLogoSnake::setImage(kit::Image image) {
    image_ = std::move(image);
    if (initialized && !isOn) img = image_;
    logo_->setContents(image_);
    logo_->setHidden(image_.isNull());
}

void CtrlLogoSnake::layout() {
    logo_->setFrame(bounds());
}

void CtrlLogoSnake::viewDidMoveToWindow() {
    if (window()) buildGrid();
}

void CtrlLogoSnake::buildGrid() {
    if (initialized) return;
    initialized = true;
    img = image_;
    lfield->setHidden(true);
    double step = cellSize + gap;
    lfield->setFrame({0, 0, cols * step - gap + 2.0, rows * step - gap + 2.0});
    game = SnakeGame(rows, cols);
    for (int x = 0; x < cols; ++x) {
        for (int y = 0; y < rows; ++y) {
            auto cell = kit::Layer::make();
            cell->setFrame({x * step + 1.0, y * step + 1.0, cellSize, cellSize});
            cell->setCornerRadius(0.5);
            lfield->addSublayer(cell);
            lcells.push_back(cell);
        }
    }
    game.reset();
    game.render();
    redraw();
    layer()->addSublayer(lfield);
}

void CtrlLogoSnake::redraw() {
    bool dark = isDarkAppearance();
    kit::Color on = ControlLook::mainColor();
    kit::ScopedTransaction tx;
    for (int x = 0; x < cols; ++x) {
        for (int y = 0; y < rows; ++y) {
            auto& cell = lcells[static_cast<size_t>(x * rows + y)];
            if (game.matrix[x][y]) {
                cell->setBackgroundColor(on);
                continue;
            }
            // Off cells fade towards the middle of the field.
            int d = std::min({x, y, cols - 1 - x, rows - 1 - y, 3});
            double alpha = dark ? 0.1 - 0.01 * d : 0.06 - 0.01 * d;
            cell->setBackgroundColor(dark ? kit::Color::white(1.0, alpha) : kit::Color::white(0, alpha));
        }
    }
}

void CtrlLogoSnake::showLogo(bool on) {
    isOn = !on;
    lfield->setHidden(on);
    logo_->setHidden(!on || image_.isNull());
    if (on && img) setImage(*img);
}

void CtrlLogoSnake::mouseDown(const kit::Event& e) {
    kit::Point p = convertFrom(e.locationInWindow, nullptr);
    if (p.x < 24.0 || p.x > 34.0 || !e.has(kit::ModifierFlag::Command)) return;
    // One game at a time: a second chain of ticks would double the speed.
    if (isOn) return;
    kit::Point pointer = kit::Displays::pointerLocation();
    kit::SyntheticInput::warp(kit::Displays::toWindowServer(kit::Point{pointer.x, pointer.y - 20}));
    services::Telemetry::shared().event("snake:start");
    start();
}

void CtrlLogoSnake::start() {
    buildGrid();
    game.reset();
    if (!game.newBait()) return;
    game.render();
    redraw();
    playing = true;
    showLogo(false);
    tickTimer_ = kit::Timer::once(0.4, [this] { tick(); });
}

void CtrlLogoSnake::tick() {
    int next = move();
    if (next > 0) tickTimer_ = kit::Timer::once(next / 1000.0, [this] { tick(); });
}

void CtrlLogoSnake::turn(int keyCode) {
    game.turn(keyCode);
}

int CtrlLogoSnake::move() {
    if (!playing) {
        showLogo(true);
        return -1;
    }
    if (game.step() != SnakeGame::Step::over) {
        redraw();
        return game.delay;
    }
    int score = game.score;
    services::Telemetry::shared().event("snake:stop", {{"score", score}});
    game.drawScore(score);
    redraw();
    if (score >= 10) {
        std::string name =
            services::promptText("Your Score: " + std::to_string(score),
                                 "Hey, not bad! Do you want to get on the leaderboard? Enter your name:", "");
        if (!name.empty()) leaderboard(name, score);
    }
    game.reset();
    playing = false;
    return 1500;
}

void CtrlLogoSnake::leaderboard(const std::string& name, int score) {
    auto payload = SnakeLeaderboard::payload(name, score);
    services::Telemetry::shared().event("snake:leaderboard", {{"score", score}});
    std::string url = services::productSiteURL(SnakeLeaderboard::kPath);
    services::Networker::postJSON(
        url, payload, [url](std::optional<services::Bytes> body, std::optional<std::string> error) {
            const char* oopsName = "leaderboard(name:score:)";
            if (!body) {
                services::Telemetry::shared().oops(oopsName, error.value_or(""));
                warn("Oops", "Apparently we failed to add your score");
                return;
            }
            if (SnakeLeaderboard::succeeded(*body)) {
                openPage(url);
                return;
            }
            services::Telemetry::shared().oops(oopsName, std::string(body->begin(), body->end()));
            warn("Oops", "Apparently we failed to add your score");
        });
}

}  // namespace controls
