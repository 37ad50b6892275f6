#include "shortcuts/Names.h"

namespace shortcuts::names {

namespace {

using kit::ModifierFlag::Command;
using kit::ModifierFlag::Control;
using kit::ModifierFlag::Option;
using kit::ModifierFlag::Shift;

}  // namespace

#define KADRIX_SHORTCUT_NAME(fn, raw, def) \
    const Name& fn() {                     \
        static const Name name(raw, def);  \
        return name;                       \
    }

KADRIX_SHORTCUT_NAME(fullscreen, "fullscreen", Shortcut(Key{Key::one}, Command | Shift))
KADRIX_SHORTCUT_NAME(area, "area", Shortcut(Key{Key::two}, Command | Shift))
KADRIX_SHORTCUT_NAME(repeatArea, "repeatArea", std::nullopt)
KADRIX_SHORTCUT_NAME(window, "window", std::nullopt)
KADRIX_SHORTCUT_NAME(anyWindow, "anyWindow", std::nullopt)
KADRIX_SHORTCUT_NAME(scrolling, "scrolling", std::nullopt)
KADRIX_SHORTCUT_NAME(reopen, "reopen", std::nullopt)
KADRIX_SHORTCUT_NAME(ocr, "ocr", Shortcut(Key{Key::o}, Control | Option | Command))
KADRIX_SHORTCUT_NAME(loadClipboard, "loadClipboard", std::nullopt)
KADRIX_SHORTCUT_NAME(library, "library", std::nullopt)

#undef KADRIX_SHORTCUT_NAME

std::vector<Name> all() {
    return {fullscreen(), window(), anyWindow(), area(),          repeatArea(),
            scrolling(),  reopen(), ocr(),       loadClipboard(), library()};
}

}  // namespace shortcuts::names
