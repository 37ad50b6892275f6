#include "shell/UrlCommand.h"

#include <algorithm>
#include <cctype>

#include "kit/base/UrlEvents.h"

namespace shell {

namespace {

bool isSchemeChar(char c, bool first) {
    if (std::isalpha(static_cast<unsigned char>(c))) return true;
    return !first && (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.');
}

// What an address may hold: printable ASCII without blanks, quotes, angle
// brackets, braces, "|", "\", "^" and "`", and every "%" starting an escape.
bool parsesAsUrl(const std::string& t) {
    for (size_t i = 0; i < t.size(); ++i) {
        auto c = static_cast<unsigned char>(t[i]);
        if (c <= 0x20 || c >= 0x7f) return false;
        if (std::string_view("\"<>\\^`{|}").find(char(c)) != std::string_view::npos) return false;
        if (c == '%' && (i + 2 >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i + 1])) ||
                         !std::isxdigit(static_cast<unsigned char>(t[i + 2]))))
            return false;
    }
    return true;
}

std::optional<std::string> schemeOf(const std::string& t) {
    size_t colon = t.find(':');
    if (colon == 0 || colon == std::string::npos) return std::nullopt;
    for (size_t i = 0; i < colon; ++i)
        if (!isSchemeChar(t[i], i == 0)) return std::nullopt;
    return t.substr(0, colon);
}

std::string lowerCased(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

// The host of "scheme://[user@]host[:port]/…"; absent when the authority
// cannot be split (a port that is not a number, an unclosed "[").
std::optional<std::string> hostOf(const std::string& t, size_t afterScheme) {
    if (t.compare(afterScheme, 2, "//") != 0) return std::string();
    size_t start = afterScheme + 2;
    size_t end = t.find_first_of("/?#", start);
    std::string authority = t.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (size_t at = authority.rfind('@'); at != std::string::npos) authority = authority.substr(at + 1);
    std::string host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        std::string rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return std::nullopt;
        if (!rest.empty()) port = rest.substr(1);
    } else if (size_t colon = authority.find(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (!std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    return percentDecoded(host).value_or(host);
}

// Later items win; an item without a value removes what came before it.
std::map<std::string, std::string> queryOf(const std::string& t) {
    std::map<std::string, std::string> query;
    size_t q = t.find('?');
    if (q == std::string::npos) return query;
    size_t end = t.find('#', q);
    std::string text = t.substr(q + 1, end == std::string::npos ? std::string::npos : end - q - 1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t amp = text.find('&', start);
        std::string item = text.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        size_t eq = item.find('=');
        std::string rawName = item.substr(0, eq);
        std::string name = percentDecoded(rawName).value_or(rawName);
        if (eq == std::string::npos) {
            query.erase(name);
        } else {
            std::string rawValue = item.substr(eq + 1);
            query[name] = percentDecoded(rawValue).value_or(rawValue);
        }
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return query;
}

std::string commandOf(const std::string& t) {
    std::string c = t.substr(0, t.find('?'));
    c = c.substr(0, c.find('='));
    if (size_t sep = c.find("://"); sep != std::string::npos) c = c.substr(sep + 3);
    size_t first = c.find_first_not_of('/');
    if (first == std::string::npos) return {};
    c = c.substr(first, c.find_last_not_of('/') - first + 1);
    return lowerCased(c);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

}  // namespace

std::optional<std::string> percentDecoded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += char(hi * 16 + lo);
        i += 2;
    }
    if (!kit::UrlEvents::isValidUtf8(out)) return std::nullopt;
    return out;
}

UrlTakeApart takeApartUrl(const std::string& t) {
    if (t.empty()) return UrlError{"Failed to get urlString"};
    // An address longer than anyone types is not taken apart; the report
    // carries its beginning only.
    if (t.size() > kMaxUrlLength) return UrlError{"Invalid url: " + t.substr(0, 256) + "…"};
    auto scheme = parsesAsUrl(t) ? schemeOf(t) : std::nullopt;
    if (!scheme) return UrlError{"Failed to unpack url.scheme"};
    if (lowerCased(*scheme) != "kadrix") return ForeignUrl{};
    auto host = hostOf(t, scheme->size() + 1);
    if (!host) return UrlError{"Invalid url: " + t};
    UrlCommand c;
    c.host = *host;
    c.query = queryOf(t);
    if (size_t eq = t.find('='); eq != std::string::npos) c.value = percentDecoded(t.substr(eq + 1));
    c.command = commandOf(t);
    return c;
}

}  // namespace shell
