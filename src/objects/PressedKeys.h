#pragma once
// Which keys are held, so that a drag can ask whether Space is down. A key
// counts as held from its key-down until 0.8 s after its last key-down (auto-
// repeat renews it) or until the editor's key-up removes it.
#include <map>
#include <set>
#include <string>

#include "kit/base/Timer.h"

namespace objects {

class PressedKeys {
public:
    // The one shared instance, made on first use.
    static PressedKeys& shared();

    std::map<int, kit::Timer> timers;  // pending release timer per key code
    std::set<int> pressed;             // key codes that count as held

    void press(int key);
    // Whether the key (a kit::KeyCode) counts as held on the shared instance.
    static bool isHeld(int key) { return shared().pressed.count(key) > 0; }
    // The held codes as decimal texts joined with ", ".
    std::string describe() const;
};

}  // namespace objects
