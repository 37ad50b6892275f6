#include "kit/base/Parse.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kit {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Splits off one leading sign; returns false when the rest is not all digits.
bool splitSignedDigits(std::string_view text, bool& negative, std::string_view& digits) {
    negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    for (char c : text)
        if (!isDigit(c)) return false;
    digits = text;
    return true;
}

}  // namespace

std::optional<uint64_t> parseUInt64(std::string_view text) {
    bool negative;
    std::string_view digits;
    if (!splitSignedDigits(text, negative, digits) || negative) return std::nullopt;
    uint64_t v = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return std::nullopt;
    return v;
}

std::optional<int64_t> parseInt64(std::string_view text) {
    bool negative;
    std::string_view digits;
    if (!splitSignedDigits(text, negative, digits)) return std::nullopt;
    uint64_t magnitude = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size()) return std::nullopt;
    constexpr uint64_t maxPos = uint64_t(std::numeric_limits<int64_t>::max());
    if (!negative) {
        if (magnitude > maxPos) return std::nullopt;
        return int64_t(magnitude);
    }
    if (magnitude > maxPos + 1) return std::nullopt;
    if (magnitude == maxPos + 1) return std::numeric_limits<int64_t>::min();
    return -int64_t(magnitude);
}

std::optional<int32_t> parseInt32(std::string_view text) {
    auto v = parseInt64(text);
    if (!v || *v < std::numeric_limits<int32_t>::min() || *v > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(*v);
}

std::optional<double> parseDouble(std::string_view text) {
    // Grammar: [sign] (digits [. digits*] | . digits) [(e|E) [sign] digits]
    bool negative = false;
    std::string_view s = text;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    size_t i = 0, intDigits = 0, fracDigits = 0;
    // Decimal magnitude of the first non-zero digit, to tell overflow from underflow.
    long firstNonZero = std::numeric_limits<long>::min();
    while (i < s.size() && isDigit(s[i])) {
        if (s[i] != '0' && firstNonZero == std::numeric_limits<long>::min()) firstNonZero = long(intDigits);
        ++i, ++intDigits;
    }
    long magnitudeBase = long(intDigits);
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            if (s[i] != '0' && firstNonZero == std::numeric_limits<long>::min())
                firstNonZero = long(intDigits) + long(fracDigits);
            ++i, ++fracDigits;
        }
    }
    if (intDigits + fracDigits == 0) return std::nullopt;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool expNeg = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNeg = s[i++] == '-';
        size_t start = i;
        while (i < s.size() && isDigit(s[i])) {
            if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
            ++i;
        }
        if (i == start) return std::nullopt;
        if (expNeg) exponent = -exponent;
    }
    if (i != s.size()) return std::nullopt;

    double v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
    if (r.ptr != s.data() + s.size()) return std::nullopt;
    if (r.ec == std::errc::result_out_of_range) {
        if (firstNonZero == std::numeric_limits<long>::min()) {
            v = 0;  // all zeros with a huge exponent
        } else {
            long magnitude = magnitudeBase - firstNonZero + exponent;
            if (magnitude > 0) return std::nullopt;  // overflow to infinity
            v = 0;                                   // underflow: as close to zero as it gets
        }
    } else if (r.ec != std::errc()) {
        return std::nullopt;
    }
    if (!std::isfinite(v)) return std::nullopt;
    return negative ? -v : v;
}

}  // namespace kit
