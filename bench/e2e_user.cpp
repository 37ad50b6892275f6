// Kadrix as its user times it, side by side on the same private Xvfb screens:
// the real kadrix program (build/bin/kadrix, private KADRIX_HOME) driven by
// key presses faked with XTest, measured on what the screen shows or what
// lands on disk.
//   ShortcutToOverlay       Ctrl+Shift+2 to the selection overlay drawn (one 4K
//                           monitor, and two side by side); p95 as a counter
//   ShortcutToEditorFrame   Ctrl+Shift+1 to the editor's first frame, 1080p and 4K
//   ShortcutToFileSaved     Ctrl+Shift+1 with "save" after capture to the file in
//                           the folder, next to scrot (and import) writing the same
//                           screen, at 1080p and 4K; a peer not installed is skipped;
//                           CPU a capture costs as a counter
//   StartupToTrayIcon       launch to the icon shown in a tray (trayer)
// Everything runs with a session bus of its own, as on a desktop.
//   IdleWakeups             context switches, CPU time and memory of an idle
//                           kadrix over 60 s: its own (anonymous), its share
//                           (Pss) and all resident pages side by side
// A smoke run (--benchmark_min_time given) does one round of each and idles 2 s.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BenchSupport.h"
#include "XvfbScreens.h"
#include "kit/base/Crypto.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

benchsupport::XvfbScreens screens;
bool smoke = false;

// Evdev key positions (the Xvfb keymap).
constexpr xcb_keycode_t kControl = 37, kShift = 50, kEscape = 9, kOne = 10, kTwo = 11;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

