// From a global shortcut's key press reaching the X server to the command
// bound to it starting: the press is faked with XTest on a private Xvfb
// screen, the grab fires in this process and the bound action runs.
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <cstdlib>

#include "BenchSupport.h"
#include "XvfbScreens.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Event.h"
#include "shortcuts/HotKeyCenter.h"
#include "shortcuts/Name.h"

namespace {

benchsupport::XvfbScreens screens;

// The evdev positions of the left Control and Shift keys.
constexpr xcb_keycode_t kControl = 37, kShift = 50;

void fake(xcb_connection_t* c, uint8_t type, xcb_keycode_t key) {
    xcb_test_fake_input(c, type, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void BM_HotKeyToCommand(benchmark::State& state) {
    std::string display = screens.displayFor(800, 600);
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    auto key = kit::x11KeycodeFromKeyCode(kit::KeyCode::F9);
    if (xcb_connection_has_error(c) || !key) return state.SkipWithError("no display");
    shortcuts::Name name("benchHotKey");
    shortcuts::setShortcut(shortcuts::Shortcut(shortcuts::Key{kit::KeyCode::F9},
                                               kit::ModifierFlag::Command | kit::ModifierFlag::Shift),
                           name);
    int fired = 0;
    shortcuts::onKeyDown(name, [&] { ++fired; });
    if (!shortcuts::isActive(*shortcuts::getShortcut(name))) return state.SkipWithError("grab refused");
    for (auto _ : state) {
        int before = fired;
        fake(c, XCB_KEY_PRESS, kControl);
        fake(c, XCB_KEY_PRESS, kShift);
        auto start = std::chrono::steady_clock::now();
        fake(c, XCB_KEY_PRESS, xcb_keycode_t(*key));
        xcb_flush(c);
        bool ok = kit::runMainLoopUntil([&] { return fired > before; }, 2.0);
        auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        fake(c, XCB_KEY_RELEASE, xcb_keycode_t(*key));
        fake(c, XCB_KEY_RELEASE, kShift);
        fake(c, XCB_KEY_RELEASE, kControl);
        xcb_flush(c);
        kit::runMainLoopUntil([] { return false; }, 0.005);  // let the release arrive
        if (!ok) return state.SkipWithError("the shortcut did not fire");
        state.SetIterationTime(took);
    }
    shortcuts::removeAllHandlers();
    xcb_disconnect(c);
}

BENCHMARK(BM_HotKeyToCommand)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runApplicationBenchmarks(argc, argv, "kadrix-bench-hotkey");
}
