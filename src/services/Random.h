#pragma once
// Small shared pieces of the identifiers the services make: random numbers,
// base-36 text and the millisecond clock.
#include <cstdint>
#include <string>

namespace services {

// 2019-12-20 00:00 UTC in milliseconds: identifiers count from here.
inline constexpr int64_t kEpoch2019Ms = 1576800000000;

// Uniformly random integer in [lo, hi]; thread-safe.
int64_t randomInt(int64_t lo, int64_t hi);
// Lower-case base-36 digits ("-" in front of a negative number).
std::string base36(int64_t value);
// Wall-clock milliseconds since 1970, rounded half away from zero.
int64_t nowMillis();
// A fresh random (version 4) UUID in upper-case text.
std::string makeUUID();

}  // namespace services
