#pragma once
// Kadrix's own record of the saves it begins, in its data folder: one small
// file for each hidden file a save makes, in any folder, with the name it is
// to get and the facts of its library line, made durable before the hidden
// file exists. Once the file has its name the record goes, or, when a
// library line is owed, it stays until the line is written. So a start
// knows, whatever ended Kadrix before, which hidden files are Kadrix's own
// and what each was to be; it touches no other file.
//
// Each process writes under an owner name of its own and holds the lock of
// its owner file as long as it runs: a start leaves the records of a
// Kadrix still running alone, and two starts never take the same one.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Descriptor.h"
#include "kit/base/Files.h"

namespace core {

using SaveFacts = std::map<std::string, std::string>;

// Where the records are kept (made on first use).
std::string saveRecordFolder();

// Writes the record of one save's hidden files: `facts` is the text of its
// facts (saveFactsAttributeValue, or empty for none). With `lineOwed` the
// record of the named file stays until lineSettled. Any thread.
class SaveJournal final : public kit::files::NewFileJournal {
public:
    SaveJournal(std::string facts, bool lineOwed);
    ~SaveJournal() override;
    SaveJournal(const SaveJournal&) = delete;
    SaveJournal& operator=(const SaveJournal&) = delete;

    bool beginning(const std::string& temporary, const std::string& path, std::string* error) override;
    void claimed(const std::string& temporary, uint64_t device, uint64_t inode) override;
    void ended(const std::string& temporary, const std::string* named) override;

private:
    struct Begun {
        std::string file;  // its record
        std::string path;
        std::optional<std::pair<uint64_t, uint64_t>> claim;
    };
    std::string facts_;
    bool lineOwed_;
    std::mutex lock_;
    std::map<std::string, Begun> begun_;  // by hidden file, under lock_
};

// The library line of the save now named `path` is written, or none is
// owed for it: its record goes. Any thread.
void lineSettled(const std::string& path);
// The saves named whose library line is not written yet (from memory: no
// file is read, no lock held but the record's own). Any thread.
std::vector<std::string> linesOwed();

// One record of a save that a Kadrix now ended began.
struct RecordedSave {
    std::string file;                                    // the record itself
    std::string temporary;                               // the hidden file; empty once named
    std::string path;                                    // the name it was to get, or has
    std::optional<std::pair<uint64_t, uint64_t>> claim;  // its claim of the name: device, inode
    std::optional<SaveFacts> facts;                      // none when it kept none or they were refused
};

// The records of the saves of every Kadrix that has ended, each owner's
// lock held until this is gone (then an owner with no records left is
// forgotten). A record that cannot be read is said in the log and kept as
// it is.
class EndedSaves {
public:
    EndedSaves();
    ~EndedSaves();
    EndedSaves(const EndedSaves&) = delete;
    EndedSaves& operator=(const EndedSaves&) = delete;

    std::vector<RecordedSave> saves;
    // The save is named `path` now; its record stays until its line is settled.
    void named(RecordedSave& save, const std::string& path);
    void drop(const RecordedSave& save);

private:
    std::map<std::string, kit::Descriptor> owners_;
};

// The longest facts a save writes (saveFactsAttributeValue): longer are refused.
inline constexpr size_t kSaveFactsMaxBytes = 3072;
// The facts in `text`, a JSON object of texts no longer than a save writes;
// none otherwise, with why in `why`.
std::optional<SaveFacts> parseSaveFacts(const std::string& text, std::string* why = nullptr);

}  // namespace core
