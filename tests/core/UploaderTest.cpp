// Encoding under the size limit, the multipart request as the server sees
// it, the reply grammar, the gallery code and the companion's sealed reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "core/ExportFixture.h"
#include "core/Uploader.h"
#include "kit/base/Defaults.h"
#include "services/Crypti.h"
#include "services/Networker.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "support/EventLoopWait.h"
#include "support/LoopbackServer.h"
#include "support/ScratchFolder.h"
#include "support/TestData.h"

namespace {

using UploaderTest = ExportFixture;

constexpr size_t kLimit = 2097152;

// Encoders whose output size the test picks per attempt; records the widths seen.
struct FakeEncoders {
    size_t pngFull = 0, jpegFull = 0, pngHalf = 0, jpegHalf = 0;
    int fullWidth = 0;
    std::vector<std::string> calls;
    core::ImageEncoders get() {
        return {[this](const kit::Image& img) {
                    calls.push_back("png" + std::to_string(img.width()));
                    return services::Bytes(img.width() == fullWidth ? pngFull : pngHalf, 'P');
                },
                [this](const kit::Image& img) {
                    calls.push_back("jpeg" + std::to_string(img.width()));
                    return services::Bytes(img.width() == fullWidth ? jpegFull : jpegHalf, 'J');
                }};
    }
};

TEST_F(UploaderTest, SizeAttemptsStopAtTheFirstThatFits) {
    kit::Image image(1001, 20);
    image.fill(kit::Color::white(1.0));
    FakeEncoders enc;
    enc.fullWidth = 1001;

    // Exactly 2 MB fits at once.
    enc.pngFull = kLimit;
    auto r = core::getImgDataBelow(image, 2.0, 2.0, *telemetry, enc.get());
    EXPECT_EQ(r.suffix, ".png");
    EXPECT_EQ(r.data->size(), kLimit);
    EXPECT_DOUBLE_EQ(r.sizeMB, 2.0);
    EXPECT_EQ(enc.calls, std::vector<std::string>{"png1001"});

    // One byte more: the JPEG.
    enc.calls.clear();
    enc.pngFull = kLimit + 1;
    enc.jpegFull = kLimit;
    r = core::getImgDataBelow(image, 2.0, 2.0, *telemetry, enc.get());
    EXPECT_EQ(r.suffix, ".jpeg");
    EXPECT_EQ((enc.calls), (std::vector<std::string>{"png1001", "jpeg1001"}));

    // Both too large on a ratio-2 screen: half of 1001 is 500 pixels.
    enc.calls.clear();
    enc.jpegFull = kLimit + 1;
    enc.pngHalf = 1000;
    r = core::getImgDataBelow(image, 2.0, 2.0, *telemetry, enc.get());
    EXPECT_EQ(r.suffix, "p.png");
    EXPECT_EQ(r.data->size(), 1000u);
    EXPECT_EQ((enc.calls), (std::vector<std::string>{"png1001", "jpeg1001", "png500"}));

    // Nothing fits: the reduced JPEG comes back with its size over the limit.
    enc.calls.clear();
    enc.pngHalf = kLimit + 5;
    enc.jpegHalf = kLimit + 3;
    r = core::getImgDataBelow(image, 2.0, 2.0, *telemetry, enc.get());
    EXPECT_EQ(r.suffix, "p.jpeg");
    EXPECT_GT(r.sizeMB, 2.0);
    EXPECT_EQ(enc.calls.size(), 4u);
}

TEST_F(UploaderTest, RatioOneMarksEveryResultAndNeverReduces) {
    kit::Image image(640, 20);
    image.fill(kit::Color::white(1.0));
    FakeEncoders enc;
    enc.fullWidth = 640;
    enc.pngFull = 100;
    auto r = core::getImgDataBelow(image, 2.0, 1.0, *telemetry, enc.get());
    EXPECT_EQ(r.suffix, "p.png");

    enc.calls.clear();
    enc.pngFull = kLimit + 1;
    enc.jpegFull = 3 * kLimit;
    r = core::getImgDataBelow(image, 2.0, 1.0, *telemetry, enc.get());
    EXPECT_EQ(r.suffix, "p.jpeg");
    EXPECT_DOUBLE_EQ(r.sizeMB, 6.0);
    EXPECT_EQ(enc.calls.size(), 2u);
}

TEST_F(UploaderTest, FailedEncodingGivesNoDataAndAReport) {
    kit::Image image(64, 64);
    image.fill(kit::Color::white(1.0));
    FakeEncoders enc;
    enc.fullWidth = 64;  // every encoder answers nothing
    auto r = core::getImgDataBelow(image, 2.0, 2.0, *telemetry, enc.get());
    EXPECT_FALSE(r.data);
    EXPECT_EQ(r.suffix, "");
    EXPECT_EQ(r.sizeMB, 0);
    ASSERT_FALSE(telemetry->events().empty());
    EXPECT_NE(telemetry->events().back().dump().find("Can't get image file data"), std::string::npos);

    // The real encoders make a PNG that opens as one.
    auto real = core::getImgDataBelow(image, 2.0, 1.0, *telemetry);
    ASSERT_TRUE(real.data);
    EXPECT_EQ(real.suffix, "p.png");
    EXPECT_EQ((std::vector<uint8_t>(real.data->begin(), real.data->begin() + 4)),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G'}));
}

TEST_F(UploaderTest, RequestBytesReachTheServerExactly) {
    LoopbackServer server([](const HttpRequestRecord&) {
        return HttpReply{200, {}, "SUCCESS: http://x/a.png"};
    });
    const std::string B = services::Networker::boundary();
    const services::Bytes image{0x89, 'P', 0, '\r', '\n', 0xFF};

    auto post = [&](const services::Bytes& body) {
        std::optional<services::Bytes> reply;
        bool done = false;
        services::Networker::postMultipart(server.url("/api/upload.php"), body,
                                           [&](std::optional<services::Bytes> r, std::optional<std::string>) {
                                               reply = r;
                                               done = true;
                                           });
        EXPECT_TRUE(testsupport::waitFor([&] { return done; }, 10000));
        return reply;
    };

    // The web service's own endpoint: four parts.
    auto reply =
        post(core::uploadBody("SCR-20240305-KLZ.jpeg", image, "tok3n", std::pair(std::string("u-1"), 42)));
    ASSERT_TRUE(reply);
    // The user's endpoint: two parts, the same boundary.
    post(core::uploadBody("SCR-20240305-KLZp.png", image, "tok3n", std::nullopt));

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string img(image.begin(), image.end());
    const std::string file = "--" + B + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"";
    const std::string token =
        "--" + B + "\r\nContent-Disposition: form-data; name=\"token\"\r\n\r\ntok3n\r\n";
    const std::string four =
        file + "SCR-20240305-KLZ.jpeg\"\r\nContent-Type: image/png\r\n\r\n" + img + "\r\n" + token + "--" +
        B + "\r\nContent-Disposition: form-data; name=\"uid\"\r\n\r\nu-1\r\n" + "--" + B +
        "\r\nContent-Disposition: form-data; name=\"vc\"\r\n\r\n42\r\n" + "--" + B + "--\r\n";
    const std::string two = file + "SCR-20240305-KLZp.png\"\r\nContent-Type: image/png\r\n\r\n" + img +
                            "\r\n" + token + "--" + B + "--\r\n";
    for (const auto& [request, body] : {std::pair{requests[0], four}, std::pair{requests[1], two}}) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/api/upload.php");
        EXPECT_EQ(request.body, body);
        EXPECT_EQ(request.headers.at("content-type"), "multipart/form-data; boundary=" + B);
        EXPECT_EQ(request.headers.at("content-length"), std::to_string(body.size()));
        EXPECT_EQ(request.headers.count("expect"), 0u);
    }
    EXPECT_EQ(B.rfind("----iOSURLSessionBoundary.", 0), 0u);
    EXPECT_EQ(B.size(), 26u + 16u);
}

TEST_F(UploaderTest, WholeUploadDeliversTheLinkOnTheMainThread) {
    LoopbackServer server([](const HttpRequestRecord&) {
        return HttpReply{200, {}, "SUCCESS: http://127.0.0.1/i/abc.png"};
    });
    kit::Image image(40, 30);
    image.fill(kit::Color::white(1.0));
    std::optional<core::UploadResult> result;
    core::uploadImage(image, 1.0, "SCR-1", "tok", core::uploadTarget(server.url("/mine")), *telemetry,
                      [&](const core::UploadResult& r) { result = r; });
    ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(result->link, "http://127.0.0.1/i/abc.png");
    EXPECT_EQ(result->error, "");
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string body = server.requests()[0].body;
    EXPECT_NE(body.find("filename=\"SCR-1p.png\""), std::string::npos);
    EXPECT_EQ(body.find("name=\"uid\""), std::string::npos);

    // An empty endpoint is no address: no request, "Upload Failed".
    result.reset();
    core::uploadImage(image, 1.0, "SCR-1", "tok", core::uploadTarget(std::string()), *telemetry,
                      [&](const core::UploadResult& r) { result = r; });
    ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(result->error, "Upload Failed");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(UploaderTest, ReplyGrammar) {
    auto read = [&](const std::string& text) {
        return core::readUploadReply(services::Bytes(text.begin(), text.end()), std::nullopt, *telemetry);
    };
    // Transport failures (checked first: the report queue stops after five in a row).
    auto r = core::readUploadReply(std::nullopt, std::string("Can't parse URL"), *telemetry);
    EXPECT_EQ(r.error, "Upload Failed");
    EXPECT_NE(telemetry->events().back().dump().find("File upload error: Can't parse URL"),
              std::string::npos);

    struct Case {
        std::string reply, link, error;
    };
    const std::vector<Case> cases = {
        {"SUCCESS: https://k.test/a/b.png", "https://k.test/a/b.png", ""},
        {"SUCCESS: https://k.test/a/b.png\n", "https://k.test/a/b.png\n", ""},
        {"ok SUCCESS: http://k.test/x.JPG", "http://k.test/x.JPG", ""},
        {"SUCCESS: https://k.test/view", "", "Screenshot upload failed"},  // the whole reply is no link
        {"SUCCESS: javascript:alert(1).png", "", "Screenshot upload failed"},
        {"SUCCESS: file:///etc/passwd.png", "", "Screenshot upload failed"},
        {"<html>SUCCESS</html>", "", "Screenshot upload failed"},
        {"ERR: Invalid token\n", "", "Invalid token"},
        {"ERR: a ERR: b", "", "a  b"},
        {"<html><body>502 Bad Gateway</body></html>", "", "Screenshot upload failed"},
        {"", "", "Screenshot upload failed"},
        {"\xff\xfe SUCCESS: https://k.test/a.png", "", "Screenshot upload failed"},  // not UTF-8
        {"SUCCESS: https://k.test/a.png\xff", "", "Screenshot upload failed"},  // a bad byte after the link
    };
    for (const auto& c : cases) {
        auto r = read(c.reply);
        EXPECT_EQ(r.link, c.link) << c.reply;
        EXPECT_EQ(r.error, c.error) << c.reply;
    }
    // Only the first 64 KB are read, and shown texts are shortened and flattened.
    std::string huge = "ERR: " + std::string(200000, 'x');
    EXPECT_LE(read(huge).error.size(), 210u);
    EXPECT_EQ(read("ERR: <b>bold</b>\r\nline").error, "<b>bold</b>  line");
    // "ERR:" with no message (found by fuzzing) once gave neither a link nor a word.
    for (const char* bare : {"ERR:", "ERR:   \r\n"})
        EXPECT_EQ(read(bare).error, "Screenshot upload failed") << bare;
}

// Replies found by fuzzing: a code point past U+10FFFF and a UTF-16
// surrogate, each spelled in UTF-8 bytes. Both once made the parser throw
// mid-upload, so the upload vanished; each must end in a said failure.
TEST_F(UploaderTest, RepliesThatAreNotUnicodeEndInASaidFailure) {
    kit::Image image(8, 8);
    image.fill(kit::Color::white(1.0));
    for (const char* name : {"repro/upload-min-4byte.bin", "repro/upload-min-surrogate.bin"}) {
        const std::string reply = testsupport::testDataBytes(name);
        ASSERT_FALSE(reply.empty());
        auto direct =
            core::readUploadReply(services::Bytes(reply.begin(), reply.end()), std::nullopt, *telemetry);
        EXPECT_EQ(direct.link, "") << name;
        EXPECT_EQ(direct.error, "Screenshot upload failed") << name;

        LoopbackServer server([&](const HttpRequestRecord&) { return HttpReply{200, {}, reply}; });
        std::optional<core::UploadResult> result;
        core::uploadImage(image, 1.0, "SCR-1", "tok", core::uploadTarget(server.url("/mine")), *telemetry,
                          [&](const core::UploadResult& r) { result = r; });
        ASSERT_TRUE(testsupport::waitFor([&] { return result.has_value(); }, 10000)) << name;
        EXPECT_EQ(result->link, "") << name;
        EXPECT_EQ(result->error, "Screenshot upload failed") << name;
    }
}

TEST_F(UploaderTest, GalleryCodeMatchesAWorkedVector) {
    // time 1700000000, token "abc12xyz", random digit 1: tag "1abc12" in base 36.
    EXPECT_EQ(core::galleryCode("abc12xyz", 1700000000, 1),
              "1700000000.77791142.cbcb542869f0e0ad0cf76dd9089f1a1abd513228078fe826943c8536aead77e1");
    EXPECT_EQ(core::galleryTag("ABC", 34), 1599672);  // "yABC": a short token is used whole
    EXPECT_EQ(core::galleryTag("ab-cdef", 5), 0);     // a non-digit among the first five
    EXPECT_NE(core::galleryTag("abcde-f", 5), 0);     // past the fifth it does not count
    // Same second, same signature; the tag moves with the random digit.
    auto a = core::galleryCode("abcdef", 1700000001, 3), b = core::galleryCode("abcdef", 1700000001, 4);
    EXPECT_EQ(a.substr(a.rfind('.')), b.substr(b.rfind('.')));
    EXPECT_NE(a, b);
}

TEST_F(UploaderTest, CompanionReportOpensOnlyWhenFreshSealedAndWeb) {
    const double now = 1700000000;
    auto seal = [](const std::string& text) {
        return *services::Crypti::sealForCompanion(text, core::integrationToken());
    };
    EXPECT_EQ(core::companionReportLink(seal("1699999971:https://s.test/f.png"), now),
              "https://s.test/f.png");
    EXPECT_FALSE(core::companionReportLink(seal("1699999969:https://s.test/f.png"), now));  // 31 s old
    EXPECT_FALSE(core::companionReportLink(seal("1700000031:https://s.test/f.png"), now));  // 31 s ahead
    EXPECT_EQ(core::companionReportLink(seal("1700000029:http://s.test/f.png"), now), "http://s.test/f.png");
    EXPECT_FALSE(core::companionReportLink(seal("1700000000"), now));  // no link
    EXPECT_FALSE(core::companionReportLink(seal("1700000000:httpx://s.test/a"), now));
    EXPECT_FALSE(core::companionReportLink(seal("1700000000:javascript:alert(1)"), now));
    EXPECT_FALSE(core::companionReportLink(seal("soon:https://s.test/f.png"), now));
    EXPECT_FALSE(core::companionReportLink(seal("nan:https://s.test/f.png"), now));
    EXPECT_FALSE(core::companionReportLink(std::string(), now));
    EXPECT_FALSE(core::companionReportLink(std::nullopt, now));
    // Sealed under another key: not ours.
    EXPECT_FALSE(core::companionReportLink(
        *services::Crypti::sealForCompanion("1700000000:https://s.test/f.png", "other"), now));
}

TEST_F(UploaderTest, CompanionMessageAndLink) {
    EXPECT_EQ(core::companionMessage(1700000000.25, "SCR-1.png"), "1700000000.25:SCR-1.png");
    EXPECT_EQ(core::companionMessage(0.1, "a"), "0.1:a");
    const std::string message = core::companionMessage(1700000000.5, "SCR-20240305-KLZp.jpeg");
    auto sealed = services::Crypti::sealForCompanion(message, core::integrationToken());
    ASSERT_TRUE(sealed);
    const std::string encoded = core::percentEncodeStrict(*sealed);
    EXPECT_EQ(encoded.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789%"),
              std::string::npos);
    EXPECT_EQ(core::percentEncodeStrict("a+/=\xc3\xa9"), "a%2B%2F%3D%C3%A9");
    EXPECT_EQ(services::Crypti::openFromCompanion(*sealed, core::integrationToken()), message);
}

TEST_F(UploaderTest, CompanionCleanupRemovesOnlyOurOldFiles) {
    testsupport::ScratchFolder scratch;
    const std::filesystem::path dir = scratch.path();
    for (const char* name : {"SCR-a.png", "SCR-b.jpeg", "companion.db", "SCR-c.gif"})
        std::ofstream(dir / name) << "x";
    // Fresh files stay.
    core::cleanupCompanionFolder(dir.string(), double(std::time(nullptr)));
    EXPECT_TRUE(std::filesystem::exists(dir / "SCR-a.png"));
    // A day later our images go; the companion's entries and other files stay.
    core::cleanupCompanionFolder(dir.string(), double(std::time(nullptr)) + 86400 + 60);
    EXPECT_FALSE(std::filesystem::exists(dir / "SCR-a.png"));
    EXPECT_FALSE(std::filesystem::exists(dir / "SCR-b.jpeg"));
    EXPECT_TRUE(std::filesystem::exists(dir / "companion.db"));
    EXPECT_TRUE(std::filesystem::exists(dir / "SCR-c.gif"));
}

}  // namespace
