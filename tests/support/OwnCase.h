#pragma once
// A case of this test program run as a process of its own (a writer to kill
// mid-stride). The child only replaces itself with a fresh copy of the
// program: a fork of the multi-threaded test process that went on running
// our code could wait for ever on a lock another thread held at the fork.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace testsupport {

class OwnCase {
public:
    // Starts the case `test` ("Suite.Name") with `var` set to `value`.
    OwnCase(const std::string& test, const std::string& var, const std::string& value)
        : OwnCase(test, {{var, value}}) {}
    // Starts it with each of `vars` set.
    OwnCase(const std::string& test, const std::vector<std::pair<std::string, std::string>>& vars) {
        std::vector<std::string> args{"/proc/self/exe", "--gtest_filter=" + test};
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            if (std::none_of(vars.begin(), vars.end(),
                             [&](const auto& v) { return entry.starts_with(v.first + "="); }))
                env.push_back(entry);
        }
        for (const auto& [var, value] : vars) env.push_back(var + "=" + value);
        // Everything the child needs is made before the fork.
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        for (auto& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~OwnCase() { kill(); }
    OwnCase(const OwnCase&) = delete;
    OwnCase& operator=(const OwnCase&) = delete;

    bool started() const { return pid_ > 0; }
    // Waits for it to end by itself: its exit status, -1 when it did not exit.
    int wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        const bool ended = waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Stops it at once, wherever it is.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace testsupport
