#include "library/IndexMachine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "core/Exporter.h"
#include "imaging/ColorMagic.h"
#include "imaging/Recognition.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Regex.h"
#include "kit/base/TextCase.h"
#include "kit/base/Timer.h"
#include "kit/image/ImageIO.h"
#include "kit/image/Memory.h"
#include "kit/image/TextRecognizer.h"
#include "library/CaptureDates.h"
#include "library/PathNames.h"
#include "library/ScreenLib.h"
#include "library/ThumbnailCache.h"
#include "services/NamedTimers.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace library {

namespace {

int64_t nowSeconds() {
    return int64_t(
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// "+7", "-3", "42"; anything else is 0.
int64_t strictInt(const std::string& text) {
    return GrabData({{"v", text}}).intValue("v");
}

// The shortest text that reads back as the number, always with a fraction: 2 → "2.0".
std::string dprText(const std::string& value) {
    char* end = nullptr;
    double v = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || !std::isfinite(v)) v = 0;
    for (int precision = 1; precision <= 17; ++precision) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v) {
            std::string s = buf;
            if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
            return s;
        }
    }
    return "0.0";
}

// What a recognition hands back: the waiter reads it, a recognition that
// ends after the waiter gave up writes into a box nobody reads any more.
struct TextBox {
    std::mutex m;
    std::condition_variable cv;
    std::optional<std::string> text;
    bool unavailable = false;  // the recogniser could not be started
};

// Threads that recognise text and live on after each recognition, so each
// keeps its loaded engine from one file to the next (an engine is loaded
// again only for another language). A thread is added while every thread is
// busy, up to IndexMachine::kRecognisers; past that, a job waits its turn.
class Recognisers {
public:
    static Recognisers& shared() {
        static auto* pool = new Recognisers;  // its threads run to the end of the process
        return *pool;
    }

    void submit(kit::Image image, kit::TextRecognitionRequest request, std::shared_ptr<TextBox> box) {
        {
            std::lock_guard<std::mutex> g(m_);
            jobs_.push_back({std::move(image), std::move(request), box});
            if (int(jobs_.size()) > idle_ && threads_ < IndexMachine::kRecognisers) {
                ++threads_;
                if (!kit::tryDetachedThread([this] { serve(); })) --threads_;
            }
            cv_.notify_one();
            // Without a thread the job waits for a running one; with none
            // running, recognition is unavailable for now, as without a
            // recogniser: the file is read again later.
            if (threads_ > 0) return;
            jobs_.pop_back();
        }
        std::lock_guard<std::mutex> b(box->m);
        box->text = "";
        box->unavailable = true;
        box->cv.notify_all();
    }

    // A job whose waiter gave up before any thread took it is dropped, so
    // it holds no thread (nor its image) any longer.
    void withdraw(const std::shared_ptr<TextBox>& box) {
        std::lock_guard<std::mutex> g(m_);
        std::erase_if(jobs_, [&](const Job& j) { return j.box == box; });
    }

private:
    struct Job {
        kit::Image image;
        kit::TextRecognitionRequest request;
        std::shared_ptr<TextBox> box;
    };

    void serve() {
        std::unique_lock<std::mutex> g(m_);
        ++idle_;
        for (;;) {
            // A thread left without work lets go of its engine and the
            // memory it held until the next file comes.
            if (!cv_.wait_for(g, kIdleRelease, [this] { return !jobs_.empty(); })) {
                g.unlock();
                kit::TextRecognizer::releaseThreadEngines();
                kit::memory::returnFreedMemorySoon();
                g.lock();
                cv_.wait(g, [this] { return !jobs_.empty(); });
            }
            --idle_;
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            g.unlock();
            auto result = kit::TextRecognizer::recognize(job.image, job.request);
            job.image = {};
            std::string joined;
            if (result.ok())
                for (auto& line : result.lines) joined += (joined.empty() ? "" : "\n") + line.text;
            else
                services::Telemetry::shared().oops(
                    "ocr(cgImage:onReady:)", "Unable to perform the OCR requests: " + result.error + ".");
            g.lock();
            ++idle_;  // free again before the waiter hears, so its next file finds this thread
            g.unlock();
            {
                std::lock_guard<std::mutex> b(job.box->m);
                job.box->text = std::move(joined);
                job.box->unavailable = result.unavailable;
                job.box->cv.notify_all();
            }
            g.lock();
        }
    }

