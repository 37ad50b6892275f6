// How fast a later launch of kadrix hands its link to the running instance
// and leaves: the real kadrix program next to this benchmark's folder
// (build/bin/kadrix), with a private KADRIX_HOME and Qt's offscreen platform.
// (Start-up to the tray icon is timed with the other end-to-end figures, in
// e2e_user.cpp.)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Scratch.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string kadrixProgram() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return (self.parent_path().parent_path() / "bin" / "kadrix").string();
}

fs::path freshHome(const char* name) {
    fs::path home = benchsupport::scratchDir() / name;
    fs::remove_all(home);
    fs::create_directories(home);
    return home;
}

// Starts kadrix with `args` and the environment plus `extra` ("NAME=value").
pid_t spawnKadrix(const std::vector<std::string>& args, const std::vector<std::string>& extra) {
    std::vector<std::string> env = extra;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e, name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (auto& x : extra) replaced = replaced || x.rfind(name, 0) == 0;
        if (!replaced) env.push_back(entry);
    }
    std::string program = kadrixProgram();
    std::vector<char*> argv{program.data()}, envp;
    std::vector<std::string> argCopy = args;
    for (auto& a : argCopy) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void endKadrix(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

void BM_SecondLaunchForwardAndExit(benchmark::State& state) {
    fs::path home = freshHome("kadrix-bench-forward");
    std::vector<std::string> env{"KADRIX_HOME=" + home.string(), "KADRIX_SITE=http://127.0.0.1:9",
                                 "QT_QPA_PLATFORM=offscreen"};
    pid_t primary = spawnKadrix({}, env);
    // Running once its socket is there.
    auto start = Clock::now();
    while (!fs::exists(home / "kadrix.sock") && Clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (primary <= 0 || !fs::exists(home / "kadrix.sock")) {
        endKadrix(primary);
        state.SkipWithError("the running instance did not start");
        return;
    }
    for (auto _ : state) {
        pid_t second = spawnKadrix({"kadrix://show"}, env);
        int status = -1;
        waitpid(second, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the second launch failed");
            break;
        }
    }
    state.counters["cores"] = double(std::thread::hardware_concurrency());
    endKadrix(primary);
}
BENCHMARK(BM_SecondLaunchForwardAndExit)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(30);

}  // namespace

BENCHMARK_MAIN();
