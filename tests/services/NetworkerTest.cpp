#include <gtest/gtest.h>

#include "ServicesFixture.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Regex.h"
#include "services/Networker.h"
#include "support/LoopbackServer.h"
#include "support/TelemetryQueue.h"

using namespace services;

namespace {
std::string text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}
Bytes bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct Reply {
    std::optional<Bytes> data;
    std::optional<std::string> error;
    bool onMain = false;
    bool arrived = false;
};

Networker::Callback recordInto(std::shared_ptr<Reply> reply) {
    return [reply](std::optional<Bytes> data, std::optional<std::string> error) {
        reply->data = std::move(data);
        reply->error = std::move(error);
        reply->onMain = kit::isMainThread();
        reply->arrived = true;
    };
}

bool waitFor(const std::shared_ptr<Reply>& reply, double seconds = 10) {
    return kit::runMainLoopUntil([&] { return reply->arrived; }, seconds);
}
// Posts to a server that stays silent for 3 s, with the time-out shortened to 1 s.
template <class Post>
std::shared_ptr<Reply> replyFromSilentServer(double& timeout, Post post) {
    LoopbackServer slow;
    slow.setHandler([](const HttpRequestRecord&) { return HttpReply{200, {}, "late", 0, 0, 3000}; });
    double saved = std::exchange(timeout, 1);
    auto reply = std::make_shared<Reply>();
    post(slow.origin() + "/x", recordInto(reply));
    EXPECT_TRUE(waitFor(reply));
    timeout = saved;
    return reply;
}
}  // namespace

TEST(NetworkerTest, BoundaryIsMadeOnceInItsForm) {
    const std::string& b = Networker::boundary();
    EXPECT_TRUE(kit::Regex("----iOSURLSessionBoundary\\.[0-9a-f]{16}").matchesWhole(b)) << b;
    EXPECT_EQ(b.size(), 42u);
    EXPECT_EQ(&Networker::boundary(), &b);
    EXPECT_EQ(Networker::boundaryLine(), "--" + b + "\r\n");
    EXPECT_EQ(Networker::closingDelimiter(), "--" + b + "--\r\n");
}

TEST(NetworkerTest, PartsByteForByte) {
    const std::string line = "--" + Networker::boundary() + "\r\n";
    Bytes png{0x89, 'P', 'N', 'G', 0x00, '\r', '\n'};
    Bytes file = Networker::appendFilePart("file", "SCR-1.png", "image/png", png);
    std::string expected = line +
                           "Content-Disposition: form-data; name=\"file\"; filename=\"SCR-1.png\"\r\n" +
                           "Content-Type: image/png\r\n\r\n" + text(png) + "\r\n";
    EXPECT_EQ(text(file), expected);

    EXPECT_EQ(text(Networker::appendField("token", "a\"b\r\nc")),
              line + "Content-Disposition: form-data; name=\"token\"\r\n\r\na\"b\r\nc\r\n")
        << "values go in unchanged";

    // Names cannot end their quotes or add header lines.
    EXPECT_EQ(text(Networker::appendFilePart("f\"x", "a\".png\r\nX-Evil: 1", "image/png\r\nX: 2", {})),
              line +
                  "Content-Disposition: form-data; name=\"f%22x\"; filename=\"a%22.png%0D%0AX-Evil: 1\"\r\n" +
                  "Content-Type: image/pngX: 2\r\n\r\n\r\n");
}

TEST(NetworkerTest, MultipartPostSendsTheBodyAndAnswersOffTheMainThread) {
    LoopbackServer server;
    server.setHandler([](const HttpRequestRecord&) { return HttpReply{500, {}, "ERR quota"}; });
    Bytes body = Networker::appendField("uid", "u-1");
    auto reply = std::make_shared<Reply>();
    Networker::postMultipart(server.origin() + "/api/upload.php", body, recordInto(reply));
    ASSERT_TRUE(waitFor(reply));
    EXPECT_FALSE(reply->onMain);
    EXPECT_FALSE(reply->error);
    EXPECT_EQ(text(*reply->data), "ERR quota") << "a reply with a body is a reply, whatever its status";

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/api/upload.php");
    EXPECT_EQ(requests[0].body, text(body) + Networker::closingDelimiter());
    EXPECT_EQ(requests[0].headers["content-type"], "multipart/form-data; boundary=" + Networker::boundary());
    EXPECT_EQ(requests[0].headers["content-length"], std::to_string(requests[0].body.size()));
}

TEST(NetworkerTest, EmptyMultipartBodyIsTheClosingDelimiterAlone) {
    LoopbackServer server;
    auto reply = std::make_shared<Reply>();
    Networker::postMultipart(server.origin() + "/x", {}, recordInto(reply));
    ASSERT_TRUE(waitFor(reply));
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, Networker::closingDelimiter());
    EXPECT_EQ(requests[0].headers["content-length"], "48");
    EXPECT_TRUE(reply->data && reply->data->empty());
}

