// Loaded into kadrix by a test (LD_PRELOAD), this plays a folder whose files
// cannot be given their names as usual. KADRIX_TEST_NAMING holds words:
//   nolinks      link() is refused as on vfat (EPERM);
//   noexclusive  so is a rename that replaces nothing (EINVAL, as where the
//                file system lacks it: some network and FUSE folders);
//   hold         giving a hidden ".new-" file its name (the link, else the
//                rename) never returns: the process ends there, as when
//                the folder hangs or the power goes at that moment;
//   refuse       giving it its name is refused (EACCES);
//   slow         giving it its name waits three seconds first, as on a slow
//                network folder.
// KADRIX_TEST_NAMING_REPORT names a file that gets "held NAME" for each hold.
// Programs kadrix starts do not inherit it.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool noLinks, noExclusive, hold, refuse, slow;

__attribute__((constructor)) void start() {
    const char* words = getenv("KADRIX_TEST_NAMING");
    noLinks = words && strstr(words, "nolinks") != NULL;
    noExclusive = words && strstr(words, "noexclusive") != NULL;
    hold = words && strstr(words, "hold") != NULL;
    refuse = words && strstr(words, "refuse") != NULL;
    slow = words && strstr(words, "slow") != NULL;
    unsetenv("LD_PRELOAD");
}

bool isNewFile(const char* path) {
    const char* name = strrchr(path, '/');
    name = name ? name + 1 : path;
    return name[0] == '.' && strstr(name, ".new-") != NULL;
}

[[noreturn]] void holdForever(const char* path) {
    const char* report = getenv("KADRIX_TEST_NAMING_REPORT");
    if (report) {
        int fd = open(report, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            dprintf(fd, "held %s\n", strrchr(path, '/') ? strrchr(path, '/') + 1 : path);
            close(fd);
        }
    }
    for (;;) pause();
}

// Whether naming `path` is refused (errno set) or held; false when it goes on.
bool stopped(const char* path) {
    if (!isNewFile(path)) return false;
    if (refuse) {
        errno = EACCES;
        return true;
    }
    if (hold) holdForever(path);
    if (slow) sleep(3);
    return false;
}

template <class F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int link(const char* from, const char* to) noexcept {
    if (noLinks) {
        errno = EPERM;
        return -1;
    }
    if (stopped(from)) return -1;
    return real<int (*)(const char*, const char*)>("link")(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) noexcept {
    if (noExclusive && (flags & RENAME_NOREPLACE)) {
        errno = EINVAL;
        return -1;
    }
    if (stopped(from)) return -1;
    return real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromDir, from, toDir, to,
                                                                                    flags);
}

int rename(const char* from, const char* to) noexcept {
    if (stopped(from)) return -1;
    return real<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
