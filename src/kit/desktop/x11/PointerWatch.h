#pragma once
// kit-private: noticing that the user moves the pointer. Only real pointer
// movement counts (device or XTest motion); our own warps do not.
#include <functional>

namespace kit::x11 {

// Runs `fn` once on the main thread at the next pointer movement. A later
// call replaces the watch; an empty `fn` stops watching. False when no X
// server can be watched.
bool onNextPointerMotion(std::function<void()> fn);

}  // namespace kit::x11
