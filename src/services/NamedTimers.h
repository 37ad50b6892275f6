#pragma once
// Process-wide named timers for console timing lines and the "timer-assert"
// warning when a time-critical step runs slow. A timer started in one function
// can be read in another; starting a name again restarts it. They read the
// monotonic clock of kit/base/Timer.h, so tests drive them with a manual clock.
#include <string>

namespace services {

void timerStart(const std::string& name);
// Prints "name: 12.34ms" for a started timer; nothing for an unknown name.
void timerLog(const std::string& name);
// Elapsed milliseconds, rounded to two decimals; "0.0" / 0.0 when never started.
std::string timerElapsedText(const std::string& name);
double timerElapsed(const std::string& name);
// Forgets a timer, so it reads as never started until the next start.
void timerRemove(const std::string& name);
// Strictly over `maxMs`: the repeatable event "timer-assert" and a console line.
void timerAssert(const std::string& name, double maxMs);

}  // namespace services
