#include "kit/base/Defaults.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "kit/base/Crypto.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Parse.h"

namespace kit {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Values = std::map<std::string, Json, std::less<>>;

// Data values live in memory as Json binary and on disk as {"$data": base64}.
constexpr const char* kDataTag = "$data";
constexpr size_t kMaxFileBytes = size_t(64) << 20;

Json toDisk(const Json& v) {
    if (v.is_binary()) return Json{{kDataTag, crypto::base64Encode(v.get_binary())}};
    if (v.is_array()) {
        Json out = Json::array();
        for (const auto& e : v) out.push_back(toDisk(e));
        return out;
    }
    if (v.is_object()) {
        Json out = Json::object();
        for (auto it = v.begin(); it != v.end(); ++it) out[it.key()] = toDisk(it.value());
        return out;
    }
    return v;
}

Json fromDisk(const Json& v) {
    if (v.is_object()) {
        if (v.size() == 1 && v.contains(kDataTag) && v[kDataTag].is_string())
            if (auto bytes = crypto::base64Decode(v[kDataTag].get<std::string>()))
                return Json::binary(std::move(*bytes));
        Json out = Json::object();
        for (auto it = v.begin(); it != v.end(); ++it) out[it.key()] = fromDisk(it.value());
        return out;
    }
    if (v.is_array()) {
        Json out = Json::array();
        for (const auto& e : v) out.push_back(fromDisk(e));
        return out;
    }
    return v;
}

std::string numberText(const Json& v) {
    if (v.is_number_unsigned()) return std::to_string(v.get<uint64_t>());
    if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
    double d = v.get<double>();
    if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 1e15) return std::to_string(int64_t(d));
    return json::doubleText(d);
}

int64_t truncated(double d) {
    if (!std::isfinite(d)) return 0;
    if (d >= 0x1p63) return INT64_MAX;
    if (d < -0x1p63) return INT64_MIN;
    return int64_t(d);
}

std::string lowered(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The file as read: its values, and its text to tell later whether another
// process rewrote it.
struct Disk {
    bool present = false;
    bool corrupt = false;
    std::string text;
    Values values;
};

Disk readDisk(const std::string& path) {
    Disk d;
    auto text = files::readAll(path, kMaxFileBytes);
    if (!text) {
        d.corrupt = files::exists(path);  // there but unreadable or oversized
        return d;
    }
    d.present = true;
    d.text = std::move(*text);
    auto j = json::parse(d.text);
    if (!j || !j->is_object()) {
        d.corrupt = true;
        return d;
    }
    for (auto it = j->begin(); it != j->end(); ++it)
        if (!it.value().is_null()) d.values.emplace(it.key(), fromDisk(it.value()));
    return d;
}

// Identifies one version of the file cheaply: a rename-replace gives a new
// inode, an in-place edit a new size or time.
struct Stamp {
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const Stamp&) const = default;
};

std::optional<Stamp> stampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return Stamp{st.st_ino, st.st_size, int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Moves an unreadable file to a name of its own beside it: the second's
// stamp, then a count when that name is taken. The rename never replaces an
// earlier copy, so two corrupt files in one second are both kept. Gives the
// name it was kept under; none when it could not be moved.
std::optional<std::string> moveAside(const std::string& path) {
    const std::string base = path + ".corrupt-" + std::to_string(std::time(nullptr));
    for (int n = 0; n < 1000; ++n) {
        const std::string aside = n == 0 ? base : base + "-" + std::to_string(n);
        bool moved = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0;
        // A file system without that rename: a new hard link fails rather
        // than replace, then the old name goes.
        if (!moved && errno == EINVAL && ::link(path.c_str(), aside.c_str()) == 0) {
            ::unlink(path.c_str());
            moved = true;
        }
        if (moved) {
            std::fprintf(stderr, "kit: defaults file %s is unreadable; moved aside to %s\n", path.c_str(),
                         aside.c_str());
            return aside;
        }
        if (errno == EEXIST) continue;
        break;
    }
    std::fprintf(stderr, "kit: defaults file %s is unreadable and could not be moved aside\n", path.c_str());
    return std::nullopt;
}

}  // namespace

struct Defaults::State {
    std::string path;
    SteadyClock::duration debounce;

