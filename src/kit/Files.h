#pragma once
// Files and folders: atomic writes, user extended attributes, the private
// folders (config, data, temp) and bookmarks of folders.
//
// Folders: with KADRIX_HOME set, config, data and temp are its sub-folders
// "config", "data" and "tmp". Otherwise config is $XDG_CONFIG_HOME/kadrix
// (~/.config/kadrix), data is $XDG_DATA_HOME/kadrix (~/.local/share/kadrix)
// and temp is $XDG_RUNTIME_DIR/kadrix, else /tmp/kadrix-<uid>. Each is made
// on first use with mode 0700; temp is refused when another user owns it or
// it is a symbolic link, and a fresh private folder is made instead.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kit::files {

using Bytes = std::vector<uint8_t>;

std::string configDir();
std::string dataDir();
std::string tempDir();
// A new unique file name in tempDir() (not created): prefix + random + suffix.
std::string uniqueTempPath(std::string_view prefix, std::string_view suffix);

// Writes through a temporary file in the same folder, fsync, then rename, so
// readers see either the old or the whole new content. The file gets `mode`.
bool writeAtomic(const std::string& path, std::string_view content, unsigned mode = 0644);
// The whole file; absent when it cannot be read or is larger than maxBytes.
std::optional<std::string> readAll(const std::string& path, size_t maxBytes = size_t(1) << 30);

bool exists(const std::string& path);
bool isDirectory(const std::string& path);
bool makeDirs(const std::string& path, unsigned mode = 0700);
bool remove(const std::string& path);  // a file or a whole folder; true when gone
// Rename; across file systems (EXDEV) copy then remove the source.
bool move(const std::string& from, const std::string& to);
bool copyFile(const std::string& from, const std::string& to);

// Extended attributes in the "user." name space; `name` is given without the
// prefix ("kadrix.capture-rect"). File systems without user attributes
// (tmpfs on older kernels, some network mounts) make set return false and
// get return nothing; neither is an error worth more.
bool setXattr(const std::string& path, std::string_view name, std::string_view value);
std::optional<std::string> getXattr(const std::string& path, std::string_view name);
bool removeXattr(const std::string& path, std::string_view name);

// A bookmark of a folder: its absolute path and inode. Resolving tells
// whether the folder still exists with the same inode (not stale).
std::optional<Bytes> makeBookmark(const std::string& path);
struct ResolvedBookmark {
    std::string path;
    bool stale = false;
};
std::optional<ResolvedBookmark> resolveBookmark(const Bytes& bookmark);

}  // namespace kit::files
