#include "services/NamedTimers.h"

#include <cmath>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "kit/base/Json.h"
#include "kit/base/Timer.h"
#include "services/Console.h"
#include "services/Telemetry.h"

namespace services {

namespace {

struct TimerTable {
    std::mutex lock;
    std::unordered_map<std::string, double> starts;
};

TimerTable& table() {
    static TimerTable t;
    return t;
}

double now() {
    return kit::monotonicNow();
}

double roundedMs(double seconds) {
    return std::round(seconds * 1000 * 100) / 100;
}

// Elapsed milliseconds of a started timer; the caller holds the table lock.
std::optional<double> elapsedLocked(const std::string& name, double at) {
    auto it = table().starts.find(name);
    if (it == table().starts.end()) return std::nullopt;
    return roundedMs(at - it->second);
}

std::optional<double> elapsed(const std::string& name) {
    double at = now();
    std::lock_guard guard(table().lock);
    return elapsedLocked(name, at);
}

}  // namespace

void timerStart(const std::string& name) {
    double at = now();
    std::lock_guard guard(table().lock);
    table().starts[name] = at;
}

void timerLog(const std::string& name) {
    double at = now();
    std::lock_guard guard(table().lock);
    if (auto ms = elapsedLocked(name, at)) consoleLine(name + ": " + kit::json::doubleText(*ms) + "ms");
}

std::string timerElapsedText(const std::string& name) {
    return kit::json::doubleText(timerElapsed(name));
}

double timerElapsed(const std::string& name) {
    return elapsed(name).value_or(0.0);
}

void timerAssert(const std::string& name, double maxMs) {
    std::optional<double> ms = elapsed(name);
    if (!ms) {
        consoleLine("Time Assert: timer " + name + " wasn't started");
        return;
    }
    if (*ms <= maxMs) return;
    Telemetry::shared().repeatableEvent("timer-assert", {{"timername", name}, {"timer", *ms}});
    consoleLine("Time Assert: timer " + name + " took " + kit::json::doubleText(*ms) + "ms");
}

void timerRemove(const std::string& name) {
    std::lock_guard guard(table().lock);
    table().starts.erase(name);
}

}  // namespace services
