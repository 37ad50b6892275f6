#pragma once
// The text of a shortcut for tooltips and hints, from a virtual key code
// (Carbon numbering, as kit::Event::keyCode carries it) and two modifiers.
#include <string>

namespace services {

struct KeyComboModifiers {
    bool shift = false;
    bool command = false;
};

// Name of a key by its virtual key code; the code as decimal text when the
// table has no name for it.
std::string keyName(int keyCode);

// "Ctrl+Shift+C" for code 8 with both modifiers. The command modifier is the
// Ctrl key on this desktop, so that is the name the user reads.
std::string keyComboDescription(int keyCode, KeyComboModifiers modifiers);

}  // namespace services
