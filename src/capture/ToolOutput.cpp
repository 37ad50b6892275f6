#include "capture/ToolOutput.h"

#include <algorithm>

#include "kit/base/Parse.h"

namespace capture {

namespace {

std::string trimmed(std::string s) {
    auto blank = [](unsigned char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!s.empty() && blank(s.back())) s.pop_back();
    size_t i = 0;
    while (i < s.size() && blank(s[i])) ++i;
    return s.substr(i);
}

}  // namespace

std::vector<kit::RegexMatch> regexMatches(const std::string& pattern, const std::string& text) {
    return kit::Regex(pattern, kit::Regex::caseInsensitive).matches(text);
}

std::vector<std::optional<std::string>> regexCaptureGroups(std::pair<size_t, size_t> range,
                                                           const kit::RegexMatch& match, const std::string&) {
    std::vector<std::optional<std::string>> out;
    for (size_t i = range.first; i < range.second; ++i)
        out.push_back(i < match.groups.size() ? match.groups[i] : std::nullopt);
    return out;
}

std::vector<std::string> regexMatchTexts(const std::vector<kit::RegexMatch>& matches, const std::string&) {
    std::vector<std::string> out;
    for (auto& m : matches) out.push_back(m.text());
    return out;
}

ToolArea toolAreaIn(const std::string& text) {
    auto matches = regexMatches(R"(\(([0-9\-\. ]+\,){3}[0-9\-\. ]+\))", text);
    if (matches.empty()) return {};
    std::string list = matches.front().text();
    list.erase(std::remove_if(list.begin(), list.end(), [](char c) { return c == '(' || c == ')'; }),
               list.end());
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= list.size(); ++i)
        if (i == list.size() || list[i] == ',') {
            parts.push_back(trimmed(list.substr(start, i - start)));
            start = i + 1;
        }
    if (parts.size() != 4) return {ToolArea::Kind::wrongCount, {}};
    double v[4];
    for (int i = 0; i < 4; ++i) {
        auto d = kit::parseDouble(parts[size_t(i)]);
        if (!d) return {ToolArea::Kind::notNumbers, {}};
        v[i] = *d;
    }
    return {ToolArea::Kind::area, kit::Rect(v[0], v[1], v[2], v[3])};
}

bool toolSelectingIn(const std::string& text) {
    return text.find("waiting for a selection") != std::string::npos;
}

std::optional<uint32_t> toolWindowIn(const std::string& text) {
    auto matches = regexMatches(R"(capture window.+0x([0-9a-f]+))", text);
    if (matches.empty()) return std::nullopt;
    auto groups = regexCaptureGroups({1, 2}, matches.front(), text);
    if (!groups[0]) return std::nullopt;
    try {
        size_t used = 0;
        unsigned long v = std::stoul(*groups[0], &used, 16);
        if (used != groups[0]->size() || v > 0xFFFFFFFFul) return std::nullopt;
        return uint32_t(v);
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace capture
