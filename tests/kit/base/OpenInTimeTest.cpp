#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/OpenInTime.h"
#include "kit/base/WayOut.h"
#include "support/HeldOpens.h"
#include "support/ThreadLimit.h"

using namespace kit;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace intime {

// A fresh folder holding `name` with `content`; the folder's path.
std::string folderWith(const std::string& folder, const std::string& name, const std::string& content) {
    const std::string dir = files::tempDir() + "/" + folder;
    files::remove(dir);
    files::makeDirs(dir);
    files::writeAtomic(dir + "/" + name, content);
    return dir;
}

// Descriptors of this process open on `path`.
int descriptorsOn(const std::string& path) {
    int n = 0;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec))
        if (std::filesystem::read_symlink(fd.path(), ec) == path) ++n;
    return n;
}

bool noOpensHeld() {
    return runMainLoopUntil([] { return files::opensHeld() == 0; }, 5);
}

}  // namespace intime

using namespace intime;

TEST(OpenInTime, OpensAndLooksOnAThreadOfItsOwnAndRefusesWhatOpenRegularRefuses) {
    const std::string dir = folderWith("in-time", "picture.png", "picture");
    ASSERT_EQ(::mkfifo((dir + "/fifo.png").c_str(), 0600), 0);
    const auto caller = std::this_thread::get_id();
    files::OpenInTime opened = files::openInTime(
        dir + "/picture.png", 1024, Clock::now() + milliseconds(5000), [caller](int fd, long long size) {
            char head[4] = {};
            if (::pread(fd, head, 3, 0) != 3) return std::string("unread");
            const bool elsewhere = std::this_thread::get_id() != caller;
            return std::string(head) + " " + std::to_string(size) + (elsewhere ? " elsewhere" : " here");
        });
    EXPECT_EQ(opened.outcome, files::OpenOutcome::opened);
    EXPECT_TRUE(opened.fd.valid());
    EXPECT_EQ(opened.size, 7);
    EXPECT_EQ(opened.looked, "pic 7 elsewhere");
    // A FIFO (its open would wait for a writer), a name that is missing, a file too large.
    for (const auto& [name, why] : {std::pair<std::string, std::string>{"fifo.png", files::kNotRegularFile},
                                    {"missing.png", std::strerror(ENOENT)},
                                    {"picture.png", files::kTooLarge}}) {
        const auto refused = files::openInTime(dir + "/" + name, 6, Clock::now() + milliseconds(5000));
        EXPECT_EQ(refused.outcome, files::OpenOutcome::refused) << name;
        EXPECT_FALSE(refused.fd.valid()) << name;
        EXPECT_EQ(refused.why, why) << name;
    }
    // A deadline already past starts nothing.
    EXPECT_EQ(files::openInTime(dir + "/picture.png", 1024, Clock::now()).outcome,
              files::OpenOutcome::timeUp);
    EXPECT_TRUE(noOpensHeld());
    files::remove(dir);
}

