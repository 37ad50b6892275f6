#pragma once
// Letter case by Unicode rules, the same in every locale ("ö" → "Ö").
#include <string>
#include <string_view>

namespace kit {

std::string upperCase(std::string_view text);
std::string lowerCase(std::string_view text);
// Case folded for comparisons that ignore case ("Straße" and "STRASSE" meet).
std::string caseFolded(std::string_view text);

}  // namespace kit
