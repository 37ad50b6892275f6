#pragma once
// Event sounds from the freedesktop sound theme ("camera-shutter",
// "screen-capture", "message-new-instant", "bell", …).
#include <string>

namespace kit::Sound {

// Starts the sound and returns at once; false when there is no such sound
// or no sound output.
bool play(const std::string& eventId);

}  // namespace kit::Sound
