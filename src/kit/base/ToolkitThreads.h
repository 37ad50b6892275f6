#pragma once
// The toolkit's own pool of threads, on which it converts, scales and fills
// large images in bands while the caller waits. A band handed to a thread
// that the system refused to start is never run, and the caller waits for
// it for ever: so the pool's threads are started once, while they can be
// had, and kept.
namespace kit {

// Starts `count` threads in the toolkit's pool and keeps them for the life of
// the process; the pool never asks for more. Returns how many run (fewer
// when the system gave no more).
int holdToolkitThreads(int count);

}  // namespace kit
