#include "services/Random.h"

#include <cmath>
#include <mutex>
#include <random>

#include "kit/base/Timer.h"

namespace services {

int64_t randomInt(int64_t lo, int64_t hi) {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::lock_guard guard(mutex);
    return std::uniform_int_distribution<int64_t>(lo, hi)(engine);
}

std::string base36(int64_t value) {
    if (value == 0) return "0";
    bool negative = value < 0;
    // Work in unsigned so the most negative number has a magnitude too.
    uint64_t magnitude = negative ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    std::string digits;
    while (magnitude > 0) {
        digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % 36]);
        magnitude /= 36;
    }
    return negative ? "-" + digits : digits;
}

int64_t nowMillis() {
    return int64_t(std::round(kit::wallNow() * 1000));
}

std::string makeUUID() {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        int value = int(randomInt(0, 15));
        if (i == 12) value = 4;                // version 4
        if (i == 16) value = 8 | (value & 3);  // variant 10xx
        if (i == 8 || i == 12 || i == 16 || i == 20) text.push_back('-');
        text.push_back(digits[value]);
    }
    return text;
}

}  // namespace services
