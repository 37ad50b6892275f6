#include "imaging/Diagnostics.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>

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

std::string dashLine() {
    std::string s;
    for (int i = 0; i < 41; ++i) s += "\u2014";
    return s;
}

void printReport(const std::string& function, const std::string& message) {
    const std::string dashes = dashLine();
    consoleLine(dashes + "\nOOPS " + message + "\n" + function + "\n" + dashes);
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
        printReport(function, message);
}

void sendEvent(const std::string& name, const EventData& data) {
    Diagnostics d = current();
    if (d.event) d.event(name, data);
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
    if (d.timerAssert)
        d.timerAssert(name_, ms, maxMs);
    else
        consoleLine("Time Assert: timer " + name_ + " took " + millisText(ms) + "ms");
}

}  // namespace imaging
