#include "core/CutSaves.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "core/Exporter.h"
#include "kit/base/Files.h"
#include "kit/base/WayOut.h"
#include "kit/image/ImageIO.h"
#include "services/Console.h"

namespace core {

const char* const kSaveFactsAttribute = "kadrix.save-facts";

namespace {

// Well inside what ext4 keeps beside a file (one block of 4 KB for all its
// attributes, the screen-capture mark among them).
constexpr size_t kSaveFactsMaxBytes = 3072;
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

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The facts a hidden file carries; none when it carries none (another file
// system, an older save), or they are damaged. The kernel keeps an
// attribute to 64 KB: that bounds the reading.
std::optional<SaveFacts> carriedFacts(const std::string& temporary) {
    const auto text = kit::files::getXattr(temporary, kSaveFactsAttribute);
    if (!text) return std::nullopt;
    const auto json = kit::json::parse(*text);
    if (!json || !json->is_object()) return std::nullopt;
    SaveFacts facts;
    for (const auto& [key, value] : json->items()) {
        if (!value.is_string()) return std::nullopt;
        facts[key] = value.get<std::string>();
    }
    // A line dated by a time that is no number would sort as taken in 1970.
    if (auto ts = facts.find("timestamp"); ts != facts.end() && !allDigits(ts->second)) return std::nullopt;
    if (facts.empty()) return std::nullopt;
    return facts;
}

// The facts of the line of a file found in the folder.
SaveFacts foundFileFacts() {
    return {{"mode", "file"}};
}

// Says the lines of the saves cut short; each once, whichever road comes first.
std::mutex g_toldLock;
std::set<std::string> g_told;  // temporary files, under g_toldLock
bool g_toldUnwritten = false;  // under g_toldLock
std::atomic<int> g_savesUnderWay{0};

void remember(std::vector<std::string> temporaries);
std::vector<std::string> remembered();

void tellCutSaves(void (*say)(const std::string&)) {
    std::lock_guard lock(g_toldLock);
    const auto cut = kit::files::newFilesUnderWay();
    std::vector<std::string> told;
    for (const auto& write : cut)
        if (g_told.insert(write.temporary).second) {
            say("kadrix: a save was cut short as Kadrix ended: " + write.path + " is left as " +
                write.temporary + ", to be finished at the next start if it is whole");
            told.push_back(write.temporary);
        }
    if (size_t(std::max(0, g_savesUnderWay.load())) > cut.size() && !g_toldUnwritten) {
        g_toldUnwritten = true;
        say("kadrix: a save was cut short as Kadrix ended, before its file was written");
    }
    // For the next start, which looks through the save folder of itself but
    // no other.
    if (told.empty()) return;
    auto all = remembered();
    all.insert(all.end(), told.begin(), told.end());
    remember(all);
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

// The hidden files of saves the way out told of, for those outside any
// folder a start looks through of itself (a Save As beside a picture opened
// from a file): remembered, a JSON list of their paths, oldest first, until
// a start has finished them.
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

void remember(std::vector<std::string> temporaries) {
    std::set<std::string> seen;
    std::erase_if(temporaries, [&](const std::string& t) { return !seen.insert(t).second; });
    if (temporaries.empty()) {
        kit::files::remove(rememberedPath());
        return;
    }
    // Past the bound, which only folders that never come back would reach,
    // the oldest go.
    std::string text = kit::json::dump(kit::Json(temporaries));
    while (text.size() > kRememberedMaxBytes && !temporaries.empty()) {
        temporaries.erase(temporaries.begin());
        text = kit::json::dump(kit::Json(temporaries));
    }
    kit::files::writeAtomic(rememberedPath(), text, 0600);
}

}  // namespace

std::vector<FinishedSave> finishCutSaves(const std::string& folder) {
    std::vector<FinishedSave> finished;
    for (const auto& left : kit::files::leftNewFiles(folder))
        if (kit::wayOutBegun() || finishLeft(left, folder, finished) == Pass::stop) break;
    return finished;
}

std::vector<FinishedSave> finishRememberedCutSaves(const std::string& saveFolder) {
    std::vector<FinishedSave> finished;
    const std::vector<std::string> told = remembered();
    if (told.empty()) return finished;
    std::set<std::string> folders;
    for (const auto& temporary : told) folders.insert(kit::files::folderOf(temporary));
    for (const auto& folder : folders) {
        if (folder == saveFolder || kit::wayOutBegun()) continue;
        for (const auto& left : kit::files::leftNewFiles(folder)) {
            // Only what the way out told of: the folder is the user's, and
            // what else is in it none of ours.
            if (std::find(told.begin(), told.end(), left.temporary) == told.end()) continue;
            if (kit::wayOutBegun() || finishLeft(left, folder, finished) == Pass::stop) break;
        }
    }
    // Those still there wait for a later start, and so do those in a
    // folder not there now (a network folder not mounted yet); and those a
    // way out told of meanwhile.
    std::lock_guard lock(g_toldLock);
    std::vector<std::string> left;
    for (const auto& temporary : remembered())
        if (std::find(told.begin(), told.end(), temporary) == told.end() ||
            (kit::files::folderOf(temporary) != saveFolder &&
             (kit::files::exists(temporary) || !kit::files::isDirectory(kit::files::folderOf(temporary)))))
            left.push_back(temporary);
    remember(left);
    return finished;
}

SaveUnderWay::SaveUnderWay() {
    ++g_savesUnderWay;
}

SaveUnderWay::~SaveUnderWay() {
    --g_savesUnderWay;
}

void logCutSaves() {
    tellCutSaves([](const std::string& line) { services::consoleLine(line); });
}

void tellCutSavesAtHardEnd() {
    static std::once_flag once;
    std::call_once(once, [] { kit::onHardEnd([] { tellCutSaves(sayNow); }); });
}

}  // namespace core
