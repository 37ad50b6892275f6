#pragma once
// Sending a screenshot away: the encoding that fits a size limit, the
// multipart upload to the web service and the reading of its reply, the code
// of the uploads gallery page, and the hand-off to the companion uploader
// (a sealed message naming a file in a shared folder, then a plim:// link).
//
// Everything here except `uploadImage` and the hand-off works on values and
// may run on any thread.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "kit/base/Image.h"
#include "services/Str.h"

namespace services {
class Telemetry;
}  // namespace services

namespace core {

// ---- encoding under a size limit ----

struct SizedImage {
    std::optional<services::Bytes> data;  // none when an encoding failed
    std::string suffix;                   // ".png", ".jpeg", "p.png", "p.jpeg"; empty on failure
    double sizeMB = 0;
};

// The two encoders the attempts use; an empty result is a failed encoding.
struct ImageEncoders {
    std::function<services::Bytes(const kit::Image&)> png;
    std::function<services::Bytes(const kit::Image&)> jpeg;
    // PNG without properties and JPEG at 0.85, as the exporter writes them.
    static ImageEncoders standard();
};

// The first of PNG, JPEG, half-size PNG and half-size JPEG (the halves only
// at a pixel ratio of 2 or more) that fits `limitMB`; the last one tried when
// none fits. Any thread.
SizedImage getImgDataBelow(const kit::Image& image, double limitMB, double dpr,
                           services::Telemetry& telemetry,
                           const ImageEncoders& encoders = ImageEncoders::standard());

// ---- upload request and reply ----

inline constexpr double kUploadLimitMB = 2.0;
// The most reply bytes read.
inline constexpr size_t kMaxUploadReply = 64 * 1024;

// The request body without its closing line (the poster adds it): the file,
// the token and, for the built-in endpoint, the installation's id and version.
services::Bytes uploadBody(const std::string& fileName, const services::Bytes& data, const std::string& token,
                           const std::optional<std::pair<std::string, int64_t>>& installation);

struct UploadResult {
    std::string link;   // empty on failure
    std::string error;  // empty on success
};

// The reply read by its grammar: "SUCCESS" and a link, "ERR:" and the
// server's message, anything else a failure. A link whose scheme is not
// http or https is no success.
UploadResult readUploadReply(const std::optional<services::Bytes>& data,
                             const std::optional<std::string>& error, services::Telemetry& telemetry);

// The address uploads go to: the user default "uploadEndpoint" when it holds
// any text, else the service's own.
struct UploadTarget {
    std::string url;
    bool builtIn = true;
};
UploadTarget uploadTarget(const std::optional<std::string>& endpointDefault);

// Encodes on a worker, posts, and calls `done` on the main thread; a
// failure before the request calls it at once.
void uploadImage(const kit::Image& image, double dpr, const std::string& fileName, const std::string& token,
                 const UploadTarget& target, services::Telemetry& telemetry,
                 std::function<void(const UploadResult&)> done);

// ---- uploads gallery ----

// "time.tag.signature" for the token at `now` (whole seconds since 1970)
// with the random digit `r` (1–34).
std::string galleryCode(const std::string& token, int64_t now, int r);
// The tag alone: r and the token's first five characters read as base 36,
// 0 when one of them is no base-36 digit.
int64_t galleryTag(const std::string& token, int r);

// ---- companion uploader ----

// The key text both programs seal their messages under.
const std::string& integrationToken();
// Only ASCII letters and digits stay as they are.
std::string percentEncodeStrict(const std::string& text);
// "<seconds, shortest form>:<file name>"
std::string companionMessage(double now, const std::string& fileName);

// The per-user folder shared with the companion (mode 0700), made when
// missing; none when it cannot be made.
std::optional<std::string> companionFolder();
// Removes our own image files older than a day from the shared folder.
void cleanupCompanionFolder(const std::string& folder, double now);

// A finished upload's report: the link when the sealed text opens, is fresh
// (within 30 s of now, either way) and holds an http(s) link; else none.
std::optional<std::string> companionReportLink(const std::optional<std::string>& payload, double now);

// A text from a link or a reply, as it may be shown: control characters
// become blanks, at most `limit` characters (UTF-8 kept whole).
std::string shownText(const std::string& text, size_t limit = 200);
// The text is an http or https address on one line.
bool isWebLink(const std::string& text);

}  // namespace core
