#include "kit/base/DesktopEntry.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "kit/base/Files.h"

namespace kit::DesktopEntry {

namespace {

std::string userHome(const char* variable, const char* underHome) {
    if (const char* home = std::getenv("KADRIX_HOME"); home && *home) return home;
    if (const char* v = std::getenv(variable); v && *v == '/') return v;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/" + underHome;
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

std::string trimmed(const std::string& s) {
    const char* space = " \t\r";
    size_t a = s.find_first_not_of(space);
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(space) - a + 1);
}

bool isGroupLine(const std::string& line) {
    return !line.empty() && line.front() == '[';
}

bool isGroup(const std::string& line, const std::string& group) {
    return trimmed(line) == "[" + group + "]";
}

// The key of a "key=value" line, trimmed; empty for any other line.
std::string keyOf(const std::string& line) {
    size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : trimmed(line.substr(0, eq));
}

}  // namespace

std::string userConfigHome() {
    return userHome("XDG_CONFIG_HOME", ".config");
}

std::string userDataHome() {
    return userHome("XDG_DATA_HOME", ".local/share");
}

std::vector<std::string> systemDirs(const char* variable, const char* fallback) {
    const char* v = std::getenv(variable);
    std::stringstream in(v && *v ? v : fallback);
    std::vector<std::string> out;
    for (std::string d; std::getline(in, d, ':');)
        if (!d.empty() && d.front() == '/') out.push_back(d);
    return out;
}

std::string value(const std::string& text, const std::string& group, const std::string& key) {
    bool inGroup = false;
    for (auto& line : splitLines(text)) {
        if (isGroupLine(line)) {
            inGroup = isGroup(line, group);
            continue;
        }
        if (inGroup && keyOf(line) == key) return trimmed(line.substr(line.find('=') + 1));
    }
    return {};
}

std::string withValue(const std::string& text, const std::string& group, const std::string& key,
                      const std::string& value) {
    std::vector<std::string> lines = splitLines(text);
    std::string entry = key + "=" + value;
    bool inGroup = false, done = false;
    size_t groupAt = std::string::npos, groupEnd = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (isGroupLine(lines[i])) {
            if (inGroup) groupEnd = i;
            inGroup = isGroup(lines[i], group);
            if (inGroup && groupAt == std::string::npos) groupAt = i;
            continue;
        }
        if (inGroup && keyOf(lines[i]) == key) {
            lines[i] = entry;
            done = true;
        }
    }
    if (!done) {
        if (groupAt == std::string::npos) {
            if (!lines.empty() && !lines.back().empty()) lines.push_back("");
            lines.push_back("[" + group + "]");
            lines.push_back(entry);
        } else {
            size_t at = groupEnd != std::string::npos && groupEnd > groupAt ? groupEnd : lines.size();
            // Before the blank lines that close the group.
            while (at > groupAt + 1 && lines[at - 1].empty()) --at;
            lines.insert(lines.begin() + std::ptrdiff_t(at), entry);
        }
    }
    std::string out;
    for (auto& l : lines) out += l + "\n";
    return out;
}

std::optional<std::string> kadrixEntry(const std::string& program, const std::string& arguments,
                                       const std::vector<std::string>& extraLines) {
    auto quoted = files::desktopExecProgram(program);
    if (!quoted) return std::nullopt;
    std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kadrix\n"
        "Comment=Screenshots of an area, a window or the whole screen\n"
        "Exec=" +
        *quoted + (arguments.empty() ? "" : " " + arguments) +
        "\n"
        "Icon=kadrix\n"
        "Terminal=false\n";
    for (auto& line : extraLines) text += line + "\n";
    return text;
}

std::string quotedProgram(const std::string& entry) {
    std::string exec = value(entry, "Desktop Entry", "Exec");
    if (exec.size() < 2 || exec.front() != '"') return {};
    size_t close = exec.find('"', 1);
    if (close == std::string::npos) return {};
    std::string program;
    for (size_t i = 1; i < close; ++i) {
        program += exec[i];
        if (exec[i] == '%' && i + 1 < close && exec[i + 1] == '%') ++i;
    }
    return program;
}

std::string thisProgram() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace kit::DesktopEntry
