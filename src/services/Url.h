#pragma once
// The few things the services need to know of an address: whether it is one,
// its scheme, host and path, and whether it lies under a given root.
#include <optional>
#include <string>
#include <string_view>

namespace services {

struct Url {
    std::string text;    // as given
    std::string scheme;  // lower case
    std::string host;    // lower case, with the port when one was given
    std::string path;    // from the first "/" after the host, without query and fragment

    // An absolute address "scheme://host[...]" with no blanks or control
    // characters; absent otherwise.
    static std::optional<Url> parse(std::string_view text);

    // The last component of the path, percent-decoded; "" when the path ends in "/".
    std::string lastPathComponent() const;
    // Same scheme and host, and the path begins with the root's path.
    bool isUnder(const Url& root) const;
};

}  // namespace services
