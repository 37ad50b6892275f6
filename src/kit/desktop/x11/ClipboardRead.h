#pragma once
// kit-private: the clipboard's data of one type, read from its owner on a
// connection of its own into a memory file, with a limit on its size and on
// the wait. The toolkit's own clipboard read holds the whole transfer in
// memory, however large, before anyone can look at it, and waits for a
// slow owner with the program standing still. Here, on the main thread, the
// event loop goes on while the owner is waited for, and the way out ends
// the wait at once.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kit::x11 {

struct ClipboardData {
    enum class Outcome { Read, NotOffered, TooLarge, TooSlow, NoDisplay, Cancelled, ConnectionLost };
    Outcome outcome = Outcome::NoDisplay;
    int fd = -1;  // Read: a memory file holding the bytes, the caller's to close
};

// Stops, refusing, as soon as more than `maxBytes` have arrived, or at once
// when the owner announces more (also when it sends in pieces: then before
// the first piece is asked for); gives up at `until`. The window the owner
// answers on outlives a wait given up, until the owner answers or for five
// seconds, so that a late answer lands on a window that exists.
ClipboardData readClipboard(const std::string& type, long long maxBytes,
                            std::chrono::steady_clock::time_point until);

// The types the clipboard's owner offers, as it names them.
struct OfferedTypes {
    ClipboardData::Outcome outcome = ClipboardData::Outcome::NoDisplay;
    std::vector<std::string> types;  // Read: in the owner's order
};
OfferedTypes offeredTypes(std::chrono::steady_clock::time_point until);
// The same, the owner given `moment` from the sending of the question: the
// connection and window of our own, made first, are not counted against it.
// `sent` is told the time the question went out, on the calling thread, as
// soon as it has; it is never told when the question did not go out.
OfferedTypes offeredTypes(std::chrono::steady_clock::duration moment,
                          const std::function<void(std::chrono::steady_clock::time_point)>& sent);

}  // namespace kit::x11
