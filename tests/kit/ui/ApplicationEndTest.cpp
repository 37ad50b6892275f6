// How the application ends when something other than its own quit ends it:
// the toolkit's X11 plugin and Xlib call exit() when the display goes (on the
// main thread or on another one), the session manager sends a Quit event, a
// signal arrives, while the main thread waits or after its loop has ended.
// Each way runs in a child process of its own, which reports through its
// exit status and its error output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Process.h"
#include "kit/base/WayOut.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Alert.h"
#include "kit/ui/Application.h"
#include "support/TestData.h"
#include "support/ThreadLimit.h"

namespace {

constexpr int kStaticsDestroyed = 3;
constexpr int kLoopNeverEnded = 4;

// A static object made while the loop runs, as the program's own lazily made
// tables are. Should the process tear its static objects down on the way
// out, this one says so with an exit status of its own.
struct LateStatic {
    ~LateStatic() { std::_Exit(kStaticsDestroyed); }
};

// Runs the application until `ending` (called on the loop's first turn) ends
// it; the terminate hook reports on the error output. Never returns.
[[noreturn]] void runUntil(const std::function<void()>& ending) {
    auto& app = kit::Application::shared();
    int runs = 0;
    app.addWillTerminateHook([&runs] {
        ++runs;
        static LateStatic late;
        std::fprintf(stderr, "hook %d on the %s thread\n", runs, kit::isMainThread() ? "main" : "wrong");
        std::fflush(stderr);
    });
    // A setting changed a moment before the end, well inside the store's debounce.
    QTimer::singleShot(0, [&ending] {
        kit::Defaults::standard().set("endedWith", kit::Json("the last change"));
        ending();
    });
    QTimer::singleShot(5000, [] { std::_Exit(kLoopNeverEnded); });
    int code = app.run();
    std::fprintf(stderr, "the loop ended with %d after %d hook runs\n", code, runs);
    // As the program's main ends.
    kit::Application::endProcess(code);
}

std::string storedSettings() {
    std::ifstream in(kit::files::configDir() + "/defaults.json");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ApplicationEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        forgetStoredSettings();
    }
    static void forgetStoredSettings() { std::remove((kit::files::configDir() + "/defaults.json").c_str()); }
    // The child's last change reached the disk.
    void expectLastChangeStored() {
        EXPECT_NE(storedSettings().find("\"endedWith\": \"the last change\""), std::string::npos)
            << storedSettings();
    }
};

}  // namespace

TEST_F(ApplicationEndTest, ExitOnTheMainThreadRunsTheHooksOnceWhileEverythingLives) {
    // As the X11 plugin does when the connection breaks: exit(1) from inside the loop.
    EXPECT_EXIT(runUntil([] { std::exit(1); }), ::testing::ExitedWithCode(1), "hook 1 on the main thread\n$");
    expectLastChangeStored();
}

TEST_F(ApplicationEndTest, ExitOnAnotherThreadLeavesTheEndToTheMainThread) {
    // As Xlib's fatal I/O error handler does on the thread that met the error.
    EXPECT_EXIT(runUntil([] { std::thread([] { std::exit(2); }).detach(); }), ::testing::ExitedWithCode(2),
                "hook 1 on the main thread\n$");
    expectLastChangeStored();
}

TEST_F(ApplicationEndTest, ExitFromInsideAHookEndsWithoutRunningThemAgain) {
    // The hooks themselves may meet the broken connection.
    auto again = [] {
        kit::Application::shared().addWillTerminateHook([] { std::exit(5); });
        std::exit(1);
    };
    EXPECT_EXIT(runUntil(again), ::testing::ExitedWithCode(5), "hook 1 on the main thread\n$");
    expectLastChangeStored();
}

TEST_F(ApplicationEndTest, TheSessionManagersQuitEndsTheLoopThoughAWindowOnlyHides) {
    // A window that hides instead of closing, as the editor does.
    struct HidingWindow : QWidget {
        void closeEvent(QCloseEvent* event) override {
            event->ignore();
            hide();
        }
    };
    auto quit = [] {
        static auto* window = new HidingWindow;
        window->show();
        QEvent event(QEvent::Quit);
        QCoreApplication::sendEvent(QCoreApplication::instance(), &event);
    };
    EXPECT_EXIT(runUntil(quit), ::testing::ExitedWithCode(0),
                "hook 1 on the main thread\nthe loop ended with 0 after 1 hook runs\n$");
    expectLastChangeStored();
}

TEST_F(ApplicationEndTest, TerminationSignalsEndTheLoopAfterTheHooks) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        forgetStoredSettings();
        EXPECT_EXIT(runUntil([signal] { std::raise(signal); }), ::testing::ExitedWithCode(0),
                    "hook 1 on the main thread\nthe loop ended with 0 after 1 hook runs\n$")
            << "signal " << signal;
        expectLastChangeStored();
    }
}

