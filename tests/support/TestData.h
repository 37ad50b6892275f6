#pragma once
// Files kept under tests/data: inputs that once broke the program, read as
// bytes so each test replays exactly what was found.
#include <gtest/gtest.h>

#include <string>

#include "kit/base/Files.h"

namespace testsupport {

inline std::string testDataPath(const std::string& name) {
    return std::string(KADRIX_TEST_DATA_DIR) + "/" + name;
}

// The bytes of tests/data/<name>; fails the test when the file is missing.
inline std::string testDataBytes(const std::string& name) {
    auto bytes = kit::files::readAll(testDataPath(name));
    EXPECT_TRUE(bytes.has_value()) << "missing test input " << name;
    return bytes.value_or(std::string());
}

}  // namespace testsupport
