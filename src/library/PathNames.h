#pragma once
// The last component of a path, as the library shows and matches file names.
#include <string>

namespace library {

inline std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

}  // namespace library
