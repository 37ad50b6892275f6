#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "core/FileNameTemplate.h"
#include "services/Str.h"
#include "support/ScopedEnv.h"
#include "support/TestData.h"

using core::expandFileName;
using core::fileNameMacros;

namespace {

// Names are made in local time: pin the zone so the dates below are exact.
class FileNameTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        zone_.emplace("TZ", "America/New_York");
        tzset();
    }
    void TearDown() override {
        zone_.reset();
        tzset();
    }
    // A local civil time in the pinned zone, with milliseconds.
    static core::Clock::time_point at(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        t.tm_isdst = -1;
        return core::Clock::from_time_t(std::mktime(&t)) + std::chrono::milliseconds(ms);
    }
    std::optional<testsupport::ScopedEnv> zone_;
};

TEST_F(FileNameTemplateTest, EveryDateMacroExpandsInEnglish) {
    auto d = at(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(expandFileName("%Y %y %m %b %B %d %j %A %a %Q %H %I %p %P %M %S", d, ""),
              "2024 24 03 Mar March 05 065 Tuesday Tue 1 14 02 PM pm 07 09");
    EXPECT_EQ(expandFileName("%I%p", at(2024, 3, 5, 0, 30, 0), ""), "12AM");
    EXPECT_EQ(expandFileName("%I%P", at(2024, 3, 5, 12, 0, 0), ""), "12pm");
    EXPECT_EQ(expandFileName("%Q", at(2024, 12, 1, 9, 0, 0), ""), "4");
    EXPECT_EQ(expandFileName("%j", at(2024, 12, 31, 9, 0, 0), ""), "366");
}

TEST_F(FileNameTemplateTest, WeeksStartOnSundayAndWeekOneHoldsTheFirstOfJanuary) {
    // 5 March 2024 is a Tuesday; 1 January 2024 a Monday, so week 1 ran 31 Dec – 6 Jan.
    EXPECT_EQ(expandFileName("%W", at(2024, 3, 5, 12, 0, 0), ""), "10");
    EXPECT_EQ(expandFileName("%W", at(2024, 1, 6, 12, 0, 0), ""), "01");
    EXPECT_EQ(expandFileName("%W", at(2024, 1, 7, 12, 0, 0), ""), "02");
    // The last days of December that share a week with 1 January are week 1.
    EXPECT_EQ(expandFileName("%W", at(2024, 12, 31, 12, 0, 0), ""), "01");
    EXPECT_EQ(expandFileName("%W", at(2024, 12, 28, 12, 0, 0), ""), "52");
    // 2022 started on a Saturday: 1 January is week 1 alone, 2 January week 2.
    EXPECT_EQ(expandFileName("%W", at(2022, 1, 1, 12, 0, 0), ""), "01");
    EXPECT_EQ(expandFileName("%W", at(2022, 1, 2, 12, 0, 0), ""), "02");
    EXPECT_EQ(expandFileName("%W", at(2022, 12, 31, 12, 0, 0), ""), "53");
}

TEST_F(FileNameTemplateTest, TimeCodesCountQuarterSecondsAndTwoSeconds) {
    EXPECT_EQ(expandFileName("SCR-%Y%m%d-%t", at(2024, 3, 5, 0, 0, 0), ""), "SCR-20240305-baaa");
    EXPECT_EQ(expandFileName("%t", at(2024, 3, 5, 0, 0, 1, 500), ""), "baag");
    EXPECT_EQ(expandFileName("%t", at(2024, 3, 5, 14, 7, 9), ""), "motw");
    EXPECT_EQ(expandFileName("%t", at(2024, 3, 5, 23, 59, 59, 750), ""), "urgh");
    EXPECT_EQ(expandFileName(core::kUploadFileNameTemplate, at(2024, 3, 5, 0, 0, 3), ""), "SCR-20240305-102");
    EXPECT_EQ(expandFileName("%T", at(2024, 3, 5, 0, 0, 0), ""), "100");
    EXPECT_EQ(expandFileName("%T", at(2024, 3, 5, 12, 0, 0), ""), "HO0");
    EXPECT_EQ(expandFileName("%T", at(2024, 3, 5, 14, 7, 9), ""), "KLZ");
    EXPECT_EQ(expandFileName("%T", at(2024, 3, 5, 23, 59, 59), ""), "YC0");
}

TEST_F(FileNameTemplateTest, ApplicationNameIsExpandedBeforeTheTimeCodes) {
    auto d = at(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(expandFileName("%n-%d", d, ""), "-05");
    EXPECT_EQ(expandFileName("%n-%d", d, "Terminal"), "Terminal-05");
    // The name's own "%T" is a macro by the time it is replaced; its "%Y" is not.
    EXPECT_EQ(expandFileName("%n", d, "a%Tb%Y"), "aKLZb%Y");
}

TEST_F(FileNameTemplateTest, ForbiddenRunsBecomeOneDashAndBlanksAreTrimmed) {
    auto d = at(2024, 3, 5, 14, 7, 9);
    EXPECT_EQ(expandFileName("a/b:c", d, ""), "a-b-c");
    EXPECT_EQ(expandFileName("a//:b", d, ""), "a-b");
    EXPECT_EQ(expandFileName("\\*?\"<>|x", d, ""), "-x");
    EXPECT_EQ(expandFileName(" %Y ", d, ""), "2024");
    EXPECT_EQ(expandFileName("\t\xC2\xA0%Y\xE3\x80\x80", d, ""), "2024");
    // An application name cannot smuggle a path into the name.
    EXPECT_EQ(expandFileName("%n", d, "../../etc/passwd"), "..-..-etc-passwd");
    // Unknown macros, "%%" and a lone "%" at the end stay.
    EXPECT_EQ(expandFileName("%x%%%", d, ""), "%x%%%");
}

TEST_F(FileNameTemplateTest, ControlCharactersLengthAndEmptyNamesAreMadeSafe) {
    auto d = at(2024, 3, 5, 0, 0, 0);
    EXPECT_EQ(expandFileName("a\nb\r\x01"
                             "c",
                             d, ""),
              "a-b-c");
    EXPECT_EQ(expandFileName("a\tb", d, ""), "a-b");
    // Nothing left: the default template instead of a hidden ".png".
    EXPECT_EQ(expandFileName("   ", d, ""), "SCR-20240305-baaa");
    EXPECT_EQ(expandFileName("%n", d, ""), "SCR-20240305-baaa");
    // Cut at 200 bytes without splitting a character ("é" is two bytes).
    std::string longName(199, 'x');
    EXPECT_EQ(expandFileName(longName + "\xC3\xA9"
                                        "z",
                             d, ""),
              longName);
    EXPECT_EQ(expandFileName(std::string(300, 'y'), d, "").size(), core::kMaxNameBytes);
}

TEST_F(FileNameTemplateTest, BytesThatAreNotUtf8BecomeDashes) {
    auto d = at(2024, 3, 5, 0, 0, 0);
    // NULs, a stray continuation byte, slashes and a lead byte without its
    // continuation, from a settings file that was not written by us.
    std::string found = testsupport::testDataBytes("repro/template-not-utf8.bin");
    ASSERT_EQ(found.size(), 23u);
    std::string name = expandFileName(found, d, "");
    EXPECT_EQ(name, "-^-e-myApp-..-x");
    EXPECT_TRUE(services::Str::isValidUTF8(name));
    // Well-formed characters stay; overlong forms, surrogates and a cut
    // four-byte character do not.
    EXPECT_EQ(expandFileName("\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xB7", d, ""),
              "\xC3\xA9t\xC3\xA9 \xF0\x9F\x93\xB7");
    EXPECT_EQ(expandFileName("a\xC0\xAF"
                             "b\xED\xA0\x80"
                             "c\xF0\x9F\x93",
                             d, ""),
              "a-b-c-");
    // An application name that is not UTF-8 is made safe the same way.
    EXPECT_EQ(expandFileName("%n", d, "App\xFF"), "App-");
}

TEST(FileNameMacrosTest, ListsTheLettersInOrder) {
    EXPECT_EQ(fileNameMacros(core::kDefaultFileNameTemplate), "Ymdt");
    EXPECT_EQ(fileNameMacros("%n %Y-%m-%d %H.%M.%S"), "nYmdHMS");
    EXPECT_EQ(fileNameMacros("plain"), "");
    EXPECT_EQ(fileNameMacros("%%Y %1 %"), "Y");
}

}  // namespace
