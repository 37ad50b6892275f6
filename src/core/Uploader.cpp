#include "core/Uploader.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "core/Exporter.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Files.h"
#include "kit/base/Regex.h"
#include "services/Console.h"
#include "services/Crypti.h"
#include "services/Networker.h"
#include "services/Random.h"
#include "services/Site.h"
#include "services/Str.h"
#include "services/Telemetry.h"
#include "services/Url.h"

namespace core {

namespace {

constexpr const char* kSizeFunction = "getImgDataBelow(image:limitMB:)";
constexpr const char* kUploadFunction = "uploadImage(token:callback:)";
constexpr double kJpegQuality = 0.85;
constexpr double kCompanionFreshSeconds = 30.0;
constexpr double kDaySeconds = 86400;

double megabytes(size_t bytes) {
    return double(bytes) / 1048576.0;
}

void logAttempt(const std::string& label, double sizeMB) {
    char size[32];
    std::snprintf(size, sizeof size, "%g", std::round(sizeMB * 10) / 10);
    services::consoleLine(label + " " + size + " mb");
}

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    size_t a = text.find_first_not_of(space);
    if (a == std::string::npos) return {};
    size_t b = text.find_last_not_of(space);
    return text.substr(a, b - a + 1);
}

int base36Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

// Not known to anyone but this program and the gallery server.
const std::string& galleryKey() {
    static const std::string key = "q7#Vt2!mLx9@Rb4$";
    return key;
}

}  // namespace

// ---- encoding under a size limit ------------------------------------------------------

ImageEncoders ImageEncoders::standard() {
    return {[](const kit::Image& image) { return Exporter::encodePNG(image); },
            [](const kit::Image& image) { return Exporter::encodeJPEG(image, kJpegQuality, false); }};
}

SizedImage getImgDataBelow(const kit::Image& image, double limitMB, double dpr,
                           services::Telemetry& telemetry, const ImageEncoders& encoders) {
    // One point a pixel, whatever the image says.
    kit::Image rep = image;
    rep.setScale(1.0);
    auto fail = [&](const char* message) {
        telemetry.oops(kSizeFunction, message);
        return SizedImage{};
    };
    auto attempt = [&](const std::string& label, const kit::Image& img,
                       bool png) -> std::optional<services::Bytes> {
        services::Bytes data = png ? encoders.png(img) : encoders.jpeg(img);
        if (data.empty()) return std::nullopt;
        logAttempt(label, megabytes(data.size()));
        return data;
    };

    SizedImage out;
    auto candidate = [&](services::Bytes data, const char* suffix) {
        out.sizeMB = megabytes(data.size());
        out.data = std::move(data);
        out.suffix = suffix;
    };
    auto fits = [&] { return out.sizeMB <= limitMB; };

    auto png = attempt("Attempt 1, PNG  fullsize", rep, true);
    if (!png) return fail("Can't get image file data");
    candidate(std::move(*png), ".png");
    if (!fits()) {
        auto jpeg = attempt("Attempt 2, JPEG fullsize", rep, false);
        if (!jpeg) return fail("Can't get image file data");
        candidate(std::move(*jpeg), ".jpeg");
        if (!fits() && dpr >= 2.0) {
            kit::Image reduced = Exporter::resize(rep, rep.width() / 2, 0);
            reduced.setScale(1.0);
            auto png2 = attempt("Attempt 3, PNG  reduced ", reduced, true);
            if (!png2) return fail("Can't downscale the image");
            candidate(std::move(*png2), "p.png");
            if (!fits()) {
                auto jpeg2 = attempt("Attempt 4, JPEG reduced ", reduced, false);
                if (!jpeg2) return fail("Can't downscale the image");
                candidate(std::move(*jpeg2), "p.jpeg");
            }
        }
    }
    if (dpr < 2.0 && out.suffix.front() == '.') out.suffix = "p" + out.suffix;
    return out;
}

// ---- upload request and reply ---------------------------------------------------------

