// Launch at login as an autostart entry in a private configuration folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "autostart/LaunchAtLogin.h"
#include "kit/base/Defaults.h"
#include "kit/base/Files.h"

using namespace autostart;

namespace {

std::string entry() {
    return kit::files::readAll(LaunchAtLogin::entryPath()).value_or("(none)");
}

void writeEntry(const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(LaunchAtLogin::entryPath()).parent_path());
    std::ofstream(LaunchAtLogin::entryPath()) << text;
}

}  // namespace

TEST(LaunchAtLogin, TheEntryIsTheState) {
    std::filesystem::remove(LaunchAtLogin::entryPath());
    EXPECT_FALSE(LaunchAtLogin::isEnabled());

    LaunchAtLogin::setEnabled(true, "/opt/kadrix 1/100%/kadrix");
    EXPECT_TRUE(LaunchAtLogin::isEnabled());
    EXPECT_NE(entry().find("\nExec=\"/opt/kadrix 1/100%%/kadrix\"\n"), std::string::npos) << entry();
    // A path, not a command line: neither quoted nor with its % doubled.
    EXPECT_NE(entry().find("\nTryExec=/opt/kadrix 1/100%/kadrix\n"), std::string::npos) << entry();
    EXPECT_NE(entry().find("Type=Application\n"), std::string::npos);
    EXPECT_EQ(std::filesystem::status(LaunchAtLogin::entryPath()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms(0644));

    LaunchAtLogin::setEnabled(true, "/usr/bin/kadrix");
    EXPECT_TRUE(LaunchAtLogin::isEnabled()) << "enabling again keeps it on";
    EXPECT_NE(entry().find("\nExec=\"/usr/bin/kadrix\"\n"), std::string::npos);
    EXPECT_NE(entry().find("\nTryExec=/usr/bin/kadrix\n"), std::string::npos) << entry();

    LaunchAtLogin::setEnabled(false);
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    EXPECT_FALSE(std::filesystem::exists(LaunchAtLogin::entryPath()));
    LaunchAtLogin::setEnabled(false);  // nothing to remove: no harm
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
}

TEST(LaunchAtLogin, AnEntrySwitchedOffByItsOwnKeysReadsAsOff) {
    writeEntry("[Desktop Entry]\nType=Application\nExec=kadrix\nHidden=true\n");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    writeEntry("[Desktop Entry]\nExec=kadrix\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    writeEntry("[Desktop Entry]\nExec=kadrix\nX-GNOME-Autostart-enabled = true\n[Other]\nHidden=true\n");
    EXPECT_TRUE(LaunchAtLogin::isEnabled()) << "keys of another group do not count";
    std::filesystem::remove(LaunchAtLogin::entryPath());
}

TEST(LaunchAtLogin, APathThatCannotGoIntoTheEntryIsRefused) {
    std::filesystem::remove(LaunchAtLogin::entryPath());
    LaunchAtLogin::setEnabled(true, "/tmp/$(evil)/kadrix");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
    LaunchAtLogin::setEnabled(true, "relative/kadrix");
    EXPECT_FALSE(LaunchAtLogin::isEnabled());
}

TEST(LaunchAtLogin, MigrationOnlySetsItsFlagOnce) {
    auto& d = kit::Defaults::standard();
    d.remove("LaunchAtLogin__hasMigrated");
    std::filesystem::remove(LaunchAtLogin::entryPath());
    LaunchAtLogin::migrateIfNeeded();
    EXPECT_TRUE(d.boolean("LaunchAtLogin__hasMigrated"));
    EXPECT_FALSE(LaunchAtLogin::isEnabled()) << "no login item appears";
    d.set("LaunchAtLogin__hasMigrated", false);
    d.set("LaunchAtLogin__hasMigrated", true);
    LaunchAtLogin::migrateIfNeeded();
    EXPECT_TRUE(d.boolean("LaunchAtLogin__hasMigrated"));
}
