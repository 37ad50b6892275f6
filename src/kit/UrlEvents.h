#pragma once
// `kadrix://` URLs arriving from outside: on the command line of the first
// launch, or from later launches, which hand their URLs to the running
// instance over a per-user local socket and exit.
#include <functional>
#include <string>
#include <vector>

namespace kit::UrlEvents {

enum class Role {
    Primary,    // this process is the running instance and listens
    Forwarded,  // another instance runs and got the messages
    Failed,     // another instance seems to run but could not be reached
};

// The arguments that are kadrix URLs (scheme compared without case).
std::vector<std::string> urlsInArguments(const std::vector<std::string>& args);

// Becomes the single running instance, or hands `messages` (URLs; empty
// means "kadrix://show") to the one that runs.
Role claimSingleInstance(const std::vector<std::string>& messages);
// Stops listening and gives up the instance lock.
void release();

// Receives URLs from later launches on the main thread; URLs that came
// before a handler was set are handed over when it is.
void setHandler(std::function<void(const std::string& url)> handler);

// The files among the arguments after the program's own name ("open with"
// from a file manager): paths of existing files, made absolute, and local
// file:// URLs. kadrix URLs and options are not files.
std::vector<std::string> filesInArguments(const std::vector<std::string>& args);
// The message that hands a file (absolute path) to the running instance.
std::string fileMessage(const std::string& absolutePath);
// Receives the files later launches hand over, as absolute paths, on the
// main thread; like URLs, files that came early wait for the handler.
void setFileHandler(std::function<void(const std::string& path)> handler);

// Registers a program as the desktop's handler of kadrix URLs: the desktop
// entry "kadrix.desktop" in the applications folder ($XDG_DATA_HOME/
// applications), running the program with the URL, and the scheme's default
// in mimeapps.list ($XDG_CONFIG_HOME), every other line of which is kept.
// With KADRIX_HOME set both live under it. False when the path cannot be
// written into a desktop entry safely or a file could not be written.
bool registerSchemeHandler(const std::string& executablePath);

// Where the socket lives: $KADRIX_HOME, else $XDG_RUNTIME_DIR, else /tmp
// with the user id in the name.
std::string socketPath();

}  // namespace kit::UrlEvents