// The open is given up at its deadline with the loop turning meanwhile, or
// when its caller stops it; the thread left in it closes what it opens once
// the folder answers, and looks at nothing; then the same file opens.
TEST(OpenInTime, AFolderThatDoesNotAnswerIsGivenUpAndItsLateDescriptorClosed) {
    if (::getuid() != 0) GTEST_SKIP() << "holding opens needs root";
    const std::string dir = folderWith("in-time-held", "held.png", "picture");
    const std::string file = dir + "/held.png";
    testsupport::HeldOpens hold(dir, "held");
    if (!hold.watching()) GTEST_SKIP() << "the kernel holds no opens here (fanotify)";
    bool turned = false;
    dispatchMain([&] { turned = true; });
    auto looks = std::make_shared<std::atomic<int>>(0);
    const auto start = Clock::now();
    const files::OpenInTime late =
        files::openInTime(file, 1024, start + milliseconds(300), [looks](int, long long) {
            ++*looks;
            return std::string();
        });
    const auto waited = Clock::now() - start;
    EXPECT_EQ(late.outcome, files::OpenOutcome::timeUp);
    EXPECT_EQ(late.why, files::kFolderTooSlow);
    EXPECT_GE(waited, milliseconds(290));
    EXPECT_LT(waited, milliseconds(2000));
    EXPECT_TRUE(turned) << "the event loop stood still during the wait";
    EXPECT_EQ(hold.held(), 1);
    EXPECT_EQ(files::opensHeld(), 1);

    // Stopped by its caller from another thread, the wait ends then; a stop
    // that came before the open begins nothing.
    files::OpenStop stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(200));
        stop.stop();
    });
    const auto stoppedAt = Clock::now();
    const files::OpenInTime stopped =
        files::openInTime(file, 1024, stoppedAt + milliseconds(20000), {}, &stop);
    EXPECT_LT(Clock::now() - stoppedAt, milliseconds(1500));
    stopper.join();
    EXPECT_EQ(stopped.outcome, files::OpenOutcome::stopped);
    EXPECT_EQ(stopped.why, files::kOpenStopped);
    EXPECT_EQ(files::opensHeld(), 2);
    EXPECT_EQ(files::openInTime(file, 1024, Clock::now() + milliseconds(20000), {}, &stop).outcome,
              files::OpenOutcome::stopped);
    EXPECT_EQ(files::opensHeld(), 2);

    hold.release();
    EXPECT_TRUE(noOpensHeld());
    EXPECT_EQ(descriptorsOn(file), 0) << "the late descriptor was left open";
    EXPECT_EQ(looks->load(), 0);
    EXPECT_EQ(files::openInTime(file, 1024, Clock::now() + milliseconds(5000)).outcome,
              files::OpenOutcome::opened);
    files::remove(dir);
}

// A file system of the test's own (a tmpfs on a folder of its own, in a
// mount namespace of this process only, gone with the process); false when
// the kernel will not make one.
bool mountedOwnFileSystem(const std::string& folder) {
    files::makeDirs(folder);
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("kadrix-test", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
}

std::string deviceOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "unstated";
    return std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
}

