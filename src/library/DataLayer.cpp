#include "library/DataLayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "kit/base/Crypto.h"
#include "kit/base/Descriptor.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Json.h"
#include "services/Crypti.h"
#include "services/NamedTimers.h"
#include "services/Telemetry.h"

namespace library {

namespace {

// The library's key text: with the program's suffix it makes the sealing key.
constexpr const char* kLibraryKey = "kX7pQ2mZ9vR4tL8wN3bH6jD1sF5gC0a";

std::optional<Record> recordFromJson(std::string_view text) {
    auto value = kit::json::parse(text);
    if (!value || !value->is_object()) return std::nullopt;
    Record r;
    for (auto& [k, v] : value->items()) {
        if (!v.is_string()) return std::nullopt;
        r[k] = v.get<std::string>();
    }
    return r;
}

// No record comes near this; a longer line is kept as it stands, unread.
constexpr size_t kLongestLine = 16 << 20;

struct DecodedLine {
    Record record;
    bool sealed = false;  // opened with the key (not a plain line)
};

std::optional<DecodedLine> decodeLine(std::string_view line,
                                      const std::optional<services::Crypti::Key>& key) {
    if (line.size() > kLongestLine) return std::nullopt;
    if (key) {
        if (auto box = kit::crypto::base64Decode(line);
            box && box->size() >= kit::crypto::kNonceSize + kit::crypto::kTagSize)
            if (auto plain = kit::crypto::open(*key, *box)) {
                auto record = recordFromJson(
                    std::string_view(reinterpret_cast<const char*>(plain->data()), plain->size()));
                if (!record) return std::nullopt;
                return DecodedLine{std::move(*record), true};
            }
    }
    if (line.size() >= 2 && line.front() == '{' && line.back() == '}')
        if (auto record = recordFromJson(line)) return DecodedLine{std::move(*record), false};
    return std::nullopt;
}

// What stands at the database's path: nothing, a regular file, or something
// that is not written to (with the reason in `why`).
enum class Found { nothing, file, refused };
Found whatIsAt(const std::string& path, std::string& why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return Found::nothing;
        why = std::strerror(errno);
        return Found::refused;
    }
    if (S_ISREG(st.st_mode)) return Found::file;
    why = kit::files::kNotRegularFile;
    return Found::refused;
}

// Appends in one write, after a "\n" when the file's last line was left
// unfinished by an interrupted append. A write that fails part way (a full
// disk, a quota) is cut off again, so the store stays as it was and a later
// append does not leave the part written behind as a line no one can read.
bool appendToFile(const std::string& path, const std::string& text, std::string& error) {
    // Without O_NONBLOCK a FIFO swapped in after the check would hold the open.
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = kit::files::kNotRegularFile;
        ::close(fd);
        return false;
    }
    std::string out = text;
    if (st.st_size > 0) {
        char last = 0;
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') out.insert(out.begin(), '\n');
    }
    const auto failed = [&] {
        error = std::strerror(errno);
        // Only this append's bytes go: the file's length before it.
        while (::ftruncate(fd, st.st_size) != 0 && errno == EINTR) {
        }
        ::close(fd);
        return false;
    };
    if (!kit::writeAll(fd, out.data(), out.size())) return failed();
    // Written is not yet kept: a disk that cannot keep it is a failed write.
    if (::fsync(fd) != 0) return failed();
    ::close(fd);
    return true;
}

}  // namespace

void inParallel(size_t count, size_t grain, const std::function<void(size_t, size_t)>& work) {
    const size_t cores = kit::usableCores();
    const size_t slices = std::clamp<size_t>(count / std::max<size_t>(grain, 1), 1, cores);
    if (slices == 1) return work(0, count);
    auto slice = [&](size_t i) { work(count * i / slices, count * (i + 1) / slices); };
    // Joined when the vector goes, on every path: a thread left joinable
    // would end the process.
    std::vector<std::jthread> threads;
    threads.reserve(slices - 1);
    size_t started = 1;
    try {
        for (; started < slices; ++started) threads.emplace_back(slice, started);
    } catch (const std::system_error&) {
        // No more threads to be had (a limit on threads or memory): the
        // calling thread takes the slices that found none.
    }
    for (size_t i = started; i < slices; ++i) slice(i);
    slice(0);
}

constexpr const char* kNotReadYet = "it has not been read yet";

DataLayer::DataLayer(const std::string& folder, std::string keyText)
    : folder_(folder),
      keyText_(keyText.empty() ? kLibraryKey : std::move(keyText)),
      notReadWhole_(kNotReadYet) {}

