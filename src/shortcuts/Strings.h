#pragma once
// The shortcut component's own texts, looked up by key; compiled in, so the
// recorder can never miss them.
#include <string>

namespace shortcuts {

// The text for a key; the key itself for one the table does not hold.
std::string localized(const std::string& key);

}  // namespace shortcuts
