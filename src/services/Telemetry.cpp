#include "services/Telemetry.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>

#include "kit/base/Dispatch.h"
#include "kit/base/Http.h"
#include "kit/base/Parse.h"
#include "kit/base/Timer.h"
#include "services/AppHooks.h"
#include "services/Console.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/Site.h"
#include "services/Url.h"

namespace services {

namespace {

constexpr double kBackOffSeconds = 1800;
constexpr double k2001 = 978307200;  // 2001-01-01 00:00:00 UTC
constexpr size_t kQueueLimit = 1000;
constexpr size_t kQueueTrim = 100;
constexpr int64_t kCounterModulus = 10000000;

// A number that is not finite cannot be written as JSON; it becomes null so
// the record still encodes and the queue keeps draining.
void sanitize(kit::Json& value) {
    if (value.is_number_float() && !std::isfinite(value.get<double>())) {
        value = nullptr;
    } else if (value.is_structured()) {
        for (auto& member : value) sanitize(member);
    }
}

const kit::Json* member(const kit::Json& record, const char* key) {
    return record.is_object() ? kit::json::memberAt(record, key) : nullptr;
}

bool hasType(const kit::Json& record, const std::string& type) {
    auto found = kit::json::stringAt(record, "type");
    return found && *found == type;
}

// "major.minor.patch" of the running kernel.
std::string osVersion(const utsname& system) {
    std::string release = system.release, out;
    int parts = 0;
    size_t i = 0;
    while (parts < 3) {
        std::string digits;
        while (i < release.size() && std::isdigit(static_cast<unsigned char>(release[i])))
            digits += release[i++];
        out += (parts ? "." : "") + (digits.empty() ? std::string("0") : digits);
        ++parts;
        if (i < release.size() && release[i] == '.')
            ++i;
        else
            break;
    }
    while (parts++ < 3) out += ".0";
    return out;
}

std::string localeIdentifier() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        std::string id = value;
        id = id.substr(0, id.find_first_of(".@"));
        if (id == "C" || id == "POSIX" || id.empty()) return "en_US_POSIX";
        return id;
    }
    return "en_US_POSIX";
}

std::string timeZoneIdentifier() {
    if (const char* tz = std::getenv("TZ"); tz && *tz)
        return *tz == ':' ? std::string(tz + 1) : std::string(tz);
    std::ifstream file("/etc/timezone");
    std::string line;
    if (std::getline(file, line) && !line.empty()) return line;
    char target[512];
    ssize_t n = readlink("/etc/localtime", target, sizeof target - 1);
    if (n > 0) {
        std::string link(target, size_t(n));
        if (size_t at = link.find("zoneinfo/"); at != std::string::npos) return link.substr(at + 9);
    }
    return "UTC";
}

int64_t timeZoneOffsetMinutes() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return int64_t(local.tm_gmtoff) / 60;
}

}  // namespace

void postJSON(const std::string& url, const std::vector<EventRecord>& payload, PostCompletion whenReady) {
    auto parsed = Url::parse(url);
    if (!parsed || (parsed->scheme != "https" && parsed->scheme != "http")) {
        Telemetry::shared().oops("postJSON(url:payload:whenReady:)", "Problem creating telemetry url");
        // The caller still learns of the failure, so its posting state clears.
        if (whenReady) kit::dispatchMain([whenReady] { whenReady("Problem creating telemetry url"); });
        return;
    }
    kit::http::Request request;
    request.method = "POST";
    request.url = url;
    request.timeoutSeconds = 60;
    request.maxReplyBytes = 64 * 1024;  // the answer is ignored
    request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
    request.body = kit::json::dump(kit::Json(payload));
    kit::http::send(std::move(request), [whenReady](kit::http::Response response) {
        // Any HTTP answer means the batch arrived, whatever its status or
        // size (a body past the bound we read is cut off, not a failure).
        std::optional<std::string> failure;
        if (response.error && !response.status) failure = "Network Error: " + response.error->message;
        kit::dispatchMain([whenReady, failure] {
            if (whenReady) whenReady(failure);
        });
    });
}

Telemetry& Telemetry::shared() {
    static Telemetry* instance = new Telemetry(Settings::shared());
    return *instance;
}

Telemetry::Telemetry(Settings& settings, Transport transport)
    : settings_(settings), transport_(std::move(transport)), lastFail_(k2001) {
    uid_ = settings_.uid();
    if (uid_.empty()) {
        uid_ = Settings::makeUid();
        settings_.setUid(uid_);
    }
    fillCommonData();
    newSession();
    restoreQueue();
}

