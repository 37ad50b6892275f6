#include "autostart/LaunchAtLogin.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "kit/base/Defaults.h"
#include "kit/base/DesktopEntry.h"
#include "kit/base/Files.h"

namespace autostart::LaunchAtLogin {

namespace {

void logError(const std::string& line) {
    std::fprintf(stderr, "kadrix: %s\n", line.c_str());
    syslog(LOG_USER | LOG_ERR, "kadrix: %s", line.c_str());
}

}  // namespace

std::string entryPath() {
    return kit::DesktopEntry::userConfigHome() + "/autostart/" + kit::DesktopEntry::kFileName;
}

bool isEnabled() {
    auto text = kit::files::readAll(entryPath(), 1 << 20);
    if (!text) return false;
    if (kit::DesktopEntry::value(*text, "Desktop Entry", "Hidden") == "true") return false;
    return kit::DesktopEntry::value(*text, "Desktop Entry", "X-GNOME-Autostart-enabled") != "false";
}

void setEnabled(bool enabled, const std::string& program) {
    std::string path = entryPath();
    if (!enabled) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            logError("Failed to disable launch at login: " + std::string(std::strerror(errno)));
        return;
    }
    const std::string executable = program.empty() ? kit::DesktopEntry::thisProgram() : program;
    // TryExec: once the program is gone (the package removed), the desktop
    // skips the entry instead of failing to start it at every login. The
    // value is a plain path, not a command line, so it goes unquoted.
    auto entry = kit::DesktopEntry::kadrixEntry(executable, "",
                                                {"TryExec=" + executable, "X-GNOME-Autostart-enabled=true"});
    if (!entry) {
        logError("Failed to enable launch at login: the program's path cannot go into an autostart entry");
        return;
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (!kit::files::makeDirs(dir, 0700) || !kit::files::writeAtomic(path, *entry, 0644))
        logError("Failed to enable launch at login: cannot write " + path);
}

void migrateIfNeeded() {
    auto& defaults = kit::Defaults::standard();
    if (defaults.boolean("LaunchAtLogin__hasMigrated")) return;
    defaults.set("LaunchAtLogin__hasMigrated", true);
}

}  // namespace autostart::LaunchAtLogin
