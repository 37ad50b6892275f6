// Capture dates from file names and birth times, at a fixed time zone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "library/CaptureDates.h"
#include "support/ScopedEnv.h"

using library::fileDate;
using library::isScreenshotName;

namespace {

class CaptureDates : public ::testing::Test {
protected:
    void SetUp() override {
        berlin.emplace("TZ", "Europe/Berlin");
        tzset();
    }
    void TearDown() override {
        berlin.reset();
        tzset();
    }
    // Local time in Berlin (UTC+1 in January).
    static int64_t local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        std::tm tm{};
        tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi,
        tm.tm_sec = s;
        tm.tm_isdst = -1;
        return int64_t(std::mktime(&tm));
    }
    std::optional<testsupport::ScopedEnv> berlin;
    const std::optional<double> none;
};

}  // namespace

TEST_F(CaptureDates, TheTimeLettersOfOurOwnNames) {
    EXPECT_EQ(fileDate("/x/SCR-20240105-kvqe.png", none), local(2024, 1, 5, 12));
    EXPECT_EQ(fileDate("/x/SCR-20240105-kvqf.png", none), local(2024, 1, 5, 12));
    EXPECT_EQ(fileDate("/x/SCR-20240105-jmhu.png", none), local(2024, 1, 5, 10, 20, 30));
    EXPECT_EQ(fileDate("/x/SCR-20240105-urgh.png", none), local(2024, 1, 5, 23, 59, 59));
    EXPECT_EQ(fileDate("/x/SCR-20240105-baaa.png", none), local(2024, 1, 5));
    EXPECT_EQ(fileDate("/x/SCR-20240105-kvqex.png", none), local(2024, 1, 5, 12));  // the first four count
    // Outside the day: no date from the letters and none from the digits alone.
    EXPECT_EQ(fileDate("/x/SCR-20240105-aaaa.png", none), 0);
    EXPECT_EQ(fileDate("/x/SCR-20240105-urgi.png", none), 0);
}

TEST_F(CaptureDates, OtherNamesAndTheBirthTime) {
    EXPECT_EQ(fileDate("/x/IMG-20240105-WA0001.jpg", none), local(2024, 1, 5));
    EXPECT_EQ(fileDate("/x/Screenshot 2024-01-05 at 10.00.00.png", none), local(2024, 1, 5));
    double sameDay = double(local(2024, 1, 5, 17, 45, 10)) + 0.7;
    EXPECT_EQ(fileDate("/x/Screenshot 2024-01-05 at 10.00.00.png", sameDay), local(2024, 1, 5, 17, 45, 10));
    EXPECT_EQ(fileDate("/x/SCR-20240105-kvqe.png", sameDay), local(2024, 1, 5, 17, 45, 10));
    double dayApart = double(local(2024, 1, 5, 12) + 86400);
    EXPECT_EQ(fileDate("/x/SCR-20240105-kvqe.png", dayApart), local(2024, 1, 5, 12));
    EXPECT_EQ(fileDate("/x/x-20241399-kvqe.png", 1234.9), 1234);  // no valid date in the name
    EXPECT_EQ(fileDate("/x/x-20240230-kvqe.png", none), 0);       // February has no 30th
    EXPECT_EQ(fileDate("/x/notes.png", none), 0);
}

TEST(ScreenshotNames, PrefixesAndEndings) {
    for (const char* yes : {"SCR-20240105-kvqe.png", "Screenshot 2024-01-05.png", "Capture d'écran.png",
                            "Bildschirmfoto.png", "Schermata.png", "Скріншот.png", "Снимок экрана.png",
                            "لقطة شاشة.png", "スクリーンショット.png", "2024的屏幕截图"})
        EXPECT_TRUE(isScreenshotName(yes)) << yes;
    for (const char* no : {"IMG_0001.png", "my screenshot.png", "scr_1.png", "لقطةشاشة.png"})
        EXPECT_FALSE(isScreenshotName(no)) << no;
}