// A write to a connection or a pipe whose other end has gone (the display's,
// a reader that ended) fails as a write, on whatever thread made it, and ends
// nothing: the program goes on to end in order. Its children still get the
// signal's default, as a shell pipeline they run expects.
TEST_F(ApplicationEndTest, AWriteWhoseOtherEndHasGoneFailsWithoutEndingTheProgram) {
    auto writeToNobody = [] {
        std::thread([] {
            ::pthread_setname_np(::pthread_self(), "writer");
            int ends[2];
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) std::_Exit(10);
            ::close(ends[1]);
            errno = 0;
            const ssize_t wrote = ::write(ends[0], "x", 1);
            std::fprintf(stderr, "the socket's write gave %zd, %s\n", wrote, std::strerror(errno));
            if (::pipe2(ends, O_CLOEXEC) != 0) std::_Exit(10);
            ::close(ends[0]);
            errno = 0;
            const ssize_t piped = ::write(ends[1], "x", 1);
            std::fprintf(stderr, "the pipe's write gave %zd, %s\n", piped, std::strerror(errno));
        }).join();
        std::string seen;
        kit::Process("/bin/grep", {"^SigIgn", "/proc/self/status"}).run([&](std::string_view out) {
            seen += out;
        });
        const unsigned long long ignored = std::stoull(seen.substr(seen.find(':') + 1), nullptr, 16);
        std::fprintf(stderr, "a child %s SIGPIPE\n", ignored & (1ull << (SIGPIPE - 1)) ? "ignores" : "keeps");
        std::raise(SIGTERM);
    };
    EXPECT_EXIT(runUntil(writeToNobody), ::testing::ExitedWithCode(0),
                "kadrix: a write to a closed pipe or connection failed \\(thread writer\\)\n"
                "the socket's write gave -1, Broken pipe\n"
                "kadrix: a write to a closed pipe or connection failed \\(thread writer\\)\n"
                "the pipe's write gave -1, Broken pipe\n"
                "a child keeps SIGPIPE\n"
                "hook 1 on the main thread\nthe loop ended with 0 after 1 hook runs\n$");
}

// A hook held in a write, as a save is on a hung network folder, holds the
// end back no longer than the way out gives: the process ends before the
// write does, says so in its log, and the settings' last change is kept all
// the same.
TEST_F(ApplicationEndTest, AHookStuckInAWriteDoesNotHoldTheEndBack) {
    auto stuck = [] {
        kit::Application::shared().addWillTerminateHook([] {
            std::fprintf(stderr, "stuck in a write\n");
            std::this_thread::sleep_for(std::chrono::seconds(4));
            std::fprintf(stderr, "the write ended\n");
        });
        std::raise(SIGTERM);
    };
    EXPECT_EXIT(
        runUntil(stuck), ::testing::ExitedWithCode(0),
        "hook 1 on the main thread\nstuck in a write\nkadrix: the way out was cut short at its deadline\n$");
    expectLastChangeStored();
}

// A main thread that never comes back to pick the signal up (a call that
// does not return, a machine too busy to run it) holds the end back no
// longer: the bound counts from the signal, kept by a thread that waits for
// it from the start, which tells what the end leaves undone; where no thread
// could be had, by the kernel's alarm, in whole seconds.
TEST_F(ApplicationEndTest, ASignalEndsTheProcessInItsBoundThoughTheMainThreadNeverComesBack) {
    auto held = [](bool threads) {
        if (!threads && !testsupport::refuseThreadStarts()) std::_Exit(20);
        int argc = 0;
        kit::Application app(argc, nullptr);
        static const auto signalled = std::chrono::steady_clock::now();
        kit::onHardEnd([] {
            const auto took = std::chrono::steady_clock::now() - signalled;
            std::fprintf(stderr, "told %s\n", took < std::chrono::milliseconds(2500) ? "in time" : "late");
        });
        std::raise(SIGTERM);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        std::_Exit(kLoopNeverEnded);
    };
    EXPECT_EXIT(held(true), ::testing::ExitedWithCode(0),
                "kadrix: the way out was cut short at its deadline\ntold in time\n$");
    if (::getuid() != 0) GTEST_SKIP() << "making a user of its own needs root";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EXIT(held(false), ::testing::ExitedWithCode(0),
                "kadrix: the way out was cut short at its deadline\n$");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "ended by the alarm";
}

