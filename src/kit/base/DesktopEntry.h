#pragma once
// Desktop entries and the other INI-style files of the freedesktop desktop
// (mimeapps.list, mimeinfo.cache), and the two entries Kadrix writes for
// itself: the per-user handler of kadrix:// links and the login item. Both
// describe the same program and differ only in their Exec arguments and last
// lines, so they are made here, in one place.
//
// With KADRIX_HOME set, the user's folders are that folder, so tests never
// touch the real ones.
#include <optional>
#include <string>
#include <vector>

namespace kit::DesktopEntry {

// The name both of our entries and an installed package's entry carry.
constexpr const char* kFileName = "kadrix.desktop";

// $KADRIX_HOME, else $XDG_CONFIG_HOME when absolute, else ~/.config.
std::string userConfigHome();
// $KADRIX_HOME, else $XDG_DATA_HOME when absolute, else ~/.local/share.
std::string userDataHome();
// The absolute folders of a colon-separated list variable ($XDG_DATA_DIRS,
// $XDG_CONFIG_DIRS), or of `fallback` when it is unset or empty.
std::vector<std::string> systemDirs(const char* variable, const char* fallback);

// The value of `key` in `[group]`, spaces around key and value trimmed;
// empty when absent.
std::string value(const std::string& text, const std::string& group, const std::string& key);
// The text with `key=value` set in `[group]` (added at the end of the group,
// or in a new group at the end); every other line stays as it was.
std::string withValue(const std::string& text, const std::string& group, const std::string& key,
                      const std::string& value);

// The entry of Kadrix running `program` (an absolute path) followed by
// `arguments` (field codes such as "%u"; may be empty), then `extraLines`
// ("Key=value" each). None when the path cannot go into an Exec line.
std::optional<std::string> kadrixEntry(const std::string& program, const std::string& arguments,
                                       const std::vector<std::string>& extraLines);
// The program an entry's Exec line runs when its first word is quoted
// ("%%" read as "%"); empty otherwise.
std::string quotedProgram(const std::string& entry);

// The running program's absolute path; empty when it cannot be read.
std::string thisProgram();

}  // namespace kit::DesktopEntry
