#include "kit/base/Http.h"

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "kit/base/Dispatch.h"
#include "kit/base/DynamicLibrary.h"
#include "kit/base/Files.h"

#ifndef KADRIX_VERSION
#define KADRIX_VERSION "0"
#endif

namespace kit::http {

struct Download::State {
    std::atomic<bool> cancelled{false};
};

void Download::cancel() {
    state_->cancelled = true;
}
bool Download::isCancelled() const {
    return state_->cancelled;
}

namespace {

using SteadyClock = std::chrono::steady_clock;

// Transfers run on pool threads that exit does not wait for. Left running,
// one would use curl and OpenSSL while their exit handlers tear them down, so
// at exit every transfer is told to stop and is given a moment to finish.
std::atomic<bool> gExiting{false};
std::mutex gInFlightMutex;
std::condition_variable gInFlightDone;
int gInFlight = 0;

void stopTransfersAtExit() {
    gExiting = true;
    std::unique_lock lock(gInFlightMutex);
    gInFlightDone.wait_for(lock, std::chrono::seconds(2), [] { return gInFlight == 0; });
}

struct InFlight {
    InFlight() {
        std::lock_guard lock(gInFlightMutex);
        ++gInFlight;
    }
    ~InFlight() {
        std::lock_guard lock(gInFlightMutex);
        if (--gInFlight == 0) gInFlightDone.notify_all();
    }
};

// libcurl, loaded with the first request rather than with the program: it
// and the libraries it brings (TLS, Kerberos, LDAP, SSH, ...) cost every
// launch start-up time and memory, and a session may make no request for
// minutes. Its functions, looked up once; null when it cannot be loaded.
struct Curl {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_easy_strerror) easy_strerror;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

const DynamicLibrary& curlFile() {
    static const DynamicLibrary lib(KADRIX_CURL_LIBRARY);
    return lib;
}

const Curl* loadCurl() {
    const DynamicLibrary& lib = curlFile();
    static Curl c;
    const bool all =
        lib.find(c.global_init, "curl_global_init") & lib.find(c.easy_init, "curl_easy_init") &
        lib.find(c.easy_setopt, "curl_easy_setopt") & lib.find(c.easy_perform, "curl_easy_perform") &
        lib.find(c.easy_getinfo, "curl_easy_getinfo") & lib.find(c.easy_cleanup, "curl_easy_cleanup") &
        lib.find(c.easy_strerror, "curl_easy_strerror") & lib.find(c.slist_append, "curl_slist_append") &
        lib.find(c.slist_free_all, "curl_slist_free_all");
    if (!all) return nullptr;
    c.global_init(CURL_GLOBAL_DEFAULT);
    // Registered after curl's and OpenSSL's own handlers, so it runs before them.
    std::atexit(stopTransfersAtExit);
    return &c;
}

const Curl* curlLibrary() {
    static const Curl* c = loadCurl();
    return c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool isHttpUrl(std::string_view url) {
    auto starts = [&](std::string_view p) {
        return url.size() > p.size() && equalsNoCase(url.substr(0, p.size()), p);
    };
    return starts("http://") || starts("https://");
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

// One transfer on the calling thread; the body goes to memory or to a file.
struct Transfer {
    std::string url;
    double timeoutSeconds = 60;
    uint64_t maxBytes = 0;
    std::FILE* file = nullptr;  // null: into `body`
    const std::atomic<bool>* cancelled = nullptr;
    std::function<void(int64_t, int64_t)> progress;
    CURL* curl = nullptr;

    std::string body;
    Headers headers;
    uint64_t received = 0;
    bool tooLarge = false;
    bool idleTimeout = false;
    bool writeFailed = false;
    SteadyClock::time_point lastActivity = SteadyClock::now();
    curl_off_t lastUp = 0, lastDown = 0;

    static size_t onHeader(char* data, size_t size, size_t n, void* self) {
        auto* t = static_cast<Transfer*>(self);
        std::string_view line(data, size * n);
        t->lastActivity = SteadyClock::now();  // header bytes count as activity too
        if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
            t->headers.clear();  // a new reply (after a redirect or 100 Continue)
        } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
            t->headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
        }
        return size * n;
    }

    static size_t onData(char* data, size_t size, size_t n, void* self) {
        auto* t = static_cast<Transfer*>(self);
        size_t len = size * n;
        if (t->cancelled && *t->cancelled) return 0;
        if (t->received + len > t->maxBytes) {
            t->tooLarge = true;
            return 0;
        }
        if (t->file) {
            if (std::fwrite(data, 1, len, t->file) != len) {
                t->writeFailed = true;
                return 0;
            }
        } else {
            t->body.append(data, len);
        }
        t->received += len;
        t->lastActivity = SteadyClock::now();
        if (t->progress) {
            curl_off_t expected = -1;
            curlLibrary()->easy_getinfo(t->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
            t->progress(int64_t(t->received), expected >= 0 ? int64_t(expected) : -1);
        }
        return len;
    }

    // Called often while the transfer lives, also when no data moves: the
    // place to notice a cancel and an idle connection.
    static int onTick(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* t = static_cast<Transfer*>(self);
        if (gExiting || (t->cancelled && *t->cancelled)) return 1;
        auto now = SteadyClock::now();
        if (dlnow != t->lastDown || ulnow != t->lastUp) {
            t->lastDown = dlnow;
            t->lastUp = ulnow;
            t->lastActivity = now;
        } else if (std::chrono::duration<double>(now - t->lastActivity).count() > t->timeoutSeconds) {
            t->idleTimeout = true;
            return 1;
        }
        return 0;
    }

    std::optional<Error> perform(const std::string& method, const Headers& requestHeaders,
                                 const std::string& requestBody, bool followRedirects,
                                 std::optional<int>& status, std::string& finalUrl) {
        if (!isHttpUrl(url)) return Error{"unsupported URL", "unsupported URL (only http and https): " + url};
        // Counted from before the library loads: its set-up registers exit
        // handlers of its own, which must not run while it is half done.
        InFlight inFlight;
        if (gExiting) return Error{"cancelled", "the program is exiting"};
        const Curl* lib = curlLibrary();
        if (!lib)
            return Error{"cannot start request",
                         "the network library cannot be loaded: " + curlFile().error()};
        curl = lib->easy_init();
        if (!curl) return Error{"cannot start request", "curl_easy_init failed for " + url};
        char errbuf[CURL_ERROR_SIZE] = {0};
        curl_slist* list = nullptr;
        bool hasAgent = false;
        for (const auto& [k, v] : requestHeaders) {
            // A line break in a header would smuggle in headers of its own.
            if (k.empty() || k.find_first_of("\r\n:") != std::string::npos ||
                v.find_first_of("\r\n") != std::string::npos) {
                lib->slist_free_all(list);
                lib->easy_cleanup(curl);
                curl = nullptr;
                return Error{"bad header", "bad header name or value: " + k};
            }
            if (equalsNoCase(k, "User-Agent")) hasAgent = true;
            // "Name;" is curl's way to send a header with an empty value.
            std::string line = v.empty() ? std::string(k).append(";") : std::string(k).append(": ").append(v);
            list = lib->slist_append(list, line.c_str());
        }
        list = lib->slist_append(list, "Expect:");

        long timeoutMs = long(std::ceil(std::max(0.001, timeoutSeconds) * 1000));
        lib->easy_setopt(curl, CURLOPT_URL, url.c_str());
        lib->easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
        lib->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        lib->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        lib->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        lib->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
        lib->easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
        lib->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
        lib->easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
        lib->easy_setopt(curl, CURLOPT_HTTPHEADER, list);
        if (!hasAgent) lib->easy_setopt(curl, CURLOPT_USERAGENT, "Kadrix/" KADRIX_VERSION);
        lib->easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
        lib->easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        lib->easy_setopt(curl, CURLOPT_HEADERDATA, this);
        lib->easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Transfer::onData);
        lib->easy_setopt(curl, CURLOPT_WRITEDATA, this);
        lib->easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        lib->easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Transfer::onTick);
        lib->easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        // No cookie engine (no COOKIEFILE), and no cache exists in libcurl: ephemeral.

        if (method == "GET") {
            lib->easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            lib->easy_setopt(curl, CURLOPT_NOBODY, 1L);
        } else {
            if (method != "POST") lib->easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
            lib->easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(requestBody.size()));
            lib->easy_setopt(curl, CURLOPT_POSTFIELDS, requestBody.data());
        }

