#pragma once
// A folder of one test's own for the files it writes, removed with it. It
// lies in the test program's private home (KADRIX_HOME, which the test main
// makes and removes when none is given), never loose in the shared
// temporary folder, where a program run alone would leave its files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

class ScratchFolder {
public:
    ScratchFolder() {
        const char* home = std::getenv("KADRIX_HOME");
        const std::filesystem::path base =
            home && *home ? std::filesystem::path(home) : std::filesystem::temp_directory_path();
        std::string pattern = (base / "scratch-XXXXXX").string();
        if (::mkdtemp(pattern.data())) path_ = pattern;
        EXPECT_FALSE(path_.empty()) << "no scratch folder could be made in " << base;
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    // `name` inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace testsupport