bool waitFor(const std::function<bool()>& done, double seconds, int pollMs = 1) {
    auto start = Clock::now();
    while (!done()) {
        if (secondsSince(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One display seen from this process: pixels, windows, faked keys.
struct Screen {
    xcb_connection_t* c;
    xcb_window_t root;
    explicit Screen(const std::string& display) : c(xcb_connect(display.c_str(), nullptr)) {
        root = xcb_connection_has_error(c) ? 0 : xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~Screen() { xcb_disconnect(c); }
    bool ok() const { return root != 0; }

    uint32_t pixel(int x, int y) {
        auto* r = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(x), int16_t(y), 1, 1, ~0u), nullptr);
        uint32_t v = 0;
        if (r && xcb_get_image_data_length(r) >= 4) memcpy(&v, xcb_get_image_data(r), 4);
        free(r);
        return v & 0xffffff;
    }
    void keys(std::initializer_list<xcb_keycode_t> held, xcb_keycode_t key) {
        for (auto k : held) xcb_test_fake_input(c, XCB_KEY_PRESS, k, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_PRESS, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(c, XCB_KEY_RELEASE, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto k : held) xcb_test_fake_input(c, XCB_KEY_RELEASE, k, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(c);
    }
    std::string name(xcb_window_t w) {
        auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 64),
                                         nullptr);
        std::string s = r ? std::string(static_cast<char*>(xcb_get_property_value(r)),
                                        size_t(xcb_get_property_value_length(r)))
                          : std::string();
        free(r);
        return s;
    }
    bool viewable(xcb_window_t w) {
        auto* a = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        bool v = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
        free(a);
        return v;
    }
    // A viewable top-level window named `title`, or 0.
    xcb_window_t shown(const std::string& title) {
        auto* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        xcb_window_t found = 0;
        if (tree) {
            xcb_window_t* kids = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i)
                if (viewable(kids[i]) && name(kids[i]) == title) found = kids[i];
        }
        free(tree);
        return found;
    }
    bool geometry(xcb_window_t w, int& x, int& y, int& width, int& height) {
        auto* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
        if (!g) return false;
        x = g->x, y = g->y, width = g->width, height = g->height;
        free(g);
        return true;
    }
};

// Runs a command on `display`, waits for it; its exit status.
// CPU seconds (user and system) of the commands run() ran, all told.
double childCpuSeconds = 0;

int run(const std::string& display, std::vector<std::string> args) {
    args.insert(args.begin(), {"env", "DISPLAY=" + display});
    pid_t pid = benchsupport::spawn(args);
    int status = -1;
    rusage use{};
    wait4(pid, &status, 0, &use);
    childCpuSeconds += double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
                       double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A kadrix of its own on the screen DISPLAY names, for a returning user with `settings`
// (JSON members) besides; ready once it logged its start.
struct Kadrix {
    fs::path home;
    pid_t pid = -1;
    Kadrix(const std::string& tag, const std::string& settings) {
        home = benchsupport::scratchDir() / ("kadrix-bench-e2e-" + tag);
        fs::remove_all(home);
        fs::create_directories(home / "config");
        std::ofstream(home / "config" / "defaults.json") << "{\"everVisitedHotkeys\": true, \"showIntro\": 0"
                                                         << (settings.empty() ? "" : ", ") << settings << "}";
        std::string program = (benchsupport::buildDir() / "bin" / "kadrix").string();
        pid = benchsupport::spawn({"env", "KADRIX_HOME=" + home.string(), "KADRIX_SITE=http://127.0.0.1:9",
                                   "sh", "-c", "exec \"$0\" >\"$1\" 2>&1", program, (home / "log").string()});
    }
    // Started, and given time to take its shortcuts.
    bool ready() {
        bool up = waitFor(
            [&] { return readFile(home / "log").find("AppLogic initialized") != std::string::npos; }, 15, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return up;
    }
    ~Kadrix() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        fs::remove_all(home);
    }
};

// The screen for a run: its size (a second monitor side by side when `twin`),
// a root of a colour nothing of ours draws, DISPLAY pointing at it.
std::string prepare(int width, int height, bool twin = false) {
    std::string d = screens.displayFor(twin ? 2 * width : width, height);
    setenv("DISPLAY", d.c_str(), 1);
    run(d, {"xsetroot", "-solid", "#b04080"});
    if (twin) {
        std::string w = std::to_string(width), h = std::to_string(height);
        run(d, {"xrandr", "--setmonitor", "left", w + "/600x" + h + "/340+0+0", "none"});
        run(d, {"xrandr", "--setmonitor", "right", w + "/600x" + h + "/340+" + w + "+0", "none"});
    }
    return d;
}

void BM_ShortcutToOverlay(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const bool twin = state.range(2) != 0;
    std::string d = prepare(w, h, twin);
    Screen s(d);
    Kadrix k("overlay", "\"areaCaptureMode\": \"editor\"");
    if (!s.ok() || !k.ready()) return state.SkipWithError("kadrix did not start");
    // The overlay dims the whole screen at once: a point on each monitor changes.
    std::vector<std::pair<int, int>> probes{{w - 40, h - 40}};
    if (twin) probes.push_back({2 * w - 40, h - 40});
    std::vector<uint32_t> before;
    for (auto [x, y] : probes) before.push_back(s.pixel(x, y));
    auto changed = [&] {
        for (size_t i = 0; i < probes.size(); ++i)
            if (s.pixel(probes[i].first, probes[i].second) == before[i]) return false;
        return true;
    };
    auto restored = [&] {
        for (size_t i = 0; i < probes.size(); ++i)
            if (s.pixel(probes[i].first, probes[i].second) != before[i]) return false;
        return true;
    };
    std::vector<double> times;
    for (auto _ : state) {
        auto start = Clock::now();
        s.keys({kControl, kShift}, kTwo);
        if (!waitFor(changed, 5)) return state.SkipWithError("no overlay within 5 s");
        double took = secondsSince(start);
        state.SetIterationTime(took);
        times.push_back(took * 1000);
        s.keys({}, kEscape);
        if (!waitFor(restored, 5)) return state.SkipWithError("the overlay did not close");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    state.counters["p95_ms"] = percentile(times, 0.95);
    state.counters["monitors"] = twin ? 2 : 1;
    state.counters["cores"] = double(kit::usableCores());
}

void BM_ShortcutToEditorFrame(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    std::string d = prepare(w, h);
    Screen s(d);
    Kadrix k("editor", "");
    if (!s.ok() || !k.ready()) return state.SkipWithError("kadrix did not start");
    // A first round, untimed, finds where the editor opens and the colour of
    // its menu bar there; a round's frame is in when that point shows it.
    int x = 0, y = 0, ww = 0, wh = 0;
    xcb_window_t win = 0;
    auto open = [&] {
        s.keys({kControl, kShift}, kOne);
        return waitFor([&] { return (win = s.shown("Kadrix")) != 0; }, 10);
    };
    auto hide = [&] {
        s.keys({}, kEscape);  // copies and hides the editor
        bool hidden = waitFor([&] { return !s.viewable(win); }, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return hidden;
    };
    if (!open() || !s.geometry(win, x, y, ww, wh)) return state.SkipWithError("no editor window");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int px = x + ww / 2, py = y + 3;
    const uint32_t menuBar = s.pixel(px, py);
    if (!hide()) return state.SkipWithError("the editor did not hide");
    if (s.pixel(px, py) == menuBar)
        return state.SkipWithError("the editor's menu bar looks like the screen under it");
    std::vector<double> times;
    for (auto _ : state) {
        auto start = Clock::now();
        s.keys({kControl, kShift}, kOne);
        if (!waitFor([&] { return s.pixel(px, py) == menuBar; }, 10))
            return state.SkipWithError("no editor frame within 10 s");
        double took = secondsSince(start);
        state.SetIterationTime(took);
        times.push_back(took * 1000);
        win = s.shown("Kadrix");
        if (!win || !hide()) return state.SkipWithError("the editor did not hide");
    }
    state.counters["p95_ms"] = percentile(times, 0.95);
    state.counters["cores"] = double(kit::usableCores());
}

// Waits for a file to be complete in `folder` (written, or renamed in).
struct FolderWatch {
    int fd = inotify_init1(IN_NONBLOCK);
    explicit FolderWatch(const fs::path& folder) {
        inotify_add_watch(fd, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    }
    ~FolderWatch() { close(fd); }
    void drain() {
        char buf[4096];
        while (read(fd, buf, sizeof buf) > 0) {
        }
    }
    bool wait(double seconds) {
        return waitFor(
            [&] {
                char buf[4096];
                return read(fd, buf, sizeof buf) > 0;
            },
            seconds);
    }
};

bool installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

long cpuTicks(pid_t pid);

void BM_ShortcutToFileSaved(benchmark::State& state) {
    const int tool = int(state.range(0));  // 0 kadrix, 1 scrot, 2 import
    const int w = int(state.range(1)), h = int(state.range(2));
    std::string d = prepare(w, h);
    fs::path folder = benchsupport::scratchDir() / "saved";
    fs::remove_all(folder);
    fs::create_directories(folder);
    auto bookmark = kit::files::makeBookmark(folder.string());
    std::unique_ptr<Kadrix> k;
    Screen s(d);
    if (tool == 0) {
        k = std::make_unique<Kadrix>(
            "save",
            "\"afterGrabSave\": true, \"afterGrabShow\": false, \"afterGrabCopy\": false, "
            "\"defaultFolderBookmark\": {\"$data\": \"" +
                kit::crypto::base64Encode(*bookmark) + "\"}");
        if (!s.ok() || !k->ready()) return state.SkipWithError("kadrix did not start");
    }
    FolderWatch watch(folder);
    int n = 0;
    const long ticks0 = tool == 0 ? cpuTicks(k->pid) : 0;
    const double child0 = childCpuSeconds;
    for (auto _ : state) {
        watch.drain();
        std::string file = (folder / ("shot" + std::to_string(n++) + ".png")).string();
        auto start = Clock::now();
        bool ok;
        if (tool == 0) {
            s.keys({kControl, kShift}, kOne);
            ok = watch.wait(10);
        } else if (tool == 1) {
            ok = run(d, {"scrot", "-o", file}) == 0;
        } else {
            ok = run(d, {"import", "-window", "root", file}) == 0;
        }
        if (!ok) return state.SkipWithError("nothing was saved");
        state.SetIterationTime(secondsSince(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    state.SetLabel(tool == 0 ? "kadrix" : tool == 1 ? "scrot" : "import -window root");
    state.counters["cores"] = double(kit::usableCores());
    // CPU a capture costs: kadrix's own time (the running program's, in clock
    // ticks), or the peer command's.
    const double cpu = tool == 0 ? double(cpuTicks(k->pid) - ticks0) / double(sysconf(_SC_CLK_TCK))
                                 : childCpuSeconds - child0;
    state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000, benchmark::Counter::kAvgIterations);
    k.reset();
    fs::remove_all(folder);
}

// A session bus of the benchmark's own, as every desktop session has one:
// without it each Qt program starts dbus-launch on its way up, which no user
// waits for. Left alone when one is there already or dbus-daemon is missing.
struct SessionBus {
    pid_t pid = -1;
    SessionBus() {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") || !installed("dbus-daemon")) return;
        FILE* out = popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
        if (!out) return;
        char address[512] = {}, pidText[32] = {};
        bool read = fgets(address, sizeof address, out) && fgets(pidText, sizeof pidText, out);
        pclose(out);
        if (!read) return;
        address[strcspn(address, "\n")] = 0;
        pid = pid_t(std::atoi(pidText));
        if (pid > 0) setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    }
    ~SessionBus() {
        if (pid > 0) kill(pid, SIGTERM);  // forked away: not our child to wait for
    }
};

// The tray icon: a viewable window of class "kadrix" embedded in another.
bool iconShown(Screen& s, xcb_window_t w, bool underRoot = false) {
    auto* tree = xcb_query_tree_reply(s.c, xcb_query_tree(s.c, w), nullptr);
    if (!tree) return false;
    xcb_window_t* kids = xcb_query_tree_children(tree);
    bool found = false;
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        if (underRoot) {
            auto* cls = xcb_get_property_reply(
                s.c, xcb_get_property(s.c, 0, kids[i], XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 16), nullptr);
            found = cls && xcb_get_property_value_length(cls) >= 7 &&
                    memcmp(xcb_get_property_value(cls), "kadrix", 7) == 0 && s.viewable(kids[i]);
            free(cls);
        }
        if (!found) found = iconShown(s, kids[i], true);
    }
    free(tree);
    return found;
}

struct Tray {
    pid_t pid;
    explicit Tray(const std::string& d)
        : pid(benchsupport::spawn({"env", "DISPLAY=" + d, "trayer", "--edge", "top", "--align", "right",
                                   "--widthtype", "request", "--height", "24"})) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    ~Tray() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
};

void BM_StartupToTrayIcon(benchmark::State& state) {
    std::string d = prepare(1920, 1080);
    Tray tray(d);
    Screen s(d);
    for (auto _ : state) {
        if (!waitFor([&] { return !iconShown(s, s.root); }, 5))
            return state.SkipWithError("an old icon stays");
        auto start = Clock::now();
        Kadrix k("startup", "");
        bool shown = waitFor([&] { return iconShown(s, s.root); }, 10);
        state.SetIterationTime(secondsSince(start));
        if (!shown) return state.SkipWithError("the tray icon did not show within 10 s");
    }
    state.counters["cores"] = double(kit::usableCores());
}

// Context switches of each of kadrix's threads, and its CPU time in ticks.
std::map<std::string, long> switchesByThread(pid_t pid) {
    std::map<std::string, long> out;
    std::error_code ec;
    for (auto& t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::istringstream in(readFile(t.path() / "status"));
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                out[t.path().filename().string()] += std::stol(line.substr(line.find(':') + 1));
    }
    return out;
}

// A line of /proc/PID/smaps_rollup in MB: "Rss" all resident memory, shared
// library pages included; "Pss" that with each shared page divided among the
// processes mapping it; "Anonymous" the program's own memory (no file's pages).
double rollupMB(pid_t pid, const std::string& field) {
    std::istringstream in(readFile("/proc/" + std::to_string(pid) + "/smaps_rollup"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
    return 0;
}

long cpuTicks(pid_t pid) {
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string f;
    std::vector<std::string> v;
    while (fields >> f) v.push_back(f);
    return v.size() > 12 ? std::stol(v[11]) + std::stol(v[12]) : 0;
}

void BM_IdleWakeups(benchmark::State& state) {
    std::string d = prepare(1920, 1080);
    Tray tray(d);
    Kadrix k("idle", "");
    if (!k.ready()) return state.SkipWithError("kadrix did not start");
    const double window = smoke ? 2 : 60;
    long switches = 0, ticks = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::seconds(3));  // start-up settles
        auto before = switchesByThread(k.pid);
        long t0 = cpuTicks(k.pid);
        std::this_thread::sleep_for(std::chrono::duration<double>(window));
        // Threads that ended meanwhile drop out; new ones count in full.
        switches = 0;
        for (auto& [tid, n] : switchesByThread(k.pid)) switches += n - (before.count(tid) ? before[tid] : 0);
        ticks = cpuTicks(k.pid) - t0;
        state.SetIterationTime(window);
    }
    state.counters["switches"] = double(switches);
    state.counters["anon_MB"] = rollupMB(k.pid, "Anonymous");
    state.counters["pss_MB"] = rollupMB(k.pid, "Pss");
    state.counters["rss_MB"] = rollupMB(k.pid, "Rss");
    state.counters["cpu_ms"] = double(ticks) * 1000.0 / double(sysconf(_SC_CLK_TCK));
    state.counters["seconds"] = window;
    state.counters["cores"] = double(kit::usableCores());
}

}  // namespace

int main(int argc, char** argv) {
    smoke = smokeRun(argc, argv);
    SessionBus bus;
    const int rounds = smoke ? 1 : 20;
    auto timed = [rounds](benchmark::internal::Benchmark* b) {
        return b->UseManualTime()->Iterations(rounds)->Unit(benchmark::kMillisecond);
    };
    timed(benchmark::RegisterBenchmark("ShortcutToOverlay/4K", BM_ShortcutToOverlay)->Args({3840, 2160, 0}));
    timed(
        benchmark::RegisterBenchmark("ShortcutToOverlay/two4K", BM_ShortcutToOverlay)->Args({3840, 2160, 1}));
    timed(benchmark::RegisterBenchmark("ShortcutToEditorFrame/1080p", BM_ShortcutToEditorFrame)
              ->Args({1920, 1080}));
    timed(benchmark::RegisterBenchmark("ShortcutToEditorFrame/4K", BM_ShortcutToEditorFrame)
              ->Args({3840, 2160}));
    // Peers that are not installed are left out, not failed.
    const bool scrot = installed("scrot"), import = installed("import");
    for (auto [size, w, h] : {std::tuple{"1080p", 1920, 1080}, std::tuple{"4K", 3840, 2160}}) {
        auto add = [&](const std::string& tool, int code) {
            const std::string title = "ShortcutToFileSaved/" + tool + "/" + size;
            timed(benchmark::RegisterBenchmark(title.c_str(), BM_ShortcutToFileSaved)->Args({code, w, h}));
        };
        add("kadrix", 0);
        if (scrot) add("scrot", 1);
        if (import && w == 1920) add("import", 2);
    }
    timed(
        benchmark::RegisterBenchmark("StartupToTrayIcon", BM_StartupToTrayIcon)->Iterations(smoke ? 1 : 10));
    benchmark::RegisterBenchmark("IdleWakeups", BM_IdleWakeups)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