        lastActivity = SteadyClock::now();
        CURLcode rc = lib->easy_perform(curl);
        long code = 0;
        lib->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        if (code > 0) status = int(code);
        char* effective = nullptr;
        lib->easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective);
        finalUrl = effective ? effective : url;
        lib->slist_free_all(list);
        lib->easy_cleanup(curl);
        curl = nullptr;
        if (rc == CURLE_OK) return std::nullopt;

        std::string message;
        if (cancelled && *cancelled)
            message = "cancelled";
        else if (idleTimeout || rc == CURLE_OPERATION_TIMEDOUT)
            message = "timed out";
        else if (tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
            message = "reply too large";
        else if (writeFailed)
            message = "cannot write the file";
        else if (rc == CURLE_UNSUPPORTED_PROTOCOL)
            message = "unsupported URL";
        else if (rc == CURLE_URL_MALFORMAT)
            message = "bad URL";
        else if (rc == CURLE_COULDNT_RESOLVE_HOST)
            message = "cannot find host";
        else if (rc == CURLE_COULDNT_CONNECT)
            message = "cannot connect to host";
        else if (rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_PEER_FAILED_VERIFICATION)
            message = "secure connection failed";
        else
            message = lib->easy_strerror(rc);
        std::string detail = errbuf[0] ? std::string(errbuf) : std::string(lib->easy_strerror(rc));
        return Error{message, message + ": " + detail + " (" + url + ")"};
    }
};

}  // namespace

