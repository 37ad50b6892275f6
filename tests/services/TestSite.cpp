// Keeps the shared services of the test program away from the real product
// site: the site is a loopback address where nothing listens, and the
// shared telemetry only stores its queue.
#include <gtest/gtest.h>

#include <cstdlib>

#include "services/Settings.h"

using namespace services;

namespace {
class OfflineSite : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("KADRIX_SITE", "http://127.0.0.1:1", 1);
        Settings::shared().setAllowTelemetry(false);
    }
};
const auto* offline = ::testing::AddGlobalTestEnvironment(new OfflineSite);
}  // namespace
