#pragma once
// How the analysis functions report what they see: error reports, usage
// events, timing lines, timer assertions and notices to the user. Unless hooks
// replace them (tests, benchmarks), they go to the application's telemetry:
// error reports print their block and queue an "oops" event, usage events are
// queued, and slow timers queue the repeatable "timer-assert" event and print
// their line; notices are the notifier's warnings.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace imaging {

using EventValue = std::variant<std::string, long long>;
using EventData = std::vector<std::pair<std::string, EventValue>>;

struct Diagnostics {
    // (function name, message) of a failure worth reporting.
    std::function<void(const std::string& function, const std::string& message)> errorReport;
    // A usage event with its data.
    std::function<void(const std::string& name, const EventData& data)> event;
    // A named timer ran longer than its limit (milliseconds both).
    std::function<void(const std::string& name, double elapsedMs, double maxMs)> timerAssert;
    // (title, message) of something the user should know.
    std::function<void(const std::string& title, const std::string& message)> notice;
};

// Replaces the hooks; empty members fall back to the telemetry. Thread-safe.
void setDiagnostics(Diagnostics d);

void errorReport(const std::string& function, const std::string& message);
void sendEvent(const std::string& name, const EventData& data);
// Tells the user; callable from any thread.
void notice(const std::string& title, const std::string& message);
// How many notices notice() has given so far, and when the last of them was
// given (kit::wallNow()) if any came after that count was read: a result
// that follows a notice gives the notice time to be read.
uint64_t noticesGiven();
std::optional<double> noticeSince(uint64_t count);
// A plain diagnostic line on the standard output.
void consoleLine(const std::string& line);

// Milliseconds as the timing lines write them: rounded to two decimals, the
// shortest text, and ".0" for whole numbers ("5.0", "12.34").
std::string millisText(double ms);

// A named stopwatch for the timing lines of one operation.
class Stopwatch {
public:
    explicit Stopwatch(std::string name);
    double elapsedMs() const;
    std::string elapsedText() const { return millisText(elapsedMs()); }
    // Writes "name: Xms".
    void log() const;
    // Reports a timer assertion when the elapsed time is over maxMs.
    void assertWithin(double maxMs) const;

private:
    std::string name_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace imaging
