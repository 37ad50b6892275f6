#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "kit/base/Files.h"
#include "kit/base/Http.h"
#include "support/LoopbackServer.h"

using namespace kit;

namespace {

http::Request request(std::string url, double timeout = 60, size_t maxBytes = size_t(16) << 20) {
    http::Request r;
    r.url = std::move(url);
    r.timeoutSeconds = timeout;
    r.maxReplyBytes = maxBytes;
    return r;
}

http::DownloadRequest downloadTo(std::string url, std::string dest) {
    http::DownloadRequest r;
    r.url = std::move(url);
    r.destination = std::move(dest);
    return r;
}

}  // namespace

TEST(Http, SendsMethodHeadersAndBodyAndReadsTheReply) {
    LoopbackServer server([](const HttpRequestRecord& r) {
        if (r.target == "/missing") return HttpReply{404, {}, "no such page"};
        return HttpReply{201, {{"Content-Type", "application/json"}, {"X-Echo", r.body}}, "{\"ok\":true}"};
    });
    http::Request req;
    req.method = "POST";
    req.url = server.url("/telemetry.php?x=1");
    req.headers = {{"Content-Type", "application/json"}, {"User-Agent", "KadrixTest/1"}};
    req.body = "[1,2]";
    auto resp = http::sendSync(req);
    ASSERT_FALSE(resp.error) << resp.error->fullDescription;
    EXPECT_EQ(resp.status, 201);
    EXPECT_EQ(resp.body, "{\"ok\":true}");
    EXPECT_EQ(resp.header("content-type"), "application/json");
    EXPECT_EQ(resp.header("X-ECHO"), "[1,2]");
    EXPECT_FALSE(resp.header("X-Absent"));
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target, "/telemetry.php?x=1");
    EXPECT_EQ(seen[0].body, "[1,2]");
    EXPECT_EQ(seen[0].headers["content-type"], "application/json");
    EXPECT_EQ(seen[0].headers["user-agent"], "KadrixTest/1");

    // Header text cannot smuggle in headers of its own.
    auto smuggled = request(server.url("/x"));
    smuggled.headers = {{"X-Token", "a\r\nX-Admin: 1"}};
    auto refused = http::sendSync(smuggled);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->message, "bad header");
    EXPECT_EQ(server.requests().size(), 1u);  // never sent
    auto empty = request(server.url("/x"));
    empty.headers = {{"X-Empty", ""}};
    ASSERT_FALSE(http::sendSync(empty).error);
    EXPECT_EQ(server.requests().back().headers.count("x-empty"), 1u);

    // An HTTP error status is a reply, not a transport error.
    auto missing = http::sendSync(request(server.url("/missing")));
    EXPECT_FALSE(missing.error);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "no such page");
    EXPECT_EQ(server.requests().back().method, "GET");
    EXPECT_EQ(server.requests().back().target, "/missing");
}

TEST(Http, AsyncSendCompletesOnAWorkerThread) {
    LoopbackServer server([](const HttpRequestRecord&) { return HttpReply{200, {}, "hi"}; });
    std::mutex m;
    std::condition_variable cv;
    std::optional<http::Response> got;
    std::thread::id caller = std::this_thread::get_id(), worker;
    http::Request put = request(server.url("/x"));
    put.method = "PUT";
    put.body = "b";
    http::send(put, [&](http::Response r) {
        std::lock_guard lock(m);
        worker = std::this_thread::get_id();
        got = std::move(r);
        cv.notify_one();
    });
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return got.has_value(); }));
    EXPECT_EQ(got->body, "hi");
    EXPECT_NE(worker, caller);
    EXPECT_EQ(server.requests()[0].method, "PUT");
}

TEST(Http, IdleTimeOut) {
    LoopbackServer server(
        [](const HttpRequestRecord&) { return HttpReply{.delayMs = 10000}; });  // never answers
    auto start = std::chrono::steady_clock::now();
    auto resp = http::sendSync(request(server.url("/slow"), 0.5));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(resp.error);
    EXPECT_EQ(resp.error->message, "timed out");
    EXPECT_FALSE(resp.status);
    EXPECT_LT(took, 5.0);

    // A reply that keeps trickling is not idle, however long it takes.
    LoopbackServer trickle([](const HttpRequestRecord&) {
        return HttpReply{.status = 200, .body = std::string(10, 'x'), .chunk = 1, .pauseMs = 150};
    });
    auto slow = http::sendSync(request(trickle.url("/"), 1));
    EXPECT_FALSE(slow.error) << slow.error->fullDescription;
    EXPECT_EQ(slow.body, "xxxxxxxxxx");
}

TEST(Http, OversizedRepliesAreRefused) {
    const std::string big(300000, 'z');
    LoopbackServer server(
        [&](const HttpRequestRecord& r) { return HttpReply{.body = big, .omitLength = r.target != "/len"}; });
    for (const char* path : {"/len", "/nolen"}) {
        auto resp = http::sendSync(request(server.url(path), 60, 100000));
        ASSERT_TRUE(resp.error) << path;
        EXPECT_EQ(resp.error->message, "reply too large") << path;
        EXPECT_TRUE(resp.body.empty());
    }
    auto fits = http::sendSync(request(server.url("/nolen"), 60, big.size()));
    EXPECT_FALSE(fits.error);
    EXPECT_EQ(fits.body.size(), big.size());
}

