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
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Descriptor.h"

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
// is written, flushed and given `attributes` (user attributes, where the file
// system keeps them; one that does not fit is left off) under a hidden
// temporary name, "." + the name + ".new-" + eight letters or digits, locked
// (flock) as long as it is written, and then given its name (nameNew), so the
// name never shows an empty or partial file, even when the process dies
// while writing: at worst the temporary file is left, whole or not, for
// leftNewFiles to find.
// A hidden file whose lock another process took in the moment between its
// making and its locking is left to that process: the write starts again
// under a new hidden name.
enum class NewFile { written, exists, failed };
struct Attribute {
    std::string_view name;  // without "user."
    std::string_view value;
};
// The writer's own record of its hidden files, told of each step before the
// step is taken, so that whatever ends the process the record knows which
// hidden files are its own. Any thread.
class NewFileJournal {
public:
    virtual ~NewFileJournal() = default;
    // `temporary` is about to be made, to be named `path`; false (with
    // `error`) and it is not made.
    virtual bool beginning(const std::string& temporary, const std::string& path, std::string* error) = 0;
    // The name was claimed as the empty file (device, inode) the content is
    // about to be moved over.
    virtual void claimed(const std::string& temporary, uint64_t device, uint64_t inode) = 0;
    // `temporary` is gone: given the name `named`, or given up (null).
    virtual void ended(const std::string& temporary, const std::string* named) = 0;
};
NewFile writeNew(const std::string& path, std::string_view content, unsigned mode = 0644,
                 std::string* error = nullptr, std::span<const Attribute> attributes = {},
                 NewFileJournal* journal = nullptr);
// The same written over the file at `path`, if any: the hidden file is given
// the name by a rename that replaces it, so readers see the old file or the
// whole new one. A process that dies before the rename leaves the hidden
// file as writeNew leaves one, beside the old file, which keeps its name.
// False when it could not be written or named, with `error`; nothing is left.
bool writeReplacing(const std::string& path, std::string_view content, unsigned mode = 0644,
                    std::string* error = nullptr, std::span<const Attribute> attributes = {},
                    NewFileJournal* journal = nullptr);
// Gives the finished file `temporary` the name `path` when nothing is there
// yet, never replacing a file: by a link (then the temporary name goes);
// where the file system has no links, by a rename that replaces nothing;
// where it has neither (some network and FUSE folders), by claiming the name
// as an empty file and renaming the content over the claim. `temporary`
// stays where it was on `exists` and `failed`.
NewFile nameNew(const std::string& temporary, const std::string& path, std::string* error = nullptr,
                NewFileJournal* journal = nullptr);

// The new files writeNew and writeReplacing are writing now, each with the
// name it is to get. Any thread.
struct NewFileUnderWay {
    std::string temporary;
    std::string path;
};
std::vector<NewFileUnderWay> newFilesUnderWay();

// A new file writeNew left in a folder when its process ended before the
// file had its name. Holds the file's lock, so no other process takes it
// meanwhile.
struct LeftNewFile {
    std::string temporary;    // the hidden file
    std::string path;         // the name it was to get
    bool named = false;       // it has that name already: only its temporary name is left
    bool emptyClaim = false;  // the name holds our empty claim (ended between claim and rename)
    bool unlocked = false;    // no writer holds it (false: the file system keeps no locks)
    double ageSeconds = 0;    // since it last changed
    Descriptor lock;
};
// Those in `folder`: regular files of this user, directly in it, named as
// writeNew names them, that no living writer holds.
std::vector<LeftNewFile> leftNewFiles(const std::string& folder);
// The folder a path names a file in ("." for a bare name, "/" at the root).
std::string folderOf(const std::string& path);
// Puts the left file over its empty claim, its own name; false when the
// claim is no longer there and empty.
bool fillClaim(const LeftNewFile& left, std::string* error = nullptr);
// Removes the left file's empty claim, while it is there and empty.
void removeClaim(const LeftNewFile& left);
// Removes the left file, and its empty claim.
void removeLeft(const LeftNewFile& left);

// The hidden files writeNew and writeAtomic leave in `folder` when the
// process dies before the final name is given: regular files of this user
// named ".<name>.new-" or ".<name>.tmp-" and eight letters or digits, directly
// in `folder`, untouched for a minute (a write still going on is younger), are
// removed; nothing else is touched. With `newFilesToo` false only the
// ".tmp-" files go (a folder whose new files leftNewFiles looks after).
// How many went.
size_t removeUnfinishedWrites(const std::string& folder, bool newFilesToo = true);

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
// Whether the file system of `path` keeps user attributes.
bool keepsXattrs(const std::string& path);

// A bookmark of a folder: its absolute path and inode. Resolving tells
// whether the folder still exists with the same inode (not stale).
std::optional<Bytes> makeBookmark(const std::string& path);
struct ResolvedBookmark {
    std::string path;
    bool stale = false;
};
std::optional<ResolvedBookmark> resolveBookmark(const Bytes& bookmark);

}  // namespace kit::files