int64_t Telemetry::versionCode(const std::string& shortVersion, const std::string& build) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= shortVersion.size()) {
        size_t dot = shortVersion.find('.', start);
        std::string part =
            shortVersion.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!part.empty()) parts.push_back(part);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.size() < 3) return 0;
    auto number = [](const std::string& text) { return kit::parseInt64(text).value_or(0); };
    return number(parts[0]) * 1000000 + number(parts[1]) * 10000 + number(parts[2]) * 100 +
           number(build) % 100;
}

void Telemetry::fillCommonData() {
    utsname system{};
    uname(&system);
    const std::string version = appVersion(), build = "0";
    commonData_ = {{"os", osVersion(system)},
                   {"appv", version},
                   {"build", build},
                   {"ln", localeIdentifier()},
                   {"loc", timeZoneIdentifier()},
                   {"tz", timeZoneOffsetMinutes()},
                   {"cpu", std::string(system.machine)}};
    vc_ = versionCode(version, build);
}

void Telemetry::newSessionLocked() {
    sid_ = base36((nowMillis() - kEpoch2019Ms) * 1000 + randomInt(1, 999));
}

void Telemetry::newSession() {
    std::lock_guard guard(lock_);
    newSessionLocked();
}

std::string Telemetry::sid() const {
    std::lock_guard guard(lock_);
    return sid_;
}

bool Telemetry::flushingInProgress() const {
    std::lock_guard guard(lock_);
    return flushingInProgress_;
}

std::vector<EventRecord> Telemetry::events() const {
    std::lock_guard guard(lock_);
    return events_;
}

void Telemetry::event(const std::string& name, EventRecord data) {
    std::optional<Batch> batch;
    {
        std::lock_guard guard(lock_);
        eventLocked(name, std::move(data), batch);
    }
    if (batch) post(std::move(*batch));
}

void Telemetry::eventLocked(const std::string& name, EventRecord data, std::optional<Batch>& toPost) {
    if (!data.is_object()) data = kit::Json::object();
    if (events_.size() > kQueueLimit) events_.erase(events_.begin(), events_.begin() + kQueueTrim);

    if (auto preset = presets_.find(name); preset != presets_.end()) {
        for (auto& [key, value] : preset->items())
            if (!data.contains(key)) data[key] = value;
        presets_.erase(preset);
    }
    data["type"] = name;
    if (name == "show") newSessionLocked();
    data["sid"] = sid_;
    if (name == "hide") sid_ = "0";

    int64_t ms = nowMillis();
    int64_t counter = settings_.localEventCounter();
    data["evtid"] = (ms - kEpoch2019Ms) * 10000 + randomInt(1, 9999);
    data["ts"] = ms;
    data["vc"] = vc_;
    data["uid"] = uid_;
    data["dev"] = false;
    data["zoom"] = hookEditorZoom();
    data["dpr"] = hookEditorDpr();
    data["lec"] = counter;
    if (name == "launch")
        for (auto& [key, value] : commonData_.items())
            if (!data.contains(key)) data[key] = value;

    sanitize(data);
    events_.push_back(std::move(data));
    settings_.setLocalEventCounter((counter + 1) % kCounterModulus);

    if (events_.size() > psize - 1 && events_.size() % psize == 0) toPost = takeBatchLocked(false);
}

void Telemetry::preset(const std::string& name, EventRecord data) {
    std::lock_guard guard(lock_);
    if (!data.is_object()) return;
    kit::Json& entry = presets_[name];
    if (!entry.is_object()) entry = kit::Json::object();
    for (auto& [key, value] : data.items()) entry[key] = value;
}

void Telemetry::repeatableEvent(const std::string& name, EventRecord data) {
    if (!data.is_object()) data = kit::Json::object();
    std::optional<Batch> batch;
    {
        // Deciding and queueing under one hold of the lock, so no other
        // event can come between the removed record and its replacement.
        std::lock_guard guard(lock_);
        const kit::Json* method = member(data, "method");
        if (auto preset = presets_.find(name); preset != presets_.end() && member(*preset, "method"))
            method = member(*preset, "method");
        int64_t count = 0;
        if (!events_.empty() && hasType(events_.back(), name)) {
            const kit::Json* lastMethod = member(events_.back(), "method");
            bool sameMethod = (!lastMethod && !method) || (lastMethod && method && *lastMethod == *method);
            if (sameMethod) {
                const kit::Json* rep = member(events_.back(), "rep");
                count = !rep ? 0 : kit::json::toInt(*rep).value_or(1);
                events_.pop_back();
                int64_t counter = settings_.localEventCounter();
                settings_.setLocalEventCounter((counter + kCounterModulus - 1) % kCounterModulus);
            }
        }
        data["rep"] = count + 1;
        eventLocked(name, std::move(data), batch);
    }
    if (batch) post(std::move(*batch));
}

