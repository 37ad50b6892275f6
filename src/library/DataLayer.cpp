#include "library/DataLayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kit/Crypto.h"
#include "kit/Files.h"
#include "kit/Json.h"
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

std::optional<Record> decodeLine(const std::string& line, const std::optional<Crypti::Key>& key) {
    if (key) {
        if (auto box = kit::crypto::base64Decode(line); box && box->size() >= kit::crypto::kNonceSize + kit::crypto::kTagSize)
            if (auto plain = kit::crypto::open(*key, *box))
                return recordFromJson(std::string_view(reinterpret_cast<const char*>(plain->data()), plain->size()));
    }
    if (line.size() >= 2 && line.front() == '{' && line.back() == '}') return recordFromJson(line);
    return std::nullopt;
}

// Appends in one write, after a "\n" when the file's last line was left
// unfinished by an interrupted append.
bool appendToFile(const std::string& path, const std::string& text, std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    std::string out = text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
        char last = 0;
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') out.insert(out.begin(), '\n');
    }
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        done += size_t(n);
    }
    ::fsync(fd);
    ::close(fd);
    return true;
}

}  // namespace

DataLayer::DataLayer(const std::string& folder, std::string keyText)
    : folder_(folder), keyText_(keyText.empty() ? kLibraryKey : std::move(keyText)) {}

std::string DataLayer::url() const {
    std::lock_guard<std::mutex> g(lock_);
    return folder_ + "/" + kFileName;
}

void DataLayer::setFolder(const std::string& folder) {
    std::lock_guard<std::mutex> g(lock_);
    folder_ = folder;
    unreadable_.clear();
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
        Telemetry::shared().oops("encodeRec(_:)", "JSON Encoding Error");
        return {};
    }
    auto key = Crypti::makeKey(keyText_);
    std::optional<kit::crypto::Bytes> box;
    if (key) box = kit::crypto::seal(*key, std::span(reinterpret_cast<const uint8_t*>(plain.data()), plain.size()));
    if (!box) {
        // Readable by us and by anyone: say so, the recognised text is in it.
        Telemetry::shared().oops("encodeRec(_:)", "Record stored unsealed");
        return plain + "\n";
    }
    return kit::crypto::base64Encode(*box) + "\n";
}

bool DataLayer::write(const std::string& str, bool append) {
    std::lock_guard<std::mutex> g(lock_);
    const std::string path = folder_ + "/" + kFileName;
    std::string error;
    bool ok;
    if (append && kit::files::exists(path)) {
        ok = appendToFile(path, str, error);
    } else {
        std::string whole = str;
        if (!whole.empty() && whole.back() != '\n') whole += '\n';
        for (auto& line : unreadable_) whole += line + "\n";
        ok = kit::files::writeAtomic(path, whole, 0600, &error);
    }
    if (!ok) Telemetry::shared().oops("write(str:append:)", "File Writing Error " + error);
    return ok;
}

void DataLayer::read() {
    std::lock_guard<std::mutex> g(lock_);
    const std::string path = folder_ + "/" + kFileName;
    if (!kit::files::exists(path)) return;
    timerStart("Read File");
    auto text = kit::files::readAll(path);
    timerLog("Read File");
    if (!text) {
        Telemetry::shared().oops("read()", "JSON Parsing Error");
        return;
    }
    timerStart("Decode JSON");
    auto key = Crypti::makeKey(keyText_);
    records.clear();
    unreadable_.clear();
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        if (auto r = decodeLine(line, key))
            records.push_back(std::move(*r));
        else
            unreadable_.push_back(std::move(line));
    }
    timerLog("Decode JSON");
}

}  // namespace library
