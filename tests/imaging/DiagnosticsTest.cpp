#include <gtest/gtest.h>

#include <thread>

#include "Fixtures.h"
#include "imaging/Diagnostics.h"

using namespace imaging;

TEST(Diagnostics, UnhookedErrorReportsPrintTheOopsBlock) {
    setDiagnostics({});
    testing::internal::CaptureStdout();
    errorReport("scout(sx:sy:vertical:persistence:)", "No pixel data");
    std::string out = testing::internal::GetCapturedStdout();
    std::string dashes;
    for (int i = 0; i < 41; ++i) dashes += "\u2014";
    EXPECT_EQ(out, dashes + "\nOOPS No pixel data\nscout(sx:sy:vertical:persistence:)\n" + dashes + "\n");
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
