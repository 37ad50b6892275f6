#pragma once
// Saves the end of the process cut short. A save writes its picture under a
// hidden temporary name and then gives it its name (kit::files::writeNew, or
// writeReplacing for a save over a file); Kadrix ending between the two (its
// way out gives a save stuck on a hung folder 1.5 s, a crash or a power cut
// none) leaves the picture under the temporary name only, with the facts of
// its library line on it. The way out says so in the log, and the next start
// finishes each such picture that is whole: named as it was to be, by the
// folder writer's clash rule (a save that was to replace a file lands beside
// it, never over it: the old file stays whole), marked as a screen capture
// and given the library line its save would have made. One cut off before
// its end goes once it is a minute old, as any unfinished write of ours.
#include <map>
#include <string>
#include <vector>

#include "kit/base/Json.h"

namespace core {

// The facts of a screenshot's library line, as texts (numbers in base 10).
using SaveFacts = std::map<std::string, std::string>;
SaveFacts saveFacts(const kit::Json& metadata);

// The attribute a save's hidden file carries its facts in (under "user."),
// and its value: a JSON object of texts, no longer than a file system keeps
// beside a file's other attributes (ext4 keeps about 4 KB in all): the
// longest free texts are left out first.
extern const char* const kSaveFactsAttribute;
std::string saveFactsAttributeValue(SaveFacts facts);

// A cut save the start finished: where it is now, and the facts of its
// library line (those of a file found in the folder when the hidden file
// kept none, or they were damaged).
struct FinishedSave {
    std::string path;
    SaveFacts facts;
};
// Finishes the cut saves in `folder`. Any thread but the main one: each
// picture is read through the decoder program first.
std::vector<FinishedSave> finishCutSaves(const std::string& folder);
// Finishes those the way out told of in other folders than `saveFolder`
// (which finishCutSaves looks through whole); those it cannot finish yet
// are remembered for a later start. The same threads.
std::vector<FinishedSave> finishRememberedCutSaves(const std::string& saveFolder);

// Held by a save from when it is asked for until its file is written or it
// has failed, so the end can tell of a save it cuts before its file began.
class SaveUnderWay {
public:
    SaveUnderWay();
    ~SaveUnderWay();
    SaveUnderWay(const SaveUnderWay&) = delete;
    SaveUnderWay& operator=(const SaveUnderWay&) = delete;
};

// The way out: one line in the log for each save it gives up on, with the
// name it was to have and its temporary file. Each is told once, by the
// first to come: the main thread, once its wait for the saves has ended, or
// the hard end, when the main thread has not come to it (held, or slow).
void logCutSaves();
// Has the hard end tell of the saves it cuts; once is enough. Any thread.
void tellCutSavesAtHardEnd();

}  // namespace core