services::Bytes uploadBody(const std::string& fileName, const services::Bytes& data, const std::string& token,
                           const std::optional<std::pair<std::string, int64_t>>& installation) {
    services::Bytes body = services::Networker::appendFilePart("file", fileName, "image/png", data);
    auto add = [&body](const services::Bytes& part) { body.insert(body.end(), part.begin(), part.end()); };
    add(services::Networker::appendField("token", token));
    if (installation) {
        add(services::Networker::appendField("uid", installation->first));
        add(services::Networker::appendField("vc", std::to_string(installation->second)));
    }
    return body;
}

UploadResult readUploadReply(const std::optional<services::Bytes>& data,
                             const std::optional<std::string>& error, services::Telemetry& telemetry) {
    if (!data) {
        telemetry.oops(kUploadFunction, "File upload error: " + error.value_or(""));
        return {"", "Upload Failed"};
    }
    // Only the head of an oversized reply is read.
    std::string text(data->begin(), data->begin() + std::min(data->size(), kMaxUploadReply));
    // A reply that is not well-formed UTF-8 (surrogates and code points past
    // U+10FFFF included) would not survive the pattern match intact.
    if (!services::Str::isValidUTF8(text)) text.clear();

    if (text.find("SUCCESS") != std::string::npos) {
        // The match runs from the start of the text within its first line,
        // and the link stands in its place, the rest of the text kept after it.
        static const kit::Regex pattern("^[^\\n\\r]*SUCCESS: ([^\\n\\r]+(png|jpeg|jpg))",
                                        kit::Regex::caseInsensitive);
        std::string link = text;
        if (auto m = pattern.firstMatch(text);
            m && m->groups.size() > 1 && m->groups[1] && m->text().size() <= text.size())
            link = *m->groups[1] + text.substr(m->text().size());
        if (isWebLink(trimmed(link))) return {link, ""};
        // A page that merely mentions the word is no link to hand out.
        telemetry.oops(kUploadFunction, "Problem uploading file: " + shownText(text));
        return {"", "Screenshot upload failed"};
    }
    telemetry.oops(kUploadFunction, "Problem uploading file: " + shownText(text));
    if (text.find("ERR") != std::string::npos) {
        std::string message = text;
        for (size_t at; (at = message.find("ERR:")) != std::string::npos;) message.erase(at, 4);
        // A server that says only "ERR:" still failed the upload: the user hears so.
        std::string said = shownText(trimmed(message));
        return {"", said.empty() ? "Screenshot upload failed" : said};
    }
    return {"", "Screenshot upload failed"};
}

UploadTarget uploadTarget(const std::optional<std::string>& endpointDefault) {
    if (endpointDefault) return {*endpointDefault, false};
    return {services::productSiteURL("/api/upload.php"), true};
}

namespace {

// Runs one step of an upload; a step that throws ends the upload with a said
// failure instead of leaving the user with a hidden editor and no answer.
template <class Step>
void uploadStepOrFail(services::Telemetry& telemetry, const std::function<void(UploadResult)>& finish,
                      Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        telemetry.oops(kUploadFunction, std::string("Upload stopped: ") + e.what());
        finish({"", "Screenshot upload failed"});
    } catch (...) {
        telemetry.oops(kUploadFunction, "Upload stopped");
        finish({"", "Screenshot upload failed"});
    }
}

}  // namespace

void uploadImage(const kit::Image& image, double dpr, const std::string& fileName, const std::string& token,
                 const UploadTarget& target, services::Telemetry& telemetry,
                 std::function<void(const UploadResult&)> done) {
    auto installation =
        target.builtIn ? std::optional(std::pair(telemetry.uid(), telemetry.vc())) : std::nullopt;
    std::function<void(UploadResult)> finish = [done](UploadResult result) {
        kit::dispatchMain([done, result] { done(result); });
    };
    // Up to four encodings of the whole picture: never on the main thread.
    kit::globalQueue().async([image, dpr, fileName, token, target, installation, &telemetry, finish] {
        uploadStepOrFail(telemetry, finish, [&] {
            SizedImage sized = getImgDataBelow(image, kUploadLimitMB, dpr, telemetry);
            if (!sized.data) {
                telemetry.oops(kUploadFunction, "Can't get image data");
                return finish({"", "Can't save the image"});
            }
            if (sized.sizeMB > kUploadLimitMB) return finish({"", "Image is too large"});
            services::Bytes body = uploadBody(fileName + sized.suffix, *sized.data, token, installation);
            services::Networker::postMultipart(
                target.url, body,
                [&telemetry, finish](std::optional<services::Bytes> reply, std::optional<std::string> error) {
                    uploadStepOrFail(telemetry, finish,
                                     [&] { finish(readUploadReply(reply, error, telemetry)); });
                });
        });
    });
}

