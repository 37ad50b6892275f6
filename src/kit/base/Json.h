#pragma once
// JSON for the whole program: nlohmann's json, whose default object type keeps
// keys sorted, so a dump is stable byte for byte. The helpers never throw:
// malformed text is an empty optional, and the strict readers refuse values of
// the wrong kind instead of converting them.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace kit {

using Json = nlohmann::json;

namespace json {

// Compact text with sorted keys. Invalid UTF-8 in strings is replaced (U+FFFD)
// rather than throwing; NaN and infinities come out as null.
std::string dump(const Json& value);
// Indented text (4 blanks), sorted keys; for files people read.
std::string dumpPretty(const Json& value);

// The whole text must be one JSON value (surrounding white space allowed),
// nested at most 512 levels deep.
std::optional<Json> parse(std::string_view text);

// Strict readers of a value.
// An integer: an integer number, or a floating number with an exact 64-bit
// integer value (3.0); 2.5, true, "3" and null are refused.
std::optional<int64_t> toInt(const Json& value);
// Any finite number; true and "2.5" are refused.
std::optional<double> toDouble(const Json& value);
std::optional<std::string> toString(const Json& value);
std::optional<bool> toBool(const Json& value);

// The same readers on a member of an object; absent when `object` is not an
// object or has no such key.
std::optional<int64_t> intAt(const Json& object, std::string_view key);
std::optional<double> doubleAt(const Json& object, std::string_view key);
std::optional<std::string> stringAt(const Json& object, std::string_view key);
std::optional<bool> boolAt(const Json& object, std::string_view key);
const Json* memberAt(const Json& object, std::string_view key);  // null when absent

// The shortest decimal text that reads back as the same double, written the
// way the original platform prints doubles: "10.0", "0.5", "12.34",
// "1e-05", "1.5e+20", "-0.0", "nan", "inf", "-inf". Plain notation is used
// from 1e-4 up to 2^54, exponent notation outside.
std::string doubleText(double value);

}  // namespace json
}  // namespace kit
