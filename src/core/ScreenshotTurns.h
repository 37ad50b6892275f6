#pragma once
// The order of the requests on the screenshot. Opening a file, pasting, a
// capture and a drop wait for their picture with the event loop running, so
// a request made during that wait can finish before the one made first. What
// the editor ends up holding must be what the requests give run one after
// another in the order they were made, so each takes a turn when it is made:
//
// - a new screenshot (open, paste, capture) whose picture arrives after a
//   later one has landed is dropped: in order, it would be replaced at once;
// - a picture added to the screenshot (a drop on the canvas, an added
//   capture) goes onto the screenshot the earlier requests leave: when one
//   of them is still waiting, the addition waits for it; when a later new
//   screenshot has landed, the addition is dropped.
//
// Main thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace core {

class ScreenshotTurns {
    struct State;

public:
    using Turn = uint64_t;

    ScreenshotTurns();
    ~ScreenshotTurns();
    ScreenshotTurns(const ScreenshotTurns&) = delete;
    ScreenshotTurns& operator=(const ScreenshotTurns&) = delete;

    // A request for a new screenshot, open from its making until this ends.
    class Replacement {
    public:
        explicit Replacement(ScreenshotTurns& turns);
        ~Replacement();
        Replacement(const Replacement&) = delete;
        Replacement& operator=(const Replacement&) = delete;
        // A later new screenshot has landed: this one's picture is dropped.
        bool overtaken() const;
        // This one's picture is now the screenshot.
        void landed();

    private:
        std::weak_ptr<State> state_;
        Turn turn_;
    };

    // The turn of an addition, taken when it is asked for.
    Turn addition();
    // Runs `add` in the addition's turn: now, once the earlier new
    // screenshots still waiting have ended, or never when a later one has
    // landed before then.
    void whenInTurn(Turn turn, std::function<void()> add);

private:
    std::shared_ptr<State> state_;
};

}  // namespace core
