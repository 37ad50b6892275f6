#pragma once
// The folder a benchmark program keeps its files in: made new for each run
// (mkdtemp under TMPDIR), removed at exit. Fixed names under /tmp would be
// shared with other runs and with whatever else happens to use them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace benchsupport {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kadrix-bench-XXXXXX").string();
        if (char* made = mkdtemp(tmpl.data())) path_ = made;
    }
    ~ScratchFolder() {
        // Only a folder this object made is removed (an empty path, where
        // mkdtemp failed, is not a folder of ours).
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// This run's folder; every benchmark file goes inside it. The program stops
// at once when it cannot be made, rather than write elsewhere.
inline const std::filesystem::path& scratchDir() {
    static ScratchFolder folder;
    if (folder.path().empty()) {
        fprintf(stderr, "benchmark: no scratch folder could be made under %s\n",
                std::filesystem::temp_directory_path().c_str());
        std::exit(1);
    }
    return folder.path();
}

}  // namespace benchsupport
