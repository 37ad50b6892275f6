#include "core/SaveRecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <set>

#include "kit/base/Json.h"
#include "services/Console.h"

namespace core {

namespace {

namespace fs = std::filesystem;

constexpr const char* kRecordEnding = ".save";
constexpr const char* kOwnerEnding = ".owner";
// Two paths and the facts: far less, as a save writes them.
constexpr size_t kRecordMaxBytes = 16 * 1024;

std::string token() {
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    static const char* alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::lock_guard lock(m);
    std::string s;
    for (int i = 0; i < 12; ++i) s += alphabet[rng() % 36];
    return s;
}

std::string ownerFile(const std::string& owner) {
    return saveRecordFolder() + "/" + owner + kOwnerEnding;
}

// This process's owner name, its owner file locked from first use until the
// process ends (the lock goes with it, however it ends).
const std::string& thisOwner() {
    static const std::string owner = [] {
        std::string name = std::to_string(::getpid()) + "-" + token();
        const int fd = ::open(ownerFile(name).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
        // Never closed: the descriptor is the lock.
        return name;
    }();
    return owner;
}

std::string absolute(const std::string& path) {
    std::error_code ec;
    const fs::path abs = fs::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

kit::Json factsJson(const std::string& facts) {
    auto json = facts.empty() ? std::nullopt : kit::json::parse(facts);
    return json && json->is_object() ? *json : kit::Json();
}

bool writeRecord(const std::string& file, const kit::Json& record, std::string* error) {
    return kit::files::writeAtomic(file, kit::json::dump(record), 0600, error);
}

// Named saves whose line is owed: named path → its record.
std::mutex g_owedLock;
std::map<std::string, std::string> g_owed;  // under g_owedLock

void owe(const std::string& path, const std::string& file) {
    std::lock_guard lock(g_owedLock);
    g_owed[path] = file;
}

void forget(const std::string& file) {
    {
        std::lock_guard lock(g_owedLock);
        std::erase_if(g_owed, [&](const auto& owed) { return owed.second == file; });
    }
    ::unlink(file.c_str());
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The owner a record's file name gives: all before its last "-".
std::string ownerOf(const std::string& name) {
    const size_t dash = name.rfind('-');
    return dash == std::string::npos ? std::string() : name.substr(0, dash);
}

}  // namespace

std::string saveRecordFolder() {
    const std::string folder = kit::files::dataDir() + "/saves";
    kit::files::makeDirs(folder, 0700);
    return folder;
}

std::optional<SaveFacts> parseSaveFacts(const std::string& text, std::string* why) {
    auto refuse = [&](const std::string& reason) -> std::optional<SaveFacts> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (text.size() > kSaveFactsMaxBytes)
        return refuse("they are longer (" + std::to_string(text.size()) + " bytes) than a save writes");
    const auto json = kit::json::parse(text);
    if (!json || !json->is_object()) return refuse("they are no JSON object");
    SaveFacts facts;
    for (const auto& [key, value] : json->items()) {
        if (!value.is_string()) return refuse("\"" + key + "\" is no text");
        facts[key] = value.get<std::string>();
    }
    // A line dated by a time that is no number would sort as taken in 1970.
    if (auto ts = facts.find("timestamp"); ts != facts.end() && !allDigits(ts->second))
        return refuse("their time is no number");
    if (facts.empty()) return refuse("they are empty");
    return facts;
}

SaveJournal::SaveJournal(std::string facts, bool lineOwed) : facts_(std::move(facts)), lineOwed_(lineOwed) {}

SaveJournal::~SaveJournal() = default;

bool SaveJournal::beginning(const std::string& temporary, const std::string& path, std::string* error) {
    const std::string owner = thisOwner();
    Begun begun{saveRecordFolder() + "/" + owner + "-" + token() + kRecordEnding, absolute(path), {}};
    const kit::Json record = {{"owner", owner},
                              {"temporary", absolute(temporary)},
                              {"path", begun.path},
                              {"facts", factsJson(facts_)}};
    std::string why;
    if (!writeRecord(begun.file, record, &why)) {
        if (error) *error = "Kadrix's record of its saves could not be written (" + why + ")";
        return false;
    }
    begun_[temporary] = std::move(begun);
    return true;
}

void SaveJournal::claimed(const std::string& temporary, uint64_t device, uint64_t inode) {
    auto it = begun_.find(temporary);
    if (it == begun_.end()) return;
    it->second.claim = {device, inode};
    const kit::Json record = {{"owner", thisOwner()},
                              {"temporary", absolute(temporary)},
                              {"path", it->second.path},
                              {"facts", factsJson(facts_)},
                              {"claim", kit::Json::array({device, inode})}};
    // Not written, the claim is one a start leaves alone: an empty file.
    writeRecord(it->second.file, record, nullptr);
}

void SaveJournal::ended(const std::string& temporary, const std::string* named) {
    auto it = begun_.find(temporary);
    if (it == begun_.end()) return;
    const std::string file = it->second.file;
    begun_.erase(it);
    if (named && lineOwed_) {
        const std::string path = absolute(*named);
        const kit::Json record = {{"owner", thisOwner()}, {"path", path}, {"facts", factsJson(facts_)}};
        if (writeRecord(file, record, nullptr)) {
            owe(path, file);
            return;
        }
    }
    forget(file);
}

void lineSettled(const std::string& path) {
    std::string file;
    {
        std::lock_guard lock(g_owedLock);
        auto it = g_owed.find(path);
        if (it == g_owed.end()) return;
        file = it->second;
        g_owed.erase(it);
    }
    ::unlink(file.c_str());
}

std::vector<std::string> linesOwed() {
    std::lock_guard lock(g_owedLock);
    std::vector<std::string> paths;
    for (const auto& [path, file] : g_owed) paths.push_back(path);
    return paths;
}

namespace {

// The record in `file` of an ended owner; none, said in the log, when it
// is not one a save writes.
std::optional<RecordedSave> readRecord(const std::string& file, const std::string& owner) {
    const std::string shown = fs::path(file).filename().string();
    auto damaged = [&](const std::string& why) -> std::optional<RecordedSave> {
        services::consoleLine("kadrix: a record of a save is kept as it is, unread: " + file + " (" + why +
                              ")");
        return std::nullopt;
    };
    std::string error;
    const auto text = kit::files::readAll(file, kRecordMaxBytes, &error);
    if (!text) return damaged(error);
    const auto json = kit::json::parse(*text);
    if (!json || !json->is_object()) return damaged("it is no JSON object");
    if (kit::json::stringAt(*json, "owner") != owner)
        return damaged("its owner is not the one its name gives");
    RecordedSave save;
    save.file = file;
    const auto path = kit::json::stringAt(*json, "path");
    if (!path || !path->starts_with("/")) return damaged("it names no absolute path");
    save.path = *path;
    if (const kit::Json* temporary = kit::json::memberAt(*json, "temporary")) {
        if (!temporary->is_string() || !temporary->get<std::string>().starts_with("/") ||
            kit::files::folderOf(temporary->get<std::string>()) != kit::files::folderOf(save.path))
            return damaged("its hidden file is no absolute path beside the name");
        save.temporary = temporary->get<std::string>();
    }
    if (const kit::Json* claim = kit::json::memberAt(*json, "claim")) {
        if (!claim->is_array() || claim->size() != 2 || !(*claim)[0].is_number_unsigned() ||
            !(*claim)[1].is_number_unsigned())
            return damaged("its claim is no device and inode");
        save.claim = {(*claim)[0].get<uint64_t>(), (*claim)[1].get<uint64_t>()};
    }
    if (const kit::Json* facts = kit::json::memberAt(*json, "facts"); facts && !facts->is_null()) {
        std::string why;
        save.facts = parseSaveFacts(kit::json::dump(*facts), &why);
        if (!save.facts)
            services::consoleLine("kadrix: the facts of the save " + save.path + " are left out, " + why +
                                  ": it gets the line of a file found");
    }
    return save;
}

}  // namespace

EndedSaves::EndedSaves() {
    const std::string folder = saveRecordFolder();
    const auto names = kit::files::listFolder(folder);
    if (!names) return;
    std::vector<std::string> sorted = *names;
    std::sort(sorted.begin(), sorted.end());
    const std::string self = thisOwner();
    for (const auto& name : sorted) {
        if (!name.ends_with(kRecordEnding) || name.starts_with(".")) continue;
        const std::string owner = ownerOf(name);
        if (owner.empty() || owner == self || owner.find('/') != std::string::npos) continue;
        auto held = owners_.find(owner);
        if (held == owners_.end()) {
            // Its Kadrix still runs while it holds this; another start
            // looking now holds it too.
            kit::Descriptor lock(
                ::open(ownerFile(owner).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (lock.valid() && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
                lock.reset();
            held = owners_.emplace(owner, std::move(lock)).first;
        }
        if (!held->second.valid()) continue;
        if (auto save = readRecord(folder + "/" + name, owner)) saves.push_back(std::move(*save));
    }
}

EndedSaves::~EndedSaves() {
    const auto names = kit::files::listFolder(saveRecordFolder());
    std::set<std::string> left;
    if (names)
        for (const auto& name : *names)
            if (name.ends_with(kRecordEnding)) left.insert(ownerOf(name));
    for (const auto& [owner, lock] : owners_)
        if (lock.valid() && !left.contains(owner)) ::unlink(ownerFile(owner).c_str());
}

void EndedSaves::named(RecordedSave& save, const std::string& path) {
    save.temporary.clear();
    save.path = path;
    save.claim.reset();
    kit::Json record = {{"owner", ownerOf(fs::path(save.file).filename().string())}, {"path", path}};
    if (save.facts) record["facts"] = kit::Json(*save.facts);
    if (writeRecord(save.file, record, nullptr)) owe(path, save.file);
}

void EndedSaves::drop(const RecordedSave& save) {
    forget(save.file);
}

}  // namespace core