    // The innermost lock: held only for map work, never while calling out.
    mutable std::mutex mutex;
    Values values;
    std::map<std::string, uint64_t, std::less<>> changed;  // key → generation of its last change
    uint64_t generation = 0;                               // bumped by every change
    uint64_t written = 0;                                  // generation on disk
    uint64_t attempted = 0;                                // last generation a write failed for
    uint64_t clearedAt = 0;                                // generation of the last removeAll
    std::string diskText;                                  // file text last read or written
    std::optional<ResetNotice> resetNotice;                // an unreadable file started the store empty
    SteadyClock::time_point lastChange;

    std::condition_variable cv;
    bool stopping = false;
    std::thread writer;
    bool writesNow = false;          // no writer thread could be had: each change is written as it is made
    std::mutex writeMutex;           // one writer of the file at a time; taken before `mutex`
    std::optional<Stamp> diskStamp;  // of the file last read or written (under writeMutex)

    // The file, when it changed since we last read or wrote it; else nothing.
    // A file another process left unreadable is moved aside, so the next
    // write cannot replace it unseen.
    Disk readIfChanged() {
        auto stamp = stampOf(path);
        if (stamp && diskStamp && *stamp == *diskStamp) return {};
        diskStamp = stamp;
        Disk disk = readDisk(path);
        if (disk.corrupt) {
            moveAside(path);
            diskStamp = stampOf(path);
        }
        return disk;
    }

    void touch(std::string_view key) {  // with mutex held
        ++generation;
        changed[std::string(key)] = generation;
        lastChange = SteadyClock::now();
    }

    // Takes in what another process wrote, for keys this process has not
    // changed since its last write (with mutex held).
    void merge(const Disk& disk) {
        if (!disk.present || disk.corrupt || disk.text == diskText) return;
        if (clearedAt > written) return;  // a pending removeAll owns the whole store
        for (auto it = values.begin(); it != values.end();) {
            if (!disk.values.count(it->first) && !changed.count(it->first))
                it = values.erase(it);
            else
                ++it;
        }
        for (const auto& [k, v] : disk.values)
            if (!changed.count(k)) values[k] = v;
        diskText = disk.text;
    }

    bool flush() {
        if (path.empty()) return true;
        std::lock_guard writing(writeMutex);
        {
            std::lock_guard lock(mutex);
            if (generation == written) return true;
        }
        Disk disk = readIfChanged();
        Json out = Json::object();
        uint64_t gen;
        {
            std::lock_guard lock(mutex);
            merge(disk);
            gen = generation;
            for (const auto& [k, v] : values) out[k] = toDisk(v);
        }
        std::string text = json::dumpPretty(out) + "\n";
        bool ok = files::writeAtomic(path, text, 0600);
        if (ok) diskStamp = stampOf(path);
        std::lock_guard lock(mutex);
        if (!ok) {
            attempted = gen;
            return false;
        }
        written = std::max(written, gen);
        diskText = text;
        std::erase_if(changed, [gen](const auto& kv) { return kv.second <= gen; });
        return true;
    }

    // Wakes the writer to a change, or writes it here when there is none.
    void changedNow() {
        if (writesNow)
            flush();
        else
            cv.notify_all();
    }

    void writerLoop() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (generation == written || generation == attempted) {
                cv.wait(lock);
                continue;
            }
            auto due = lastChange + debounce;
            if (SteadyClock::now() < due) {
                cv.wait_until(lock, due);
                continue;
            }
            lock.unlock();
            flush();
            lock.lock();
        }
    }
};

Defaults& Defaults::standard() {
    // Never destroyed, so code running during exit can still read settings;
    // pending changes are written at exit all the same.
    static Defaults* store = [] {
        auto* d = new Defaults(files::configDir() + "/defaults.json");
        // The writer thread must be gone before exit tears down what a
        // write uses; the last changes are written here instead.
        // A process that ends by quick_exit (leaving its static objects
        // alone) writes them too.
        auto writeLast = [] {
            Defaults::standard().stopWriter();
            Defaults::standard().flush();
        };
        std::atexit(writeLast);
        std::at_quick_exit(writeLast);
        return d;
    }();
    return *store;
}

Defaults::Defaults(std::string path, double debounceSeconds) : state_(std::make_shared<State>()) {
    auto& s = *state_;
    s.path = std::move(path);
    s.debounce = std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(std::max(0.0, debounceSeconds)));
    if (s.path.empty()) return;
    s.diskStamp = stampOf(s.path);
    Disk disk = readDisk(s.path);
    if (disk.corrupt) {
        // Every value is gone: the user hears of it once, with where the old file went.
        s.resetNotice = ResetNotice{moveAside(s.path)};
    } else {
        s.values = std::move(disk.values);
        s.diskText = std::move(disk.text);
    }
    std::optional<std::thread> writer = tryThread([st = state_.get()] { st->writerLoop(); });
    if (writer)
        s.writer = std::move(*writer);
    else
        s.writesNow = true;
}

