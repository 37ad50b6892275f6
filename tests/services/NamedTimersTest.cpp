#include <gtest/gtest.h>

#include "ServicesFixture.h"
#include "kit/base/Timer.h"
#include "services/NamedTimers.h"

using namespace services;

TEST(NamedTimersTest, ElapsedTimesAndLogLines) {
    kit::ManualClockScope clock(100);
    EXPECT_EQ(timerElapsed("never"), 0.0);
    EXPECT_EQ(timerElapsedText("never"), "0.0");
    testing::internal::CaptureStdout();
    timerLog("never");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    timerStart("Search");
    clock.advance(0.003254);
    EXPECT_EQ(timerElapsed("Search"), 3.25);
    testing::internal::CaptureStdout();
    timerLog("Search");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Search: 3.25ms\n");
    clock.advance(0.001746);
    EXPECT_EQ(timerElapsedText("Search"), "5.0");

    timerStart("Search");  // a second start measures from itself
    clock.advance(0.000126);
    EXPECT_EQ(timerElapsed("Search"), 0.13) << "rounded to two decimals";
}

TEST(NamedTimersTest, AssertWarnsOnlyAboveTheLimit) {
    kit::ManualClockScope clock(100);
    auto& telemetry = Telemetry::shared();
    auto countAsserts = [&] {
        int n = 0;
        for (auto& record : telemetry.events()) n += record.value("type", "") == "timer-assert";
        return n;
    };
    testing::internal::CaptureStdout();
    timerAssert("not started", 4.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Time Assert: timer not started wasn't started\n");

    timerStart("scout");
    clock.advance(0.004);
    testing::internal::CaptureStdout();
    timerAssert("scout", 4.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "exactly the limit passes";
    int before = countAsserts();

    clock.advance(0.0015);
    testing::internal::CaptureStdout();
    timerAssert("scout", 4.0);
    timerAssert("scout", 4.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Time Assert: timer scout took 5.5ms\nTime Assert: timer scout took 5.5ms\n");
    kit::Json record = telemetry.events().back();
    EXPECT_EQ(record["type"], "timer-assert");
    EXPECT_EQ(record["timername"], "scout");
    EXPECT_EQ(record["timer"], 5.5);
    EXPECT_EQ(record["rep"], 2) << "repeated slow assertions fold into one event";
    EXPECT_EQ(countAsserts(), before + 1);
}
