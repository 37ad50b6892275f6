#pragma once
// A one-shot HTTP server on 127.0.0.1 for tests: it takes one request, keeps
// its text, and answers with a fixed status and body.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

class LoopbackServer {
public:
    LoopbackServer(int status, std::string body) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 1);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this, status, body = std::move(body)] { serve(status, body); });
    }
    ~LoopbackServer() {
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        if (thread_.joinable()) thread_.join();
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The whole request (head and body) once it has arrived.
    std::string request() const { return done_ ? request_ : std::string(); }
    bool answered() const { return done_; }

private:
    void serve(int status, const std::string& body) {
        int c = accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        std::string text;
        char buf[4096];
        size_t need = std::string::npos;
        while (need == std::string::npos || text.size() < need) {
            ssize_t n = read(c, buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
            size_t head = text.find("\r\n\r\n");
            if (head != std::string::npos && need == std::string::npos) {
                size_t at = text.find("Content-Length: ");
                size_t length = at == std::string::npos ? 0 : std::stoul(text.substr(at + 16));
                need = head + 4 + length;
            }
        }
        request_ = text;
        std::string reply =
            "HTTP/1.1 " + std::to_string(status) + " OK\r\nContent-Type: application/json\r\n" +
            "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        (void)write(c, reply.data(), reply.size());
        close(c);
        done_ = true;
    }
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::string request_;
    std::atomic<bool> done_{false};
};
