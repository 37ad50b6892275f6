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

// Opens still waiting for their pictures are given up once a later one has
// landed, each once; a later one that fails leaves them waiting, and one
// that lands earlier than they were asked for gives up none.
TEST(ScreenshotTurns, WaitingOpensAreGivenUpWhenALaterPictureLands) {
    ScreenshotTurns turns;
    Log givenUp;
    auto first = std::make_shared<ScreenshotTurns::Replacement>(turns);
    first->whenOvertaken([&] { givenUp.push_back("first"); });
    auto second = std::make_shared<ScreenshotTurns::Replacement>(turns);
    second->whenOvertaken([&] { givenUp.push_back("second"); });

    auto failing = std::make_shared<ScreenshotTurns::Replacement>(turns);
    failing.reset();  // its picture did not come: it ends without landing
    EXPECT_TRUE(givenUp.empty()) << "a later request that failed gives up none";

    auto later = std::make_shared<ScreenshotTurns::Replacement>(turns);
    later->whenOvertaken([&] { givenUp.push_back("later"); });
    auto landing = std::make_shared<ScreenshotTurns::Replacement>(turns);
    turns.whenInTurn(later, [&] { later->landed(); });
    EXPECT_EQ(givenUp, (Log{"first", "second"})) << "the later one itself, and one after it, go on";
    landing->landed();
    EXPECT_EQ(givenUp, (Log{"first", "second", "later"})) << "each given up once";

    // One made after a landing is not given up by it; asked to be given up
    // once already overtaken, it is at once.
    auto after = std::make_shared<ScreenshotTurns::Replacement>(turns);
    after->whenOvertaken([&] { givenUp.push_back("after"); });
    EXPECT_EQ(givenUp.size(), 3u);
    second->whenOvertaken([&] { givenUp.push_back("second again"); });
    EXPECT_EQ(givenUp.back(), "second again");
    // Ended without being given up, it is forgotten.
    after.reset();
    auto last = std::make_shared<ScreenshotTurns::Replacement>(turns);
    last->landed();
    EXPECT_EQ(givenUp.size(), 4u);
}
