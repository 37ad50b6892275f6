#pragma once
// Downloads the update package: progress and the result go to one callback
// on the main thread. The file lands in a folder of our own under a
// sanitised base name; a transfer that was redirected away from the product
// site is refused.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kit::http {
class Download;
struct DownloadResult;
}  // namespace kit::http

namespace services {

class Telemetry;

class FileDownloader {
public:
    // Progress: (percentage, none, none); success: (100, path, none); failure: (0, none, error text).
    using Callback = std::function<void(int percentage, std::optional<std::string> path,
                                        std::optional<std::string> error)>;

    // Error reports go to `telemetry` (the shared service when null).
    explicit FileDownloader(Telemetry* telemetry = nullptr);
    ~FileDownloader();
    FileDownloader(const FileDownloader&) = delete;
    FileDownloader& operator=(const FileDownloader&) = delete;

    // Starts a download, replacing the one under way (and its callback).
    void downloadFile(const std::string& url, Callback callback);
    // Stops the current transfer; its callback then gets "Download Stopped: cancelled".
    void cancel();

    int percentage() const;
    int64_t size() const;  // announced total bytes; negative when unknown

    // Where packages are kept: the "updates" folder in the data folder.
    static std::string downloadFolder();
    // A base name safe to use in that folder: letters, digits, ".", "-" and
    // "_" only, never starting with "."; "update" when nothing is left.
    static std::string sanitisedName(const std::string& lastPathComponent);
    // Whether an address lies under the product site's root, over https (or
    // plain http when the site itself is a loopback address, for tests).
    static bool isUnderSiteRoot(const std::string& url);

    void reportFailure(const std::string& text);
    void reportFinished(const std::optional<std::string>& location);

private:
    struct State;
    static void deliver(const std::weak_ptr<State>& state, int percentage, std::optional<std::string> path,
                        std::optional<std::string> error);
    static void failure(const std::weak_ptr<State>& state, const std::string& text);
    static void finished(const std::weak_ptr<State>& state, const std::optional<std::string>& location);
    static void finish(const std::shared_ptr<State>& state, const kit::http::DownloadResult& result,
                       const std::string& url);
    std::shared_ptr<State> state_;
};

}  // namespace services