// The file system of a name is that of the mount it lies on, as stat finds
// it, for names that exist and names that do not, relative ones, and mount
// points the table of mounts writes escaped.
TEST(OpenInTime, TheFileSystemOfANameIsTheMountItLiesOn) {
    if (::getuid() != 0) GTEST_SKIP() << "mounting needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = folderWith("in-time-mounts", "picture.png", "picture");
    auto child = [&] {
        const std::string own = dir + "/own\\ space";
        if (!mountedOwnFileSystem(own)) std::_Exit(2);
        files::writeAtomic(own + "/inside.png", "picture");
        std::string wrong;
        auto check = [&](const std::string& name, const std::string& statted) {
            if (files::fileSystemOf(name) != deviceOf(statted))
                wrong += name + " " + files::fileSystemOf(name) + " not " + deviceOf(statted) + "; ";
        };
        check(dir + "/picture.png", dir);
        check(own + "/inside.png", own);
        check(own + "/not there/at all.png", own);
        check(own, own);
        check(own + "/../picture.png", dir);
        check("/proc/self/status", "/proc/self");
        check("/", "/");
        if (::chdir(own.c_str()) != 0) std::_Exit(3);
        check("inside.png", own);
        if (files::fileSystemOf("inside.png") == files::fileSystemOf(dir))
            wrong += "one file system for both";
        std::fprintf(stderr, "%s\n", wrong.empty() ? "all on their own" : wrong.c_str());
        std::_Exit(0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "all on their own\n$");
    files::remove(dir);
}

// Four opens held on one file system refuse a fifth there at once, even in
// a folder that answers; a file on another file system opens meanwhile.
TEST(OpenInTime, BeyondTheMostOpensHeldOnOneFileSystemOnlyItRefuses) {
    if (::getuid() != 0) GTEST_SKIP() << "holding opens needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = folderWith("in-time-many", "held.png", "picture");
    const std::string sameFileSystem = folderWith("in-time-free", "free.png", "picture") + "/free.png";
    if (!testsupport::HeldOpens(dir, "held").watching())
        GTEST_SKIP() << "the kernel holds no opens here (fanotify)";
    auto child = [&] {
        const std::string other = dir + "/other";
        if (!mountedOwnFileSystem(other)) std::_Exit(2);
        files::writeAtomic(other + "/elsewhere.png", "picture");
        testsupport::HeldOpens hold(dir, "held");
        std::string wrong;
        auto expect = [&](bool ok, const std::string& what) {
            if (!ok) wrong += what + "; ";
        };
        for (int i = 0; i < files::kMostOpensHeld; ++i)
            expect(files::openInTime(dir + "/held.png", 1024, Clock::now() + milliseconds(100)).outcome ==
                       files::OpenOutcome::timeUp,
                   "a held open did not time out");
        expect(files::opensHeld(dir + "/held.png") == files::kMostOpensHeld, "held opens not counted");
        expect(files::opensHeld(other + "/elsewhere.png") == 0, "held opens counted on the other");
        // Refused without a wait, even a file whose folder answers.
        auto start = Clock::now();
        const files::OpenInTime refused = files::openInTime(sameFileSystem, 1024, start + milliseconds(5000));
        expect(Clock::now() - start < milliseconds(100), "the refusal waited");
        expect(refused.outcome == files::OpenOutcome::tooManyHeld && refused.why == files::kTooManyOpensHeld,
               "the same file system was not refused");
        start = Clock::now();
        const files::OpenInTime opened =
            files::openInTime(other + "/elsewhere.png", 1024, start + milliseconds(5000));
        expect(opened.outcome == files::OpenOutcome::opened && opened.size == 7,
               "the other file system was refused: " + opened.why);
        expect(hold.held() == files::kMostOpensHeld, "opens held by another count");
        hold.release();
        expect(runMainLoopUntil([] { return files::opensHeld() == 0; }, 5), "the held opens never ended");
        expect(descriptorsOn(dir + "/held.png") == 0, "a late descriptor was left open");
        expect(files::openInTime(sameFileSystem, 1024, Clock::now() + milliseconds(5000)).outcome ==
                   files::OpenOutcome::opened,
               "the folder answers again, yet its file system refuses");
        std::fprintf(stderr, "%s\n", wrong.empty() ? "only the held one refused" : wrong.c_str());
        std::_Exit(0);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "only the held one refused\n$");
    files::remove(dir);
}

// With no thread to be had the open is not tried on the caller's thread
// (where a folder that does not answer would hold it), and says why.
TEST(OpenInTime, NoThreadNoOpen) {
    if (::getuid() != 0) GTEST_SKIP() << "making a user of its own needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string file = folderWith("in-time-starved", "picture.png", "picture") + "/picture.png";
    auto starved = [&] {
        if (!testsupport::refuseThreadStarts()) std::_Exit(2);
        const auto r = files::openInTime(file, 1024, Clock::now() + milliseconds(5000));
        std::fprintf(stderr, "%s: %s, %d held\n",
                     r.outcome == files::OpenOutcome::noThread ? "no thread" : "other", r.why.c_str(),
                     files::opensHeld());
        std::_Exit(0);
    };
    EXPECT_EXIT(starved(), ::testing::ExitedWithCode(0),
                "no thread: no thread could be had to open it, 0 held\n$");
}

// Asked to end, the wait ends at once, whatever the deadline.
TEST(OpenInTime, TheWayOutEndsTheWait) {
    if (::getuid() != 0) GTEST_SKIP() << "holding opens needs root";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string dir = folderWith("in-time-ending", "held.png", "picture");
    if (!testsupport::HeldOpens(dir, "held").watching())
        GTEST_SKIP() << "the kernel holds no opens here (fanotify)";
    auto ending = [&] {
        testsupport::HeldOpens hold(dir, "held");
        std::thread([] {
            std::this_thread::sleep_for(milliseconds(200));
            dispatchMain(beginWayOut);
        }).detach();
        const auto start = Clock::now();
        const auto r = files::openInTime(dir + "/held.png", 1024, start + milliseconds(20000));
        const bool soon = Clock::now() - start < milliseconds(2000);
        std::fprintf(stderr, "%s, %s\n", r.outcome == files::OpenOutcome::cancelled ? "cancelled" : "other",
                     soon ? "at once" : "late");
        std::_Exit(0);
    };
    EXPECT_EXIT(ending(), ::testing::ExitedWithCode(0), "cancelled, at once\n$");
}
