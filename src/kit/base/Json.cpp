#include "kit/base/Json.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace kit::json {

std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string dumpPretty(const Json& value) {
    return value.dump(4, ' ', false, Json::error_handler_t::replace);
}

namespace {

// Copying, comparing and dumping a value recurse once per level, so a deeply
// nested reply could exhaust the stack long after parsing; refuse it up front.
constexpr int kMaxDepth = 512;

bool nestingWithinLimit(std::string_view text) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

}  // namespace

std::optional<Json> parse(std::string_view text) {
    if (!nestingWithinLimit(text)) return std::nullopt;
    Json out = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (out.is_discarded()) return std::nullopt;
    return out;
}

std::optional<int64_t> toInt(const Json& value) {
    if (value.is_number_unsigned()) {
        auto u = value.get<uint64_t>();
        if (u > uint64_t(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return int64_t(u);
    }
    if (value.is_number_integer()) return value.get<int64_t>();
    if (value.is_number_float()) {
        double d = value.get<double>();
        // -2^63 is exact; 2^63 is not representable as int64.
        if (!std::isfinite(d) || std::trunc(d) != d || d < -0x1p63 || d >= 0x1p63) return std::nullopt;
        return int64_t(d);
    }
    return std::nullopt;
}

std::optional<double> toDouble(const Json& value) {
    if (!value.is_number()) return std::nullopt;
    double d = value.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    return d;
}

std::optional<std::string> toString(const Json& value) {
    if (!value.is_string()) return std::nullopt;
    return value.get<std::string>();
}

std::optional<bool> toBool(const Json& value) {
    if (!value.is_boolean()) return std::nullopt;
    return value.get<bool>();
}

const Json* memberAt(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::optional<int64_t> intAt(const Json& object, std::string_view key) {
    const Json* v = memberAt(object, key);
    return v ? toInt(*v) : std::nullopt;
}

std::optional<double> doubleAt(const Json& object, std::string_view key) {
    const Json* v = memberAt(object, key);
    return v ? toDouble(*v) : std::nullopt;
}

std::optional<std::string> stringAt(const Json& object, std::string_view key) {
    const Json* v = memberAt(object, key);
    return v ? toString(*v) : std::nullopt;
}

std::optional<bool> boolAt(const Json& object, std::string_view key) {
    const Json* v = memberAt(object, key);
    return v ? toBool(*v) : std::nullopt;
}

std::string doubleText(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";

    // Shortest round-trip digits in scientific form: d[.ddd]e±XX.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string_view sci(buf, size_t(res.ptr - buf));
    size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits += c;
    int exp10 = 0;
    std::string_view expText = sci.substr(e + 1);
    if (!expText.empty() && expText[0] == '+') expText.remove_prefix(1);
    std::from_chars(expText.data(), expText.data() + expText.size(), exp10);

    std::string out = value < 0 ? "-" : "";
    // With value = 0.DIGITS × 10^k, plain notation holds for k ≥ -3 up to 2^54.
    int k = exp10 + 1;
    if (k < -3 || std::fabs(value) > 0x1p54) {
        out += digits[0];
        if (digits.size() > 1) out.append(".").append(digits, 1);
        out += exp10 < 0 ? "e-" : "e+";
        int a = std::abs(exp10);
        if (a < 10) out += '0';
        out += std::to_string(a);
        return out;
    }
    if (k <= 0) {
        out.append("0.").append(size_t(-k), '0').append(digits);
    } else if (size_t(k) >= digits.size()) {
        out.append(digits).append(size_t(k) - digits.size(), '0').append(".0");
    } else {
        out.append(digits, 0, size_t(k)).append(".").append(digits, size_t(k));
    }
    return out;
}

}  // namespace kit::json
