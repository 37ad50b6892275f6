// Descriptors held and written whole, and waits for another program's bytes
// that leave the event loop turning.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <QTimer>
#include <chrono>
#include <string>
#include <thread>

#include "kit/base/Descriptor.h"
#include "kit/base/InputWait.h"

using namespace kit;
using namespace std::chrono_literals;

namespace {

// Both ends of a pipe, closed when done.
struct Pipe {
    Descriptor read, write;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) read.reset(ends[0]), write.reset(ends[1]);
    }
};

}  // namespace

// A full pipe blocks the writer before it writes a byte, and a signal then
// ends the write with nothing written: every byte still arrives, in order,
// once.
TEST(Descriptor, WritesEveryByteThoughSignalsCutTheWritesShort) {
    struct sigaction quiet {
    }, before{};
    quiet.sa_handler = [](int) {};  // no SA_RESTART: the write returns early
    ::sigaction(SIGUSR1, &quiet, &before);
    Pipe p;
    ::fcntl(p.write.get(), F_SETFL, O_NONBLOCK);
    std::string filled;
    for (char chunk[4096] = {}; ::write(p.write.get(), chunk, sizeof chunk) > 0;)
        filled.append(chunk, sizeof chunk);
    ::fcntl(p.write.get(), F_SETFL, 0);
    std::string bytes(1 << 20, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 131 % 251);
    bool written = false;
    std::thread writer([&] {
        written = writeAll(p.write.get(), bytes.data(), bytes.size());
        p.write.reset();
    });
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(50ms);
        ::pthread_kill(writer.native_handle(), SIGUSR1);
    }
    std::string got;
    char chunk[4096];
    for (ssize_t n; (n = ::read(p.read.get(), chunk, sizeof chunk)) > 0;) got.append(chunk, size_t(n));
    writer.join();
    ::sigaction(SIGUSR1, &before, nullptr);
    EXPECT_TRUE(written);
    EXPECT_EQ(got.size(), filled.size() + bytes.size());
    EXPECT_TRUE(got == filled + bytes);
}

// On the event loop's thread the loop turns while the bytes are awaited
// (a timer fires), and the wait ends as they come, not at its deadline;
// with nothing coming it ends at the deadline, on any thread.
TEST(InputWait, TheEventLoopTurnsWhileBytesAreAwaited) {
    Pipe p;
    ::fcntl(p.read.get(), F_SETFL, O_NONBLOCK);
    bool timerFired = false;
    QTimer::singleShot(20, [&] { timerFired = true; });
    std::thread sender([&] {
        std::this_thread::sleep_for(200ms);
        ASSERT_EQ(::write(p.write.get(), "x", 1), 1);
    });
    int reads = 0;
    const auto start = std::chrono::steady_clock::now();
    const InputWait waited = awaitInput(p.read.get(), start + 5s, [&] {
        ++reads;
        char c;
        return ::read(p.read.get(), &c, 1) == 1;
    });
    const auto took = std::chrono::steady_clock::now() - start;
    sender.join();
    EXPECT_EQ(waited, InputWait::done);
    EXPECT_TRUE(timerFired) << "the event loop stood still";
    EXPECT_LT(took, 3s);
    EXPECT_GE(reads, 2) << "asked before waiting, and when the byte came";

    const auto quiet = [&] {
        char c;
        return ::read(p.read.get(), &c, 1) == 1;
    };
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(awaitInput(p.read.get(), before + 150ms, quiet), InputWait::timeUp);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 150ms);
    InputWait elsewhere = InputWait::done;
    std::thread([&] {
        elsewhere = awaitInput(p.read.get(), std::chrono::steady_clock::now() + 100ms, quiet);
    }).join();
    EXPECT_EQ(elsewhere, InputWait::timeUp);
}
