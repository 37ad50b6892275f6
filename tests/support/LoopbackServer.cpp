#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

namespace {
// How long a client may take to send the next piece of its request.
constexpr int kReadTimeoutMs = 5000;

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool waitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

bool sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += size_t(n);
    }
    return true;
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

std::string head(const HttpReply& reply) {
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
    for (auto& [name, value] : reply.headers) text += name + ": " + value + "\r\n";
    if (!reply.omitLength) text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    return text + "Connection: close\r\n\r\n";
}

// The request line, the header lines and what arrived of the body so far.
HttpRequestRecord parseHead(const std::string& data, size_t headerEnd) {
    HttpRequestRecord request;
    std::string text = data.substr(0, headerEnd);
    size_t lineEnd = text.find("\r\n");
    std::string requestLine = text.substr(0, lineEnd);
    size_t sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t pos = lineEnd == std::string::npos ? text.size() : lineEnd + 2;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (size_t colon = line.find(':'); colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            request.headers[lower(line.substr(0, colon))] = value;
        }
        pos = end + 2;
    }
    request.body = data.substr(headerEnd + 4);
    return request;
}
}  // namespace

LoopbackServer::LoopbackServer() : LoopbackServer([](const HttpRequestRecord&) { return HttpReply{}; }) {}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void LoopbackServer::setHandler(Handler handler) {
    std::lock_guard guard(mutex_);
    handler_ = std::move(handler);
}

std::vector<HttpRequestRecord> LoopbackServer::requests() const {
    std::lock_guard guard(mutex_);
    return requests_;
}

void LoopbackServer::serve() {
    while (!stopping_) {
        if (!waitReadable(listener_, 20)) continue;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client);
        ::close(client);
    }
}

bool LoopbackServer::linger(int client, int ms) {
    char buffer[4096];
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (stopping_) return false;
        // Whatever more the client sends is dropped; an orderly close or an error means it left.
        if (waitReadable(client, 20) && ::recv(client, buffer, sizeof buffer, 0) <= 0) return false;
    }
    return !stopping_;
}

void LoopbackServer::answer(int client) {
    std::string data;
    char buffer[65536];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (stopping_ || !waitReadable(client, kReadTimeoutMs)) return;
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        data.append(buffer, size_t(n));
    }
    HttpRequestRecord request = parseHead(data, headerEnd);
    size_t length = 0;
    if (auto it = request.headers.find("content-length"); it != request.headers.end())
        length = size_t(std::strtoull(it->second.c_str(), nullptr, 10));
    while (request.body.size() < length) {
        if (stopping_ || !waitReadable(client, kReadTimeoutMs)) return;
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.body.append(buffer, size_t(n));
    }
    Handler handler;
    {
        std::lock_guard guard(mutex_);
        requests_.push_back(request);
        handler = handler_;
    }
    HttpReply reply = handler(request);
    if (reply.delayMs > 0 && !linger(client, reply.delayMs)) return;
    if (!sendAll(client, head(reply))) return;
    size_t chunk = reply.chunk ? reply.chunk : std::max<size_t>(reply.body.size(), 1);
    for (size_t at = 0; at < reply.body.size() && !stopping_; at += chunk) {
        if (!sendAll(client, reply.body.substr(at, chunk))) return;
        if (reply.pauseMs > 0 && at + chunk < reply.body.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
    }
    if (reply.hangAfterMs > 0) linger(client, reply.hangAfterMs);
}

SiteScope::SiteScope(const std::string& origin) {
    const char* old = std::getenv("KADRIX_SITE");
    hadPrevious_ = old != nullptr;
    if (old) previous_ = old;
    setenv("KADRIX_SITE", origin.c_str(), 1);
}

SiteScope::~SiteScope() {
    if (hadPrevious_)
        setenv("KADRIX_SITE", previous_.c_str(), 1);
    else
        unsetenv("KADRIX_SITE");
}
