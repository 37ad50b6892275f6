#include "services/Url.h"

#include <algorithm>
#include <cctype>

namespace services {

namespace {
std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecode(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out.push_back(char(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}
}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F) return std::nullopt;
    size_t colon = text.find("://");
    if (colon == std::string_view::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return std::nullopt;
    for (size_t i = 0; i < colon; ++i) {
        char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return std::nullopt;
    }
    Url url;
    url.text = std::string(text);
    url.scheme = lower(std::string(text.substr(0, colon)));
    std::string_view rest = text.substr(colon + 3);
    size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    // Credentials in the address are not ours to send anywhere.
    if (authority.empty() || authority.find('@') != std::string_view::npos) return std::nullopt;
    url.host = lower(std::string(authority));
    if (end != std::string_view::npos && rest[end] == '/') {
        std::string_view path = rest.substr(end);
        url.path = std::string(path.substr(0, path.find_first_of("?#")));
    }
    return url;
}

std::string Url::lastPathComponent() const {
    size_t slash = path.rfind('/');
    return percentDecode(slash == std::string::npos ? path : std::string_view(path).substr(slash + 1));
}

bool Url::isUnder(const Url& root) const {
    return scheme == root.scheme && host == root.host && path.compare(0, root.path.size(), root.path) == 0;
}

}  // namespace services
