// How fast kadrix is there for the user: from starting the program to its
// icon showing in the system tray, and a later launch handing its link to
// the running instance and leaving. Both run the real kadrix program next to
// this benchmark's folder (build/bin/kadrix), each with a private KADRIX_HOME.
//
// The tray measurement needs an X display with a system tray (XEmbed, e.g.
// trayer); without one it is skipped. The forwarding measurement needs no
// display: the running instance uses Qt's offscreen platform.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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
    fs::path home = fs::temp_directory_path() / name;
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

// The X side: is a system tray there, and is a viewable window named "kadrix" in it?
struct Display {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ~Display() { xcb_disconnect(c); }
    bool ok() const { return c && !xcb_connection_has_error(c); }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }

    bool hasTray() {
        const char* name = "_NET_SYSTEM_TRAY_S0";
        auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        if (!atom) return false;
        auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
        bool there = owner && owner->owner != XCB_NONE;
        free(atom);
        free(owner);
        return there;
    }

    // The tray icon: a viewable window of class "kadrix" below another
    // window (the tray embeds it), as nothing else of ours shows at start.
    bool iconShown(xcb_window_t w, bool underRoot = false) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!tree) return false;
        xcb_window_t* kids = xcb_query_tree_children(tree);
        int n = xcb_query_tree_children_length(tree);
        bool found = false;
        for (int i = 0; i < n && !found; ++i) {
            if (underRoot) {
                auto* cls = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, kids[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 16), nullptr);
                bool ours = cls && xcb_get_property_value_length(cls) >= 7 &&
                            memcmp(xcb_get_property_value(cls), "kadrix", 7) == 0;
                free(cls);
                if (ours) {
                    auto* attr = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, kids[i]), nullptr);
                    found = attr && attr->map_state == XCB_MAP_STATE_VIEWABLE;
                    free(attr);
                }
            }
            if (!found) found = iconShown(kids[i], true);
        }
        free(tree);
        return found;
    }
};

void BM_StartupToTrayIcon(benchmark::State& state) {
    Display x;
    if (!std::getenv("DISPLAY") || !x.ok() || !x.hasTray()) {
        state.SkipWithError("needs an X display with a system tray");
        return;
    }
    for (auto _ : state) {
        // The icon of the previous round must be gone first.
        while (x.iconShown(x.root())) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        fs::path home = freshHome("kadrix-bench-startup");
        auto start = Clock::now();
        pid_t pid = spawnKadrix({}, {"KADRIX_HOME=" + home.string(), "KADRIX_SITE=http://127.0.0.1:9"});
        bool shown = false;
        while (pid > 0 && !(shown = x.iconShown(x.root())) && Clock::now() - start < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        endKadrix(pid);
        if (!shown) {
            state.SkipWithError("the tray icon did not show within 10 s");
            return;
        }
    }
    state.counters["cores"] = double(std::thread::hardware_concurrency());
}
BENCHMARK(BM_StartupToTrayIcon)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

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