// The alarm belongs to whoever had it before the application was made (a
// fuzzer's watchdog, the system's default) until the way out begins: an
// alarm then is theirs, not an end of the process.
TEST_F(ApplicationEndTest, AnAlarmBeforeTheWayOutKeepsTheHandlerItHadBefore) {
    auto alarmed = [] {
        static void (*const prior)(int) = [](int) {
            std::fprintf(stderr, "the prior handler ran\n");
            std::_Exit(7);
        };
        std::signal(SIGALRM, prior);
        int argc = 0;
        kit::Application app(argc, nullptr);
        struct sigaction now {};
        sigaction(SIGALRM, nullptr, &now);
        if (now.sa_handler != prior) std::fprintf(stderr, "the handler was replaced\n");
        std::raise(SIGALRM);
        std::_Exit(kLoopNeverEnded);
    };
    EXPECT_EXIT(alarmed(), ::testing::ExitedWithCode(7), "the prior handler ran\n$");
    auto defaulted = [] {
        std::signal(SIGALRM, SIG_DFL);
        int argc = 0;
        kit::Application app(argc, nullptr);
        std::raise(SIGALRM);
        std::_Exit(kLoopNeverEnded);
    };
    EXPECT_EXIT(defaulted(), ::testing::KilledBySignal(SIGALRM), "");
}

namespace {

// Whether no process `pid` is left, waiting a second at most.
bool processGone(pid_t pid) {
    for (int i = 0; i < 100; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Raises `signal` a moment after the wait that follows has begun.
void raiseDuringTheWait(int signal) {
    QTimer::singleShot(300, [signal] { std::raise(signal); });
}

}  // namespace

TEST_F(ApplicationEndTest, EveryWaitOfTheMainThreadEndsWithTheApplicationAndEndsWhatItStarted) {
    // In the run's own home: the child process runs this body again, and the
    // names must be the same there.
    const std::string home = std::getenv("KADRIX_HOME");
    const std::string pidFile = home + "/waited.pid", picture = home + "/waited.png",
                      decoder = home + "/slow-decoder.sh";
    const auto png = kit::ImageIO::encodePNG(kit::Image(8, 8));
    ASSERT_TRUE(kit::files::writeAtomic(picture, std::string(png.begin(), png.end())));
    ASSERT_TRUE(kit::files::writeAtomic(decoder, "#!/bin/sh\nexec sleep 30\n", 0700));

    // A program waited for (as the selection tool is), ended by SIGTERM.
    auto program = [&] {
        raiseDuringTheWait(SIGTERM);
        const auto start = std::chrono::steady_clock::now();
        kit::Process sleeper("/bin/sh", {"-c", "echo $$ > " + pidFile + "; exec sleep 30"});
        const kit::ProcessResult r = sleeper.runOnMain();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Once the way out has begun, no program is started.
        const kit::ProcessResult late = kit::Process("/bin/true", {}).runOnMain();
        std::fprintf(stderr, "program: %s%s%s\n", r.cancelled ? "cancelled" : "answered",
                     took < 2 ? " in time" : " late", late.cancelled && !late.launched ? ", none after" : "");
    };
    EXPECT_EXIT(runUntil(program), ::testing::ExitedWithCode(0),
                "hook 1 on the main thread\nprogram: cancelled in time, none after\nthe loop ended with 0 "
                "after 1 hook runs\n$");
    std::ifstream in(pidFile);
    pid_t waited = 0;
    ASSERT_TRUE(in >> waited);
    EXPECT_TRUE(processGone(waited)) << "the program waited for outlived the application";
    expectLastChangeStored();

    // A picture's decoder waited for, ended by SIGHUP: no refusal to tell of.
    forgetStoredSettings();
    auto decoding = [&] {
        kit::ImageIO::setDecoderProgram(decoder);
        raiseDuringTheWait(SIGHUP);
        std::string error;
        const bool read = !kit::ImageIO::read(picture, 1.0, &error).isNull();
        std::fprintf(stderr, "decoder: %s\n",
                     read                                ? "read"
                     : kit::ImageIO::wasCancelled(error) ? "cancelled"
                                                         : error.c_str());
    };
    EXPECT_EXIT(runUntil(decoding), ::testing::ExitedWithCode(0),
                "hook 1 on the main thread\ndecoder: cancelled\nthe loop ended with 0 after 1 hook runs\n$");
    expectLastChangeStored();
    for (auto& f : {pidFile, picture, decoder}) kit::files::remove(f);
}

TEST_F(ApplicationEndTest, AModalWaitEndsWithTheApplicationAndNoneBeginsAfter) {
    // A message box waiting for its answer, ended by SIGTERM: the dialog's
    // loop ends, and so does the application's behind it.
    auto modal = [] {
        raiseDuringTheWait(SIGTERM);
        const auto start = std::chrono::steady_clock::now();
        kit::Alert question;
        question.messageText = "Keep waiting?";
        question.addButton("Yes");
        question.addButton("No");
        const int answer = question.runModal();
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Once the way out has begun, no modal waits.
        const auto later = std::chrono::steady_clock::now();
        kit::Alert().runModal();
        const double after = std::chrono::duration<double>(std::chrono::steady_clock::now() - later).count();
        std::fprintf(stderr, "modal: %s%s%s\n", answer < 0 ? "no answer" : "answered",
                     took < 2 ? " in time" : " late", after < 0.5 ? ", none after" : "");
    };
    EXPECT_EXIT(
        runUntil(modal), ::testing::ExitedWithCode(0),
        "hook 1 on the main thread\n.*modal: no answer in time, none after\nthe loop ended with 0 after 1 "
        "hook runs\n$");
    expectLastChangeStored();
}

namespace {

// The processes named `name` whose parent is this process.
std::vector<pid_t> childrenNamed(const std::string& name) {
    std::vector<pid_t> out;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid …
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && line.substr(open + 1, close - open - 1) == name)
            out.push_back(pid_t(std::stoi(line)));
    }
    return out;
}

}  // namespace

