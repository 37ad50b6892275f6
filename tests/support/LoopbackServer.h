#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the network tests of every
// folder: it records each request and answers through a handler the test
// sets. One connection at a time, "Connection: close" on every reply.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct HttpRequestRecord {
    std::string method;
    std::string target;                          // path and query
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body{};
};

struct HttpReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers{};
    std::string body{};
    // The body goes out in pieces of this many bytes with a pause between
    // them (0: at once); the head always goes at once.
    size_t chunk = 0;
    int pauseMs = 0;
    // Wait this long before answering at all (less when the client leaves).
    int delayMs = 0;
    // Leave out Content-Length (the length is then unknown to the client,
    // unless the test gives one of its own in `headers`).
    bool omitLength = false;
    // Keep the connection open this long after the reply (less when the
    // client leaves), as a server that stalls mid-transfer does.
    int hangAfterMs = 0;
};

class LoopbackServer {
public:
    using Handler = std::function<HttpReply(const HttpRequestRecord&)>;

    // Answers every request with 200 and an empty body until a handler is set.
    LoopbackServer();
    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return origin() + path; }
    void setHandler(Handler handler);
    std::vector<HttpRequestRecord> requests() const;

private:
    void serve();
    void answer(int client);
    // Waits up to `ms` (in steps, so a stop or a client that leaves ends it
    // early); false when the server stops or the client has gone.
    bool linger(int client, int ms);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    Handler handler_;
    std::vector<HttpRequestRecord> requests_;
    std::thread thread_;
};

// Sets KADRIX_SITE for the lifetime of the guard.
class SiteScope {
public:
    explicit SiteScope(const std::string& origin);
    ~SiteScope();
    SiteScope(const SiteScope&) = delete;
    SiteScope& operator=(const SiteScope&) = delete;

private:
    std::string previous_;
    bool hadPrevious_;
};
