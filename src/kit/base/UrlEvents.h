#pragma once
// `kadrix://` URLs and files arriving from outside: on the command line of the
// first launch, or from later launches, which hand them to the running
// instance over a per-user local socket and exit.
//
// Election: whoever holds the per-user instance lock (an flock, so the kernel
// drops it with its holder) is the running instance and listens on the socket
// beside it. A later launch that cannot take the lock sends its messages, one
// a line, closes its side and waits for the running instance's "ok". When
// nobody listens or the connection closes unanswered (the instance is just
// quitting or starting) it tries the lock and the socket again, so a message
// is never lost and two launches at once leave one instance. Messages once
// sent are never sent again, even when the answer is slow (a busy instance
// still reads them), so a command never runs twice.
//
// The running instance reads each connection without blocking, drops
// connections that stay open longer than two seconds or send too much, and
// accepts only lines that are UTF-8 text without control characters.
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

// Becomes the single running instance, or hands `messages` (URLs and file
// messages; empty means "kadrix://show") to the one that runs. Gives up
// after `patienceSeconds` of neither. Needs no application object: a later
// launch leaves before making one. Without one the running instance starts
// answering once a handler is set.
Role claimSingleInstance(const std::vector<std::string>& messages, double patienceSeconds = 5);
// Stops listening and gives up the instance lock.
void release();

// Receives URLs from later launches on the main thread; URLs that came
// before a handler was set are handed over when it is.
void setHandler(std::function<void(const std::string& url)> handler);

// The files among the arguments after the program's own name ("open with"
// from a file manager): paths, made absolute, and local file:// URLs.
// kadrix URLs and options are not files. Paths are bytes as the file system
// has them (not necessarily UTF-8). No file is looked at here (its folder may
// not answer, and this process would hang in the look): the running Kadrix
// judges each as any file named to it.
std::vector<std::string> filesInArguments(const std::vector<std::string>& args);
// The message that hands a file (absolute path) to the running instance: a
// file URL with every byte outside the unreserved set percent-encoded, so a
// name that is not UTF-8 arrives unchanged.
std::string fileMessage(const std::string& absolutePath);
// The path a file message or local file URL names ("file:///p", "file:/p",
// "file://localhost/p"), percent-decoded to bytes; empty when it is none.
std::string pathFromFileURL(const std::string& url);
// Receives the files later launches hand over, as absolute paths, on the
// main thread; like URLs, files that came early wait for the handler.
void setFileHandler(std::function<void(const std::string& path)> handler);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool isValidUtf8(const std::string& text);

enum class Registration {
    Written,  // our desktop entry (and the scheme's default) were written
    Kept,     // a handler is already there: nothing was touched
    Failed,   // the path cannot go into a desktop entry, or a write failed
};

// Makes a program the desktop's handler of kadrix URLs when nothing handles
// them yet: the desktop entry "kadrix.desktop" in the user's applications
// folder ($XDG_DATA_HOME/applications), running the program with the URL and
// declaring the scheme and the image types, and the scheme's default in the
// user's mimeapps.list ($XDG_CONFIG_HOME), whose other lines are kept.
// Nothing is written while an entry installed for all users exists, while any
// default or installed entry handles the scheme, or while our own entry runs
// a program that still exists; our entry is rewritten when its program is
// gone. With KADRIX_HOME set the user's folders are under it.
Registration registerSchemeHandler(const std::string& executablePath);

// Where the socket lives: $KADRIX_HOME, else $XDG_RUNTIME_DIR, else a private
// folder under /tmp named for the user id. The lock is the same path + ".lock".
std::string socketPath();

}  // namespace kit::UrlEvents