void Defaults::stopWriter() {
    auto& s = *state_;
    if (!s.writer.joinable()) return;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
    }
    s.cv.notify_all();
    s.writer.join();
}

Defaults::~Defaults() {
    auto& s = *state_;
    stopWriter();
    try {
        s.flush();
    } catch (...) {  // out of memory while serialising: nothing more to do at teardown
    }
}

const std::string& Defaults::path() const {
    return state_->path;
}

std::optional<Defaults::ResetNotice> Defaults::takeResetNotice() {
    std::lock_guard lock(state_->mutex);
    return std::exchange(state_->resetNotice, std::nullopt);
}

std::optional<Json> Defaults::object(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end()) return std::nullopt;
    return it->second;
}

bool Defaults::contains(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    return state_->values.find(key) != state_->values.end();
}

std::optional<std::string> Defaults::string(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end()) return std::nullopt;
    const Json& v = it->second;
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number()) return numberText(v);
    if (v.is_boolean()) return std::string(v.get<bool>() ? "1" : "0");
    return std::nullopt;
}

int64_t Defaults::integer(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end()) return 0;
    const Json& v = it->second;
    if (v.is_number_unsigned()) return int64_t(std::min<uint64_t>(v.get<uint64_t>(), INT64_MAX));
    if (v.is_number_integer()) return v.get<int64_t>();
    if (v.is_number_float()) return truncated(v.get<double>());
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    if (v.is_string()) {
        const auto& s = v.get_ref<const std::string&>();
        if (auto i = parseInt64(s)) return *i;
        if (auto d = parseDouble(s)) return truncated(*d);
    }
    return 0;
}

double Defaults::doubleValue(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end()) return 0;
    const Json& v = it->second;
    if (v.is_number()) return v.get<double>();
    if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
    if (v.is_string()) return parseDouble(v.get_ref<const std::string&>()).value_or(0);
    return 0;
}

bool Defaults::boolean(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end()) return false;
    const Json& v = it->second;
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number()) return v.get<double>() != 0;
    if (v.is_string()) {
        std::string s = lowered(v.get<std::string>());
        if (s == "true" || s == "yes") return true;
        if (auto i = parseInt64(s)) return *i != 0;
    }
    return false;
}

std::optional<std::vector<uint8_t>> Defaults::data(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end() || !it->second.is_binary()) return std::nullopt;
    return std::vector<uint8_t>(it->second.get_binary());
}

std::optional<Json::array_t> Defaults::array(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end() || !it->second.is_array()) return std::nullopt;
    return it->second.get<Json::array_t>();
}

std::optional<Json::object_t> Defaults::dictionary(std::string_view key) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->values.find(key);
    if (it == state_->values.end() || !it->second.is_object()) return std::nullopt;
    return it->second.get<Json::object_t>();
}

std::vector<std::string> Defaults::keys() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::string> out;
    for (const auto& kv : state_->values) out.push_back(kv.first);
    return out;
}

void Defaults::set(std::string_view key, Json value) {
    if (value.is_null()) return remove(key);
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->values.find(key);
        if (it == state_->values.end())
            state_->values.emplace(std::string(key), std::move(value));
        else
            it->second = std::move(value);
        state_->touch(key);
    }
    state_->changedNow();
}

void Defaults::setData(std::string_view key, std::vector<uint8_t> bytes) {
    set(key, Json::binary(std::move(bytes)));
}

void Defaults::remove(std::string_view key) {
    {
        std::lock_guard lock(state_->mutex);
        auto it = state_->values.find(key);
        if (it != state_->values.end()) state_->values.erase(it);
        state_->touch(key);
    }
    state_->changedNow();
}

void Defaults::removeAll() {
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& kv : state_->values) state_->changed[kv.first] = state_->generation + 1;
        state_->values.clear();
        ++state_->generation;
        state_->clearedAt = state_->generation;
        state_->lastChange = SteadyClock::now();
    }
    state_->changedNow();
}

bool Defaults::flush() {
    return state_->flush();
}

void Defaults::synchronize() {
    if (state_->path.empty()) return;
    std::lock_guard writing(state_->writeMutex);
    Disk disk = state_->readIfChanged();
    std::lock_guard lock(state_->mutex);
    state_->merge(disk);
}

}  // namespace kit
