// The shared test main stops a test that hangs: run this binary again with
// only a test that never ends and a one-second limit.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

TEST(Watchdog, HangProbe) {
    if (!std::getenv("KADRIX_WATCHDOG_PROBE")) GTEST_SKIP() << "only run by Watchdog.StopsATestThatHangs";
    std::this_thread::sleep_for(std::chrono::hours(1));
}

TEST(Watchdog, StopsATestThatHangs) {
    QProcess self;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KADRIX_WATCHDOG_PROBE", "1");
    env.insert("KADRIX_TEST_TIMEOUT", "1");
    self.setProcessEnvironment(env);
    const auto start = std::chrono::steady_clock::now();
    self.start("/proc/self/exe", {"--gtest_filter=Watchdog.HangProbe"});
    ASSERT_TRUE(self.waitForFinished(20000)) << "the hanging test was not stopped";
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(self.exitCode(), 124);
    EXPECT_LT(took, 10);
    EXPECT_TRUE(self.readAllStandardError().contains("TIMEOUT: Watchdog.HangProbe"));
}

}  // namespace
