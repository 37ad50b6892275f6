// Freed frame-sized buffers go back to the system instead of staying with
// the allocator for the next capture.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "kit/Memory.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

// Keeps the compiler from leaving the buffer out.
void keepMemoryTestBuffer(const uint8_t* p) {
    asm volatile("" : : "r"(p) : "memory");
}

TEST(Memory, FrameSizedBuffersGoBackEveryTimeTheyAreFreed) {
    if (kOwnAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
    kit::memory::returnLargeBlocksOnFree();
    // A 1440p frame; the second round is the one an adaptive allocator keeps.
    const size_t frame = size_t(2560) * 1440 * 4;
    for (int round = 0; round < 3; ++round) {
        const size_t before = kit::memory::residentBytes();
        ASSERT_GT(before, 0u);
        {
            // (Pages the heap already held may serve it: then nothing grows.)
            std::unique_ptr<uint8_t[]> pixels(new uint8_t[frame]);
            std::memset(pixels.get(), round + 1, frame);
            keepMemoryTestBuffer(pixels.get());
        }
        EXPECT_LT(kit::memory::residentBytes(), before + frame / 4) << "round " << round << " kept the frame";
    }
}

}  // namespace
