#pragma once
// A decoder program that takes its time: a script in a scratch folder that
// sleeps, then runs the real decoder beside the test program. While it
// sleeps, the main thread waits with its event loop running, as it does for
// a large picture on a busy machine, so what a user does meanwhile happens
// during the wait. The real decoder is back when the scope ends.
//
// Busy, it spends its time on a core instead, as a slow picture does, in
// one process of its own (no sleeping child), so ending it ends all of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/image/ImageIO.h"

namespace testsupport {

class SlowDecoder {
public:
    enum Wait { Sleeping, Busy };

    explicit SlowDecoder(double seconds, Wait wait = Sleeping)
        : folder_(kit::files::uniqueTempPath("slow-decoder-", "")) {
        std::filesystem::create_directories(folder_);
        const auto real = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kadrix-decode";
        const std::string script = folder_ + "/kadrix-decode";
        std::ofstream out(script);
        if (wait == Sleeping) {
            out << "#!/bin/sh\nsleep " << seconds << "\n";
        } else {
            out << "#!/bin/bash\nend=$((${EPOCHREALTIME/[.,]/} + " << (long long)(seconds * 1e6)
                << "))\nwhile ((${EPOCHREALTIME/[.,]/} < end)); do :; done\n";
        }
        out << "exec '" << real.string() << "' \"$@\"\n";
        out.close();
        ::chmod(script.c_str(), 0700);
        kit::ImageIO::setDecoderProgram(script);
    }
    ~SlowDecoder() {
        kit::ImageIO::setDecoderProgram("");
        // A test that failed may leave one running: it is ended here (the
        // program reaps it as it reaps any decoder).
        for (pid_t pid : running()) ::kill(pid, SIGKILL);
        std::filesystem::remove_all(folder_);
    }
    SlowDecoder(const SlowDecoder&) = delete;
    SlowDecoder& operator=(const SlowDecoder&) = delete;

    // This program's children that are still this script, and not ended;
    // with `reading`, those that read that file.
    std::vector<pid_t> running(const std::string& reading = {}) const {
        std::vector<pid_t> out;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            std::getline(stat, line);
            // pid (comm) state ppid …; the command's name may hold anything.
            const size_t close = line.rfind(')');
            char state = 0;
            long parent = 0;
            if (close == std::string::npos ||
                std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) != 2 ||
                parent != ::getpid() || state == 'Z')
                continue;
            std::ifstream cmdline(entry.path() / "cmdline");
            const std::string command((std::istreambuf_iterator<char>(cmdline)), {});
            if (command.find(folder_ + "/kadrix-decode") == std::string::npos) continue;
            if (!reading.empty() && std::filesystem::read_symlink(entry.path() / "fd/0", ec) != reading)
                continue;
            out.push_back(std::stoi(name));
        }
        return out;
    }

    // Runs `fn` on the main thread's loop once a decoder reads `reading`: a
    // read's wait turns the loop first while the file is opened, before its
    // decoder starts, and a child just forked is still this program until
    // it has run the script, which a busy machine can put off. Looked for
    // for up to two seconds, the loop turning meanwhile; then `fn` runs all
    // the same.
    void whileReading(const std::string& reading, std::function<void()> fn,
                      std::chrono::steady_clock::time_point until = {}) const {
        if (until == std::chrono::steady_clock::time_point{})
            until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        kit::dispatchMain([this, reading, fn = std::move(fn), until]() mutable {
            if (running(reading).empty() && std::chrono::steady_clock::now() < until) {
                ::usleep(1000);
                whileReading(reading, std::move(fn), until);
                return;
            }
            fn();
        });
    }

private:
    std::string folder_;
};

}  // namespace testsupport
