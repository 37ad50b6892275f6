#pragma once
// The window server's list of on-screen application windows, front to back,
// with the fields capture code reads. Layer 0 holds normal application
// windows; desktop, dock and stay-on-top windows (our pins, previews and
// overlays among them) have other layers, override-redirect windows none at all.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"

namespace kit {

struct WindowInfo {
    uint32_t number = 0;               // window id, never 0 for a real window
    std::optional<std::string> title;  // absent when the window has none
    std::optional<std::string> owner;  // application name
    std::optional<double> layer;       // 0 normal, 3 floating, 20 dock, negative desktop
    std::optional<Rect> bounds;        // frame (decorations included), window-server coordinates
    std::optional<int> onScreen;       // 1 when viewable on the current desktop
    std::optional<double> alpha;       // 1 opaque
    uint32_t pid = 0;
    friend bool operator==(const WindowInfo&, const WindowInfo&) = default;
};

// On-screen windows, front to back.
std::vector<WindowInfo> onScreenWindows();

// Layer numbers the list uses.
inline constexpr double kLayerNormal = 0, kLayerFloating = 3, kLayerDock = 20, kLayerDesktop = -2147483624.0;

}  // namespace kit