TEST(Http, OnlyHttpAndHttpsAndNoCookies) {
    for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "gopher://x", "not a url", ""}) {
        auto resp = http::sendSync(request(url));
        ASSERT_TRUE(resp.error) << url;
        EXPECT_EQ(resp.error->message, "unsupported URL") << url;
    }
    LoopbackServer server([](const HttpRequestRecord& r) {
        if (r.target == "/first")
            return HttpReply{302, {{"Set-Cookie", "sid=1; Path=/"}, {"Location", "/second"}}};
        if (r.target == "/ftp") return HttpReply{302, {{"Location", "ftp://127.0.0.1/x"}}};
        return HttpReply{200, {}, "landed"};
    });
    auto resp = http::sendSync(request(server.url("/first")));
    ASSERT_FALSE(resp.error);
    EXPECT_EQ(resp.body, "landed");
    EXPECT_EQ(resp.finalUrl, server.url("/second"));
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].headers.count("cookie"), 0u);

    auto ftp = http::sendSync(request(server.url("/ftp")));
    ASSERT_TRUE(ftp.error);

    auto nohost = http::sendSync(request("http://127.0.0.1:1/", 2));
    ASSERT_TRUE(nohost.error);
    EXPECT_EQ(nohost.error->message, "cannot connect to host");
}

namespace {
struct DownloadWatch {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::pair<int64_t, int64_t>> progress;
    std::optional<http::DownloadResult> result;
    bool wait() {
        std::unique_lock lock(m);
        return cv.wait_for(lock, std::chrono::seconds(15), [&] { return result.has_value(); });
    }
};
}  // namespace

TEST(Http, DownloadWritesTheFileWithProgress) {
    std::string payload;
    for (int i = 0; i < 200000; ++i) payload += char('a' + i % 26);
    LoopbackServer server([&](const HttpRequestRecord& r) {
        return HttpReply{.body = payload, .chunk = 32768, .pauseMs = 2, .omitLength = r.target != "/len"};
    });
    for (const char* path : {"/len", "/nolen"}) {
        DownloadWatch w;
        std::string dest = files::uniqueTempPath("dl-", ".zip");
        http::download(
            downloadTo(server.url(path), dest),
            [&](int64_t written, int64_t expected) {
                std::lock_guard lock(w.m);
                w.progress.push_back({written, expected});
            },
            [&](http::DownloadResult r) {
                std::lock_guard lock(w.m);
                w.result = std::move(r);
                w.cv.notify_one();
            });
        ASSERT_TRUE(w.wait());
        ASSERT_FALSE(w.result->error) << w.result->error->fullDescription;
        EXPECT_EQ(w.result->status, 200);
        EXPECT_EQ(w.result->path, dest);
        EXPECT_EQ(files::readAll(dest), payload);
        EXPECT_FALSE(files::exists(dest + ".part"));
        ASSERT_GE(w.progress.size(), 2u);
        for (size_t i = 1; i < w.progress.size(); ++i)
            EXPECT_GT(w.progress[i].first, w.progress[i - 1].first);
        EXPECT_EQ(w.progress.back().first, int64_t(payload.size()));
        EXPECT_EQ(w.progress.back().second, std::string(path) == "/len" ? int64_t(payload.size()) : -1);
        files::remove(dest);
    }
}

TEST(Http, CancelledDownloadLeavesNoFile) {
    // A server that announces a megabyte, sends a thousand bytes and stalls.
    LoopbackServer server([](const HttpRequestRecord&) {
        return HttpReply{.headers = {{"Content-Length", "1000000"}},
                         .body = std::string(1000, 'x'),
                         .omitLength = true,
                         .hangAfterMs = 10000};
    });
    DownloadWatch w;
    std::string dest = files::uniqueTempPath("dl-", ".bin");
    std::shared_ptr<http::Download> handle;
    std::mutex hm;
    {
        std::lock_guard lock(hm);
        handle = http::download(
            downloadTo(server.url("/big"), dest),
            [&](int64_t, int64_t) {
                std::lock_guard lock(hm);
                handle->cancel();
            },
            [&](http::DownloadResult r) {
                std::lock_guard lock(w.m);
                w.result = std::move(r);
                w.cv.notify_one();
            });
    }
    ASSERT_TRUE(w.wait());
    ASSERT_TRUE(w.result->error);
    EXPECT_EQ(w.result->error->message, "cancelled");
    EXPECT_FALSE(w.result->path);
    EXPECT_TRUE(handle->isCancelled());
    EXPECT_FALSE(files::exists(dest));
    EXPECT_FALSE(files::exists(dest + ".part"));
}

TEST(Http, UrlEncodeKeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(http::urlEncode("a b&c=d/é~_.-"), "a%20b%26c%3Dd%2F%C3%A9~_.-");
}