    static constexpr std::chrono::seconds kIdleRelease{20};
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    int idle_ = 0;
    int threads_ = 0;
};

}  // namespace

IndexMachine::IndexMachine(ScreenLib& lib) : lib_(lib) {}

IndexMachine::~IndexMachine() {
    stopWork();
}

void IndexMachine::stopWork() {
    *alive_ = false;
    pleaseStop = true;  // a run ends after the file in hand
    work_.close();
}

std::string IndexMachine::walkError() const {
    std::lock_guard<std::mutex> g(queueLock_);
    return walkError_;
}

std::vector<std::string> IndexMachine::queue() const {
    std::lock_guard<std::mutex> g(queueLock_);
    return filesQueue_;
}

void IndexMachine::clearQueue() {
    std::lock_guard<std::mutex> g(queueLock_);
    filesQueue_.clear();
    queuedFiles = 0;
}

void IndexMachine::scan(bool indexToo, std::function<void(int, bool)> onReady) {
    auto answer = [onReady] {
        if (onReady) kit::dispatchMain([onReady] { onReady(0, false); });
    };
    if (indexInProgress || scanInProgress) {
        services::Telemetry::shared().oops("scan(indexToo:onReady:)",
                                           "scan() attempt when scanning or indexing is underway!");
        return answer();
    }
    // The view shows "Preparing to index" before it asks for the scan: a scan
    // that then starts no run says the run is over, or the view waits for ever.
    auto refuse = [&] {
        if (indexToo) return endRunNotStarted();
        answer();
    };
    if (!services::Settings::shared().libEnabled()) return refuse();
    if (!lib_.loaded()) {
        services::Telemetry::shared().oops("scan(indexToo:onReady:)",
                                           "Scaning before load complete, not cool");
        if (indexToo) endRunNotStarted();
        return;
    }
    if (lib_.folder().empty()) {
        services::Telemetry::shared().oops("scan(indexToo:onReady:)", "No Valid Folder URL");
        if (indexToo) endRunNotStarted();
        return;
    }
    if (indexToo) indexInitiated = true;
    scanInProgress = true;  // before the walk starts, so a second scan is refused meanwhile
    kit::globalQueue().async(work_.wrap([this, indexToo, onReady] { walk(indexToo, onReady); }));
}

