#pragma once
// What becomes of a captured window's transparent shadow margin.
#include <optional>
#include <string>
#include <string_view>

namespace capture {

enum class WindowShadow { transparent, trimmed, wallpaper, solid };

inline std::optional<WindowShadow> windowShadowFromRaw(std::string_view raw) {
    if (raw == "transparent") return WindowShadow::transparent;
    if (raw == "trimmed") return WindowShadow::trimmed;
    if (raw == "wallpaper") return WindowShadow::wallpaper;
    if (raw == "solid") return WindowShadow::solid;
    return std::nullopt;
}

inline std::string rawValue(WindowShadow m) {
    switch (m) {
        case WindowShadow::transparent:
            return "transparent";
        case WindowShadow::trimmed:
            return "trimmed";
        case WindowShadow::wallpaper:
            return "wallpaper";
        case WindowShadow::solid:
            return "solid";
    }
    return "transparent";
}

}  // namespace capture
