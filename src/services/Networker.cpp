#include "services/Networker.h"

#include <cstdio>
#include <mutex>
#include <vector>

#include "kit/base/Dispatch.h"
#include "kit/base/Http.h"
#include "kit/base/Json.h"
#include "services/Random.h"
#include "services/Telemetry.h"
#include "services/Url.h"

namespace services {

namespace {

std::string quotedName(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"')
            out += "%22";
        else if (c == '\r')
            out += "%0D";
        else if (c == '\n')
            out += "%0A";
        else
            out.push_back(c);
    }
    return out;
}

std::string withoutLineBreaks(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r' && c != '\n') out.push_back(c);
    return out;
}

void append(Bytes& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

bool isWebAddress(const std::string& text) {
    auto url = Url::parse(text);
    return url && (url->scheme == "https" || url->scheme == "http");
}

Bytes toBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

kit::http::Request post(const std::string& url, double timeout, kit::http::Headers headers,
                        std::string body) {
    kit::http::Request request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = timeout;
    request.maxReplyBytes = Networker::kMaxReplyBytes;
    request.headers = std::move(headers);
    request.body = std::move(body);
    return request;
}

void report(const std::string& message) {
    Telemetry::shared().oops("jsonPath(data:path:)", message);
}

}  // namespace

const std::string& Networker::boundary() {
    static const std::string value = [] {
        char text[64];
        std::snprintf(text, sizeof text, "----iOSURLSessionBoundary.%08x%08x",
                      unsigned(randomInt(0, UINT32_MAX)), unsigned(randomInt(0, UINT32_MAX)));
        return std::string(text);
    }();
    return value;
}

const std::string& Networker::boundaryLine() {
    static const std::string value = "--" + boundary() + "\r\n";
    return value;
}

std::string Networker::closingDelimiter() {
    return "--" + boundary() + "--\r\n";
}

Bytes Networker::appendFilePart(const std::string& name, const std::string& filename,
                                const std::string& mimeType, const Bytes& data) {
    Bytes part;
    append(part, boundaryLine());
    append(part, "Content-Disposition: form-data; name=\"" + quotedName(name) + "\"; filename=\"" +
                     quotedName(filename) + "\"\r\n");
    append(part, "Content-Type: " + withoutLineBreaks(mimeType) + "\r\n");
    append(part, "\r\n");
    part.insert(part.end(), data.begin(), data.end());
    append(part, "\r\n");
    return part;
}

Bytes Networker::appendField(const std::string& name, const std::string& value) {
    return toBytes(boundaryLine() + "Content-Disposition: form-data; name=\"" + quotedName(name) + "\"\r\n" +
                   "\r\n" + value + "\r\n");
}

void Networker::postMultipart(const std::string& url, const Bytes& body, Callback callback) {
    std::string complete(body.begin(), body.end());
    complete += closingDelimiter();
    if (!isWebAddress(url)) {
        callback(std::nullopt, "Can't parse URL");
        return;
    }
    kit::http::Headers headers{{"Content-Type", "multipart/form-data; boundary=" + boundary()},
                               {"Content-Length", std::to_string(complete.size())}};
    kit::http::send(post(url, multipartTimeout, std::move(headers), std::move(complete)),
                    [callback](kit::http::Response response) {
                        if (response.error)
                            callback(std::nullopt, response.error->fullDescription);
                        else if (response.status)
                            callback(toBytes(response.body), std::nullopt);
                        else
                            callback(std::nullopt, "Unknown Error");
                    });
}

void Networker::postJSON(const std::string& url, const std::map<std::string, std::string>& payload,
                         Callback callback) {
    auto deliver = [callback](std::optional<Bytes> reply, std::optional<std::string> error) {
        kit::dispatchMain(
            [callback, reply = std::move(reply), error = std::move(error)] { callback(reply, error); });
    };
    if (!isWebAddress(url)) {
        deliver(std::nullopt, "Problem creating url");
        return;
    }
    // A map of texts always serialises (invalid UTF-8 is replaced, not refused).
    auto request =
        post(url, jsonTimeout, {{"Content-Type", "application/json"}, {"Accept", "application/json"}},
             kit::json::dump(kit::Json(payload)));
    kit::http::send(std::move(request), [deliver](kit::http::Response response) {
        if (response.error)
            deliver(std::nullopt, "Network Error: " + response.error->message);
        else
            deliver(toBytes(response.body), std::nullopt);
    });
}

std::optional<std::string> jsonPath(const Bytes& data, const std::string& path) {
    std::string text(data.begin(), data.end());
    std::optional<kit::Json> root = kit::json::parse(text);
    if (!root || !root->is_structured()) {
        report("Error parsing JSON, can't serialize: " + (Str::isValidUTF8(text) ? text : std::string()));
        return std::nullopt;
    }
    std::vector<std::string> keys;
    size_t start = 0;
    while (start <= path.size()) {
        size_t dot = path.find('.', start);
        std::string key = path.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!key.empty()) keys.push_back(key);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (keys.empty()) return std::nullopt;

    const kit::Json* current = &*root;
    if (!current->is_object()) {
        report("Error parsing JSON, can't represent this part as [String:Any]: " + kit::json::dump(*current));
        return std::nullopt;
    }
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        const kit::Json* next = kit::json::memberAt(*current, keys[i]);
        if (!next || !next->is_object()) {
            report("Error parsing JSON, can't represent '" + keys[i] +
                   "' as [String:Any] in: " + kit::json::dump(*current));
            return std::nullopt;
        }
        current = next;
    }
    const kit::Json* value = kit::json::memberAt(*current, keys.back());
    if (value && value->is_string()) return value->get<std::string>();
    if (value && value->is_boolean()) return value->get<bool>() ? "1" : "0";
    if (value && value->is_number()) {
        if (auto integer = kit::json::toInt(*value)) return std::to_string(*integer);
        return kit::json::doubleText(value->get<double>());
    }
    report("Error parsing JSON, can't represent '" + keys.back() +
           "' as String in: " + kit::json::dump(*current));
    return std::nullopt;
}

}  // namespace services