void IndexMachine::walk(bool indexToo, std::function<void(int, bool)> onReady) {
    std::lock_guard<std::mutex> scanning(scanLock_);
    scanInProgress = true;
    const std::string folder = lib_.folder();
    clearQueue();
    services::timerStart("contentsOfDirectory");
    std::string why;
    auto names = kit::files::listFolder(folder, &why);
    services::timerLog("contentsOfDirectory");
    {
        std::lock_guard<std::mutex> g(queueLock_);
        walkError_ = names ? std::string() : why;
    }
    if (!names) {
        services::Telemetry::shared().oops("scan(indexToo:onReady:)",
                                           "Error reading directory " + folder + ": " + why);
        scanInProgress = false;
        if (indexToo) endRunNotStarted();
        return;
    }
    const bool nonShots = services::Settings::shared().libIndexNonshots();
    const bool allowOCR = services::Settings::shared().libAllowOCR();
    // A record whose text is owed (read while no recogniser could start) is
    // worth reading again only once one can: until then every walk would
    // offer the same screenshots, and reading them would store the same
    // empty text. Asked once a walk, at the first such record.
    std::optional<bool> canRead;
    const auto recogniserCanStart = [&] {
        if (!canRead)
            canRead = kit::TextRecognizer::canStart(
                imaging::ocrLanguageChoice(services::Settings::shared().primaryOCRLang()).languages);
        return *canRead;
    };
    std::vector<std::string> found;
    services::timerStart("search through records");
    for (auto& name : *names) {
        std::string lower = kit::lowerCase(name);
        if (!lower.ends_with(".jpg") && !lower.ends_with(".jpeg") && !lower.ends_with(".png")) continue;
        if (auto rec = lib_.contentOf(name)) {
            auto ocr = rec->find("ocr");
            bool hasText = ocr != rec->end() && !ocr->second.empty();
            if (!GrabData(*rec).colors().empty() && (hasText || !allowOCR || !recogniserCanStart())) continue;
        }
        const std::string path = folder + "/" + name;
        if (std::error_code ec; !std::filesystem::is_regular_file(path, ec)) continue;
        if (std::lock_guard<std::mutex> g(queueLock_); handedOver_.count(path)) continue;
        if (isScreenshotName(lower) || nonShots || kit::files::getXattr(path, core::kScreenCaptureAttribute))
            found.push_back(path);
    }
    services::timerLog("search through records");
    bool changed = lib_.checkPresence(std::set<std::string>(names->begin(), names->end()), folder);
    std::stable_sort(found.begin(), found.end(),
                     [](const std::string& a, const std::string& b) { return baseName(a) > baseName(b); });
    const int64_t present = lib_.presentCount();
    int64_t limit = std::max<int64_t>(0, services::Settings::shared().libLimit());
    int64_t room = limit - std::min(present, limit);
    if (int64_t(found.size()) > room) found.resize(size_t(std::max<int64_t>(0, room)));
    if (lib_.folder() != folder) found.clear();  // switched meanwhile: these files are not the library's
    {
        std::lock_guard<std::mutex> g(queueLock_);
        filesQueue_ = found;
    }
    queuedFiles = int(found.size());
    availableFiles = int(names->size());
    scanInProgress = false;
    if (queuedFiles > 0 || changed)
        services::Telemetry::shared().repeatableEvent("lib:scan", {{"availableFiles", availableFiles.load()},
                                                                   {"queuedFiles", queuedFiles.load()},
                                                                   {"nonShots", nonShots},
                                                                   {"displayChange", changed}});
    if (indexToo) {
        indexQueue();
    } else if (onReady) {
        int queued = queuedFiles;
        kit::dispatchMain([onReady, queued, changed] { onReady(queued, changed); });
    }
}

void IndexMachine::indexQueue() {
    auto refuse = [this] {
        indexInitiated = false;
        indexInProgress = false;
        if (statusUpdate) statusUpdate(0, 0, "", false);
    };
    if (indexInProgress || scanInProgress) {
        refuse();
        services::Telemetry::shared().oops("indexQueue()",
                                           "indexQueue() attempt when scanning or indexing is underway!");
        return;
    }
    if (!services::Settings::shared().libEnabled()) {
        refuse();
        std::weak_ptr<bool> alive = alive_;
        kit::dispatchMain([this, alive] {
            if (alive.lock() && statusUpdate) statusUpdate(0, 0, "", false);
        });
        return;
    }
    pleaseStop = false;
    indexInitiated = true;
    indexInProgress = true;
    kit::globalQueue().async(work_.wrap([this] { runLoop(); }));
}

void IndexMachine::endRunNotStarted() {
    indexInitiated = false;
    std::weak_ptr<bool> alive = alive_;
    kit::dispatchMain([this, alive] {
        if (alive.lock() && statusUpdate) statusUpdate(0, 0, "", false);
    });
}

// One file after the other: each file's image and recognised text are gone
// before the next file is read. A stop ends the run after the file in hand.
void IndexMachine::runLoop() {
    indexStarted_ = nowSeconds();
    services::timerStart("rescan");
    std::weak_ptr<bool> alive = alive_;
    for (;;) {
        std::string path;
        {
            std::lock_guard<std::mutex> g(queueLock_);
            if (pleaseStop || filesQueue_.empty()) break;
            path = filesQueue_.front();
            filesQueue_.erase(filesQueue_.begin());
        }
        // Queued for a folder the library has left since: not its file.
        if (path.substr(0, path.find_last_of('/')) == lib_.folder()) indexFile(path, queuedFacts(path));
        const int done = ++processedFiles;
        kit::dispatchMain([this, alive, done] {
            if (alive.lock()) report(done);
        });
    }
    services::timerLog("rescan");
    clearQueue();
    // Written before the run is over: the end's sort on the main thread must
    // not reorder the records while this copy of them is taken.
    lib_.save();
    kit::dispatchMain([this, alive] {
        if (alive.lock()) finish();
    });
}

