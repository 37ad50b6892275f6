#pragma once
// Regular expressions over UTF-8 text, compiled once and run by PCRE2 (with
// its JIT where the machine has one). Matching never recurses per character,
// so a long text (a tool's log, a page of recognised text) cannot exhaust the
// stack, and it stays linear on the patterns we use. Text that is not valid
// UTF-8 is read with U+FFFD in place of each bad sequence.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit {

// One match: group 0 is the whole match, then each capture group in order;
// no value for a group that did not take part in the match.
struct RegexMatch {
    std::vector<std::optional<std::string>> groups;

    std::string text() const { return groups.empty() || !groups[0] ? std::string() : *groups[0]; }
};

class Regex {
public:
    enum Options : uint32_t { none = 0, caseInsensitive = 1 };

    explicit Regex(std::string_view pattern, uint32_t options = none);
    ~Regex();
    Regex(const Regex&);
    Regex& operator=(const Regex&);

    // False for a pattern that does not compile; it then matches nothing.
    bool isValid() const;
    std::string errorString() const;

    // Every match, left to right, not overlapping.
    std::vector<RegexMatch> matches(std::string_view text) const;
    std::optional<RegexMatch> firstMatch(std::string_view text) const;
    // Whether the whole text matches.
    bool matchesWhole(std::string_view text) const;
    // The text with every match replaced by `replacement`, taken literally.
    std::string replaced(std::string_view text, std::string_view replacement) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kit
