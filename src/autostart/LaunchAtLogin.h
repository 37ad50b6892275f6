#pragma once
// Starting Kadrix when the user logs in: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/kadrix.desktop ($KADRIX_HOME/autostart with
// KADRIX_HOME set). The entry itself is the state: nothing else remembers
// whether it should exist, and every read looks at the file.
//
// Failures go to the system log (and the console) only; callers that care
// read `isEnabled()` again. Main thread.
#include <string>

namespace autostart::LaunchAtLogin {

// Whether the entry exists and is not switched off by its own keys
// (Hidden=true, X-GNOME-Autostart-enabled=false).
bool isEnabled();
// Writes the entry (atomically, running `program`, or this process's program
// when empty) or removes it.
void setEnabled(bool enabled, const std::string& program = {});
// The one-time move of an older registration. Linux has one kind of login
// item, so this only sets its flag "LaunchAtLogin__hasMigrated" once.
void migrateIfNeeded();

// Where the entry lives.
std::string entryPath();

}  // namespace autostart::LaunchAtLogin
