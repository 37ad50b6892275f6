#pragma once
// Runs a program given by absolute path (never searched on PATH) with its
// standard output and error merged, streaming the bytes as they come.
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

struct ProcessResult {
    bool launched = false;   // false: the program could not be started (see error)
    int exitCode = -1;       // the exit status; -1 when it did not exit normally
    bool crashed = false;    // ended by a signal
    std::string error;       // why it did not launch or end normally; empty on success
    bool cancelled = false;  // the way out cut the wait short: the program was ended, or never started
};

class Process {
public:
    using OnOutput = std::function<void(std::string_view chunk)>;

    Process(std::string program, std::vector<std::string> arguments);
    // Extra environment variables on top of this process's environment.
    void setEnvironment(std::map<std::string, std::string> extra);
    void setWorkingDirectory(std::string dir);

    // Blocks the calling thread until the program ends. onOutput gets the
    // merged output in chunks, on the calling thread. For background threads.
    ProcessResult run(const OnOutput& onOutput = {});
    // The same on the main thread with the event loop turning while it waits
    // (the interface keeps painting; timers keep firing). Off the main thread
    // it is run(). The way out ends the program and the wait (cancelled).
    ProcessResult runOnMain(const OnOutput& onOutput = {});

private:
    // run(), telling `started` the program's process id once it runs.
    ProcessResult run(const OnOutput& onOutput, const std::function<void(int)>& started);

    std::string program_;
    std::vector<std::string> arguments_;
    std::map<std::string, std::string> environment_;
    std::string workingDirectory_;
};

}  // namespace kit
