#include "core/ScreenshotTurns.h"

#include <algorithm>
#include <utility>

namespace core {

struct ScreenshotTurns::State {
    Turn next = 0;
    Turn landed = 0;         // the turn of the screenshot shown
    std::set<Turn> waiting;  // new screenshots still waiting for their picture
    struct Parked {
        Turn turn;
        std::function<void()> add;
    };
    std::vector<Parked> parked;  // additions behind one of those, oldest first

    bool earlierWaiting(Turn t) const { return !waiting.empty() && *waiting.begin() < t; }

    // The additions whose turn has come run; those overtaken go.
    void runParked() {
        std::vector<Parked> due;
        std::erase_if(parked, [&](Parked& p) {
            if (landed > p.turn) return true;
            if (earlierWaiting(p.turn)) return false;
            due.push_back(std::move(p));
            return true;
        });
        for (Parked& p : due) p.add();
    }
};

ScreenshotTurns::ScreenshotTurns() : state_(std::make_shared<State>()) {}
ScreenshotTurns::~ScreenshotTurns() = default;

ScreenshotTurns::Replacement::Replacement(ScreenshotTurns& turns)
    : state_(turns.state_), turn_(++turns.state_->next) {
    turns.state_->waiting.insert(turn_);
}

ScreenshotTurns::Replacement::~Replacement() {
    // The core may be gone by the time a wait inside it ends.
    auto state = state_.lock();
    if (!state) return;
    state->waiting.erase(turn_);
    state->runParked();
}

bool ScreenshotTurns::Replacement::overtaken() const {
    auto state = state_.lock();
    return !state || state->landed > turn_;
}

void ScreenshotTurns::Replacement::landed() {
    if (auto state = state_.lock()) state->landed = std::max(state->landed, turn_);
}

ScreenshotTurns::Turn ScreenshotTurns::addition() {
    return ++state_->next;
}

void ScreenshotTurns::whenInTurn(Turn turn, std::function<void()> add) {
    if (state_->landed > turn) return;
    if (state_->earlierWaiting(turn)) {
        state_->parked.push_back({turn, std::move(add)});
        return;
    }
    add();
}

}  // namespace core
