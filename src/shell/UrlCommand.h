#pragma once
// Taking a kadrix:// URL apart for the application core's command handler:
// host, command, value and query, or the error report that stops it.
//
//   kadrix://grab/area?then=copy   host "grab", command "grab/area", value "copy", query {then: copy}
//   KADRIX://Lib/Search=red%20car  command "lib/search", value "red car"
//   kadrix://show/                 command "show", no value, empty query
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace shell {

struct UrlCommand {
    std::string host;
    std::string command;               // lower case, without slashes at either end
    std::optional<std::string> value;  // after the first "=", percent-decoded
    std::map<std::string, std::string> query;
};

// Why a text could not be handed on: the error report's message.
struct UrlError {
    std::string message;
};

// Another scheme: dropped without a report.
struct ForeignUrl {};

using UrlTakeApart = std::variant<UrlCommand, UrlError, ForeignUrl>;

// Longest URL text taken (the socket of the single instance takes no more either).
constexpr size_t kMaxUrlLength = 64 * 1024;

UrlTakeApart takeApartUrl(const std::string& text);

// Percent-decoding to UTF-8 text; absent for a broken escape or bytes that
// are not UTF-8.
std::optional<std::string> percentDecoded(const std::string& text);

}  // namespace shell
