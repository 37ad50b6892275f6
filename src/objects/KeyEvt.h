#pragma once
// The editor's key record, handed by the key handlers to the active object.
#include <optional>
#include <string>

namespace objects {

struct KeyEvt {
    struct Modifiers {
        bool shift = false;
        bool command = false;
        bool option = false;
        bool control = false;
    };
    int code = 0;  // virtual key code
    Modifiers modifiers;
    std::optional<std::string> chars;  // the typed characters
};

}  // namespace objects
