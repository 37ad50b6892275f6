#include <gtest/gtest.h>

#include <thread>

#include "Fixtures.h"
#include "imaging/Diagnostics.h"
#include "services/Telemetry.h"

using namespace imaging;

namespace {

// The last queued telemetry record of that type.
kit::Json lastRecord(const std::string& type) {
    auto events = services::Telemetry::shared().events();
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        if ((*it)["type"] == type) return *it;
    return kit::Json();
}

}  // namespace

TEST(Diagnostics, UnhookedReportsGoToTheTelemetry) {
    setDiagnostics({});
    testing::internal::CaptureStdout();
    errorReport("scout(sx:sy:vertical:persistence:)", "No pixel data");
    std::string out = testing::internal::GetCapturedStdout();
    std::string dashes;
    for (int i = 0; i < 41; ++i) dashes += "\u2014";
    EXPECT_EQ(out, dashes + "\nOOPS No pixel data\nscout(sx:sy:vertical:persistence:)\n" + dashes + "\n");
    kit::Json oops = lastRecord("oops");
    EXPECT_EQ(oops["function"], "scout(sx:sy:vertical:persistence:)");
    EXPECT_EQ(oops["message"], "No pixel data");

    sendEvent("floodfill-select", {{"aborted", std::string("false")}, {"width", 12LL}});
    kit::Json fill = lastRecord("floodfill-select");
    EXPECT_EQ(fill["aborted"], "false");
    EXPECT_EQ(fill["width"], 12);

    Stopwatch slow("slow scout");
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    testing::internal::CaptureStdout();
    slow.assertWithin(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("Time Assert: timer slow scout took ", 0), 0u);
    kit::Json assertion = lastRecord("timer-assert");
    EXPECT_EQ(assertion["timername"], "slow scout");
    EXPECT_GT(assertion["timer"].get<double>(), 1.0);
}

TEST(Diagnostics, MillisecondTexts) {
    EXPECT_EQ(millisText(5), "5.0");
    EXPECT_EQ(millisText(12.344), "12.34");
    EXPECT_EQ(millisText(12.345678), "12.35");
    EXPECT_EQ(millisText(0.004), "0.0");
    EXPECT_EQ(millisText(1500.1), "1500.1");
}

TEST(Diagnostics, TimerAssertionsOnlyWhenOverTheLimit) {
    test::Recorder rec;
    Stopwatch fast("quick");
    fast.assertWithin(10'000);
    EXPECT_TRUE(rec.timerAsserts.empty());
    Stopwatch slow("slow");
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    slow.assertWithin(1);
    EXPECT_EQ(rec.timerAsserts, std::vector<std::string>{"slow"});
    testing::internal::CaptureStdout();
    slow.log();
    std::string line = testing::internal::GetCapturedStdout();
    EXPECT_EQ(line.rfind("slow: ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 3), "ms\n");
}
