#pragma once
// The leaderboard submission of the logo snake: the signed request body and the
// reading of the service's reply. The post itself goes through the network
// helpers (CtrlLogoSnake::leaderboard).
#include <optional>
#include <string>

#include "kit/Json.h"

namespace SnakeLeaderboard {

// The path of the leaderboard on the product site; also the page shown on success.
inline constexpr const char* kPath = "/leaderboard.php";

// Lower-case hex SHA-256 of name, " ", score and the salt phrase the service knows.
std::string hash(const std::string& name, int score);
// {"name", "score", "hash"}, all texts.
kit::Json payload(const std::string& name, int score);
// True when the reply is a JSON object whose "success" reads as the integer 1.
bool succeeded(const std::string& body);

}  // namespace SnakeLeaderboard
