// The shared thumbnail cache's workers decode pictures, which reads the
// environment: they go between tests, and before a test changes it.
#include "library/ThumbnailCache.h"
#include "support/ScopedEnv.h"

namespace {
[[maybe_unused]] const bool thumbnailWorkersSettle =
    testsupport::settleBetweenTests([] { library::ThumbnailCache::shared().settle(); });
}  // namespace
