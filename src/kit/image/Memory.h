#pragma once
// The process's heap, as the allocator keeps it. A capture is tens of
// megabytes; once it is let go the allocator would keep those pages for the
// next request, so a resident tray app grows with every capture it ever made.
// These calls make freed memory go back to the system. Any thread.
#include <cstddef>

namespace kit::memory {

// Once at start-up: blocks of `bytes` and more (pixel buffers, encoded
// files) get pages of their own, which go back the moment they are freed,
// whatever sizes were freed before.
void returnLargeBlocksOnFree(size_t bytes = size_t(1) << 20);
// Hands freed pages of every heap back to the system, on a background
// thread, a second after the last call: call it when something that held much
// memory closes (a pin, the editor, a batch of captures), and what it held
// has been let go by the time the pages are looked at. Reduced copies kept
// to draw large pictures faster go first: those of pictures no longer held,
// or every one when a call since the last hand-back asked for `all` (the
// editor hid; what is drawn again makes its copies afresh).
enum class DrawnCopies { ofGonePictures, all };
void returnFreedMemorySoon(DrawnCopies drop = DrawnCopies::ofGonePictures);
static constexpr double kReturnDelaySeconds = 1;
// The resident set of this process in bytes (0 when unknown).
size_t residentBytes();

}  // namespace kit::memory
