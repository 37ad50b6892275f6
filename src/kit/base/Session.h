#pragma once
// Whether this process can work on the desktop it was started in. Kadrix
// grabs the screen through the X server: without one (no DISPLAY, or one
// that does not answer) Qt would abort, and in a Wayland session the X
// server it sees (XWayland) shows only X11 windows, so grabs come out black
// or partial. Both programs check first and leave with one plain line; the
// same check makes the KADRIX_HOME folder (0700) when it is set and missing.
#include <functional>
#include <optional>
#include <string>

namespace kit {

// The problem with the session, as a line for the user, or nothing when it
// is an X11 session whose display answers. `env` reads the environment (a
// test passes its own). A platform other than X11 chosen through
// QT_QPA_PLATFORM (the headless one of the tests) needs no display.
std::optional<std::string> x11SessionProblem(const std::function<const char*(const char*)>& env);

// Makes the folder KADRIX_HOME names (0700, with its parents) when it is
// set; the problem as a line for the user when it cannot be had or is not
// ours, nothing otherwise.
std::optional<std::string> kadrixHomeProblem(const std::function<const char*(const char*)>& env);

// Prints "<program>: <problem>" on stderr and exits with status 1 when the
// session or KADRIX_HOME has a problem; returns otherwise. Call first thing
// in main().
void exitUnlessSessionUsable(const char* program);

}  // namespace kit