std::optional<std::string> Response::header(std::string_view name) const {
    for (const auto& [k, v] : headers)
        if (equalsNoCase(k, name)) return v;
    return std::nullopt;
}

Response sendSync(const Request& request) {
    Response out;
    Transfer t;
    t.url = request.url;
    t.timeoutSeconds = request.timeoutSeconds;
    t.maxBytes = request.maxReplyBytes;
    out.error = t.perform(request.method, request.headers, request.body, request.followRedirects, out.status,
                          out.finalUrl);
    out.headers = std::move(t.headers);
    if (!out.error) out.body = std::move(t.body);
    return out;
}

void send(Request request, std::function<void(Response)> done) {
    globalQueue().async([request = std::move(request), done = std::move(done)] {
        Response r = sendSync(request);
        if (done) done(std::move(r));
    });
}

std::shared_ptr<Download> download(DownloadRequest request, std::function<void(int64_t, int64_t)> progress,
                                   std::function<void(DownloadResult)> done) {
    auto state = std::make_shared<Download::State>();
    auto handle = std::make_shared<Download>(state);
    globalQueue().async(
        [request = std::move(request), progress = std::move(progress), done = std::move(done), state] {
            DownloadResult result;
            std::string dest =
                request.destination.empty() ? files::uniqueTempPath("download-", "") : request.destination;
            // Written beside the destination and renamed in when whole.
            std::string part = dest + ".part";
            std::FILE* f = std::fopen(part.c_str(), "wbe");
            if (!f) {
                result.error = Error{"cannot write the file", "cannot create " + part};
            } else {
                Transfer t;
                t.url = request.url;
                t.timeoutSeconds = request.timeoutSeconds;
                t.maxBytes = request.maxBytes;
                t.file = f;
                t.cancelled = &state->cancelled;
                t.progress = progress;
                result.error = t.perform("GET", request.headers, {}, true, result.status, result.finalUrl);
                bool closed = std::fclose(f) == 0;
                if (!result.error && !closed)
                    result.error = Error{"cannot write the file", "cannot close " + part};
                if (!result.error && state->cancelled)
                    result.error = Error{"cancelled", "cancelled (" + request.url + ")"};
                if (!result.error && !files::move(part, dest))
                    result.error = Error{"cannot write the file", "cannot move the download to " + dest};
                if (result.error)
                    files::remove(part);
                else
                    result.path = dest;
            }
            if (done) done(std::move(result));
        });
    return handle;
}

std::string urlEncode(std::string_view text, std::string_view alsoKept) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
            c == '.' || c == '_' || c == '~' || alsoKept.find(char(c)) != std::string_view::npos) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace kit::http
