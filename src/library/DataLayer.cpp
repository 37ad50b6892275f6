#include "library/DataLayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "kit/Crypto.h"
#include "kit/Dispatch.h"
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

// No record comes near this; a longer line is kept as it stands, unread.
constexpr size_t kLongestLine = 16 << 20;

std::optional<Record> decodeLine(std::string_view line, const std::optional<services::Crypti::Key>& key) {
    if (line.size() > kLongestLine) return std::nullopt;
    if (key) {
        if (auto box = kit::crypto::base64Decode(line);
            box && box->size() >= kit::crypto::kNonceSize + kit::crypto::kTagSize)
            if (auto plain = kit::crypto::open(*key, *box))
                return recordFromJson(
                    std::string_view(reinterpret_cast<const char*>(plain->data()), plain->size()));
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

void inParallel(size_t count, size_t grain, const std::function<void(size_t, size_t)>& work) {
    const size_t cores = kit::usableCores();
    const size_t slices = std::clamp<size_t>(count / std::max<size_t>(grain, 1), 1, cores);
    if (slices == 1) return work(0, count);
    std::vector<std::thread> threads;
    for (size_t i = 1; i < slices; ++i)
        threads.emplace_back(work, count * i / slices, count * (i + 1) / slices);
    work(0, count / slices);
    for (auto& t : threads) t.join();
}

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
    if (!ok) services::Telemetry::shared().oops("write(str:append:)", "File Writing Error " + error);
    return ok;
}

void DataLayer::read() {
    std::lock_guard<std::mutex> g(lock_);
    const std::string path = folder_ + "/" + kFileName;
    if (!kit::files::exists(path)) return;
    services::timerStart("Read File");
    auto text = kit::files::readAll(path);
    services::timerLog("Read File");
    if (!text) {
        services::Telemetry::shared().oops("read()", "JSON Parsing Error");
        return;
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
    std::vector<std::optional<Record>> decoded(lines.size());
    inParallel(lines.size(), 512, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) decoded[i] = decodeLine(lines[i], key);
    });
    records.clear();
    unreadable_.clear();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (decoded[i])
            records.push_back(std::move(*decoded[i]));
        else
            unreadable_.emplace_back(lines[i]);
    }
    services::timerLog("Decode JSON");
}

}  // namespace library
