#pragma once
// The screenshot tool's options and its log lines.
//   kadrix-screencapture [-x] [-i|-w|-s] [-o] [-R<x,y,w,h>] file.png [options]
// -i interactive area selection (Space switches to window selection), -w
// window selection only, -s area selection only, -R capture a rectangle
// without asking, -x and -o are accepted (no sound is ever played; window
// images carry no shadow). Options may follow the file path.
// Once the selection screen shows, over the screen frozen as it was, the
// tool says so with the line "kadrix-screencapture: waiting for a selection".
// Exit status: 0 image written, 1 selection cancelled (nothing written),
// 2 bad options, 3 the screen could not be grabbed or the file written.
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Geometry.h"

namespace tool {

struct Options {
    enum class Mode { area, window, selection, rect };
    Mode mode = Mode::area;
    std::optional<kit::Rect> rect;
    std::string path;
    std::string error;  // non-empty when the options are bad
};

inline constexpr const char* kSelecting = "waiting for a selection";

Options parseOptions(const std::vector<std::string>& args);
// "(x, y, w, h)" with whole numbers written without a fraction.
std::string rectText(const kit::Rect& r);

}  // namespace tool
