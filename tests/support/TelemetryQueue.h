#pragma once
// The telemetry queue is the process's own, shared by every test of a test
// program. A test that counts the events it queued starts from an empty
// queue that stays in memory: a batch of 36 leaving mid-test (how soon
// depends on what the tests before queued) takes the counted events with it,
// and telling old records from new by their ids fails when two ids repeat
// (a millisecond and a four-digit random number).
#include "kit/base/Defaults.h"
#include "kit/base/Json.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace testsupport {

inline void emptyTelemetryQueue() {
    auto& settings = services::Settings::shared();
    // Stored without the setter, which would queue an event and post a batch.
    settings.storeBool("allowTelemetry", false);
    settings.storage().set("GATelemetry", kit::Json::array());
    services::Telemetry::shared().restoreQueue();
}

}  // namespace testsupport
