#include "kit/image/Memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/base/Dispatch.h"
#include "kit/base/Timer.h"
#include "kit/draw/qt/LayerPainter.h"

namespace kit::memory {

void returnLargeBlocksOnFree(size_t bytes) {
    // A fixed threshold also ends glibc's habit of raising it to the size of
    // each large block freed, after which frame-sized buffers stay in the heap.
    mallopt(M_MMAP_THRESHOLD, int(bytes));
}

void returnFreedMemorySoon(DrawnCopies drop) {
    static std::atomic<uint64_t> calls{0};
    static std::atomic<bool> dropAll{false};
    if (drop == DrawnCopies::all) dropAll = true;
    const uint64_t call = ++calls;
    // A later call does each step in its place.
    dispatchMainAfter(kReturnDelaySeconds, [call] {
        if (calls.load() != call) return;
        qt::dropReducedCopies(dropAll.exchange(false));
        globalQueue().async([] { malloc_trim(0); });
    });
    dispatchMainAfter(kReleaseFilePagesDelaySeconds, [call] {
        if (calls.load() == call) globalQueue().async([] { releaseFilePages(); });
    });
}

namespace {

// A mapping as /proc/self/smaps describes it, as far as the release needs.
struct Mapping {
    uintptr_t start = 0, end = 0;
    bool fileReadOnly = false;  // of a regular file, never writable
    long residentKB = -1, copiedKB = -1, swappedKB = -1;

    // Only pages read from the file may go: a page copied to be written (the
    // loader's relocated tables, made read-only afterwards) would come back
    // as the file's bytes. Unknown counts keep the mapping.
    bool releasable() const { return fileReadOnly && residentKB > 0 && copiedKB == 0 && swappedKB == 0; }
};

bool regularFilePath(const char* path) {
    return path[0] == '/' && std::strncmp(path, "/dev/", 5) != 0 && std::strncmp(path, "/memfd:", 7) != 0 &&
           std::strncmp(path, "/SYSV", 5) != 0;
}

}  // namespace

size_t releaseFilePages() {
    FILE* f = std::fopen("/proc/self/smaps", "r");
    if (!f) return 0;
    size_t released = 0;
    Mapping m;
    auto release = [&] {
        if (m.releasable() && madvise(reinterpret_cast<void*>(m.start), m.end - m.start, MADV_DONTNEED) == 0)
            released += size_t(m.residentKB) * 1024;
        m = Mapping{};
    };
    char line[4096];
    while (std::fgets(line, sizeof line, f)) {
        unsigned long start = 0, end = 0;
        char perms[8] = {};
        int pathAt = 0;
        if (std::sscanf(line, "%lx-%lx %7s %*s %*s %*s %n", &start, &end, perms, &pathAt) == 3 &&
            pathAt > 0) {
            release();
            m.start = start;
            m.end = end;
            m.fileReadOnly =
                perms[0] == 'r' && std::strchr(perms, 'w') == nullptr && regularFilePath(line + pathAt);
        } else if (std::strncmp(line, "Rss:", 4) == 0) {
            m.residentKB = std::atol(line + 4);
        } else if (std::strncmp(line, "Anonymous:", 10) == 0) {
            m.copiedKB = std::atol(line + 10);
        } else if (std::strncmp(line, "Swap:", 5) == 0) {
            m.swappedKB = std::atol(line + 5);
        }
    }
    release();
    std::fclose(f);
    return released;
}

size_t residentBytes() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    const bool ok = std::fscanf(f, "%lu %lu", &size, &resident) == 2;
    std::fclose(f);
    return ok ? size_t(resident) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

}  // namespace kit::memory
