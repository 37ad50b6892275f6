#pragma once
// Key names from the user's keyboard layout: the character a key types
// without modifiers, in the layout's ASCII-capable group (on a Russian +
// US setup, the US group), so shortcut texts read the way the keys are
// labelled. Main thread only.
#include <cstdint>
#include <optional>
#include <string>

namespace kit::KeyLayout {

// The unshifted character (UTF-8) of the key at a positional key code; nothing
// when the layout has none for it or there is no keyboard to ask.
std::optional<std::string> character(uint16_t keyCode);

// Tests: answer from layouts built from their names ("de", "ru,us", the
// active group being the first) instead of the X server's keyboard; an empty
// text goes back to the server's. False when the names make no keymap.
bool useLayoutsForTesting(const std::string& layouts);

}  // namespace kit::KeyLayout
