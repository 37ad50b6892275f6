#include "services/FileDownloader.h"

#include <mutex>

#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Http.h"
#include "services/Console.h"
#include "services/NamedTimers.h"
#include "services/Site.h"
#include "services/Telemetry.h"
#include "services/Url.h"

namespace services {

namespace {
const char* kTimerName = "FileDownloader.downloadFile()";
const char* kFinishedFunction = "urlSession(_:downloadTask:didFinishDownloadingTo:)";
constexpr uint64_t kMaxPackageBytes = uint64_t(1) << 30;
}  // namespace

// Shared with the transfer's callbacks, which run on a worker thread and may
// outlive the downloader.
struct FileDownloader::State {
    std::mutex mutex;
    std::shared_ptr<kit::http::Download> task;
    Callback callback;
    int percentage = 0;
    int64_t size = 0;
    uint64_t generation = 0;  // which transfer is current
    bool reported = false;    // the current transfer's result went out
    Telemetry* telemetry = nullptr;
    Telemetry& reports() { return telemetry ? *telemetry : Telemetry::shared(); }
};

FileDownloader::FileDownloader(Telemetry* telemetry) : state_(std::make_shared<State>()) {
    state_->telemetry = telemetry;
}

FileDownloader::~FileDownloader() {
    std::shared_ptr<kit::http::Download> task;
    {
        std::lock_guard guard(state_->mutex);
        task = state_->task;
        state_->callback = nullptr;
    }
    if (task) task->cancel();
}

int FileDownloader::percentage() const {
    std::lock_guard guard(state_->mutex);
    return state_->percentage;
}

int64_t FileDownloader::size() const {
    std::lock_guard guard(state_->mutex);
    return state_->size;
}

std::string FileDownloader::downloadFolder() {
    return kit::files::dataDir() + "/updates";
}

std::string FileDownloader::sanitisedName(const std::string& lastPathComponent) {
    std::string name;
    for (char c : lastPathComponent) {
        bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_';
        if (safe) name.push_back(c);
    }
    while (!name.empty() && name.front() == '.') name.erase(name.begin());
    if (name.size() > 200) name.resize(200);
    return name.empty() ? "update" : name;
}

bool FileDownloader::isUnderSiteRoot(const std::string& url) {
    auto address = Url::parse(url);
    auto root = Url::parse(productSiteRoot());
    if (!address || !root || url.rfind(productSiteRoot(), 0) != 0) return false;
    if (address->scheme == "https") return true;
    std::string host = root->host.substr(0, root->host.rfind(':'));
    return address->scheme == "http" && (host == "127.0.0.1" || host == "localhost");
}

void FileDownloader::cancel() {
    std::shared_ptr<kit::http::Download> task;
    {
        std::lock_guard guard(state_->mutex);
        task = state_->task;
    }
    if (task) task->cancel();
}

void FileDownloader::deliver(const std::weak_ptr<State>& weak, int percentage,
                             std::optional<std::string> path, std::optional<std::string> error) {
    kit::dispatchMain([weak, percentage, path = std::move(path), error = std::move(error)] {
        auto state = weak.lock();
        if (!state) return;
        Callback callback;
        {
            std::lock_guard guard(state->mutex);
            callback = state->callback;
        }
        if (!callback) return;
        callback(percentage, path, error);
        timerLog(kTimerName);
    });
}

void FileDownloader::failure(const std::weak_ptr<State>& weak, const std::string& text) {
    deliver(weak, 0, std::nullopt, text);
}

void FileDownloader::finished(const std::weak_ptr<State>& weak, const std::optional<std::string>& location) {
    if (location)
        deliver(weak, 100, *location, std::nullopt);
    else
        failure(weak, "Unknown Error");
}

void FileDownloader::reportFailure(const std::string& text) {
    failure(state_, text);
}

void FileDownloader::reportFinished(const std::optional<std::string>& location) {
    finished(state_, location);
}

void FileDownloader::finish(const std::shared_ptr<State>& state, const kit::http::DownloadResult& result,
                            const std::string& url) {
    auto discard = [&] {
        if (result.path) kit::files::remove(*result.path);
    };
    if (result.error) {
        discard();
        failure(state, "Download Stopped: " + result.error->message);
        return;
    }
    if (result.status && *result.status != 200) {
        discard();
        // The report is queued before the failure is handed to the main
        // thread, so whoever reacts to the failure finds it already there.
        state->reports().oops(kFinishedFunction,
                              "Download File response code " + std::to_string(*result.status));
        finished(state, std::nullopt);
        return;
    }
    // Redirects may not lead the package away from the product site.
    std::string finalUrl = result.finalUrl.empty() ? url : result.finalUrl;
    if (!isUnderSiteRoot(finalUrl)) {
        discard();
        state->reports().oops(kFinishedFunction, "Download left the product site: " + finalUrl);
        finished(state, std::nullopt);
        return;
    }
    if (!result.path) {
        finished(state, std::nullopt);
        return;
    }
    consoleLine("didFinishDownloadingTo " + *result.path);
    auto address = Url::parse(finalUrl);
    std::string folder = downloadFolder();
    std::string destination = folder + "/" + sanitisedName(address ? address->lastPathComponent() : "");
    if (!kit::files::makeDirs(folder)) {
        discard();
        finished(state, std::nullopt);
        return;
    }
    bool cleared = !kit::files::exists(destination) || kit::files::remove(destination);
    if (!cleared || !kit::files::move(*result.path, destination)) {
        discard();
        state->reports().oops(kFinishedFunction, "Problem moving file to " + destination);
        finished(state, std::nullopt);
        return;
    }
    consoleLine("Moved to: " + destination);
    finished(state, destination);
}

void FileDownloader::downloadFile(const std::string& url, Callback callback) {
    if (!Url::parse(url)) {
        state_->reports().oops("downloadFile(url:callback:)", "Problem creating url");
        callback(0, std::nullopt, "Unknown error");
        return;
    }
    std::shared_ptr<kit::http::Download> previous;
    uint64_t generation;
    {
        std::lock_guard guard(state_->mutex);
        previous = std::move(state_->task);
        state_->callback = std::move(callback);
        state_->percentage = 0;
        state_->size = 0;
        state_->reported = false;
        generation = ++state_->generation;
    }
    // The transfer it replaces stops and reports nothing more.
    if (previous) previous->cancel();

    kit::http::DownloadRequest request;
    request.url = url;
    request.timeoutSeconds = 60;
    request.maxBytes = kMaxPackageBytes;
    std::weak_ptr<State> weak = state_;
    auto isCurrent = [generation](const std::shared_ptr<State>& state) {
        return state && state->generation == generation && state->callback;
    };

    auto progress = [weak, isCurrent](int64_t written, int64_t expected) {
        auto state = weak.lock();
        Callback callback;
        int percent = 0;
        {
            if (!state) return;
            std::lock_guard guard(state->mutex);
            if (!isCurrent(state)) return;
            // A length the server did not announce (or announced as 0) gives no percentage.
            if (expected > 0) state->percentage = int(float(written) * 100.0f / float(expected));
            state->size = expected;
            percent = state->percentage;
            callback = state->callback;
        }
        kit::dispatchMain([callback, percent] { callback(percent, std::nullopt, std::nullopt); });
    };

    auto done = [weak, isCurrent, url](kit::http::DownloadResult result) {
        auto state = weak.lock();
        if (!state) {
            if (result.path) kit::files::remove(*result.path);
            return;
        }
        {
            std::lock_guard guard(state->mutex);
            // Report once per transfer, and only for the current one.
            if (!isCurrent(state) || state->reported) {
                if (result.path) kit::files::remove(*result.path);
                return;
            }
            state->reported = true;
        }
        finish(state, result, url);
    };
    auto task = kit::http::download(std::move(request), progress, done);
    {
        std::lock_guard guard(state_->mutex);
        if (state_->generation == generation) state_->task = task;
    }
    timerStart(kTimerName);
}

}  // namespace services
