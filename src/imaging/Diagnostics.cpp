#include "imaging/Diagnostics.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

#include "kit/base/Json.h"
#include "kit/base/Timer.h"
#include "services/Notifier.h"
#include "services/Telemetry.h"

namespace imaging {

namespace {

std::mutex& hooksLock() {
    static std::mutex m;
    return m;
}

Diagnostics& hooks() {
    static Diagnostics d;
    return d;
}

kit::Json jsonOf(const EventData& data) {
    kit::Json record = kit::Json::object();
    for (const auto& [key, value] : data)
        std::visit([&record, &key](const auto& v) { record[key] = v; }, value);
    return record;
}

Diagnostics current() {
    std::lock_guard lock(hooksLock());
    return hooks();
}

}  // namespace

void setDiagnostics(Diagnostics d) {
    std::lock_guard lock(hooksLock());
    hooks() = std::move(d);
}

void errorReport(const std::string& function, const std::string& message) {
    Diagnostics d = current();
    if (d.errorReport)
        d.errorReport(function, message);
    else
        services::Telemetry::shared().oops(function, message);
}

void sendEvent(const std::string& name, const EventData& data) {
    Diagnostics d = current();
    if (d.event)
        d.event(name, data);
    else
        services::Telemetry::shared().event(name, jsonOf(data));
}

namespace {
// The last notice's time and a count of them. A caller compares counts, not
// times: a time left by an earlier notice may come from another clock (a
// test's) and would read as one given now.
std::mutex noticeLock;
double noticeTime = 0;
uint64_t noticeCount = 0;
}  // namespace

std::optional<double> noticeSince(uint64_t count) {
    std::lock_guard<std::mutex> lock(noticeLock);
    if (noticeCount == count) return std::nullopt;
    return noticeTime;
}

uint64_t noticesGiven() {
    std::lock_guard<std::mutex> lock(noticeLock);
    return noticeCount;
}

void notice(const std::string& title, const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(noticeLock);
        noticeTime = kit::wallNow();
        ++noticeCount;
    }
    Diagnostics d = current();
    if (d.notice)
        d.notice(title, message);
    else
        services::Notifier::shared().warning(title, message);
}

void consoleLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string millisText(double ms) {
    double rounded = std::round(ms * 100) / 100;
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, rounded);
    if (ec != std::errc()) return "0.0";
    std::string s(buf, end);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

Stopwatch::Stopwatch(std::string name) : name_(std::move(name)), start_(std::chrono::steady_clock::now()) {}

double Stopwatch::elapsedMs() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
}

void Stopwatch::log() const {
    consoleLine(name_ + ": " + elapsedText() + "ms");
}

void Stopwatch::assertWithin(double maxMs) const {
    double ms = elapsedMs();
    if (ms <= maxMs) return;
    Diagnostics d = current();
    if (d.timerAssert) {
        d.timerAssert(name_, ms, maxMs);
        return;
    }
    const double rounded = std::round(ms * 100) / 100;
    services::Telemetry::shared().repeatableEvent("timer-assert", {{"timername", name_}, {"timer", rounded}});
    consoleLine("Time Assert: timer " + name_ + " took " + millisText(ms) + "ms");
}

}  // namespace imaging
