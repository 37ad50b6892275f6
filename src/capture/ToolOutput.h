#pragma once
// Reading the screenshot tool's log: the selected area, written as a bracketed
// list "(x, y, w, h)", and the selected window, "capture window … 0x<hex>".
// Also the small regular-expression helpers other subsystems share.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Regex.h"

namespace capture {

struct ToolArea {
    enum class Kind { noMatch, wrongCount, notNumbers, area };
    Kind kind = Kind::noMatch;
    kit::Rect rect;  // for Kind::area
};

// The first bracketed list of four values in the text.
ToolArea toolAreaIn(const std::string& text);
// Whether the text holds the tool's line that its selection screen shows,
// over the screen frozen as it was.
bool toolSelectingIn(const std::string& text);
// The hexadecimal window number of the first "capture window" line.
std::optional<uint32_t> toolWindowIn(const std::string& text);
// Texts of the match's groups lo … hi − 1; no value for a group that did not
// take part in the match.
std::vector<std::optional<std::string>> regexCaptureGroups(std::pair<size_t, size_t> range,
                                                           const kit::RegexMatch& match,
                                                           const std::string& text);
// Texts of whole matches, in order.
std::vector<std::string> regexMatchTexts(const std::vector<kit::RegexMatch>& matches,
                                         const std::string& text);
// Every match of a case-insensitive pattern.
std::vector<kit::RegexMatch> regexMatches(const std::string& pattern, const std::string& text);

}  // namespace capture
