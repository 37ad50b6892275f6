#include "kit/base/Session.h"

#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "kit/base/Files.h"

namespace kit {

namespace {

bool set(const char* value) {
    return value && *value;
}

}  // namespace

std::optional<std::string> x11SessionProblem(const std::function<const char*(const char*)>& env) {
    const char* platform = env("QT_QPA_PLATFORM");
    if (set(platform) && std::string_view(platform).substr(0, 3) != "xcb") return std::nullopt;
    const char* session = env("XDG_SESSION_TYPE");
    if (set(env("WAYLAND_DISPLAY")) || (set(session) && std::string_view(session) == "wayland"))
        return "Kadrix captures X11 sessions only, and this is a Wayland session. Log in to an X11 "
               "session (\"Xorg\" on the login screen) to take screenshots.";
    const char* display = env("DISPLAY");
    if (!set(display)) return "no X display to work on (DISPLAY is not set). Kadrix needs an X11 session.";
    xcb_connection_t* c = xcb_connect(display, nullptr);
    const bool answers = c && !xcb_connection_has_error(c);
    if (c) xcb_disconnect(c);
    if (!answers)
        return "cannot open the X display \"" + std::string(display) + "\". Is the X server running?";
    return std::nullopt;
}

std::optional<std::string> kadrixHomeProblem(const std::function<const char*(const char*)>& env) {
    const char* home = env("KADRIX_HOME");
    if (!set(home)) return std::nullopt;
    const std::string path = home;
    const std::string said = "KADRIX_HOME \"" + path + "\" ";
    std::string error;
    if (!files::makeDirs(path, 0700, &error)) return said + "cannot be made into a folder: " + error + ".";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return said + "is not a folder.";
    if (st.st_uid != ::geteuid()) return said + "belongs to another user.";
    if (::access(path.c_str(), R_OK | W_OK | X_OK) != 0) return said + "is not writable.";
    return std::nullopt;
}

void exitUnlessSessionUsable(const char* program) {
    auto env = [](const char* name) { return std::getenv(name); };
    auto problem = x11SessionProblem(env);
    if (!problem) problem = kadrixHomeProblem(env);
    if (!problem) return;
    std::fprintf(stderr, "%s: %s\n", program, problem->c_str());
    std::exit(1);
}

}  // namespace kit
