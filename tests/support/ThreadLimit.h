#pragma once
// For a test's own process (a death test's, which starts afresh): no thread
// more can be started, as when the user's process limit is reached, until
// the limit is lifted. The process becomes a user of its own that has no
// other process, so the limit counts its threads alone. Needs root.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace testsupport {

inline rlim_t threadsOfThisProcess() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("Threads:")) return rlim_t(std::stoul(line.substr(8)));
    return 1;
}

// The user (and group) the process becomes.
inline uid_t lonerId() {
    return uid_t(3'000'000 + ::getpid());
}

// False when the process cannot be made a user of its own.
inline bool refuseThreadStarts() {
    const uid_t loner = lonerId();
    if (::setresgid(loner, loner, loner) != 0 || ::setresuid(loner, loner, loner) != 0) return false;
    // Its own /proc files stay its own, as a program the user started.
    ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    const rlimit none{threadsOfThisProcess(), 4096};
    return ::setrlimit(RLIMIT_NPROC, &none) == 0;
}

inline void allowThreadStarts() {
    const rlimit some{4096, 4096};
    ::setrlimit(RLIMIT_NPROC, &some);
}

}  // namespace testsupport
