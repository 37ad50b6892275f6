#pragma once
// Event monitors: global ones see mouse-down and key-down events anywhere on
// the desktop (other applications included); local ones see the events sent
// to our own windows and pass them on unchanged. Wheel buttons never count
// as mouse-downs, so synthetic scrolling does not trip a monitor.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace kit {

struct MonitorEvent {
    enum class Type { LeftMouseDown, RightMouseDown, OtherMouseDown, KeyDown };
    Type type = Type::KeyDown;
    int keyCode = -1;  // virtual key code for key-downs (Escape = 53), -1 when unknown
    int button = 0;    // X button number for mouse-downs
};

class EventMonitor {
public:
    enum Mask : unsigned { LeftMouseDown = 1, RightMouseDown = 2, OtherMouseDown = 4, KeyDown = 8 };
    using Handler = std::function<void(const MonitorEvent&)>;
    using Token = uint64_t;

    // Handlers run on the main thread. A token is never 0.
    static Token addGlobal(unsigned mask, Handler handler);
    static Token addLocal(unsigned mask, Handler handler);
    static void remove(Token token);
    static size_t installedCount();

    // Hands an event to the monitors of that kind (the desktop backends call
    // it; tests use it to act as the user).
    static void deliver(const MonitorEvent& event, bool global);

    static constexpr int kEscapeKeyCode = 53;
};

}  // namespace kit
