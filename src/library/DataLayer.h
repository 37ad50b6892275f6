#pragma once
// The library database: one record of texts per screenshot, one line per
// record in "imagelib.kxdb" in the library folder. A line is the record's
// JSON sealed with AES-256-GCM under the library key, in base64; a plain JSON
// line is read as well (and written only when sealing is impossible).
//
// No line is ever lost: appends first end a torn last line, lines that
// cannot be read here (another key, damage, bad JSON) are kept and written
// back verbatim by every rewrite, and a file this store has not read whole
// (not yet, or the read failed) is never rewritten, only appended to.
// Every read and write holds the store lock.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace library {

using Record = std::map<std::string, std::string>;

// Runs `work(begin, end)` over slices of [0, count) on up to one thread per
// core, slices of at least `grain` items; returns when every slice is done.
void inParallel(size_t count, size_t grain, const std::function<void(size_t, size_t)>& work);

class DataLayer {
public:
    static constexpr const char* kFileName = "imagelib.kxdb";

    // The store for a library folder; `keyText` defaults to the program's own.
    explicit DataLayer(const std::string& folder, std::string keyText = {});

    std::string url() const;
    void setFolder(const std::string& folder);

    // The record as its stored line, "\n" included; "" when it cannot be written.
    std::string encodeRec(const Record& record) const;
    // Appends `str`, or replaces the whole file with `str` followed by the
    // lines this store could not read. False (and reported) on failure, with
    // the reason in `error` when given. Only regular files are written.
    bool write(const std::string& str, bool append, std::string* error = nullptr);
    // Replaces `records` with the file's records; a missing file changes
    // nothing. False (and reported) when the file is there but could not be read.
    bool read();
    // Whether a whole rewrite may replace the file: it is missing, or this
    // store read it whole or wrote it whole since the folder was set.
    bool knowsWholeFile() const;

    // The records of the last read, for the library model to take over.
    std::vector<Record> records;
    // For each of `records`, its line as read ("\n" included) when it was
    // sealed under this store's key, else "": a rewrite may use it again.
    std::vector<std::string> sealedLines;
    // Lines of the last read that no record came from, in file order.
    std::vector<std::string> unreadableLines() const;

private:
    mutable std::mutex lock_;
    std::string folder_;
    std::string keyText_;
    std::vector<std::string> unreadable_;
    // Why the file may hold lines this store has not read; "" once it knows them all.
    std::string notReadWhole_;
};

}  // namespace library