std::string DataLayer::url() const {
    std::lock_guard<std::mutex> g(lock_);
    return folder_ + "/" + kFileName;
}

void DataLayer::setFolder(const std::string& folder) {
    std::lock_guard<std::mutex> g(lock_);
    folder_ = folder;
    unreadable_.clear();
    notReadWhole_ = kNotReadYet;
}

bool DataLayer::knowsWholeFile() const {
    std::lock_guard<std::mutex> g(lock_);
    std::string why;
    return notReadWhole_.empty() || whatIsAt(folder_ + "/" + kFileName, why) == Found::nothing;
}

std::vector<std::string> DataLayer::unreadableLines() const {
    std::lock_guard<std::mutex> g(lock_);
    return unreadable_;
}

std::string DataLayer::encodeRec(const Record& record) const {
    kit::Json json = kit::Json::object();
    for (auto& [k, v] : record) json[k] = v;
    std::string plain;
    try {
        plain = json.dump();
    } catch (const std::exception&) {  // a value that is not UTF-8
        services::Telemetry::shared().oops("encodeRec(_:)", "JSON Encoding Error");
        return {};
    }
    auto key = services::Crypti::makeKey(keyText_);
    std::optional<kit::crypto::Bytes> box;
    if (key)
        box =
            kit::crypto::seal(*key, std::span(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()));
    if (!box) {
        // Readable by us and by anyone: say so, the recognised text is in it.
        services::Telemetry::shared().oops("encodeRec(_:)", "Record stored unsealed");
        return plain + "\n";
    }
    return kit::crypto::base64Encode(*box) + "\n";
}

bool DataLayer::write(const std::string& str, bool append, std::string* error) {
    std::lock_guard<std::mutex> g(lock_);
    const std::string path = folder_ + "/" + kFileName;
    std::string why;
    bool ok = false;
    const Found found = whatIsAt(path, why);
    if (found == Found::refused) {
    } else if (append && found == Found::file) {
        ok = appendToFile(path, str, why);
    } else if (found == Found::file && !notReadWhole_.empty()) {
        // Lines this store has not seen would be lost under a rewrite.
        why = notReadWhole_ + ", so it is not written over";
    } else {
        const bool asItIs = unreadable_.empty() && (str.empty() || str.back() == '\n');
        std::string whole;
        if (!asItIs) {
            whole = str;
            if (!whole.empty() && whole.back() != '\n') whole += '\n';
            for (auto& line : unreadable_) whole += line + "\n";
        }
        ok = kit::files::writeAtomic(path, asItIs ? str : whole, 0600, &why);
        if (ok) notReadWhole_.clear();
    }
    if (!ok) {
        services::Telemetry::shared().oops("write(str:append:)", "File Writing Error " + why);
        if (error) *error = why;
    }
    return ok;
}

bool DataLayer::read() {
    std::lock_guard<std::mutex> g(lock_);
    const std::string path = folder_ + "/" + kFileName;
    std::string why;
    if (whatIsAt(path, why) == Found::nothing) {
        notReadWhole_.clear();  // nothing there to lose
        return true;
    }
    services::timerStart("Read File");
    auto text = kit::files::readAll(path, size_t(1) << 30, &why);
    services::timerLog("Read File");
    if (!text) {
        services::Telemetry::shared().oops("read()", "JSON Parsing Error");
        notReadWhole_ = "it could not be read (" + why + ")";
        return false;
    }
    services::timerStart("Decode JSON");
    auto key = services::Crypti::makeKey(keyText_);
    services::timerStart("Split File");
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text->size();) {
        size_t end = std::min(text->find('\n', start), text->size());
        if (end > start) lines.emplace_back(text->data() + start, end - start);
        start = end + 1;
    }
    services::timerLog("Split File");
    // Lines open independently: a large file is decoded on every core.
    std::vector<std::optional<DecodedLine>> decoded(lines.size());
    inParallel(lines.size(), 512, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) decoded[i] = decodeLine(lines[i], key);
    });
    records.clear();
    sealedLines.clear();
    unreadable_.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!decoded[i]) {
            unreadable_.emplace_back(lines[i]);
            continue;
        }
        records.push_back(std::move(decoded[i]->record));
        std::string& line = sealedLines.emplace_back();
        if (decoded[i]->sealed) {
            line.reserve(lines[i].size() + 1);
            line.append(lines[i]).push_back('\n');
        }
    }
    notReadWhole_.clear();
    services::timerLog("Decode JSON");
    return true;
}

}  // namespace library
