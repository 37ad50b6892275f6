#include <gtest/gtest.h>

#include <string>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Process.h"
#include "kit/base/Timer.h"

using namespace kit;

TEST(Process, MergesOutputAndReportsTheExitCode) {
    std::string out;
    int chunks = 0;
    Process p("/bin/sh", {"-c", "echo out; echo err >&2; printf '%s' \"$KIT_EXTRA\"; pwd; exit 3"});
    p.setEnvironment({{"KIT_EXTRA", "extra!"}});
    p.setWorkingDirectory("/");
    auto r = p.run([&](std::string_view c) {
        out += c;
        ++chunks;
    });
    EXPECT_TRUE(r.launched);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.crashed);
    EXPECT_NE(out.find("out\n"), std::string::npos);
    EXPECT_NE(out.find("err\n"), std::string::npos);
    EXPECT_NE(out.find("extra!/\n"), std::string::npos);
    EXPECT_GE(chunks, 1);
}

TEST(Process, LaunchFailuresAreReported) {
    auto missing = Process("/nonexistent/kadrix-tool", {}).run();
    EXPECT_FALSE(missing.launched);
    EXPECT_NE(missing.error.find("/nonexistent/kadrix-tool"), std::string::npos);

    auto relative = Process("sh", {"-c", "true"}).run();  // never searched on PATH
    EXPECT_FALSE(relative.launched);
    EXPECT_FALSE(relative.error.empty());

    std::string notExec = files::uniqueTempPath("noexec-", ".sh");
    files::writeAtomic(notExec, "#!/bin/sh\necho hi\n", 0600);
    EXPECT_FALSE(Process(notExec, {}).run().launched);
    files::remove(notExec);

    auto killed = Process("/bin/sh", {"-c", "kill -9 $$"}).run();
    EXPECT_TRUE(killed.launched);
    EXPECT_TRUE(killed.crashed);
    EXPECT_EQ(killed.exitCode, -1);
}

TEST(Process, RunOnMainKeepsTheEventLoopTurning) {
    // A timer must fire while the main thread waits for the child, and the
    // output must arrive on the main thread before the call returns.
    bool timerFired = false, chunksOnMain = true;
    std::string out;
    Timer t = Timer::once(0.01, [&] { timerFired = true; });
    auto r =
        Process("/bin/sh", {"-c", "echo first; sleep 0.3; echo second"}).runOnMain([&](std::string_view c) {
            chunksOnMain = chunksOnMain && isMainThread();
            out += c;
        });
    EXPECT_TRUE(r.launched);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(timerFired);
    EXPECT_TRUE(chunksOnMain);
    EXPECT_EQ(out, "first\nsecond\n");

    auto failed = Process("/nonexistent/tool", {}).runOnMain();
    EXPECT_FALSE(failed.launched);

    // Off the main thread there is no loop to turn: it simply runs.
    DispatchQueue q("off-main");
    std::string offOut;
    auto off =
        q.syncResult([&] { return Process("/bin/echo", {"x"}).runOnMain([&](auto c) { offOut += c; }); });
    EXPECT_EQ(off.exitCode, 0);
    EXPECT_EQ(offOut, "x\n");
}
