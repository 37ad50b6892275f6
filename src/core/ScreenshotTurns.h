#pragma once
// The order of the requests on the screenshot. Opening a file, pasting, a
// capture and a drop wait for their picture with the event loop running, so
// a request made during that wait can finish before the one made first. What
// the editor ends up holding, and what the after-capture actions store, must
// be what the requests give run one after another in the order they were
// made, so each takes a turn when it is made:
//
// - a new screenshot (open, paste, capture) whose picture arrives after a
//   later one has landed is dropped: in order, it would be replaced at once;
// - a capture keeps the later new screenshots waiting until it has ended:
//   its after-capture actions (copy, save) take its picture after it lands,
//   so a later picture lands only after them;
// - a picture added to the screenshot (a drop on the canvas, an added
//   capture) goes onto the screenshot the earlier requests leave: when one
//   of them is still waiting, the addition waits for it; when a later new
//   screenshot has landed, the addition is dropped;
// - a new screenshot still waiting for its picture (a file on a folder that
//   does not answer) is given up once a later one has landed: it would be
//   dropped when its picture came.
//
// Nothing lands once Kadrix is ending. Main thread only.
#include <cstdint>
#include <functional>
#include <map>
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
        // `holdsLaterOnes`: the later new screenshots land only once this
        // one has ended (a capture, whose actions follow its landing).
        explicit Replacement(ScreenshotTurns& turns, bool holdsLaterOnes = false);
        ~Replacement();
        Replacement(const Replacement&) = delete;
        Replacement& operator=(const Replacement&) = delete;
        // A later new screenshot has landed: this one's picture is dropped.
        bool overtaken() const;
        // This one's picture is now the screenshot; the earlier ones still
        // waiting are given up.
        void landed();
        // How to give this one up while it waits for its picture: run once,
        // when a later one lands first (at once if one has already).
        void whenOvertaken(std::function<void()> giveUp);

    private:
        friend class ScreenshotTurns;
        std::weak_ptr<State> state_;
        Turn turn_;
    };

    // Runs `land` in the turn of a new screenshot whose picture has arrived:
    // now, or once the earlier ones that hold later ones have ended; never
    // when a later one has landed first. The turn stays open while `land`
    // waits, and until the last holder of `replacement` lets it go.
    void whenInTurn(std::shared_ptr<Replacement> replacement, std::function<void()> land);

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
