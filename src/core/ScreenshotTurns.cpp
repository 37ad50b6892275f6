#include "core/ScreenshotTurns.h"

#include <algorithm>
#include <utility>

#include "kit/base/WayOut.h"

namespace core {

struct ScreenshotTurns::State {
    Turn next = 0;
    Turn landed = 0;                                // the turn of the screenshot shown
    std::set<Turn> waiting;                         // new screenshots not yet ended
    std::set<Turn> holding;                         // of those, the ones the later new screenshots wait for
    std::map<Turn, std::function<void()>> giveUps;  // of those, how to give each up
    struct Parked {
        Turn turn;
        bool replacement;  // a new screenshot's landing, else an addition
        std::function<void()> run;
    };
    std::vector<Parked> parked;  // waiting for an earlier turn to end, in turn order
    bool runningParked = false;

    static bool earlierIn(const std::set<Turn>& turns, Turn t) {
        return !turns.empty() && *turns.begin() < t;
    }
    bool dropped(Turn t) const { return landed > t || kit::wayOutBegun(); }
    bool mustWait(Turn t, bool replacement) const { return earlierIn(replacement ? holding : waiting, t); }

    void park(Turn turn, bool replacement, std::function<void()> run) {
        auto at = std::find_if(parked.begin(), parked.end(), [&](const Parked& p) { return p.turn > turn; });
        parked.insert(at, {turn, replacement, std::move(run)});
    }

    // The parked requests whose turn has come run, oldest first; those
    // overtaken go. A request that runs may end a turn (its own), so each
    // run is followed by a fresh look.
    void runParked() {
        if (runningParked) return;
        runningParked = true;
        struct Done {
            bool& flag;
            ~Done() { flag = false; }
        } done{runningParked};
        for (;;) {
            auto it = std::find_if(parked.begin(), parked.end(), [&](const Parked& p) {
                return dropped(p.turn) || !mustWait(p.turn, p.replacement);
            });
            if (it == parked.end()) return;
            Parked p = std::move(*it);
            parked.erase(it);
            if (!dropped(p.turn)) p.run();
        }
    }
};

ScreenshotTurns::ScreenshotTurns() : state_(std::make_shared<State>()) {}
ScreenshotTurns::~ScreenshotTurns() = default;

ScreenshotTurns::Replacement::Replacement(ScreenshotTurns& turns, bool holdsLaterOnes)
    : state_(turns.state_), turn_(++turns.state_->next) {
    turns.state_->waiting.insert(turn_);
    if (holdsLaterOnes) turns.state_->holding.insert(turn_);
}

ScreenshotTurns::Replacement::~Replacement() {
    // The core may be gone by the time a wait inside it ends.
    auto state = state_.lock();
    if (!state) return;
    state->waiting.erase(turn_);
    state->holding.erase(turn_);
    state->giveUps.erase(turn_);
    state->runParked();
}

bool ScreenshotTurns::Replacement::overtaken() const {
    auto state = state_.lock();
    return !state || state->landed > turn_;
}

void ScreenshotTurns::Replacement::landed() {
    auto state = state_.lock();
    if (!state) return;
    state->landed = std::max(state->landed, turn_);
    // Taken out first: giving one up may end its wait, and so its turn.
    std::vector<std::function<void()>> giveUps;
    for (auto it = state->giveUps.begin(); it != state->giveUps.end() && it->first < turn_;) {
        giveUps.push_back(std::move(it->second));
        it = state->giveUps.erase(it);
    }
    for (auto& giveUp : giveUps) giveUp();
}

void ScreenshotTurns::Replacement::whenOvertaken(std::function<void()> giveUp) {
    auto state = state_.lock();
    if (!state || state->landed > turn_) return giveUp();
    state->giveUps[turn_] = std::move(giveUp);
}

void ScreenshotTurns::whenInTurn(std::shared_ptr<Replacement> replacement, std::function<void()> land) {
    const Turn turn = replacement->turn_;
    if (state_->dropped(turn)) return;
    if (state_->mustWait(turn, true)) {
        // The landing keeps the replacement, and so its turn, until it runs.
        state_->park(turn, true, [replacement = std::move(replacement), land = std::move(land)] { land(); });
        return;
    }
    land();
}

ScreenshotTurns::Turn ScreenshotTurns::addition() {
    return ++state_->next;
}

void ScreenshotTurns::whenInTurn(Turn turn, std::function<void()> add) {
    if (state_->dropped(turn)) return;
    if (state_->mustWait(turn, false)) {
        state_->park(turn, false, std::move(add));
        return;
    }
    add();
}

}  // namespace core
