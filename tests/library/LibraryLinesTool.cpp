// The records of a library folder's database, one JSON object a line after
// "LINE ", for the system tests: the lines are sealed, and only the
// program's own store opens them. Runs only when a system test asks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "kit/base/Json.h"
#include "library/DataLayer.h"

TEST(LibraryLines, Print) {
    const char* folder = std::getenv("KADRIX_TEST_LIBRARY_FOLDER");
    if (!folder) GTEST_SKIP() << "runs only as a system test's reader of the library";
    library::DataLayer store(folder);
    ASSERT_TRUE(store.read());
    for (const auto& record : store.records)
        std::printf("LINE %s\n", kit::json::dump(kit::Json(record)).c_str());
}
