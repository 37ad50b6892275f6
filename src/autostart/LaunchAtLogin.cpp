#include "autostart/LaunchAtLogin.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "kit/Defaults.h"
#include "kit/Files.h"

namespace autostart::LaunchAtLogin {

namespace {

void logError(const std::string& line) {
    std::fprintf(stderr, "kadrix: %s\n", line.c_str());
    syslog(LOG_USER | LOG_ERR, "kadrix: %s", line.c_str());
}

std::string configHome() {
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home) return home;
    if (const char* v = std::getenv("XDG_CONFIG_HOME"); v && *v == '/') return v;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config";
}

std::string thisProgram() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

// The value of `key` in the [Desktop Entry] group, trimmed; empty when absent.
std::string entryKey(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    bool inGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[') {
            inGroup = line.rfind("[Desktop Entry]", 0) == 0;
            continue;
        }
        if (!inGroup) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        while (!k.empty() && k.back() == ' ') k.pop_back();
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        while (!v.empty() && (v.back() == ' ' || v.back() == '\r')) v.pop_back();
        if (k == key) return v;
    }
    return {};
}

std::string entryText(const std::string& quotedProgram) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kadrix\n"
           "Comment=Screenshots of an area, a window or the whole screen\n"
           "Exec=" +
           quotedProgram +
           "\n"
           "Icon=kadrix\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace

std::string entryPath() {
    return configHome() + "/autostart/kadrix.desktop";
}

bool isEnabled() {
    auto text = kit::files::readAll(entryPath(), 1 << 20);
    if (!text) return false;
    if (entryKey(*text, "Hidden") == "true") return false;
    return entryKey(*text, "X-GNOME-Autostart-enabled") != "false";
}

void setEnabled(bool enabled, const std::string& program) {
    std::string path = entryPath();
    if (!enabled) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            logError("Failed to disable launch at login: " + std::string(std::strerror(errno)));
        return;
    }
    auto quoted = kit::files::desktopExecProgram(program.empty() ? thisProgram() : program);
    if (!quoted) {
        logError("Failed to enable launch at login: the program's path cannot go into an autostart entry");
        return;
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (!kit::files::makeDirs(dir, 0700) || !kit::files::writeAtomic(path, entryText(*quoted), 0644))
        logError("Failed to enable launch at login: cannot write " + path);
}

void migrateIfNeeded() {
    auto& defaults = kit::Defaults::standard();
    if (defaults.boolean("LaunchAtLogin__hasMigrated")) return;
    defaults.set("LaunchAtLogin__hasMigrated", true);
}

}  // namespace autostart::LaunchAtLogin
