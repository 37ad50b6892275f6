#include "capture/ToolOutput.h"

#include <algorithm>

#include "kit/Parse.h"

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

std::vector<std::smatch> regexMatches(const std::string& pattern, const std::string& text) {
    std::vector<std::smatch> out;
    std::regex re(pattern, std::regex::ECMAScript | std::regex::icase);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(*it);
    return out;
}

std::vector<std::optional<std::string>> regexCaptureGroups(std::pair<size_t, size_t> range,
                                                           const std::smatch& match, const std::string&) {
    std::vector<std::optional<std::string>> out;
    for (size_t i = range.first; i < range.second; ++i) {
        if (i < match.size() && match[i].matched)
            out.emplace_back(match[i].str());
        else
            out.emplace_back(std::nullopt);
    }
    return out;
}

std::vector<std::string> regexMatchTexts(const std::vector<std::smatch>& matches, const std::string&) {
    std::vector<std::string> out;
    for (auto& m : matches) out.push_back(m.str(0));
    return out;
}

ToolArea toolAreaIn(const std::string& text) {
    auto matches = regexMatches(R"(\(([0-9\-\. ]+\,){3}[0-9\-\. ]+\))", text);
    if (matches.empty()) return {};
    std::string list = matches.front().str(0);
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

bool isValidUtf8(const std::string& s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (!len || i + size_t(len) > n) return false;
        for (int k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + size_t(k)]) >> 6) != 2) return false;
        i += size_t(len);
    }
    return true;
}

}  // namespace capture
