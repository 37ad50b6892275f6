// The turns of the requests on the screenshot, apart from the core: pictures
// that arrive out of order end as the requests run in the order made.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ScreenshotTurns.h"

namespace {

using core::ScreenshotTurns;
using Log = std::vector<std::string>;

// Two drops made while a file opens wait for its picture; a file opened
// after them lands first. In order the drops would have gone onto the first
// file, which the later one replaced: neither lands on the later one's shot.
// A drop made after the later file landed still waits for the first to end,
// then goes onto the later one.
TEST(ScreenshotTurns, AdditionsOvertakenWhileParkedAreDroppedAndLaterOnesRun) {
    ScreenshotTurns turns;
    Log ran;
    auto opening = std::make_shared<ScreenshotTurns::Replacement>(turns);
    const ScreenshotTurns::Turn a = turns.addition(), b = turns.addition();
    turns.whenInTurn(a, [&] { ran.push_back("A"); });
    turns.whenInTurn(b, [&] { ran.push_back("B"); });
    EXPECT_TRUE(ran.empty()) << "the drops wait for the file being opened";

    auto later = std::make_shared<ScreenshotTurns::Replacement>(turns);
    turns.whenInTurn(later, [&] {
        later->landed();
        ran.push_back("C");
    });
    EXPECT_EQ(ran, Log{"C"}) << "an open holds no other open back";
    later.reset();  // its request has ended
    const ScreenshotTurns::Turn d = turns.addition();
    turns.whenInTurn(d, [&] { ran.push_back("D"); });
    EXPECT_EQ(ran, Log{"C"}) << "the first open has not ended";

    EXPECT_TRUE(opening->overtaken());
    opening.reset();  // its picture came too late and was dropped
    EXPECT_EQ(ran, (Log{"C", "D"}));
}

}  // namespace
