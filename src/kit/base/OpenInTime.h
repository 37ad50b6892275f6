#pragma once
// Opening a file someone named (the user, another program's clipboard or
// drag) when its folder may not answer: a network folder whose server has
// stopped, or a folder of a program that hangs, holds the open, and the
// thread in it, for as long as it likes, and no thread can be made to give
// up an open. So the open, and a first look at the open file, run on a
// thread of their own while the caller waits no later than its deadline:
// on the thread of the application's event loop that loop goes on
// meanwhile and the way out ends the wait at once (see InputWait.h).
//
// An open given up is left to its thread, which closes what it opens late
// itself and looks at nothing more. At most kMostOpensHeld opens run at a
// time on one file system, given up or not: beyond that another open on it
// is refused at once, with the reason, while opens on the others go on. The
// file system of a path is the mount its name lies on, found in the kernel's
// table of mounts without asking the file system itself (which may be the
// one that does not answer); a name that reaches another file system through
// a link counts on the one its name lies on. Any thread.
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "kit/base/Descriptor.h"

namespace kit::files {

// Opens on one file system still running on threads of their own, their
// callers' deadlines past or not: beyond this many no other is started there.
inline constexpr int kMostOpensHeld = 4;
// Why an open came to nothing, in a few words (as openRegular's error).
inline constexpr const char* kFolderTooSlow = "its folder did not answer in time";
inline constexpr const char* kTooManyOpensHeld =
    "files on folders that did not answer are still being opened";
inline constexpr const char* kNoThreadToOpen = "no thread could be had to open it";
inline constexpr const char* kOpenGivenUp = "Kadrix is ending";
inline constexpr const char* kOpenStopped = "the read was given up";

enum class OpenOutcome {
    opened,       // `fd` is the regular file; `looked` says what the look found
    refused,      // openRegular refused it: `why`
    timeUp,       // the deadline came first (kFolderTooSlow)
    cancelled,    // the way out began (kOpenGivenUp)
    stopped,      // its OpenStop was stopped (kOpenStopped)
    noThread,     // the system gave no thread (kNoThreadToOpen)
    tooManyHeld,  // kMostOpensHeld opens are held already (kTooManyOpensHeld)
};

struct OpenInTime {
    OpenOutcome outcome = OpenOutcome::refused;
    Descriptor fd;
    long long size = 0;
    std::string why;     // all but opened
    std::string looked;  // opened: what `look` returned
};

// A first look at the open file (fd, size) on the opening thread, whose
// reads may block as the open did; it is kept by that thread, so it must
// hold nothing the caller's return ends.
using LookAtOpenFile = std::function<std::string(int fd, long long size)>;

// Ends the wait of an open whose caller no longer wants the file (a quick
// look closed while its picture's folder does not answer): stop() from any
// thread ends the wait under way at once, and an open begun after it at
// its start. The open itself keeps its thread, as one whose deadline came.
class OpenStop {
public:
    void stop();
    // For openInTime: `wake` ends the wait now under way; false, and
    // `wake` is dropped, when stop() came first.
    bool attach(std::function<void()> wake);
    void detach();

private:
    std::mutex lock_;
    bool stopped_ = false;        // under lock_
    std::function<void()> wake_;  // under lock_
};

// openRegular(path, maxBytes) and then `look`, done by `until`, or by
// `stop` when it comes first.
OpenInTime openInTime(const std::string& path, size_t maxBytes, std::chrono::steady_clock::time_point until,
                      LookAtOpenFile look = {}, OpenStop* stop = nullptr);

// How many opens run now on threads of their own: in all, or on the file
// system of `path`.
int opensHeld();
int opensHeld(const std::string& path);

// The file system that holds `path` ("major:minor", as stat's st_dev), or
// empty when the table of mounts cannot be read; `path` made absolute by
// its name alone. Touches no file system.
std::string fileSystemOf(const std::string& path);

}  // namespace kit::files
