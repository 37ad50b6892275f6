#include "objects/PressedKeys.h"

namespace objects {

PressedKeys& PressedKeys::shared() {
    static PressedKeys* keys = new PressedKeys();  // lives until the process ends
    return *keys;
}

void PressedKeys::press(int key) {
    pressed.insert(key);
    auto it = timers.find(key);
    if (it != timers.end()) it->second.invalidate();
    timers[key] = kit::Timer::once(0.8, [this, key] { pressed.erase(key); });
}

std::string PressedKeys::describe() const {
    std::string out;
    for (int key : pressed) {
        if (!out.empty()) out += ", ";
        out += std::to_string(key);
    }
    return out;
}

}  // namespace objects