std::map<std::string, std::string> IndexMachine::queuedFacts(const std::string& path) const {
    std::map<std::string, std::string> facts{{"mode", "file"}};
    // A file the library already lists is read again for what its record
    // lacks (its text, its colours): how and when it was taken stay as
    // recorded, not those of a file just found.
    if (auto known = lib_.contentOf(baseName(path))) {
        if (auto mode = known->find("mode"); mode != known->end() && !mode->second.empty())
            facts["mode"] = mode->second;
        if (auto ts = known->find("ts"); ts != known->end() && !ts->second.empty())
            facts["timestamp"] = ts->second;
    }
    return facts;
}

std::string IndexMachine::etaText(int processed, int queued, double elapsed) {
    if (processed <= 50 || queued <= 0 || double(processed) / queued <= 0.01) return {};
    double eta = elapsed * double(queued - processed) / processed;
    if (eta > 600) eta = std::round(eta / 120) * 120;
    if (eta > 1800) eta = std::round(eta / 300) * 300;
    std::string text = std::to_string(std::max<int64_t>(1, std::llround(eta / 60))) + "m";
    if (eta < 40 && double(processed) / queued > 0.7) text = std::to_string(std::llround(eta) % 60) + "s";
    if (eta > 3600) text = std::to_string(std::llround(eta / 3600)) + "h";
    if (eta <= 0) text.clear();
    return text;
}

void IndexMachine::report(int done) {
    int total = queuedFiles;
    std::string text = etaText(done, total, double(nowSeconds() - indexStarted_));
    if (statusUpdate) statusUpdate(done, std::max(total, done), text, pleaseStop);
}

void IndexMachine::finish() {
    lib_.sortAndReindex();
    int done = processedFiles;
    bool stopped = pleaseStop;
    queuedFiles = 0;
    processedFiles = 0;
    pleaseStop = false;
    indexInitiated = false;
    indexInProgress = false;
    if (statusUpdate) statusUpdate(done, 0, "", stopped);
}

std::shared_ptr<GrabData> IndexMachine::prepareEntry(const std::string& path,
                                                     const std::map<std::string, std::string>& dict) {
    if (!services::Settings::shared().libEnabled()) return nullptr;
    if (!lib_.waitLoaded()) {
        services::Telemetry::shared().oops("indexFile(_:dict:)",
                                           "!!! scaning before load complete, not cool");
        return nullptr;
    }
    auto rec = std::make_shared<GrabData>(std::map<std::string, std::string>{});
    for (const char* key : {"app", "window", "dpr", "mode", "labels", "objects"}) {
        auto it = dict.find(key);
        if (it == dict.end()) continue;
        rec->content[key] = std::string(key) == "dpr" ? dprText(it->second) : it->second;
    }
    auto ts = dict.find("timestamp");
    rec->setTs(ts != dict.end() ? strictInt(ts->second) : fileDate(path));
    return rec;
}

std::shared_ptr<GrabData> IndexMachine::entryBeforeAnalysis(const std::string& path,
                                                            const std::map<std::string, std::string>& dict) {
    auto entry = prepareEntry(path, dict);
    if (!entry) return nullptr;
    std::error_code sizeError;
    const auto bytes = std::filesystem::file_size(path, sizeError);
    if (sizeError) return nullptr;  // not there: nothing to record
    entry->content["bytes"] = std::to_string(bytes);
    entry->content["filename"] = baseName(path);
    // From the file's head: the pixels are not read on the way out.
    const kit::Size size = kit::ImageIO::pixelSize(path);
    entry->content["width"] = std::to_string(int64_t(size.width));
    entry->content["height"] = std::to_string(int64_t(size.height));
    entry->refreshLibObject();
    return entry;
}

