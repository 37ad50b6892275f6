#include "controls/SnakeLeaderboard.h"

#include "kit/Crypto.h"
#include "kit/Parse.h"

namespace SnakeLeaderboard {

namespace {
// Shared with the leaderboard service: a blank and three words, 20 characters.
constexpr const char* kSalt = " crimson lantern owl";
}  // namespace

std::string hash(const std::string& name, int score) {
    std::string text = name + " " + std::to_string(score) + kSalt;
    auto digest = kit::crypto::sha256(std::string_view(text));
    return kit::crypto::toHex(digest);
}

kit::Json payload(const std::string& name, int score) {
    return kit::Json{{"name", name}, {"score", std::to_string(score)}, {"hash", hash(name, score)}};
}

bool succeeded(const std::string& body) {
    auto reply = kit::json::parse(body);
    if (!reply || !reply->is_object()) return false;
    const kit::Json* value = kit::json::memberAt(*reply, "success");
    if (!value) return false;
    // The service has sent the flag both as a number and as text.
    if (auto n = kit::json::toInt(*value)) return *n == 1;
    if (auto text = kit::json::toString(*value)) return kit::parseInt64(*text) == 1;
    return false;
}

}  // namespace SnakeLeaderboard
