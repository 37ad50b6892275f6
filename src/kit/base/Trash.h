#pragma once
// The desktop's trash (the freedesktop trash of the file's volume), where the
// file manager can put a file back from.
#include <optional>
#include <string>

namespace kit {

// Moves the file to the trash; its place in the trash, or nothing with the
// reason in `error`.
std::optional<std::string> moveToTrash(const std::string& path, std::string* error = nullptr);

}  // namespace kit
