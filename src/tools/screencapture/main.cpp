// kadrix-screencapture: picks an area or a window of the screen (or takes a
// given rectangle) and writes it as a PNG that records the captured
// rectangle, telling the caller on its error output what was selected.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "kit/base/Descriptor.h"
#include "kit/base/Files.h"
#include "kit/base/Session.h"
#include "kit/desktop/AreaPicker.h"
#include "kit/desktop/Grab.h"
#include "kit/desktop/Screen.h"
#include "kit/image/CapturePNG.h"
#include "kit/ui/Application.h"
#include "tools/screencapture/ScreenCaptureTool.h"

namespace {

// One write a line: the caller reads as we go, and a line in pieces would
// reach it in pieces.
void log(const std::string& line) {
    std::cerr << "kadrix-screencapture: " + line + "\n" << std::flush;
}

std::string rectJson(const kit::Rect& r) {
    std::string t = tool::rectText(r);
    return "[" + t.substr(1, t.size() - 2) + "]";
}

// The part of the frozen screen image under a rectangle (window-server coordinates).
kit::Image cut(const kit::Image& frozen, const kit::Rect& screen, const kit::Rect& r) {
    double k = frozen.scale();
    int x = int(std::lround((r.x() - screen.x()) * k)), y = int(std::lround((r.y() - screen.y()) * k));
    int w = int(std::lround(r.width() * k)), h = int(std::lround(r.height() * k));
    kit::Image img = frozen.cropped(x, y, w, h);
    img.setScale(k);
    return img;
}

// The caller reads the file only after we exit, so a plain write will do: no
// temporary copy and no sync to wait for. Private to the user, like the folder.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = kit::writeAll(fd, bytes.data(), bytes.size());
    if (::close(fd) != 0) ok = false;
    if (!ok) ::unlink(path.c_str());
    return ok;
}

int write(const kit::Image& img, const kit::Rect& rect, const std::string& path) {
    if (img.isNull()) {
        log("error: the screen could not be grabbed");
        return 3;
    }
    std::string value = rectJson(rect);
    auto bytes = kit::encodeCapturePNG(img, {{"kadrix.capture-rect", value}});
    if (bytes.empty() || !writeFile(path, bytes)) {
        log("error: can't write " + path);
        return 3;
    }
    kit::files::setXattr(path, "kadrix.capture-rect", value);  // the text chunk stands in where this fails
    return 0;
}

kit::Rect desktopRect() {
    kit::Rect all;
    for (const auto& s : kit::screens()) all = all.united(s.frame);
    return all;
}

// The part of a rectangle on the screens: the bounding box of its parts on
// each screen (empty when it touches none).
kit::Rect onScreens(const kit::Rect& r) {
    kit::Rect out;
    for (const auto& s : kit::screens()) {
        kit::Rect part = r.standardized().intersection(s.frame);
        if (!part.isEmpty()) out = out.united(part);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tool::Options opt = tool::parseOptions(args);
    if (!opt.error.empty()) {
        log("error: " + opt.error);
        std::cerr << "usage: kadrix-screencapture [-x] [-i|-w|-s] [-o] [-R<x,y,w,h>] file.png" << std::endl;
        return 2;
    }
    kit::exitUnlessSessionUsable("kadrix-screencapture");
    kit::Application app(argc, argv);

    if (opt.mode == tool::Options::Mode::rect) {
        // Only what lies on a screen is captured: the rest has no pixels to
        // give, and a rectangle with nothing on screen gives no file at all.
        const kit::Rect r = onScreens(*opt.rect);
        if (r.isEmpty()) {
            log("error: the rectangle " + tool::rectText(*opt.rect) + " lies outside every screen");
            return 3;
        }
        log("capturing area " + tool::rectText(r));
        return write(kit::grabArea(r), r, opt.path);
    }

    kit::Rect screen = desktopRect();
    auto mode = opt.mode == tool::Options::Mode::window      ? kit::AreaPicker::Mode::windowOnly
                : opt.mode == tool::Options::Mode::selection ? kit::AreaPicker::Mode::selectionOnly
                                                             : kit::AreaPicker::Mode::area;
    kit::Image frozen;
    kit::AreaPick pick = kit::AreaPicker::run(screen, mode, frozen, [] { log(tool::kSelecting); });
    if (frozen.isNull()) {
        log("error: the screen could not be grabbed");
        return 3;
    }
    if (pick.kind == kit::AreaPick::Kind::cancelled) {
        log("selection cancelled");
        return 1;
    }
    if (pick.kind == kit::AreaPick::Kind::window) {
        std::ostringstream hex;
        hex << std::hex << pick.window;
        log("capture window '" + pick.windowTitle + "' 0x" + hex.str());
    }
    log("selected area " + tool::rectText(pick.rect));
    if (pick.kind == kit::AreaPick::Kind::window) {
        // The window's own pixels, also where another window covers it; the
        // frozen screen only when the window reaches past the screens.
        kit::Image own = kit::grabWindow(pick.window);
        const double k = frozen.scale();
        if (own.width() == int(std::lround(pick.rect.width() * k)) &&
            own.height() == int(std::lround(pick.rect.height() * k)))
            return write(own, pick.rect, opt.path);
    }
    return write(cut(frozen, screen, pick.rect), pick.rect, opt.path);
}
