#pragma once
// The program's two HTTP POST forms and one reply reader: multipart bodies of
// file and text parts (the image upload), a JSON POST of a flat text map (the
// leaderboard) and `jsonPath`, which reads one text out of a JSON reply.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "services/Str.h"

namespace services {

class Networker {
public:
    // (reply bytes or none, error text or none)
    using Callback = std::function<void(std::optional<Bytes> reply, std::optional<std::string> error)>;

    Networker() = delete;

    // "----iOSURLSessionBoundary." and 16 random hexadecimal digits, made once a run.
    static const std::string& boundary();
    // "--", the boundary, CR LF.
    static const std::string& boundaryLine();
    // "--", the boundary, "--", CR LF.
    static std::string closingDelimiter();

    // One file part. The part name and file name are written inside double
    // quotes: a double quote in them becomes %22, CR and LF become %0D and
    // %0A, so no name can end the quoting or add header lines. The MIME type
    // loses any CR and LF for the same reason.
    static Bytes appendFilePart(const std::string& name, const std::string& filename,
                                const std::string& mimeType, const Bytes& data);
    // One text part; the value goes in unchanged, the name escaped as above.
    static Bytes appendField(const std::string& name, const std::string& value);

    // POSTs the parts (closing delimiter appended) with a 30-second time-out.
    // The callback runs on the network worker thread, not the main thread.
    static void postMultipart(const std::string& url, const Bytes& body, Callback callback);
    // POSTs the map as a JSON object (sorted keys, no white space) with a
    // 60-second time-out; the callback always runs later on the main thread.
    static void postJSON(const std::string& url, const std::map<std::string, std::string>& payload,
                         Callback callback);

    // Request time-outs in seconds (idle time with no byte moving); tests shorten them.
    static inline double multipartTimeout = 30;
    static inline double jsonTimeout = 60;

    // The most reply bytes read into memory.
    static constexpr size_t kMaxReplyBytes = size_t(1) << 20;
};

// The text at the end of a dotted key path in a JSON reply: a string as it
// is, an integral number in decimal digits, another number in its shortest
// decimal form, true and false as "1" and "0". None (with an error report)
// when the reply is not JSON or the path does not lead to such a value; none
// without a report for an empty path.
std::optional<std::string> jsonPath(const Bytes& data, const std::string& path);

}  // namespace services
