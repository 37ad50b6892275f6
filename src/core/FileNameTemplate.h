#pragma once
// File names from a template: plain text with two-character macros ("%Y",
// "%t", …) that expand to parts of the screenshot's date in the local time
// zone (English month and day names whatever the user's language), the
// captured application's name, or a short time code. The caller adds the
// extension.
//
// The result is always usable as one file name: no path separators or other
// characters file managers refuse, no control characters, never empty, and at
// most kMaxNameBytes bytes of UTF-8 so an extension and a clash counter still
// fit the file system's 255-byte limit.
//
// Pure functions of their arguments; any thread.
#include <chrono>
#include <cstddef>
#include <string>

namespace core {

inline constexpr const char* kDefaultFileNameTemplate = "SCR-%Y%m%d-%t";
// The fixed template of uploads and hand-offs.
inline constexpr const char* kUploadFileNameTemplate = "SCR-%Y%m%d-%T";
inline constexpr size_t kMaxNameBytes = 200;

using Clock = std::chrono::system_clock;

// The template expanded for `date` (local time) and the application name.
std::string expandFileName(const std::string& templ, Clock::time_point date, const std::string& appName);

// The letters of the macros a template uses, in order ("Ymdt" for the default).
std::string fileNameMacros(const std::string& templ);

// The two time codes on their own: one code per quarter second of the day
// in four letters ("baaa" at midnight), one per two seconds in three base-36
// characters ("100" at midnight).
std::string letterTimeCode(int secondsOfDay, long nanoseconds);
std::string base36TimeCode(int secondsOfDay);

// Week of the year as US calendars count it: weeks start on Sunday and week 1
// is the one holding 1 January (so the last days of December may be week 1).
int usWeekOfYear(int yearDay, int weekDay, int year);

}  // namespace core
