#pragma once
// The desktop's shared thumbnail cache, as file managers and image viewers
// keep it: under <root> (normally $XDG_CACHE_HOME/thumbnails) one folder per
// size — "normal" 128, "large" 256, "x-large" 512, "xx-large" 1024 pixels on
// the longer side — holding PNG files named by the MD5 of the original's
// file URI. Each thumbnail carries the URI and the original's modification
// time (whole seconds) in its "Thumb::URI" and "Thumb::MTime" text chunks;
// one whose time differs from the file's is stale and made again. Files the
// decoder could not read get a small marker under fail/<program-version>/,
// so they are not tried again until they change. Folders are 0700, files
// 0600, written whole through a temporary file and a rename.
//
// Thread-safe: every call works on its own files and may run on any thread.
#include <cstdint>
#include <optional>
#include <string>

#include "kit/base/Image.h"

namespace kit::thumbnails {

enum class Flavor { Normal, Large, XLarge, XXLarge };

// 128, 256, 512, 1024.
int pixelsOf(Flavor f);
// "normal", "large", "x-large", "xx-large".
const char* folderOf(Flavor f);
// The smallest size that holds `pixelSize` on the longer side; the largest
// for anything beyond it.
Flavor flavorFor(int pixelSize);

// $XDG_CACHE_HOME/thumbnails (~/.cache/thumbnails), or the private cache
// folder's "thumbnails" when KADRIX_HOME keeps everything together.
std::string defaultRoot();
// The folder name for failures of this program: "kadrix-<version>".
std::string failFolderName();

// "file://" and the absolute, normalised path with every byte outside the
// unreserved and path characters percent-encoded (upper-case hex), as the
// other programs sharing the cache write it.
std::string fileUri(const std::string& path);
// The MD5 of the URI in lower-case hex, with ".png".
std::string fileNameFor(const std::string& uri);
std::string pathFor(const std::string& root, Flavor f, const std::string& path);
std::string failPathFor(const std::string& root, const std::string& path);

// The original's modification time in whole seconds; absent when the file
// is not there.
std::optional<int64_t> modificationTime(const std::string& path);

// What the cache holds for a file at one size.
struct Lookup {
    enum class State { Fresh, Missing, Stale };
    State state = State::Missing;
    Image image;  // set when Fresh
};
// A thumbnail counts as fresh only when its URI is the file's and its time
// is `mtime`; an unreadable thumbnail counts as missing.
Lookup read(const std::string& root, Flavor f, const std::string& path, int64_t mtime);

// Writes `thumb` (already at most the size's pixels) for the file with its
// URI, time, size and dimensions. False when the folder or file cannot be
// written; the cache is then simply not filled.
bool write(const std::string& root, Flavor f, const std::string& path, int64_t mtime, const Image& thumb,
           int originalWidth, int originalHeight);

// The failure marker: written when the file cannot be decoded, honoured
// while its time matches the file's.
bool writeFailure(const std::string& root, const std::string& path, int64_t mtime);
bool hasFailure(const std::string& root, const std::string& path, int64_t mtime);

// Drops every size's thumbnail and the failure marker of a file (it was
// replaced or removed).
void removeAll(const std::string& root, const std::string& path);

// Decodes an image file to at most `maxPixels` on the longer side (never
// enlarged), held to the decoder's 256-megapixel limit. A null image and
// `error` (when given) for a file that is not a readable image. `width` and
// `height`, when given, receive the original's pixel size.
Image decodeScaled(const std::string& path, int maxPixels, std::string* error = nullptr, int* width = nullptr,
                   int* height = nullptr);

// `image` scaled down so its longer side is at most maxPixels (a copy of
// the same pixels when it already fits).
Image fitWithin(const Image& image, int maxPixels);

}  // namespace kit::thumbnails
