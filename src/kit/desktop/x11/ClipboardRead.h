#pragma once
// kit-private: the clipboard's data of one type, read from its owner on a
// connection of its own into a memory file, with a limit on its size and on
// the wait. The toolkit's own clipboard read holds the whole transfer in
// memory, however large, before anyone can look at it.
#include <chrono>
#include <string>

namespace kit::x11 {

struct ClipboardData {
    enum class Outcome { Read, NotOffered, TooLarge, TooSlow, NoDisplay };
    Outcome outcome = Outcome::NoDisplay;
    int fd = -1;  // Read: a memory file holding the bytes, the caller's to close
};

// Stops, refusing, as soon as more than `maxBytes` have arrived, or at once
// when the owner announces more; gives up at `until`.
ClipboardData readClipboard(const std::string& type, long long maxBytes,
                            std::chrono::steady_clock::time_point until);

}  // namespace kit::x11
