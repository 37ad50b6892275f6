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
// On failure `error`, when given, receives the system's description. Caches
// that can be rebuilt pass durable = false and skip the flushes to disk.
bool writeAtomic(const std::string& path, std::string_view content, unsigned mode = 0644,
                 std::string* error = nullptr, bool durable = true);
// What readAll's `error` says when the file is no regular file or too large
// (otherwise the system's description).
inline constexpr const char* kNotRegularFile = "it is not a regular file";
inline constexpr const char* kTooLarge = "it is too large";
// The whole of a regular file; absent when it cannot be read, is larger than
// maxBytes, or is no regular file (a FIFO or device would block or never
// end): opened without blocking and checked on the descriptor, so a name
// swapped between a check and the open cannot slip one in. On failure
// `error`, when given, says why in a few words.
std::optional<std::string> readAll(const std::string& path, size_t maxBytes = size_t(1) << 30,
                                   std::string* error = nullptr);
// The descriptor of a regular file opened for reading (close it), or -1 with
// `error` as readAll gives it; the same checks as readAll.
int openRegular(const std::string& path, std::string* error = nullptr, size_t maxBytes = SIZE_MAX);
// Whether `path` names a regular file (links followed); false for FIFOs,
// devices, sockets, folders and missing names.
bool isRegularFile(const std::string& path);

bool exists(const std::string& path);
// An absolute program path as the quoted first word of a desktop entry's Exec
// line ("%" doubled); none for a relative path or one holding a quote,
// backquote, dollar, backslash or line break, which such lines give meanings.
std::optional<std::string> desktopExecProgram(const std::string& path);
bool isDirectory(const std::string& path);
bool makeDirs(const std::string& path, unsigned mode = 0700, std::string* error = nullptr);
// Creates an empty file at `path` only when nothing is there yet, in one
// step, so two writers never pick the same free name.
bool claimPath(const std::string& path);
// Puts a new file at `path` only when nothing is there yet, whole: the content
// is written and flushed under a temporary name first and then linked to its
// name, so the name never shows an empty or partial file, even when the
// process dies while writing. Where the file system has no links the name is
// claimed empty first and then written over.
enum class NewFile { written, exists, failed };
NewFile writeNew(const std::string& path, std::string_view content, unsigned mode = 0644,
                 std::string* error = nullptr);

// The hidden files writeNew and writeAtomic leave in `folder` when the
// process dies before the final name is given: regular files of this user
// named ".<name>.new-" or ".<name>.tmp-" and eight letters or digits, directly
// in `folder`, untouched for a minute (a write still going on is younger), are
// removed; nothing else is touched. How many went.
size_t removeUnfinishedWrites(const std::string& folder);

// The entries of a folder (names, without "." and ".."); absent when it
// cannot be listed, with the system's reason in `error` when given.
std::optional<std::vector<std::string>> listFolder(const std::string& path, std::string* error = nullptr);
// What the clean-up of a private folder needs to know of an entry (not
// following links). Times in seconds since 1970; `created` is absent where
// the file system keeps no birth time.
struct FileStamp {
    bool regularFile = false;
    bool ownedByUser = false;
    std::optional<double> created;
    double modified = 0;
};
std::optional<FileStamp> fileStamp(const std::string& path);
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
