// Registering kadrix as the desktop's handler of kadrix:// links, per user and
// only where nothing handles them yet: a user's choice, a package's entry and
// the defaults of every other type stay as they are.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "kit/base/DesktopEntry.h"
#include "kit/base/Files.h"
#include "kit/base/UrlEvents.h"

namespace kit::UrlEvents {

namespace {

constexpr const char* kScheme = "x-scheme-handler/kadrix";
constexpr const char* kOurMark = "X-Kadrix-Registered=true";

struct Places {
    std::string userApps, userConfig;
    std::vector<std::string> systemApps, systemConfig;
};

Places places() {
    Places p;
    p.userApps = DesktopEntry::userDataHome() + "/applications";
    p.userConfig = DesktopEntry::userConfigHome();
    for (auto& d : DesktopEntry::systemDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))
        p.systemApps.push_back(d + "/applications");
    p.systemConfig = DesktopEntry::systemDirs("XDG_CONFIG_DIRS", "/etc/xdg");
    return p;
}

std::string readSmall(const std::string& path) {
    return files::readAll(path, 1 << 20).value_or(std::string());
}

bool isOurs(const std::string& entry) {
    return entry.find(std::string(kOurMark) + "\n") != std::string::npos;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111);
}

// Any default set for the scheme, in every mimeapps.list the desktop reads.
// A default naming our entry while no such entry exists anywhere is left
// over from a removed copy of ours and does not count.
bool hasDefaultHandler(const Places& p, bool ourEntryExists) {
    std::vector<std::string> lists{p.userConfig + "/mimeapps.list", p.userApps + "/mimeapps.list"};
    for (auto& d : p.systemConfig) lists.push_back(d + "/mimeapps.list");
    for (auto& d : p.systemApps) lists.push_back(d + "/mimeapps.list");
    for (auto& list : lists) {
        std::string value = DesktopEntry::value(readSmall(list), "Default Applications", kScheme);
        while (!value.empty() && (value.back() == ';' || value.back() == ' ')) value.pop_back();
        if (value.empty()) continue;
        if (value == DesktopEntry::kFileName && !ourEntryExists) continue;
        return true;
    }
    return false;
}

// An installed application that declares the scheme (the desktop's cache of
// declared types lists it).
bool hasDeclaredHandler(const Places& p) {
    std::vector<std::string> dirs = p.systemApps;
    dirs.push_back(p.userApps);
    for (auto& d : dirs)
        if (!DesktopEntry::value(readSmall(d + "/mimeinfo.cache"), "MIME Cache", kScheme).empty())
            return true;
    return false;
}

bool installedEntryExists(const Places& p) {
    for (auto& d : p.systemApps)
        if (files::exists(d + "/" + DesktopEntry::kFileName)) return true;
    return false;
}

}  // namespace

Registration registerSchemeHandler(const std::string& executablePath) {
    // A path such lines would read otherwise is refused rather than escaped.
    auto entry = DesktopEntry::kadrixEntry(
        executablePath, "%u",
        {"NoDisplay=true", "MimeType=x-scheme-handler/kadrix;image/png;image/jpeg;", kOurMark});
    if (!entry) return Registration::Failed;
    Places p = places();
    std::string ourPath = p.userApps + "/" + DesktopEntry::kFileName;
    std::string ours = readSmall(ourPath);
    // An entry installed for all users is the handler, and the one the menus
    // show. Ours under the same name in the user's folder would hide it (and
    // its NoDisplay key would hide Kadrix from the menus), so a copy we wrote
    // earlier, say while running from a build folder, goes; the scheme's
    // default names the same file and so reaches the installed entry.
    if (installedEntryExists(p)) {
        if (isOurs(ours)) files::remove(ourPath);
        return Registration::Kept;
    }
    if (files::exists(ourPath)) {
        // The user's own entry, or ours still running a program that exists, stays.
        if (!isOurs(ours) || isExecutableFile(DesktopEntry::quotedProgram(ours))) return Registration::Kept;
    } else if (hasDefaultHandler(p, false) || hasDeclaredHandler(p)) {
        return Registration::Kept;
    }
    if (!files::makeDirs(p.userApps, 0755) || !files::makeDirs(p.userConfig, 0700))
        return Registration::Failed;
    if (!files::writeAtomic(ourPath, *entry, 0644)) return Registration::Failed;
    // The default is set only where none is: a choice of the user's stays.
    if (hasDefaultHandler(p, true)) return Registration::Written;
    std::string list = p.userConfig + "/mimeapps.list";
    std::string old = readSmall(list);
    bool ok = files::writeAtomic(
        list, DesktopEntry::withValue(old, "Default Applications", kScheme, DesktopEntry::kFileName), 0644);
    return ok ? Registration::Written : Registration::Failed;
}

}  // namespace kit::UrlEvents
