#include "controls/SnakeLeaderboard.h"

#include "kit/base/Crypto.h"
#include "kit/base/Parse.h"
#include "services/Networker.h"

namespace controls::SnakeLeaderboard {

namespace {
// Shared with the leaderboard service: a blank and three words, 20 characters.
constexpr const char* kSalt = " crimson lantern owl";
}  // namespace

std::string hash(const std::string& name, int score) {
    std::string text = name + " " + std::to_string(score) + kSalt;
    auto digest = kit::crypto::sha256(std::string_view(text));
    return kit::crypto::toHex(digest);
}

std::map<std::string, std::string> payload(const std::string& name, int score) {
    return {{"name", name}, {"score", std::to_string(score)}, {"hash", hash(name, score)}};
}

bool succeeded(const services::Bytes& body) {
    auto flag = services::jsonPath(body, "success");
    return flag && kit::parseInt64(*flag) == 1;
}

}  // namespace controls::SnakeLeaderboard
