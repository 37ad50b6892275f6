#include "kit/base/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "kit/base/Dispatch.h"
#include "kit/base/WayOut.h"

extern char** environ;

namespace kit {

Process::Process(std::string program, std::vector<std::string> arguments)
    : program_(std::move(program)), arguments_(std::move(arguments)) {}

void Process::setEnvironment(std::map<std::string, std::string> extra) {
    environment_ = std::move(extra);
}

void Process::setWorkingDirectory(std::string dir) {
    workingDirectory_ = std::move(dir);
}

ProcessResult Process::run(const OnOutput& onOutput) {
    return run(onOutput, {});
}

ProcessResult Process::run(const OnOutput& onOutput, const std::function<void(int)>& started) {
    ProcessResult result;
    if (program_.empty() || program_[0] != '/') {
        result.error = "not an absolute program path: " + program_;
        return result;
    }

    // Environment: ours, with the extra variables replacing same-named ones.
    std::vector<std::string> envStrings;
    for (char** e = environ; e && *e; ++e) {
        std::string_view kv(*e);
        std::string name(kv.substr(0, kv.find('=')));
        if (!environment_.count(name)) envStrings.emplace_back(kv);
    }
    for (const auto& [k, v] : environment_) envStrings.push_back(std::string(k).append("=").append(v));
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{program_};
    argStrings.insert(argStrings.end(), arguments_.begin(), arguments_.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    if (!workingDirectory_.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDirectory_.c_str());

    pid_t pid = -1;
    int rc = posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        result.error = "cannot launch " + program_ + ": " + std::strerror(rc);
        return result;
    }
    result.launched = true;
    if (started) started(pid);

    char buf[16384];
    for (;;) {
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (onOutput) onOutput(std::string_view(buf, size_t(n)));
    }
    ::close(fds[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result.error = std::string("lost the child process: ") + std::strerror(errno);
            return result;
        }
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.crashed = true;
        result.error = std::string("ended by signal ") + strsignal(WTERMSIG(status));
    }
    return result;
}

ProcessResult Process::runOnMain(const OnOutput& onOutput) {
    if (!isMainThread()) return run(onOutput);  // no loop of ours to turn here
    ProcessResult cancelled;
    cancelled.cancelled = true;
    cancelled.error = "the program was not waited for: the application is ending";
    if (wayOutBegun()) return cancelled;
    // The child is read on a helper thread; its chunks and the end are posted
    // to the main loop in order, so every chunk is delivered before we return.
    // What is posted holds this state, not our frame: the way out returns
    // without waiting for what is still on its way.
    struct Wait {
        std::mutex lock;  // pid and ending, between the reader and the way out
        int pid = -1;
        bool ending = false;
        bool done = false;
        ProcessResult result;
        QEventLoop* loop = nullptr;
    };
    auto wait = std::make_shared<Wait>();
    QEventLoop loop;
    wait->loop = &loop;
    WayOutWatch watch([wait] {
        std::lock_guard g(wait->lock);
        wait->ending = true;
        if (wait->pid > 0) ::kill(wait->pid, SIGKILL);
        if (wait->loop) wait->loop->quit();
    });
    std::optional<std::thread> reader = tryThread([&, wait] {
        ProcessResult r = run(
            [&, wait](std::string_view chunk) {
                dispatchMain([&onOutput, wait, text = std::string(chunk)] {
                    if (!wait->ending && onOutput) onOutput(text);
                });
            },
            [wait](int pid) {
                std::lock_guard g(wait->lock);
                wait->pid = pid;
                if (wait->ending) ::kill(pid, SIGKILL);
            });
        dispatchMain([wait, r] {
            wait->result = r;
            wait->done = true;
            if (wait->loop) wait->loop->quit();
        });
    });
    if (!reader) {
        wait->loop = nullptr;
        ProcessResult none;
        none.error = "no thread could be started to wait for it";
        return none;
    }
    if (!wait->done && !wait->ending) loop.exec();
    // A nested loop (a dialog opened from a chunk) may have swallowed the quit.
    while (!wait->done && !wait->ending) runMainLoopUntil([&] { return wait->done || wait->ending; }, 3600);
    wait->loop = nullptr;
    // The program is ended by now, so its output ends and the reader with it.
    reader->join();
    return wait->ending ? cancelled : wait->result;
}

}  // namespace kit