void Telemetry::eventUnlessLast(const std::string& type, const std::string& name, EventRecord data) {
    std::optional<Batch> batch;
    {
        std::lock_guard guard(lock_);
        if (events_.empty() || hasType(events_.back(), type)) return;
        eventLocked(name, std::move(data), batch);
    }
    if (batch) post(std::move(*batch));
}

void Telemetry::oops(const std::string& function, const std::string& message) {
    std::string dashes;
    for (int i = 0; i < 41; ++i) dashes += "\u2014";
    consoleLine(dashes + "\nOOPS " + message + "\n" + function + "\n" + dashes);
    std::optional<Batch> batch;
    {
        std::lock_guard guard(lock_);
        bool flooding = events_.size() >= 6;
        for (size_t i = 1; flooding && i <= 5; ++i) flooding = hasType(events_[events_.size() - i], "oops");
        if (flooding) {
            consoleLine("OOPSES: Five in a row, stop flooding GA");
            return;
        }
        eventLocked("oops", {{"message", message}, {"function", function}}, batch);
    }
    if (batch) post(std::move(*batch));
}

void Telemetry::flush(bool force) {
    std::optional<Batch> batch;
    {
        std::lock_guard guard(lock_);
        batch = takeBatchLocked(force);
    }
    if (batch) post(std::move(*batch));
}

std::optional<Telemetry::Batch> Telemetry::takeBatchLocked(bool force) {
    if (!settings_.allowTelemetry()) {
        storeQueueLocked();
        return std::nullopt;
    }
    bool backOff = std::floor(kit::wallNow() - lastFail_) < kBackOffSeconds;
    if (backOff || !(events_.size() > psize - 1 || force) || flushingInProgress_) return std::nullopt;
    flushingInProgress_ = true;
    size_t count = std::min(psize, events_.size());
    Batch batch{{events_.begin(), events_.begin() + count}};
    events_.erase(events_.begin(), events_.begin() + count);
    return batch;
}

void Telemetry::post(Batch batch) {
    auto records = std::make_shared<Batch>(std::move(batch));
    PostCompletion done = [this, records](std::optional<std::string> failure) {
        postFinished(std::move(*records), failure);
    };
    std::string url = productSiteURL("/telemetry.php");
    if (transport_)
        transport_(url, records->records, std::move(done));
    else
        postJSON(url, records->records, std::move(done));
}

void Telemetry::postFinished(Batch batch, const std::optional<std::string>& failure) {
    bool again = false;
    {
        std::lock_guard guard(lock_);
        flushingInProgress_ = false;
        if (failure) {
            // Nothing is lost: the batch goes back behind what came meanwhile.
            for (auto& record : batch.records) events_.push_back(std::move(record));
            lastFail_ = kit::wallNow();
            return;
        }
        storeQueueLocked();
        again = events_.size() > psize - 1;
    }
    if (again) {
        consoleLine("Telemetry Flush: Go on another round...");
        flush(false);
    }
}

void Telemetry::storeQueueLocked() {
    settings_.storage().set("GATelemetry", kit::Json(events_));
}

void Telemetry::storeQueue() {
    std::lock_guard guard(lock_);
    storeQueueLocked();
}

void Telemetry::restoreQueue() {
    std::optional<kit::Json> stored = settings_.storage().object("GATelemetry");
    if (!stored || !stored->is_array()) return;
    std::vector<EventRecord> records;
    for (const auto& record : *stored) {
        if (!record.is_object()) return;
        records.push_back(record);
    }
    std::lock_guard guard(lock_);
    events_ = std::move(records);
}

void Telemetry::dump() {
    std::vector<EventRecord> records = events();
    for (size_t i = 0; i < records.size(); ++i)
        consoleLine(std::to_string(i) + " " + kit::json::stringAt(records[i], "type").value_or("") + " " +
                    kit::json::dump(records[i]));
}

}  // namespace services