TEST_F(ApplicationEndTest, TheDecodersOfOtherThreadsEndWithTheApplicationAndNoneStartsAfter) {
    // Made the reaper of what the child leaves: a decoder the application
    // did not reap comes to this process.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const std::string slow = testsupport::testDataPath("repro/jpeg-progressive-4096-60000-scans.jpg");
    auto indexing = [&slow] {
        // As the library's indexing does, on threads of its own, with
        // pictures that keep a decoder busy for many seconds.
        for (int i = 0; i < 3; ++i) std::thread([slow] { kit::ImageIO::read(slow); }).detach();
        const bool started =
            kit::runMainLoopUntil([] { return childrenNamed("kadrix-decode").size() == 3; }, 5);
        kit::Application::shared().addWillTerminateHook([slow] {
            // The way out has begun: a picture read now starts no decoder.
            auto late = std::make_shared<std::promise<std::string>>();
            std::thread([slow, late] {
                std::string error;
                kit::ImageIO::read(slow, 1.0, &error);
                late->set_value(error);
            }).detach();
            auto answer = late->get_future();
            const bool quick = answer.wait_for(std::chrono::milliseconds(500)) == std::future_status::ready;
            std::fprintf(stderr, "late read: %s\n",
                         !quick                                     ? "still reading"
                         : kit::ImageIO::wasCancelled(answer.get()) ? "given up at once"
                                                                    : "read");
        });
        std::fprintf(stderr, "decoders %s\n", started ? "running" : "missing");
        std::raise(SIGTERM);
    };
    EXPECT_EXIT(
        runUntil(indexing), ::testing::ExitedWithCode(0),
        "decoders running\nhook 1 on the main thread\nlate read: given up at once\nthe loop ended with "
        "0 after 1 hook runs\n$");
    // What the child left has come here by now; it is reaped, and named.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto left = childrenNamed("kadrix-decode");
    for (pid_t pid : left) ::waitpid(pid, nullptr, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(left.empty()) << left.size() << " decoders outlived the application unreaped";
}

TEST_F(ApplicationEndTest, OnlyTheProcessThatMadeTheApplicationRunsItsWayOut) {
    // As a library that forks without exec would: children that call exit()
    // or meet a termination signal, made on the main thread and on another.
    auto forks = [] {
        auto child = [](auto body) {
            const pid_t pid = ::fork();
            if (pid == 0) body();
            int status = 0;
            ::waitpid(pid, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
        };
        const int onMain = child([] { std::exit(7); });
        int onOther = 0;
        std::thread([&] { onOther = child([] { std::exit(8); }); }).join();
        const int signalled = child([] {
            std::raise(SIGTERM);
            std::_Exit(9);
        });
        // Anything the children asked of this process arrives now.
        kit::runMainLoopUntil([] { return false; }, 0.3);
        std::fprintf(stderr, "children ended with %d, %d and %d\n", onMain, onOther, signalled);
        std::raise(SIGTERM);
    };
    EXPECT_EXIT(runUntil(forks), ::testing::ExitedWithCode(0),
                "children ended with 7, 8 and 115\nhook 1 on the main thread\nthe loop ended with 0 after 1 "
                "hook runs\n$");
}

TEST_F(ApplicationEndTest, AnExitWhileTheToolkitTearsDownEndsAsTheWayOutDoes) {
    // As the program's main: the application goes when its loop has ended,
    // and the toolkit's teardown (windows, clipboard, X connection) may meet
    // a broken display and call exit().
    auto run = [] {
        {
            int argc = 0;
            kit::Application app(argc, nullptr);
            app.addWillTerminateHook([] { static LateStatic late; });
            QTimer::singleShot(0, [] { std::raise(SIGTERM); });
            app.run();
        }
        std::exit(6);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(6), "");
}
