#pragma once
// The toolkit's own pools of threads, on which it converts, scales and fills
// large images in bands while the caller waits. A band handed to a thread
// that the system refused to start is never run, and the caller waits for
// it for ever: so the pools' threads are started once, while they can be
// had, and kept.
#include <chrono>

namespace kit {

// Starts `count` threads in each of the toolkit's pools that image work runs
// on and keeps them for the life of the process; the pools never ask for
// more. Returns how many run in the pool with fewest (fewer than `count`
// when the system gave no more, or they had not all started within `wait`).
int holdToolkitThreads(int count, std::chrono::milliseconds wait = std::chrono::seconds(2));

}  // namespace kit
