// Registering kadrix as the desktop's handler of kadrix:// links, per user and
// only where nothing handles them yet: a user's choice, a package's entry and
// the defaults of every other type stay as they are.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "kit/Files.h"
#include "kit/UrlEvents.h"

namespace kit::UrlEvents {

namespace {

constexpr const char* kScheme = "x-scheme-handler/kadrix";
constexpr const char* kEntryName = "kadrix.desktop";
constexpr const char* kOurMark = "X-Kadrix-Registered=true";

std::string xdgDir(const char* var, const char* fallbackUnderHome) {
    if (const char* v = std::getenv(var); v && *v == '/') return v;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/" + fallbackUnderHome;
}

std::vector<std::string> xdgDirs(const char* var, const char* fallback) {
    const char* v = std::getenv(var);
    std::string list = v && *v ? v : fallback;
    std::vector<std::string> out;
    std::stringstream in(list);
    for (std::string d; std::getline(in, d, ':');)
        if (!d.empty() && d.front() == '/') out.push_back(d);
    return out;
}

struct Places {
    std::string userApps, userConfig;
    std::vector<std::string> systemApps, systemConfig;
};

Places places() {
    Places p;
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home) {
        p.userApps = std::string(home) + "/applications";
        p.userConfig = home;
    } else {
        p.userApps = xdgDir("XDG_DATA_HOME", ".local/share") + "/applications";
        p.userConfig = xdgDir("XDG_CONFIG_HOME", ".config");
    }
    for (auto& d : xdgDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) p.systemApps.push_back(d + "/applications");
    p.systemConfig = xdgDirs("XDG_CONFIG_DIRS", "/etc/xdg");
    return p;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return lines;
}

// The value of `key` in one section of an INI-style file; empty when absent.
std::string entryValue(const std::string& text, const std::string& section, const std::string& key) {
    bool inSection = false;
    for (auto& l : splitLines(text)) {
        if (!l.empty() && l.front() == '[') {
            inSection = l == "[" + section + "]";
            continue;
        }
        if (inSection && l.rfind(key + "=", 0) == 0) return l.substr(key.size() + 1);
    }
    return {};
}

// Sets `key=value` in one section of an INI-style file's lines, keeping
// everything else as it was.
std::string withEntry(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
    std::vector<std::string> lines = splitLines(text);
    std::string header = "[" + section + "]", entry = key + "=" + value;
    bool inSection = false, done = false;
    size_t sectionEnd = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (!l.empty() && l.front() == '[') {
            if (inSection) sectionEnd = i;
            inSection = l == header;
            continue;
        }
        if (inSection && l.rfind(key + "=", 0) == 0) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done) {
        auto has = std::find(lines.begin(), lines.end(), header);
        if (has == lines.end()) {
            if (!lines.empty() && !lines.back().empty()) lines.push_back("");
            lines.push_back(header);
            lines.push_back(entry);
        } else {
            size_t at = sectionEnd != std::string::npos && sectionEnd > size_t(has - lines.begin())
                            ? sectionEnd
                            : lines.size();
            // Before the blank lines that close the section.
            while (at > size_t(has - lines.begin()) + 1 && lines[at - 1].empty()) --at;
            lines.insert(lines.begin() + std::ptrdiff_t(at), entry);
        }
    }
    std::string out;
    for (auto& l : lines) out += l + "\n";
    return out;
}

std::string readSmall(const std::string& path) {
    return files::readAll(path, 1 << 20).value_or(std::string());
}

// The program our own entry runs: the quoted first word of its Exec line.
std::string programOfOurEntry(const std::string& entry) {
    std::string exec = entryValue(entry, "Desktop Entry", "Exec");
    if (exec.size() < 2 || exec.front() != '"') return {};
    size_t close = exec.find('"', 1);
    if (close == std::string::npos) return {};
    std::string program;
    std::string quoted = exec.substr(1, close - 1);
    for (size_t i = 0; i < quoted.size(); ++i) {
        program += quoted[i];
        if (quoted[i] == '%' && i + 1 < quoted.size() && quoted[i + 1] == '%') ++i;
    }
    return program;
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
        std::string value = entryValue(readSmall(list), "Default Applications", kScheme);
        while (!value.empty() && (value.back() == ';' || value.back() == ' ')) value.pop_back();
        if (value.empty()) continue;
        if (value == kEntryName && !ourEntryExists) continue;
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
        if (!entryValue(readSmall(d + "/mimeinfo.cache"), "MIME Cache", kScheme).empty()) return true;
    return false;
}

std::string desktopEntry(const std::string& quotedProgram) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kadrix\n"
           "Comment=Screenshots of an area, a window or the whole screen\n"
           "Exec=" +
           quotedProgram +
           " %u\n"
           "Icon=kadrix\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=x-scheme-handler/kadrix;image/png;image/jpeg;\n" +
           kOurMark + "\n";
}

}  // namespace

Registration registerSchemeHandler(const std::string& executablePath) {
    // A path such lines would read otherwise is refused rather than escaped.
    auto program = files::desktopExecProgram(executablePath);
    if (!program) return Registration::Failed;
    Places p = places();
    // An entry installed for all users is the handler; ours would shadow it.
    for (auto& d : p.systemApps)
        if (files::exists(d + "/" + kEntryName)) return Registration::Kept;
    std::string ourPath = p.userApps + "/" + kEntryName;
    std::string ours = readSmall(ourPath);
    bool oursExists = files::exists(ourPath);
    if (oursExists) {
        // The user's own entry, or ours still running a program that exists, stays.
        bool mine = ours.find(std::string(kOurMark) + "\n") != std::string::npos;
        if (!mine || isExecutableFile(programOfOurEntry(ours))) return Registration::Kept;
    } else if (hasDefaultHandler(p, false) || hasDeclaredHandler(p)) {
        return Registration::Kept;
    }
    if (!files::makeDirs(p.userApps, 0755) || !files::makeDirs(p.userConfig, 0700)) return Registration::Failed;
    if (!files::writeAtomic(ourPath, desktopEntry(*program), 0644)) return Registration::Failed;
    // The default is set only where none is: a choice of the user's stays.
    if (hasDefaultHandler(p, true)) return Registration::Written;
    std::string list = p.userConfig + "/mimeapps.list";
    std::string old = readSmall(list);
    bool ok = files::writeAtomic(list, withEntry(old, "Default Applications", kScheme, kEntryName), 0644);
    return ok ? Registration::Written : Registration::Failed;
}

}  // namespace kit::UrlEvents
