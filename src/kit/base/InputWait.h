#pragma once
// Waiting for another program's bytes on a descriptor without holding up
// the program. On the thread of the application's event loop that loop goes
// on meanwhile (windows paint, timers fire, requests that come in are taken
// and wait their own turn), and the way out ends the wait at once; on any
// other thread the wait is a plain one.
#include <chrono>
#include <functional>

namespace kit {

enum class InputWait {
    done,       // `arrived` said the awaited input is in
    timeUp,     // `until` came first
    cancelled,  // the way out began (event-loop thread only)
    failed,     // the descriptor cannot be waited on
};

// Calls `arrived` at once and then whenever `fd` has input, until it answers
// true; no later than `until`. `arrived` reads what is there without
// blocking (input may also lie in a buffer of the caller's already).
InputWait awaitInput(int fd, std::chrono::steady_clock::time_point until,
                     const std::function<bool()>& arrived);

}  // namespace kit
