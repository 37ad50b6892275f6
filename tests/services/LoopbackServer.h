#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the network tests: it records
// every request and answers through a handler the test sets. One connection
// at a time, "Connection: close" on every reply.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpRequestRecord {
    std::string method;
    std::string target;                          // path and query
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

struct HttpReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Sent in pieces of this many bytes with a pause between them (0: at once).
    size_t chunk = 0;
    int pauseMs = 0;
    // Wait this long before answering at all.
    int delayMs = 0;
    // Leave out Content-Length (the length is then unknown to the client).
    bool omitLength = false;
};

class LoopbackServer {
public:
    using Handler = std::function<HttpReply(const HttpRequestRecord&)>;

    LoopbackServer();
    ~LoopbackServer();

    int port() const { return port_; }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    void setHandler(Handler handler);
    std::vector<HttpRequestRecord> requests() const;

private:
    void serve();
    void answer(int client);

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

private:
    std::string previous_;
    bool hadPrevious_;
};
