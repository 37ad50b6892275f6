// Freed frame-sized buffers go back to the system instead of staying with
// the allocator for the next capture.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <memory>

#include "kit/base/Dispatch.h"
#include "kit/draw/Layer.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/image/Memory.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

// The program fixes the threshold at start-up, before any large block is
// made; this process does the same, so no case finds a large free block an
// earlier case left in the heap (a frame would take its pages and keep them).
[[maybe_unused]] const bool kLargeBlocksReturned = (kit::memory::returnLargeBlocksOnFree(), true);

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

// A 4K picture drawn at a third of its size leaves reduced copies behind
// (its halvings, the drawn size): they go when memory is handed back, once
// the picture is gone, or at once when the caller asks for every copy.
TEST(Memory, ReducedCopiesOfDrawnPicturesGoWhenMemoryIsHandedBack) {
    if (kOwnAllocator) GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
    kit::memory::returnLargeBlocksOnFree();
    const size_t copies = size_t(1920) * 1080 * 4;  // the first halving alone
    auto drawSmaller = [](const kit::Image& picture) {
        auto layer = kit::Layer::make();
        layer->setBounds({0, 0, double(picture.width()), double(picture.height())});
        layer->setContents(picture);
        ASSERT_FALSE(kit::renderToImage(*layer, 0.3).isNull());
    };
    // What earlier cases freed goes back first, so only the copies can make
    // up the drop: in a busy test process the heap's own leftovers would.
    auto handedBack = [&](kit::memory::DrawnCopies drop) {
        malloc_trim(0);
        const size_t before = kit::memory::residentBytes();
        kit::memory::returnFreedMemorySoon(drop);
        return kit::runMainLoopUntil([&] { return kit::memory::residentBytes() + copies <= before; },
                                     kit::memory::kReturnDelaySeconds + 3);
    };
    {
        kit::Image kept(3840, 2160);
        drawSmaller(kept);
        EXPECT_TRUE(handedBack(kit::memory::DrawnCopies::all)) << "the copies of a picture still held stayed";
    }
    {
        kit::Image gone(3840, 2160);
        drawSmaller(gone);
        gone = kit::Image();
    }
    EXPECT_TRUE(handedBack(kit::memory::DrawnCopies::ofGonePictures))
        << "the copies of a picture let go stayed";
}

}  // namespace