void IndexMachine::handOver(const std::string& path) {
    std::lock_guard<std::mutex> g(queueLock_);
    handedOver_.insert(path);
}

void IndexMachine::takeBack(const std::string& path) {
    std::lock_guard<std::mutex> g(queueLock_);
    if (auto it = handedOver_.find(path); it != handedOver_.end()) handedOver_.erase(it);
}

int IndexMachine::settleQueue(bool saving) {
    std::lock_guard<std::mutex> g(queueLock_);
    if (saving) filesQueue_.clear();
    std::erase_if(filesQueue_, [&](const std::string& path) { return handedOver_.count(path) > 0; });
    queuedFiles = int(filesQueue_.size());
    return queuedFiles;
}

void IndexMachine::indexFile(const std::string& path, const std::map<std::string, std::string>& dict) {
    if (auto rec = prepareEntry(path, dict)) analyzeFile(path, rec, false);
}

void IndexMachine::reindexFile(const std::string& path) {
    // The file was replaced: its old thumbnails must not be shown for it.
    ThumbnailCache::shared().remove(path);
    if (!services::Settings::shared().libEnabled()) return;
    if (!lib_.loaded()) {
        services::Telemetry::shared().oops("reindexFile(_:)",
                                           "!!! reindexing before load complete, not cool");
        return;
    }
    auto content = lib_.contentOf(baseName(path));
    auto rec = content ? std::make_shared<GrabData>(std::move(*content)) : nullptr;
    if (!rec) {
        services::Telemetry::shared().oops("reindexFile(_:)", "Reindexing file without a record");
        return;
    }
    if (rec->fileURL() != std::optional<std::string>(path)) {
        services::Telemetry::shared().oops("reindexFile(_:)",
                                           "Reindexing file, url doesn't match (different folder?)");
        return;
    }
    analyzeFile(path, rec, true);
}

void IndexMachine::analyzeFile(const std::string& path, const std::shared_ptr<GrabData>& rec, bool forced) {
    if (auto entry = analyze(path, rec, forced)) lib_.addOrUpdate(entry);
}

std::shared_ptr<GrabData> IndexMachine::analyze(const std::string& path, const std::shared_ptr<GrabData>& rec,
                                                bool forced) {
    std::string why;
    kit::Image image = kit::ImageIO::read(path, 1.0, &why);
    if (image.isNull()) {
        // Given up as Kadrix ends: the file is indexed at the next start.
        if (!kit::ImageIO::wasCancelled(why))
            services::Telemetry::shared().oops("analyzeFile(_:rec:forced:)", "Image Reading Error");
        return nullptr;
    }
    // The entry may be the model's own (a forced pass): fill a copy and hand
    // that over, so the shared one changes only under the model's lock.
    auto entry = std::make_shared<GrabData>(rec->content);
    std::error_code sizeError;
    auto bytes = std::filesystem::file_size(path, sizeError);
    if (!sizeError)
        entry->content["bytes"] = std::to_string(bytes);
    else
        services::Telemetry::shared().oops("analyzeFile(_:rec:forced:)", "Can't get filesie");
    entry->content["filename"] = baseName(path);
    entry->content["width"] = std::to_string(image.width());
    entry->content["height"] = std::to_string(image.height());
    static thread_local std::mt19937 rng{std::random_device{}()};
    const std::string tag = std::to_string(std::uniform_int_distribution<int>(1000000, 9999999)(rng));
    auto ocr = entry->content.find("ocr");
    if ((ocr == entry->content.end() || ocr->second.empty() || forced) &&
        services::Settings::shared().libAllowOCR()) {
        services::timerStart("OCR " + tag);
        entry->content["ocr"] = ocrWithTimeout(image);
        entry->content["domains"] = findDomains(entry->content["ocr"]);
        services::timerLog("OCR " + tag);
    }
    if (entry->colors().empty() || forced) {
        services::timerStart("Colors " + tag);
        entry->setColors(colorHexes(image));
        services::timerLog("Colors " + tag);
    }
    services::timerStart("Avg Color " + tag);
    entry->content["basecolor"] = imaging::ColorMagic::cg2hex(getAvgColor(image));
    services::timerLog("Avg Color " + tag);
    entry->refreshLibObject();
    return entry;
}

