#pragma once
// The leaderboard submission of the logo snake: the signed request body and the
// reading of the service's reply. The post itself goes through the network
// helpers (CtrlLogoSnake::leaderboard).
#include <map>
#include <string>

#include "services/Str.h"

namespace controls::SnakeLeaderboard {

// The path of the leaderboard on the product site; also the page shown on success.
inline constexpr const char* kPath = "/leaderboard.php";

// Lower-case hex SHA-256 of name, " ", score and the salt phrase the service knows.
std::string hash(const std::string& name, int score);
// {"name", "score", "hash"}, all texts.
std::map<std::string, std::string> payload(const std::string& name, int score);
// True when the reply's "success" (read through jsonPath) is the integer 1.
bool succeeded(const services::Bytes& body);

}  // namespace controls::SnakeLeaderboard
