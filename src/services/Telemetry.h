#pragma once
// Usage events and error reports from every subsystem, queued in memory,
// stamped with session, time, version and installation data, and posted in
// batches of 36 as a JSON array to the product site's "/telemetry.php".
// Unsent events outlive the process under the settings key "GATelemetry".
//
// Every call may come from any thread. One lock guards the queue, the
// presets and the posting state; while it is held the settings store may be
// read (lock order: telemetry, then settings), never the other way round.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Json.h"

namespace services {

class Settings;

using EventRecord = kit::Json;  // an object
using PostCompletion = std::function<void(std::optional<std::string> failure)>;

// Posts event records as a JSON array (sorted keys) with a 60-second time-out.
// The completion runs on the main thread with a failure text, or none on
// success: only a transport error fails, the HTTP status does not count.
void postJSON(const std::string& url, const std::vector<EventRecord>& payload, PostCompletion whenReady);

class Telemetry {
public:
    using Transport =
        std::function<void(const std::string& url, const std::vector<EventRecord>&, PostCompletion)>;

    static constexpr size_t psize = 36;

    // The shared service over Settings::shared(), posting with postJSON.
    static Telemetry& shared();

    // A service over `settings`; `transport` replaces postJSON (tests). Runs
    // the start steps: identifier, system data, a new session, the stored queue.
    explicit Telemetry(Settings& settings, Transport transport = {});
    Telemetry(const Telemetry&) = delete;
    Telemetry& operator=(const Telemetry&) = delete;

    void event(const std::string& name, EventRecord data = kit::Json::object());
    // Data merged into the next event of that name (its caller's values win).
    void preset(const std::string& name, EventRecord data);
    // Consecutive repeats (same name and method) fold into one record with "rep".
    void repeatableEvent(const std::string& name, EventRecord data = kit::Json::object());
    // Queues the event unless the queue is empty or its last record has `type`.
    void eventUnlessLast(const std::string& type, const std::string& name,
                         EventRecord data = kit::Json::object());
    // Prints the four-line report and queues it as an "oops" event.
    void oops(const std::string& function, const std::string& message);

    void newSession();
    // Posts the oldest batch when sending is on, no back-off runs, nothing is
    // being posted and the queue is full enough (or `force`).
    void flush(bool force);
    // Replaces the queue by the stored one; a stored value that is not an
    // array of records is ignored.
    void restoreQueue();
    // Stores the whole queue under "GATelemetry" (at quit and after an update download).
    void storeQueue();
    // Prints the queue, one line a record.
    void dump();

    // Copies for readers (the shell at quit, tests).
    std::vector<EventRecord> events() const;
    std::string uid() const { return uid_; }
    std::string sid() const;
    int64_t vc() const { return vc_; }
    const EventRecord& commonData() const { return commonData_; }
    bool flushingInProgress() const;

    // Version code of "major.minor.patch" and a build number:
    // major·1000000 + minor·10000 + patch·100 + build mod 100; 0 with fewer than three parts.
    static int64_t versionCode(const std::string& shortVersion, const std::string& build);

private:
    struct Batch {
        std::vector<EventRecord> records;
    };

    void eventLocked(const std::string& name, EventRecord data, std::optional<Batch>& toPost);
    std::optional<Batch> takeBatchLocked(bool force);
    void post(Batch batch);
    void postFinished(Batch batch, const std::optional<std::string>& failure);
    void storeQueueLocked();
    void newSessionLocked();
    void fillCommonData();

    Settings& settings_;
    Transport transport_;

    std::vector<EventRecord> events_;
    std::string uid_;
    std::string sid_;
    int64_t vc_ = 0;
    EventRecord commonData_ = kit::Json::object();
    double lastFail_;  // seconds since 1970
    kit::Json presets_ = kit::Json::object();
    mutable std::mutex lock_;
    bool flushingInProgress_ = false;
};

}  // namespace services
