#pragma once
// Private Xvfb screens for benchmarks that need a real display: one per
// screen size, started on first use with a few windows of known content on
// it (when the test client is built), stopped at exit. displayFor() also
// points DISPLAY at the screen.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Scratch.h"

namespace benchsupport {

inline std::filesystem::path buildDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
}

// Starts a program with its output thrown away.
inline pid_t spawn(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// One private Xvfb per screen size, started on first use with a few windows
// of known content on it, stopped at exit. What those windows write goes to a
// folder of the screens' own, removed once they are stopped.
struct XvfbScreens {
    ScratchFolder scratch;
    std::map<int, std::string> displays;
    std::vector<pid_t> pids;
    ~XvfbScreens() {
        for (pid_t p : pids) kill(p, SIGTERM);
        for (pid_t p : pids) waitpid(p, nullptr, 0);
    }
    std::string displayFor(int width, int height) {
        if (auto it = displays.find(width); it != displays.end()) return it->second;
        // The server picks a free display and says which: benchmarks of
        // several runs side by side never share one.
        int fds[2];
        if (pipe(fds) != 0) return {};
        pids.push_back(spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                              std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten",
                              "tcp", "-noreset"}));
        close(fds[1]);
        std::string number;
        pollfd ready{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&ready, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return {};
        std::string name = ":" + number;
        setenv("DISPLAY", name.c_str(), 1);
        // Without a session bus each Qt program on the screen would start one
        // through dbus-launch, which leaves a record under ~/.dbus and outlives
        // the benchmark: an address nobody answers keeps them from it.
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !scratch.path().empty())
            setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (scratch.path() / "no-bus").string()).c_str(),
                   1);
        std::string client = (buildDir() / "bin" / "kadrix-testclient").string();
        if (std::filesystem::exists(client)) {
            // On the new screen, whatever platform the benchmark itself uses;
            // the page's info goes to the screens' own folder (none without one).
            std::string info = scratch.path().empty()
                                   ? std::string()
                                   : (scratch.path() / ("page-" + number + ".info")).string();
            pids.push_back(spawn({"env", "QT_QPA_PLATFORM=xcb", client, "scroll", "Page", "100", "100", "900",
                                  "700", "900", "2000", "top", info}));
            pids.push_back(spawn({"env", "QT_QPA_PLATFORM=xcb", client, "solid", "Panel", "1100", "200",
                                  "600", "500", "#3060a0"}));
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        }
        displays[width] = name;
        return name;
    }
};

}  // namespace benchsupport
