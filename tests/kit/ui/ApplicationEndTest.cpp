// How the application ends when something other than its own quit ends it:
// the toolkit's X11 plugin and Xlib call exit() when the display goes (on the
// main thread or on another one), the session manager sends a Quit event, a
// signal arrives. Each way runs in a child process of its own, which reports
// through its exit status and its error output.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/ui/Application.h"

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
