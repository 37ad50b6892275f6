#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/base/Dispatch.h"
#include "kit/base/Timer.h"

using namespace kit;

TEST(Timer, OneShotFiresOnceWhenDue) {
    ManualClockScope clock;
    int fired = 0;
    Timer t = Timer::once(300, [&] { ++fired; });
    EXPECT_TRUE(t.isValid());
    clock.advance(299.9);
    EXPECT_EQ(fired, 0);
    clock.advance(0.1);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(t.isValid());
    clock.advance(1000);
    EXPECT_EQ(fired, 1);
}

TEST(Timer, RepeatingFiresAtEveryIntervalUntilInvalidated) {
    ManualClockScope clock;
    std::vector<double> times;
    Timer t = Timer::repeating(0.3, [&] { times.push_back(clock.clock().now()); });
    clock.advance(1.0);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_NEAR(times[0], 0.3, 1e-9);
    EXPECT_NEAR(times[2], 0.9, 1e-9);
    t.invalidate();
    clock.advance(5);
    EXPECT_EQ(times.size(), 3u);
    EXPECT_EQ(clock.clock().pendingCount(), 0u);
}

TEST(Timer, CallbackMayInvalidateOrDropItsOwnTimer) {
    ManualClockScope clock;
    int count = 0;
    Timer t;
    t = Timer::repeating(1, [&] {
        if (++count == 2) t.invalidate();
    });
    clock.advance(10);
    EXPECT_EQ(count, 2);

    // The owner resets its handle from inside the callback (a closing window).
    auto owner = std::make_unique<Timer>();
    int hits = 0;
    *owner = Timer::repeating(1, [&] {
        ++hits;
        owner.reset();
    });
    clock.advance(10);
    EXPECT_EQ(hits, 1);
}

TEST(Timer, DestroyingTheHandleStopsTheTimer) {
    ManualClockScope clock;
    int fired = 0;
    {
        Timer t = Timer::once(1, [&] { ++fired; });
    }
    clock.advance(2);
    EXPECT_EQ(fired, 0);
    // Replacing a timer stops the old one.
    Timer t = Timer::once(1, [&] { fired += 10; });
    t = Timer::once(2, [&] { fired += 100; });
    clock.advance(3);
    EXPECT_EQ(fired, 100);
}

TEST(Timer, DueTimersFireInTimeOrderIncludingOnesScheduledWhileFiring) {
    ManualClockScope clock;
    std::string order;
    Timer a = Timer::once(0.4, [&] { order += "a"; });
    Timer b = Timer::once(0.2, [&] {
        order += "b";
        dispatchMainAfter(0.1, [&] { order += "c"; });  // due at 0.3, before a
    });
    Timer d = Timer::once(0.2, [&] { order += "d"; });  // same time as b: scheduled later, fires later
    clock.advance(1);
    EXPECT_EQ(order, "bdca");
    EXPECT_NEAR(clock.clock().now(), 1.0, 1e-12);
}

TEST(Timer, ManualWallClockMovesWithTime) {
    ManualClockScope clock(0, 1000);
    EXPECT_DOUBLE_EQ(wallNow(), 1000);
    clock.advance(259200);
    EXPECT_DOUBLE_EQ(wallNow(), 260200);
    clock.clock().setWall(5);
    EXPECT_DOUBLE_EQ(wallNow(), 5);
    EXPECT_DOUBLE_EQ(monotonicNow(), 259200);
}

TEST(Timer, SystemClockFiresOnTheMainLoop) {
    bool onMain = false;
    int fired = 0, repeats = 0;
    Timer once = Timer::once(0.01, [&] {
        onMain = isMainThread();
        ++fired;
    });
    Timer rep = Timer::repeating(0.005, [&] { ++repeats; });
    Timer cancelled = Timer::once(0.01, [&] { fired += 100; });
    cancelled.invalidate();
    ASSERT_TRUE(runMainLoopUntil([&] { return fired >= 1 && repeats >= 3; }, 10));
    rep.invalidate();
    int seen = repeats;
    runMainLoopUntil([] { return false; }, 0.05);
    EXPECT_EQ(repeats, seen);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(onMain);
}

TEST(Timer, TimerMadeOnAnotherThreadFiresOnMain) {
    bool onMain = false, done = false;
    Timer t;
    DispatchQueue q("timer-maker");
    q.sync([&] { t = Timer::once(0.01, [&] { onMain = isMainThread(), done = true; }); });
    ASSERT_TRUE(runMainLoopUntil([&] { return done; }, 10));
    EXPECT_TRUE(onMain);
}
