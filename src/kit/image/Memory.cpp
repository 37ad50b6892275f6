#include "kit/image/Memory.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

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
    dispatchMainAfter(kReturnDelaySeconds, [call] {
        if (calls.load() != call) return;  // a later call will do it
        qt::dropReducedCopies(dropAll.exchange(false));
        globalQueue().async([] { malloc_trim(0); });
    });
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
