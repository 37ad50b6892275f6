#include "core/CutSaves.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "core/Exporter.h"
#include "core/SaveRecord.h"
#include "kit/base/Files.h"
#include "kit/base/WayOut.h"
#include "kit/image/ImageIO.h"
#include "services/Console.h"

namespace core {

const char* const kSaveFactsAttribute = "kadrix.save-facts";

namespace {

// Left out, in this order, while the facts are too long: free texts of any
// length, which the line only stores.
const char* const kLongFacts[] = {"labels", "window", "app"};

// A write younger than this may still go on where the file system keeps no
// locks to say otherwise; removeUnfinishedWrites waits as long.
constexpr double kUnfinishedAgeSeconds = 60;

std::string fileNameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool pictureName(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return name.ends_with(".png") || name.ends_with(".jpeg") || name.ends_with(".jpg");
}

// A picture the folder writer makes, left by a save of ours: where the file
// system keeps attributes, the save put the mark on it before anything else.
bool cutSaveOfOurs(const kit::files::LeftNewFile& left) {
    if (!pictureName(fileNameOf(left.path))) return false;
    return kit::files::getXattr(left.temporary, kScreenCaptureAttribute) ||
           !kit::files::keepsXattrs(left.temporary);
}

// The whole picture under the name it was to have: over our own empty claim
// of it, else by the clash rule, never replacing a file.
WriteResult finish(const kit::files::LeftNewFile& left) {
    if (left.emptyClaim) {
        if (kit::files::fillClaim(left)) return {left.path, {}};
        // It holds nothing, and should the picture find no name now, an
        // empty file is all its name would show.
        kit::files::removeClaim(left);
    }
    const std::string name = fileNameOf(left.path);
    const size_t dot = name.rfind('.');
    const std::string folder = left.path.substr(0, left.path.size() - name.size());
    return putUnderFreeName(folder, name.substr(0, dot), name.substr(dot),
                            [&](const std::string& path, std::string* error) {
                                return kit::files::nameNew(left.temporary, path, error);
                            });
}

// The facts a hidden file carries; none when it carries none (another file
// system, an older save), or they are not as a save writes them (then the
// log says so).
std::optional<SaveFacts> carriedFacts(const std::string& temporary) {
    const auto text = kit::files::getXattr(temporary, kSaveFactsAttribute);
    if (!text) return std::nullopt;
    std::string why;
    auto facts = parseSaveFacts(*text, &why);
    if (!facts)
        services::consoleLine("kadrix: the facts kept with " + temporary + " are left out, " + why +
                              ": it gets the line of a file found");
    return facts;
}

// The facts of the line of a file found in the folder.
SaveFacts foundFileFacts() {
    return {{"mode", "file"}};
}

// Says the lines of the saves cut short; each once, whichever road comes
// first. The lines are gathered under the lock and said after it: the log
// may be slow to take them.
std::mutex g_toldLock;
std::set<std::string> g_told;  // temporary files and owed lines, under g_toldLock
bool g_toldUnwritten = false;  // under g_toldLock
std::atomic<int> g_savesUnderWay{0};

void tellCutSaves(void (*say)(const std::string&), bool linesToo) {
    const auto cut = kit::files::newFilesUnderWay();
    const auto owed = linesToo ? linesOwed() : std::vector<std::string>();
    std::vector<std::string> lines;
    {
        std::lock_guard lock(g_toldLock);
        for (const auto& write : cut)
            if (g_told.insert(write.temporary).second)
                lines.push_back("kadrix: a save was cut short as Kadrix ended: " + write.path +
                                " is left as " + write.temporary +
                                ", to be finished at the next start if it is whole");
        if (size_t(std::max(0, g_savesUnderWay.load())) > cut.size() && !g_toldUnwritten) {
            g_toldUnwritten = true;
            lines.push_back("kadrix: a save was cut short as Kadrix ended, before its file was written");
        }
        for (const auto& path : owed)
            if (g_told.insert(path).second)
                lines.push_back("kadrix: the library line of " + path +
                                " is not written as Kadrix ended: the next start writes it");
    }
    for (const auto& line : lines) say(line);
}

// From the hard end's thread: straight to the log, past the standard
// output's lock, which the main thread may hold.
void sayNow(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
}

}  // namespace

SaveFacts saveFacts(const kit::Json& metadata) {
    SaveFacts facts;
    if (!metadata.is_object()) return facts;
    for (const auto& [key, value] : metadata.items()) {
        if (value.is_string())
            facts[key] = value.get<std::string>();
        else if (value.is_number_integer())
            facts[key] = std::to_string(value.get<int64_t>());
        else if (value.is_number())
            facts[key] = kit::json::doubleText(value.get<double>());
    }
    return facts;
}

std::string saveFactsAttributeValue(SaveFacts facts) {
    // Where the save went, which the finished file does not keep.
    facts.erase("autoName");
    facts.erase("autoFolder");
    std::string text = kit::json::dump(kit::Json(facts));
    for (const char* key : kLongFacts) {
        if (text.size() <= kSaveFactsMaxBytes) break;
        facts.erase(key);
        text = kit::json::dump(kit::Json(facts));
    }
    // Only short facts are left past that: the mode, the time, the scale.
    return text.size() <= kSaveFactsMaxBytes ? text : std::string();
}

namespace {

enum class Pass { goOn, stop };

// Finishes one hidden file a save left in `folder`, if it is whole and the
// time has come; into `finished` when it has its name.
Pass finishLeft(const kit::files::LeftNewFile& left, const std::string& folder,
                std::vector<FinishedSave>& finished) {
    const std::string shown = fileNameOf(left.temporary);
    // Ended as the name was given: only the temporary name is left.
    if (left.named) {
        kit::files::removeLeft(left);
        return Pass::goOn;
    }
    const bool old = left.ageSeconds >= kUnfinishedAgeSeconds;
    if (!left.unlocked && !old) return Pass::goOn;
    // Another program's, or a kind of file this does not finish: only the
    // temporary file goes, as any unfinished write.
    if (!cutSaveOfOurs(left)) {
        if (old) kit::files::remove(left.temporary);
        return Pass::goOn;
    }
    std::string error;
    if (kit::ImageIO::readOwn(left.temporary, 1.0, &error).isNull()) {
        if (kit::ImageIO::wasCancelled(error)) return Pass::stop;
        if (kit::ImageIO::refusedForItsBytes(error)) {
            if (old) kit::files::removeLeft(left);
        } else {
            // Not the picture's fault: it stays for a later start.
            services::consoleLine("kadrix: a save cut short is kept as " + shown + " in " + folder +
                                  ": it could not be read (" + error + ")");
        }
        return Pass::goOn;
    }
    const auto facts = carriedFacts(left.temporary);
    const WriteResult r = finish(left);
    if (!r) {
        services::consoleLine("kadrix: a save cut short could not be given its name " + left.path + " (" +
                              r.error + "): it stays as " + shown);
        return Pass::goOn;
    }
    Exporter::setXattr(*r.path);
    // Its line holds them now; the file goes on without them, as any save's.
    kit::files::removeXattr(*r.path, kSaveFactsAttribute);
    services::consoleLine("kadrix: a save cut short as Kadrix ended is finished: " + *r.path +
                          (facts ? "" : " (how it was taken was not kept)"));
    finished.push_back({*r.path, facts ? *facts : foundFileFacts()});
    return Pass::goOn;
}

// The hidden files of saves an earlier Kadrix's way out told of, outside
// the save folder, before it kept a record of every save: a JSON list of
// their paths, oldest first, until a start has finished them.
std::string rememberedPath() {
    return kit::files::dataDir() + "/cut-saves.json";
}
constexpr size_t kRememberedMaxBytes = 64 * 1024;

std::vector<std::string> remembered() {
    std::vector<std::string> out;
    const auto text = kit::files::readAll(rememberedPath(), kRememberedMaxBytes);
    const auto json = text ? kit::json::parse(*text) : std::nullopt;
    if (!json || !json->is_array()) return out;
    for (const auto& item : *json)
        if (item.is_string() && item.get<std::string>().starts_with("/"))
            out.push_back(item.get<std::string>());
    return out;
}

// Ended before it had its name: only the hidden file was left.
bool missing(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// The record's save as a left file: its claim of the name only when the
// record knows it and the name still holds it, empty.
kit::files::LeftNewFile leftOf(const RecordedSave& save) {
    kit::files::LeftNewFile left;
    left.temporary = save.temporary;
    left.path = save.path;
    struct stat at {};
    left.emptyClaim = save.claim && ::lstat(save.path.c_str(), &at) == 0 && S_ISREG(at.st_mode) &&
                      at.st_size == 0 && uint64_t(at.st_dev) == save.claim->first &&
                      uint64_t(at.st_ino) == save.claim->second;
    return left;
}

// Finishes one save the record names, as finishLeft does a left file; its
// record then waits for the line.
Pass finishRecorded(EndedSaves& ended, RecordedSave& save, std::vector<FinishedSave>& finished) {
    const SaveFacts facts = save.facts ? *save.facts : foundFileFacts();
    if (save.temporary.empty()) {
        // Named, and its line owed.
        if (kit::files::exists(save.path)) {
            finished.push_back({save.path, facts});
            ended.named(save, save.path);
        } else {
            ended.drop(save);
        }
        return Pass::goOn;
    }
    // A folder not there now (a network folder not mounted yet) waits.
    if (!kit::files::isDirectory(kit::files::folderOf(save.temporary))) return Pass::goOn;
    kit::files::LeftNewFile left = leftOf(save);
    if (missing(save.temporary)) {
        kit::files::removeClaim(left);
        ended.drop(save);
        return Pass::goOn;
    }
    left.lock =
        kit::Descriptor(::open(save.temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (left.lock.valid() && ::flock(left.lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Pass::goOn;  // someone writes it still
    struct stat st {
    }, at{};
    const bool named = ::lstat(save.path.c_str(), &at) == 0;
    if (!left.lock.valid() || ::fstat(left.lock.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != geteuid() ||
        (named && at.st_dev == st.st_dev && at.st_ino == st.st_ino ? st.st_nlink != 2 : st.st_nlink != 1)) {
        services::consoleLine("kadrix: " + save.temporary +
                              " is not the file a save of Kadrix left there: it is left alone");
        ended.drop(save);
        return Pass::goOn;
    }
    if (named && at.st_dev == st.st_dev && at.st_ino == st.st_ino) {
        // Ended as the name was given: only the hidden name is left.
        ::unlink(save.temporary.c_str());
        finished.push_back({save.path, facts});
        ended.named(save, save.path);
        return Pass::goOn;
    }
    std::string error;
    if (kit::ImageIO::read(save.temporary, 1.0, &error).isNull()) {
        if (kit::ImageIO::wasCancelled(error)) return Pass::stop;
        if (!kit::ImageIO::refusedForItsBytes(error)) {
            services::consoleLine("kadrix: a save cut short is kept as " + save.temporary +
                                  ": it could not be read (" + error + ")");
            return Pass::goOn;
        }
        services::consoleLine("kadrix: a save cut off before its picture was all written is removed: " +
                              save.temporary);
        kit::files::removeLeft(left);
        ended.drop(save);
        return Pass::goOn;
    }
    const WriteResult r = finish(left);
    if (!r) {
        services::consoleLine("kadrix: a save cut short could not be given its name " + save.path + " (" +
                              r.error + "): it stays as " + fileNameOf(save.temporary));
        return Pass::goOn;
    }
    Exporter::setXattr(*r.path);
    kit::files::removeXattr(*r.path, kSaveFactsAttribute);
    services::consoleLine("kadrix: a save cut short as Kadrix ended is finished: " + *r.path +
                          (save.facts ? "" : " (how it was taken was not kept)"));
    finished.push_back({*r.path, facts});
    ended.named(save, *r.path);
    return Pass::goOn;
}

}  // namespace

std::vector<FinishedSave> finishRecordedSaves() {
    std::vector<FinishedSave> finished;
    EndedSaves ended;
    for (auto& save : ended.saves)
        if (kit::wayOutBegun() || finishRecorded(ended, save, finished) == Pass::stop) break;
    return finished;
}

std::vector<FinishedSave> finishRememberedCutSaves() {
    std::vector<FinishedSave> finished;
    const std::vector<std::string> told = remembered();
    if (told.empty()) return finished;
    std::set<std::string> folders;
    for (const auto& temporary : told) folders.insert(kit::files::folderOf(temporary));
    for (const auto& folder : folders) {
        if (kit::wayOutBegun()) break;
        for (const auto& left : kit::files::leftNewFiles(folder)) {
            // Only what the way out told of: the folder is the user's, and
            // what else is in it none of ours.
            if (std::find(told.begin(), told.end(), left.temporary) == told.end()) continue;
            if (kit::wayOutBegun() || finishLeft(left, folder, finished) == Pass::stop) break;
        }
    }
    // Those still there wait for a later start, and so do those in a
    // folder not there now (a network folder not mounted yet). Nothing adds
    // to the list any more: no lock is needed, and none is held while a
    // folder is looked at.
    std::vector<std::string> left;
    for (const auto& temporary : told)
        if (kit::files::exists(temporary) || !kit::files::isDirectory(kit::files::folderOf(temporary)))
            left.push_back(temporary);
    if (left.empty()) {
        kit::files::remove(rememberedPath());
    } else if (left.size() != told.size()) {
        kit::files::writeAtomic(rememberedPath(), kit::json::dump(kit::Json(left)), 0600);
    }
    return finished;
}

SaveUnderWay::SaveUnderWay() {
    ++g_savesUnderWay;
}

SaveUnderWay::~SaveUnderWay() {
    --g_savesUnderWay;
}

void logCutSaves() {
    // The way out writes the lines still owed itself.
    tellCutSaves([](const std::string& line) { services::consoleLine(line); }, false);
}

void tellCutSavesAtHardEnd() {
    static std::once_flag once;
    std::call_once(once, [] { kit::onHardEnd([] { tellCutSaves(sayNow, true); }); });
}

}  // namespace core
