#pragma once
// HTTP over libcurl on worker threads, in the manner of an ephemeral URL
// session: no cookies, no cache, http and https only (redirects included),
// an idle time-out, and a bound on the reply size read into memory.
// Completion and progress callbacks run on a worker thread; callers hop to
// the main thread themselves (dispatchMain).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kit::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method = "GET";
    std::string url;
    Headers headers;
    std::string body;
    // Idle time-out: the request fails when no byte moves for this long
    // (also the connect time-out).
    double timeoutSeconds = 60;
    size_t maxReplyBytes = size_t(16) << 20;
    bool followRedirects = true;
};

struct Error {
    std::string message;          // short: "timed out", "cancelled", "reply too large", …
    std::string fullDescription;  // with curl's detail and the URL
};

struct Response {
    std::optional<int> status;  // absent when no HTTP reply came
    Headers headers;            // of the final reply, names as sent
    std::string body;
    std::string finalUrl;
    std::optional<Error> error;
    // First header of that name, compared without case.
    std::optional<std::string> header(std::string_view name) const;
};

// Starts the request on a worker thread; done(response) runs there.
void send(Request request, std::function<void(Response)> done);
// Blocks the calling thread (never the main thread's event loop in the app).
Response sendSync(const Request& request);

struct DownloadRequest {
    std::string url;
    std::string destination;  // empty: a new file in files::tempDir()
    Headers headers;
    double timeoutSeconds = 60;
    uint64_t maxBytes = uint64_t(2) << 30;
};

struct DownloadResult {
    // The file written, when the transfer completed, whatever the HTTP status
    // (check `status` before trusting the content).
    std::optional<std::string> path;
    std::optional<int> status;
    std::string finalUrl;
    std::optional<Error> error;  // a cancel gives the message "cancelled"
};

class Download {
public:
    void cancel();
    bool isCancelled() const;
    struct State;
    explicit Download(std::shared_ptr<State> s) : state_(std::move(s)) {}

private:
    std::shared_ptr<State> state_;
};

// progress(written, expected) with expected = -1 when the length is unknown.
// Partial files are removed on failure and cancel.
std::shared_ptr<Download> download(DownloadRequest request,
                                   std::function<void(int64_t written, int64_t expected)> progress,
                                   std::function<void(DownloadResult)> done);

// Percent-encodes text for a query value (RFC 3986 unreserved kept, and
// the characters of `alsoKept`), upper-case hex.
std::string urlEncode(std::string_view text, std::string_view alsoKept = {});

}  // namespace kit::http
