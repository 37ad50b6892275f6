// Shared main for every unit-test executable: a headless Qt application (the
// offscreen platform) so kit's windows, timers and painting work without a
// display, a private KADRIX_HOME so no test touches the user's files (HOME
// and the XDG folders point into it too, so Qt's own settings stay there),
// the product site on loopback, and a watchdog that ends a test which hangs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ScopedEnv.h"
#include "kit/base/Dispatch.h"

namespace {

// Every test gets this long (KADRIX_TEST_TIMEOUT seconds overrides it); a
// test still running then fails the whole run at once instead of stalling it.
class Watchdog : public ::testing::EmptyTestEventListener {
public:
    // The watching thread keeps the state alive on its own: gtest deletes
    // its listeners at exit while the detached thread may still be looking.
    explicit Watchdog(double seconds) : state_(std::make_shared<State>()) {
        state_->limit = seconds;
        std::thread([state = state_] { watch(*state); }).detach();
    }
    void OnTestStart(const ::testing::TestInfo& info) override {
        std::lock_guard lock(state_->m);
        state_->name = std::string(info.test_suite_name()) + "." + info.name();
        state_->started = std::chrono::steady_clock::now();
        state_->running = true;
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        std::lock_guard lock(state_->m);
        state_->running = false;
    }

private:
    struct State {
        double limit = 90;
        std::mutex m;
        std::string name;
        std::chrono::steady_clock::time_point started;
        bool running = false;
    };
    static void watch(State& s) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            std::lock_guard lock(s.m);
            if (!s.running) continue;
            std::chrono::duration<double> ran = std::chrono::steady_clock::now() - s.started;
            if (ran.count() < s.limit) continue;
            std::fprintf(stderr, "\nTIMEOUT: %s still running after %.0f s; stopping the run\n",
                         s.name.c_str(), s.limit);
            std::fflush(stderr);
            std::_Exit(124);
        }
    }
    std::shared_ptr<State> state_;
};

std::vector<std::function<void()>>& settles() {
    static std::vector<std::function<void()>> all;
    return all;
}

// No test leaves a thread of the program running into the next, where it
// would meet that test's changes to what it reads.
class SettleBetweenTests : public ::testing::EmptyTestEventListener {
public:
    void OnTestEnd(const ::testing::TestInfo&) override { testsupport::settleProgramThreads(); }
};

// Points HOME and the XDG folders into the private home, so nothing a
// library writes on its own (Qt's file-dialog state in QtProject.conf, font
// caches) lands in the user's folders.
void keepToPrivateHome(const std::string& home) {
    namespace fs = std::filesystem;
    const std::pair<const char*, const char*> folders[] = {{"HOME", "user"},
                                                           {"XDG_CONFIG_HOME", "user/.config"},
                                                           {"XDG_DATA_HOME", "user/.local/share"},
                                                           {"XDG_CACHE_HOME", "user/.cache"},
                                                           {"XDG_STATE_HOME", "user/.local/state"}};
    for (auto [var, sub] : folders) {
        fs::path p = fs::path(home) / sub;
        std::error_code ec;
        fs::create_directories(p, ec);
        setenv(var, p.c_str(), 1);
    }
    // Without a runtime folder Qt makes one of its own in the shared
    // temporary folder, and leaves it there.
    if (!std::getenv("XDG_RUNTIME_DIR")) {
        const fs::path runtime = fs::path(home) / "runtime";
        std::error_code ec;
        if (fs::create_directories(runtime, ec)) {
            fs::permissions(runtime, fs::perms::owner_all, ec);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        }
    }
}

}  // namespace

namespace testsupport {

bool settleBetweenTests(std::function<void()> settle) {
    settles().push_back(std::move(settle));
    return true;
}

void settleProgramThreads() {
    for (const auto& settle : settles()) settle();
}

}  // namespace testsupport

#if defined(__SANITIZE_THREAD__)
// Qt is not built for ThreadSanitizer: all it sees of Qt are the memory
// calls Qt makes (copies, allocations), never the locks around them, so a
// task posted to the main thread's event queue while the main thread posts
// one of its own, or Qt's own scaling threads, read as races. Memory calls
// made from inside Qt and the libraries it runs on (GLib's event loop, the
// PNG decoder) are left out; every access of our own code is checked.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libpng16.so.16\n";
}
#endif

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string ownHome;
    if (!std::getenv("KADRIX_HOME")) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kadrix-test-XXXXXX").string();
        if (char* dir = mkdtemp(tmpl.data())) {
            setenv("KADRIX_HOME", dir, 1);
            ownHome = dir;
        }
    }
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home) keepToPrivateHome(home);
    // Unit tests never reach the real product site: what they send goes to a
    // closed loopback port unless a test starts a server of its own.
    if (!std::getenv("KADRIX_SITE")) setenv("KADRIX_SITE", "http://127.0.0.1:9", 1);
    // CTest runs an executable in shards through GTEST_TOTAL_SHARDS; a run for
    // named cases (a test's own child process, a developer's one case) runs
    // them all, whatever shard the parent was. A filter that only leaves
    // cases out is a shard's own.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]).starts_with("--gtest_filter") &&
            !std::string_view(argv[i]).starts_with("--gtest_filter=-")) {
            unsetenv("GTEST_TOTAL_SHARDS");
            unsetenv("GTEST_SHARD_INDEX");
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    double limit = 90;
    if (const char* t = std::getenv("KADRIX_TEST_TIMEOUT")) limit = std::max(1.0, std::atof(t));
    ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(limit));
    ::testing::UnitTest::GetInstance()->listeners().Append(new SettleBetweenTests);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
        // Background work the tests left running ends here, while what it
        // uses (the application, the static objects) is still alive.
        kit::globalQueue().close();
    }
    // A home made for this run goes with it.
    if (!ownHome.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(ownHome, ec);
    }
    // The end the program itself takes: static objects are left alone, for
    // threads that live to the end of the process may still be using them
    // (a text recogniser loading its engine found the engine's shared
    // dictionaries destroyed under it, and freed them a second time).
    std::fflush(nullptr);
    std::quick_exit(result);
}
