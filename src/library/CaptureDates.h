#pragma once
// When a screenshot was taken, read from its file name and the file itself,
// and whether a file name looks like a screenshot's.
//
// Names this program saves carry the date ("-20240105-") and, with the
// template's %t, the time of day in four letters (quarter seconds plus 17576
// in base 26: "kvqe" is noon). The file's birth time wins when it lies within
// a day of the name's date. Dates in names are local time.
#include <cstdint>
#include <optional>
#include <string>

namespace library {

// Seconds since 1970 (UTC); 0 when neither the name nor the file tells.
// `birthTime` stands in for the file's own (tests); by default it is read
// from the file system where it keeps one.
int64_t fileDate(const std::string& path, std::optional<std::optional<double>> birthTime = std::nullopt);

bool isScreenshotName(const std::string& name);

}  // namespace library