TEST(NetworkerTest, MultipartFailures) {
    auto invalid = std::make_shared<Reply>();
    Networker::postMultipart("not a url", {}, recordInto(invalid));
    ASSERT_TRUE(waitFor(invalid));
    EXPECT_EQ(invalid->error, "Can't parse URL");
    EXPECT_FALSE(invalid->data);

    auto refused = std::make_shared<Reply>();
    Networker::postMultipart("http://127.0.0.1:1/x", {}, recordInto(refused));
    ASSERT_TRUE(waitFor(refused));
    ASSERT_TRUE(refused->error);
    EXPECT_NE(refused->error->find("127.0.0.1"), std::string::npos)
        << "the full description names the address";

    auto timedOut = replyFromSilentServer(
        Networker::multipartTimeout,
        [](const std::string& url, auto callback) { Networker::postMultipart(url, {}, callback); });
    EXPECT_TRUE(timedOut->error);
    EXPECT_FALSE(timedOut->data);
}

TEST(NetworkerTest, JsonPostSendsSortedCompactJsonAndAnswersOnMain) {
    LoopbackServer server;
    server.setHandler([](const HttpRequestRecord&) { return HttpReply{200, {}, R"({"success":1})"}; });
    auto reply = std::make_shared<Reply>();
    Networker::postJSON(server.origin() + "/api/leaderboard.php", {{"score", "12"}, {"name", "A \"B\""}},
                        recordInto(reply));
    ASSERT_TRUE(waitFor(reply));
    EXPECT_TRUE(reply->onMain);
    EXPECT_FALSE(reply->error);
    EXPECT_EQ(jsonPath(*reply->data, "success"), "1");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, R"({"name":"A \"B\"","score":"12"})");
    EXPECT_EQ(requests[0].headers["content-type"], "application/json");
    EXPECT_EQ(requests[0].headers["accept"], "application/json");

    auto invalid = std::make_shared<Reply>();
    Networker::postJSON("::", {}, recordInto(invalid));
    EXPECT_FALSE(invalid->arrived) << "delivered later, on the main thread";
    ASSERT_TRUE(waitFor(invalid));
    EXPECT_TRUE(invalid->onMain);
    EXPECT_EQ(invalid->error, "Problem creating url");

    auto timedOut = replyFromSilentServer(Networker::jsonTimeout, [](const std::string& url, auto callback) {
        Networker::postJSON(url, {}, callback);
    });
    ASSERT_TRUE(timedOut->error);
    EXPECT_EQ(timedOut->error->rfind("Network Error: ", 0), 0u);
}

class JsonPathTest : public ::testing::Test {
protected:
    // The text of the error report jsonPath made, or "" when it made none.
    std::string reportOf(const std::string& reply, const std::string& path,
                         std::optional<std::string>& result) {
        // From an empty queue, so no run of reports trips the flood guard.
        testsupport::emptyTelemetryQueue();
        testing::internal::CaptureStdout();
        result = jsonPath(bytes(reply), path);
        testing::internal::GetCapturedStdout();
        auto events = Telemetry::shared().events();
        if (events.empty()) return "";
        EXPECT_EQ(events.back()["function"], "jsonPath(data:path:)");
        return events.back()["message"];
    }
};

TEST_F(JsonPathTest, ValuesAlongThePath) {
    std::optional<std::string> r;
    EXPECT_EQ(reportOf(R"({"success":1})", "success", r), "");
    EXPECT_EQ(r, "1");
    reportOf(R"({"success":0.5})", "success", r);
    EXPECT_EQ(r, "0.5");
    reportOf(R"({"success":"yes"})", "success", r);
    EXPECT_EQ(r, "yes");
    reportOf(R"({"success":3.0})", "success", r);
    EXPECT_EQ(r, "3");
    reportOf(R"({"success":true})", "success", r);
    EXPECT_EQ(r, "1");
    reportOf(R"({"a":{"b":{"c":"deep"}}})", "a..b.c.", r);
    EXPECT_EQ(r, "deep") << "empty pieces of the path are dropped";
}

TEST_F(JsonPathTest, FailuresAndTheirReports) {
    std::optional<std::string> r;
    EXPECT_EQ(reportOf(R"({"success":{"x":1}})", "success", r),
              R"(Error parsing JSON, can't represent 'success' as String in: {"success":{"x":1}})");
    EXPECT_FALSE(r);
    EXPECT_EQ(reportOf(R"({"success":null})", "success", r),
              R"(Error parsing JSON, can't represent 'success' as String in: {"success":null})");
    EXPECT_EQ(reportOf(R"({"a":5})", "a.b", r),
              R"(Error parsing JSON, can't represent 'a' as [String:Any] in: {"a":5})");
    EXPECT_FALSE(r);
    EXPECT_EQ(reportOf(R"([1,2])", "success", r),
              "Error parsing JSON, can't represent this part as [String:Any]: [1,2]");
    EXPECT_EQ(reportOf("<html>oops</html>", "", r), "Error parsing JSON, can't serialize: <html>oops</html>")
        << "the parse report comes first, whatever the path";
    EXPECT_EQ(reportOf("\xff\xfe", "x", r), "Error parsing JSON, can't serialize: ");
    EXPECT_EQ(reportOf(R"({"a":1})", "", r), "");
    EXPECT_FALSE(r);
    EXPECT_EQ(reportOf(R"({"a":1})", "...", r), "");
    EXPECT_FALSE(r);
}
