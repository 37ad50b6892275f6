#pragma once
// How far the process's resident high-water mark rose while `fn` ran: a
// decoder that fills a canvas its file claimed shows here, whatever it
// allocated with.
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace testsupport {

inline long long peakGrowthOf(const std::function<void()>& fn) {
    const auto resident = [](const char* key) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind(key, 0) == 0) return std::stoll(line.substr(std::strlen(key))) * 1024;
        return 0LL;
    };
    std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark starts anew
    const long long before = resident("VmRSS:");
    fn();
    return resident("VmHWM:") - before;
}

}  // namespace testsupport
