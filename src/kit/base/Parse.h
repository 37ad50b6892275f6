#pragma once
// Strict number parsing: the whole text must be the number. An optional
// leading "+" or "-", then digits; no blanks, no trailing characters, no hex,
// no overflow (out-of-range text is refused, never clamped or wrapped).
#include <cstdint>
#include <optional>
#include <string_view>

namespace kit {

std::optional<int64_t> parseInt64(std::string_view text);
std::optional<int32_t> parseInt32(std::string_view text);
// Non-negative only: a leading "-" is refused ("+7" is fine).
std::optional<uint64_t> parseUInt64(std::string_view text);
// Decimal with optional fraction and exponent ("1.5", "-.5", "2.", "1e3").
// Refuses "inf", "nan", hex floats, and values that overflow to infinity.
std::optional<double> parseDouble(std::string_view text);

}  // namespace kit
