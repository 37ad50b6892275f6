#pragma once
// The program's pictures by name: tool icons and their "-hl" (highlighted)
// forms, the More glyphs, the tray glyph "kadrix-22" and "kadrix-22-ok", menu
// icons "16-menu-…", the editor's compact selection buttons "16-sel-…",
// notification and helper pictures, pointer cursors
// "cursor-…", the drag picture "44-ico-draggable-file", the confetti dot
// "6-circle", the library's "lib-148-…" and "lib-tool-28-…", the welcome
// pictures. They are drawn as SVG in src/controls/icons, compiled in, and
// rendered on demand at the scale asked for, for a light or a dark
// background; a rendered picture is kept for the next call.
//
// Any thread; rendering itself needs the platform application to exist.
#include <string>
#include <vector>

#include "kit/base/Image.h"

namespace controls::ImageAssets {

struct Look {
    bool dark = false;   // drawn to sit on a dark background (light ink)
    double scale = 1.0;  // pixels per point
};

// The look of the running application: its palette's darkness and the
// largest device-pixel ratio among the displays.
Look currentLook();

// A picture registered with set() wins; else the drawing of that name in the
// current look; else a null image.
kit::Image named(const std::string& name);
kit::Image named(const std::string& name, Look look);
// A null image takes the registration back.
void set(const std::string& name, const kit::Image& image);

// Every name the set can draw, sorted.
std::vector<std::string> names();

}  // namespace controls::ImageAssets