std::string IndexMachine::ocrWithTimeout(const kit::Image& image, double timeout) {
    if (image.width() < 4 || image.height() < 4) return "~";
    auto box = std::make_shared<TextBox>();
    kit::TextRecognitionRequest request;
    request.languages =
        imaging::installedLanguageChoice(services::Settings::shared().primaryOCRLang()).languages;
    request.level = kit::RecognitionLevel::Accurate;
    request.minimumTextHeight = 11.0 / image.height();
    Recognisers::shared().submit(image, request, box);
    std::unique_lock<std::mutex> g(box->m);
    if (!box->cv.wait_for(g, std::chrono::duration<double>(timeout), [&] { return box->text.has_value(); })) {
        g.unlock();
        Recognisers::shared().withdraw(box);
        g.lock();
    }
    // With no recogniser at all the text stays unknown (empty), so the file
    // is queued again once recognition works; "~" is for an image the
    // recogniser ran on and read nothing in.
    if (box->text && box->unavailable) return "";
    return box->text && !box->text->empty() ? *box->text : "~";
}

std::string IndexMachine::findDomains(const std::string& text) {
    static const kit::Regex address(
        "\\b(https?://"
        ")?[-a-zA-Z0-9\\._]{2,256}\\.(com|net|ru|org|info|in|ir|uk|au|de|ua|ca|tr|co|jp|vn|cn|gr|fr|tk|"
        "tw|id|br|io|xyz|it|nl|pl|za|us|eu|mx|ch|biz|me|il|es|by|nz|kr|cz|ro|cf|ar|my|tv|kz|cl|pk|th|se|sg|"
        "cc|be|rs|"
        "ga|ma|hu|ae|su|dk|hk|at|ml|ng|np|no|app|pe|ph|ie|lk|gq|edu|fi|ai|sa|pw|bd|sk|ke|pt|az|mk|ge|tn|lt|"
        "dev|to|gov|"
        "md|lv|uz|hr|mn|am|ws|mobi|ee|bg|la|ec|blog|cloud|si|uy|nu|ba|icu|im|do|bz|kg|is|al|ug|cm|mu|one|so|"
        "sh|tj|gg|"
        "ac|eg|fm|ms|cx|sc|ve|dz|sx|vc|qa|nf|py|ki|ps|gt|ly|bo|art|tz|zw|jo|cr|ltd|nyc|lu|cy|ci|af|li|kh|pa|"
        "om|re|kw)"
        "(/([-a-zA-Z0-9()@:%_\\+.~#?&//=]*))?\\b",
        kit::Regex::caseInsensitive);
    static const kit::Regex host("\\b[-a-zA-Z0-9\\._]{2,256}\\.[a-zA-Z]{2,6}\\b",
                                 kit::Regex::caseInsensitive);
    std::string out;
    for (auto& m : address.matches(text)) {
        auto h = host.firstMatch(m.text());
        if (!h) continue;
        std::string name = kit::lowerCase(h->text());
        // Only a leading "www." goes: "awww.example.com" keeps its letters.
        if (name.rfind("www.", 0) == 0) name.erase(0, 4);
        out += "\n" + name;
    }
    size_t b = out.find_first_not_of(" \t\r\n");
    size_t e = out.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : out.substr(b, e - b + 1);
}

std::vector<std::string> IndexMachine::colorHexes(const kit::Image& image) {
    std::vector<std::string> out;
    for (auto& c : imaging::ColorMagic::dominantColors(image, 8, 400))
        out.push_back(imaging::ColorMagic::cg2hex(c));
    if (out.empty()) out.push_back("#000000");
    return out;
}

kit::Color IndexMachine::getAvgColor(const kit::Image& image) {
    kit::Image one = imaging::ColorMagic::resize(image, 1, 1);
    if (one.isNull()) {
        services::Telemetry::shared().oops("getAvgColor(_:)", "Error Resizing Image");
        return kit::Color::black();
    }
    kit::Color c = one.colorAt(0, 0);
    c.a = 1;
    return c;
}

}  // namespace library