// ---- uploads gallery ------------------------------------------------------------------

int64_t galleryTag(const std::string& token, int r) {
    const std::string digits = services::base36(r).substr(0, 1) + token.substr(0, 5);
    int64_t value = 0;
    for (char c : digits) {
        int d = base36Digit(c);
        if (d < 0) return 0;
        value = value * 36 + d;
    }
    return value;
}

std::string galleryCode(const std::string& token, int64_t now, int r) {
    const std::string time = std::to_string(now);
    const std::string signed_ = time + token + galleryKey();
    const std::string signature =
        services::Str::hex(services::Str::sha256(services::Bytes(signed_.begin(), signed_.end())));
    return time + "." + std::to_string(galleryTag(token, r)) + "." + signature;
}

// ---- companion uploader -----------------------------------------------------------------

const std::string& integrationToken() {
    static const std::string token = "Hq4ZtW8mN2cR7vLp0XkY5sJd3FgB9aUe";
    return token;
}

std::string percentEncodeStrict(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) && c < 0x80) {
            out += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string companionMessage(double now, const std::string& fileName) {
    char number[64];
    auto [end, ec] = std::to_chars(number, number + sizeof number, now);
    return std::string(number, ec == std::errc() ? end : number) + ":" + fileName;
}

std::optional<std::string> companionFolder() {
    // KADRIX_HOME holds every path of ours, this one too.
    const char* home = std::getenv("KADRIX_HOME");
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base = home && *home ? home
                       : data && *data
                           ? data
                           : std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.local/share";
    std::string folder = base + "/kadrix.companion";
    if (!kit::files::makeDirs(folder, 0700)) return std::nullopt;
    return folder;
}

void cleanupCompanionFolder(const std::string& folder, double now) {
    auto names = kit::files::listFolder(folder);
    if (!names) return;
    static const kit::Regex ours("^SCR-.*\\.(png|jpeg)$");
    for (const auto& name : *names) {
        if (!ours.matchesWhole(name)) continue;  // the companion's own entries stay
        const std::string path = folder + "/" + name;
        auto stamp = kit::files::fileStamp(path);
        if (!stamp || !stamp->regularFile || !stamp->ownedByUser) continue;
        if (now - stamp->created.value_or(stamp->modified) > kDaySeconds) kit::files::remove(path);
    }
}

std::optional<std::string> companionReportLink(const std::optional<std::string>& payload, double now) {
    if (!payload || payload->empty()) return std::nullopt;
    auto opened = services::Crypti::openFromCompanion(*payload, integrationToken());
    if (!opened) return std::nullopt;
    const size_t colon = opened->find(':');
    const std::string stamp = opened->substr(0, colon);
    double time = 0;
    auto [end, ec] = std::from_chars(stamp.data(), stamp.data() + stamp.size(), time);
    if (ec != std::errc() || end != stamp.data() + stamp.size() || !std::isfinite(time)) return std::nullopt;
    if (!(std::fabs(now - time) < kCompanionFreshSeconds)) return std::nullopt;
    std::string link = colon == std::string::npos ? *opened : opened->substr(colon + 1);
    if (!isWebLink(link)) return std::nullopt;
    return link;
}

std::string shownText(const std::string& text, size_t limit) {
    std::string out;
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = text[i];
        if ((c & 0xC0) != 0x80) {
            if (chars == limit) return out + "…";
            ++chars;
        }
        out += (c < 0x20 || c == 0x7F) ? ' ' : char(c);
    }
    return out;
}

bool isWebLink(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos) return false;
    auto url = services::Url::parse(text);
    return url && (url->scheme == "http" || url->scheme == "https") && !url->host.empty();
}

}  // namespace core
