// Reading and editing desktop entries and mimeapps.list, and the entries
// Kadrix writes for itself.
#include <gtest/gtest.h>

#include "kit/base/DesktopEntry.h"

using namespace kit;

TEST(DesktopEntry, ReadsAKeyOfItsOwnGroupWhateverTheSpacing) {
    std::string text =
        "[Desktop Entry]\r\nName = Kadrix \r\nExec=a=b\n[Other]\nIcon=x\n[Desktop Entry Extra]\nIcon=y\n";
    EXPECT_EQ(DesktopEntry::value(text, "Desktop Entry", "Name"), "Kadrix");
    EXPECT_EQ(DesktopEntry::value(text, "Desktop Entry", "Exec"), "a=b") << "only the first = splits";
    EXPECT_EQ(DesktopEntry::value(text, "Desktop Entry", "Icon"), "") << "keys of other groups do not count";
    EXPECT_EQ(DesktopEntry::value(text, "Other", "Icon"), "x");
    EXPECT_EQ(DesktopEntry::value("Name=top\n", "Desktop Entry", "Name"), "") << "a key before any group";
}

TEST(DesktopEntry, SettingAValueKeepsEveryOtherLine) {
    std::string list =
        "# mine\n[Added Associations]\nimage/png=viewer.desktop;\n\n"
        "[Default Applications]\ntext/html = browser.desktop\n\n[Other]\na=b\n";
    EXPECT_EQ(
        DesktopEntry::withValue(list, "Default Applications", "x-scheme-handler/kadrix", "kadrix.desktop"),
        "# mine\n[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n"
        "text/html = browser.desktop\nx-scheme-handler/kadrix=kadrix.desktop\n\n[Other]\na=b\n");
    EXPECT_EQ(DesktopEntry::withValue(list, "Default Applications", "text/html", "other.desktop"),
              "# mine\n[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n"
              "text/html=other.desktop\n\n[Other]\na=b\n")
        << "a key written with spaces is replaced, not repeated";
    EXPECT_EQ(DesktopEntry::withValue("", "Default Applications", "k", "v"), "[Default Applications]\nk=v\n");
    EXPECT_EQ(DesktopEntry::withValue("[A]\nx=1", "B", "k", "v"), "[A]\nx=1\n\n[B]\nk=v\n");
}

TEST(DesktopEntry, OurEntriesRunTheProgramTheyName) {
    auto entry = DesktopEntry::kadrixEntry("/opt/kadrix 2/100%/kadrix", "%u", {"NoDisplay=true"});
    ASSERT_TRUE(entry);
    EXPECT_EQ(DesktopEntry::value(*entry, "Desktop Entry", "Exec"), "\"/opt/kadrix 2/100%%/kadrix\" %u");
    EXPECT_EQ(DesktopEntry::quotedProgram(*entry), "/opt/kadrix 2/100%/kadrix");
    EXPECT_EQ(DesktopEntry::value(*entry, "Desktop Entry", "NoDisplay"), "true");
    EXPECT_EQ(DesktopEntry::value(*entry, "Desktop Entry", "Type"), "Application");
    EXPECT_EQ(
        DesktopEntry::value(*DesktopEntry::kadrixEntry("/usr/bin/kadrix", "", {}), "Desktop Entry", "Exec"),
        "\"/usr/bin/kadrix\"");

    EXPECT_FALSE(DesktopEntry::kadrixEntry("kadrix", "%u", {})) << "a relative path";
    EXPECT_FALSE(DesktopEntry::kadrixEntry("/tmp/`id`/kadrix", "%u", {}));
    EXPECT_EQ(DesktopEntry::quotedProgram("[Desktop Entry]\nExec=kadrix %u\n"), "") << "an unquoted program";
    EXPECT_EQ(DesktopEntry::quotedProgram("[Desktop Entry]\nExec=\"/usr/bin/kadrix\n"), "")
        << "an open quote";
}
