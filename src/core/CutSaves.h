#pragma once
// Saves the end of the process cut short. A save writes its picture under a
// hidden temporary name and then gives it its name (kit::files::writeNew, or
// writeReplacing for a save over a file), in the save folder or any other;
// Kadrix ending between the two (its way out gives a save stuck on a hung
// folder 1.5 s, a crash or a power cut none) leaves the picture under the
// temporary name only. Kadrix's own record of its saves (SaveRecord.h) was
// made durable before the hidden file existed. The way out says so in the
// log, and the next start finishes each save the record names whose
// picture is whole: named as it was to be, by the folder writer's clash rule
// (a save that was to replace a file lands beside it, never over it: the old
// file stays whole), marked as a screen capture and given the library line
// its save would have made, with the facts the record kept. One cut off
// before its picture was all written is removed. Nothing the record does not
// name is touched.
#include <map>
#include <string>
#include <vector>

#include "core/SaveRecord.h"
#include "kit/base/Json.h"

namespace core {

// The facts of a screenshot's library line, as texts (numbers in base 10).
SaveFacts saveFacts(const kit::Json& metadata);

// The attribute a save's hidden file carries its facts in (under "user."),
// and its value: a JSON object of texts, no longer than a file system keeps
// beside a file's other attributes (ext4 keeps about 4 KB in all): the
// longest free texts are left out first.
extern const char* const kSaveFactsAttribute;
std::string saveFactsAttributeValue(SaveFacts facts);

// A cut save the start finished, or a named one whose line was owed: where
// it is now, and the facts of its library line (those of a file found in
// the folder when none were kept, or they were refused). Its record stays
// until lineSettled.
struct FinishedSave {
    std::string path;
    SaveFacts facts;
};
// Finishes the saves Kadrix's record names, of every Kadrix that has ended.
// Any thread but the main one: each picture is read through the decoder
// program first.
std::vector<FinishedSave> finishRecordedSaves();
// Finishes those an earlier Kadrix's way out told of in its list of cut
// saves, kept before the record was; those it cannot finish yet stay
// listed for a later start. The same threads.
std::vector<FinishedSave> finishRememberedCutSaves();

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
// The hard end tells too of each named save whose library line is not
// written yet (the next start writes it).
void logCutSaves();
// Has the hard end tell of the saves it cuts; once is enough. Any thread.
void tellCutSavesAtHardEnd();

}  // namespace core
