#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "kit/base/Atomic.h"
#include "kit/base/Dispatch.h"
#include "support/ThreadLimit.h"

using namespace kit;

TEST(Dispatch, SerialQueueRunsInOrderOneAtATime) {
    std::vector<int> seen;
    std::atomic<int> running{0}, overlap{0};
    {
        DispatchQueue q("serial");
        EXPECT_EQ(q.label(), "serial");
        for (int i = 0; i < 200; ++i)
            q.async([&, i] {
                if (running.fetch_add(1) != 0) ++overlap;
                seen.push_back(i);
                running.fetch_sub(1);
            });
    }  // the destructor runs what is queued
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[size_t(i)], i);
    EXPECT_EQ(overlap.load(), 0);
}

TEST(Dispatch, SyncWaitsReturnsAndDoesNotDeadlockOnItself) {
    DispatchQueue q("sync");
    int v = 0;
    q.async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        v = 1;
    });
    EXPECT_EQ(q.syncResult([&] { return v + 1; }), 2);  // queued after the first task
    bool inner = false;
    q.sync([&] {
        EXPECT_TRUE(q.isCurrent());
        q.sync([&] { inner = true; });
    });
    EXPECT_TRUE(inner);
    EXPECT_FALSE(q.isCurrent());
}

TEST(Dispatch, MainQueueRunsPostedWorkOnTheMainThreadInOrder) {
    std::vector<int> order;
    std::atomic<bool> allOnMain{true};
    DispatchQueue q("poster");
    for (int i = 0; i < 50; ++i)
        q.async([&, i] {
            dispatchMain([&, i] {
                if (!isMainThread()) allOnMain = false;
                order.push_back(i);
            });
        });
    ASSERT_TRUE(runMainLoopUntil([&] { return order.size() == 50; }, 10));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[size_t(i)], i);
    EXPECT_TRUE(allOnMain);

    // Posting from the main thread runs later, not inline.
    bool ran = false;
    dispatchMain([&] { ran = true; });
    EXPECT_FALSE(ran);
    processMainEvents();
    EXPECT_TRUE(ran);
}

TEST(Dispatch, GlobalQueueGrowsSoBlockedTasksDoNotStarveOthers) {
    // Each task waits for all the others to have started: a fixed pool of
    // fewer threads would hang here.
    constexpr int n = 12;
    std::atomic<int> started{0}, finished{0};
    for (int i = 0; i < n; ++i)
        globalQueue().async([&] {
            ++started;
            auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (started.load() < n && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++finished;
        });
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (finished.load() < n && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(started.load(), n);
    EXPECT_EQ(finished.load(), n);
}

TEST(Dispatch, ClosingTheGlobalQueueWaitsForRunningTasksAndStartsNoMore) {
    // Closing is for good, so it happens in a child process of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto closing = [] {
        std::atomic<bool> started{false}, finished{false}, lateRan{false};
        globalQueue().async([&] {
            started = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            finished = true;
        });
        while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const bool allEnded = globalQueue().close(5);
        const bool waited = finished;
        globalQueue().async([&] { lateRan = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::fprintf(stderr, "%s, %s, %s\n", allEnded ? "ended" : "not ended",
                     waited ? "waited" : "not waited",
                     lateRan ? "a task started after" : "none started after");
        std::_Exit(0);
    };
    EXPECT_EXIT(closing(), ::testing::ExitedWithCode(0), "ended, waited, none started after\n$");
}

// Where the system gives no thread, nothing ends the program and no work is
// lost: the pool's and a serial queue's tasks wait and run once a thread can
// be had, a wait on a serial queue runs its work in place, and work in bands
// is done by the calling thread.
TEST(Dispatch, WorkWaitsWhileNoThreadCanStartAndRunsOnceOneCan) {
    if (::getuid() != 0) GTEST_SKIP() << "making a user of its own needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto starved = [] {
        if (!testsupport::refuseThreadStarts()) std::_Exit(2);
        std::atomic<bool> pooled{false}, queued{false}, waited{false};
        std::atomic<int> bands{0};
        globalQueue().async([&] { pooled = true; });
        DispatchQueue serial("starved");
        serial.async([&] { queued = true; });
        serial.sync([&] { waited = true; });
        runInBands(4, [&](int) { ++bands; });
        const bool ranWithout = runMainLoopUntil([&] { return pooled || queued; }, 0.3);
        testsupport::allowThreadStarts();
        const bool ranAfter = runMainLoopUntil([&] { return pooled && queued; }, 10);
        std::fprintf(stderr, "%s, %d bands, %s, %s\n", ranWithout ? "ran without a thread" : "waited",
                     bands.load(), waited ? "the wait ran" : "the wait did not run",
                     ranAfter ? "all ran once a thread could start" : "lost");
        std::_Exit(0);
    };
    EXPECT_EXIT(starved(), ::testing::ExitedWithCode(0),
                "waited, 4 bands, the wait ran, all ran once a thread could start\n$");
}

TEST(Dispatch, AtomicKeepsReadModifyWriteWhole) {
    Atomic<double> zoom(0.5);
    Atomic<std::vector<int>> list;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                zoom.mutate([](double& z) { z += 1; });
                list.mutate([&](std::vector<int>& v) { v.push_back(t); });
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_DOUBLE_EQ(zoom.get(), 4000.5);
    EXPECT_EQ(list.get().size(), 4000u);
    EXPECT_DOUBLE_EQ(zoom.exchange(2.0), 4000.5);
    EXPECT_DOUBLE_EQ(zoom.get(), 2.0);
}
