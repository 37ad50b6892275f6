#include "capture/Capturer.h"

#include <chrono>
#include <cmath>
#include <sstream>

#include "capture/CaptureHost.h"
#include "capture/ImageOps.h"
#include "capture/ToolOutput.h"
#include "imaging/PixelSampling.h"
#include "kit/base/Files.h"
#include "kit/base/Json.h"
#include "kit/base/Process.h"
#include "kit/base/Timer.h"
#include "kit/desktop/Grab.h"
#include "kit/image/ImageIO.h"
#include "services/Str.h"

namespace capture {

namespace {

const char* const kInteractiveFn = "interactive(mode:windowOnly:repeatArea:dontRememberArea:asyncMode:)";

std::string base36(uint64_t v) {
    const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string out;
    do {
        out.insert(out.begin(), digits[v % 36]);
        v /= 36;
    } while (v);
    return out;
}

std::string textOr(const std::optional<std::string>& s) {
    return s.value_or("");
}

bool isLayerZero(const kit::WindowInfo& w) {
    return isWholeNumber(w.layer, 0);
}

// Truncates toward zero for the "-R" argument, as whole numbers in decimal.
std::string truncText(double v) {
    return std::to_string(static_cast<long long>(std::trunc(v)));
}

}  // namespace

CaptureContext& captureContext() {
    static CaptureContext ctx;
    return ctx;
}

bool isWholeNumber(const std::optional<double>& v, double want) {
    return v && std::isfinite(*v) && std::trunc(*v) == *v && *v == want;
}

std::string describeWindow(const kit::WindowInfo& w) {
    kit::Json j = kit::Json::object();
    j["number"] = w.number;
    if (w.title) j["title"] = *w.title;
    if (w.owner) j["owner"] = *w.owner;
    if (w.layer) j["layer"] = *w.layer;
    if (w.bounds)
        j["bounds"] = {{"X", w.bounds->x()},
                       {"Y", w.bounds->y()},
                       {"Width", w.bounds->width()},
                       {"Height", w.bounds->height()}};
    if (w.onScreen) j["onScreen"] = *w.onScreen;
    if (w.alpha) j["alpha"] = *w.alpha;
    return j.dump();
}

std::string Capturer::temporaryCapturePath() {
    std::string dir = kit::files::tempDir();
    if (dir.empty() || !kit::files::makeDirs(dir)) return {};
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::system_clock::now().time_since_epoch())
                  .count();
    uint64_t stamp = ms > 1576800000000LL ? uint64_t(ms - 1576800000000LL) : 0;
    // The random part keeps two captures in the same millisecond apart.
    return kit::files::uniqueTempPath("SCR-" + base36(stamp) + "-", ".png");
}

// ───────────────────────── interactive capture ─────────────────────────

kit::Image Capturer::interactive(WindowShadow mode, bool windowOnly, bool repeatArea, bool dontRememberArea,
                                 const AsyncMode& asyncMode) {
    CaptureHost& h = host();
    CaptureContext& ctx = captureContext();
    ctx.capturedAppName.clear();
    ctx.capturedWindowName.clear();

    std::string path = temporaryCapturePath();
    if (path.empty()) {
        h.oops(kInteractiveFn, "Can't create temp directory");
        h.notify("Area capture failed", "Failed to create temporary directory");
        return {};
    }

    std::vector<std::string> args{"-x", windowOnly ? "-w" : "-i", path};
    if (mode == WindowShadow::trimmed) args.push_back("-o");
    // With no area to repeat, the capture asks for one, and says why on the
    // selection screen: posted before the tool froze the screen, the notice
    // would be frozen into the picture (or taken off as a toast still
    // sliding in), so it waits for the tool's word that its screen shows.
    bool noticeDue = false, noticeShown = false;
    if (repeatArea) {
        if (!ctx.rememberedArea) {
            noticeDue = true;
        } else {
            kit::Rect a = *ctx.rememberedArea;
            args = {"-x",
                    "-R" + truncText(a.x()) + "," + truncText(a.y()) + "," + truncText(a.width()) + "," +
                        truncText(a.height()),
                    path};
            noteWindowUnder(a.midX(), a.midY());
        }
    }

    bool handled = false;
    auto onChunk = [&](std::string_view chunk) {
        std::string text(chunk);
        if (text.empty() || !services::Str::isValidUTF8(text)) return;
        if (noticeDue && toolSelectingIn(text)) {
            noticeDue = false;
            noticeShown = true;
            h.notify(
                "No area to repeat",
                "Repeat Area Capture takes a screenshot of the previously captured area. You need to perform "
                "the area capture first.");
        }
        ToolArea area = toolAreaIn(text);
        if (area.kind == ToolArea::Kind::noMatch) {
            if (!dontRememberArea) ctx.rememberedArea.reset();
        } else if (area.kind == ToolArea::Kind::area) {
            kit::Rect r = area.rect;
            if (!dontRememberArea) ctx.rememberedArea = r;
            noteWindowUnder(r.x() + r.width() / 2, r.y() + r.height() / 2);
            if (asyncMode) {
                kit::Image img = kit::grabArea(r);
                if (!img.isNull()) handled = asyncMode(img, r.x(), r.y(), r.width(), r.height());
            }
        }
        if (auto number = toolWindowIn(text)) noteWindow(*number);
    };

    // The tool freezes the screen as it is: a toast on its way in would stay
    // there half-way.
    if (h.takeOffSlidingToast) h.takeOffSlidingToast();
    kit::Process tool(h.toolPath(), args);
    kit::ProcessResult result = tool.runOnMain(onChunk);
    // Kadrix is ending: the tool and its selection are gone, and nothing is to be said or done.
    if (result.cancelled) return {};
    // The notice belongs to the selection screen: it goes with it.
    if (noticeShown && h.takeOffToast) h.takeOffToast();
    // The whole output has been read by now, so the end of output is handled
    // before the rectangle is read back from the file.
    if (!dontRememberArea) ctx.rememberedArea.reset();

    if (!result.launched || result.crashed || result.exitCode > 1) {
        // A tool that failed is not a cancelled selection: say so.
        std::string why = !result.launched
                              ? "can't start the screenshot tool: " + result.error
                              : "the screenshot tool failed (exit " + std::to_string(result.exitCode) +
                                    (result.error.empty() ? "" : ", " + result.error) + ")";
        h.oops(kInteractiveFn, why);
        h.notify("Area capture failed", "The screenshot tool did not work");
        if (kit::files::exists(path)) kit::files::remove(path);
        return {};
    }

    if (handled) {
        if (kit::files::exists(path) && !kit::files::remove(path))
            h.oops(kInteractiveFn, "Can't delete temp image file (1)");
        return {};
    }
    if (!kit::files::exists(path)) return {};
    if (!dontRememberArea && !ctx.rememberedArea) {
        if (auto r = getXattrRect(path)) {
            kit::Rect s = r->standardized();
            ctx.rememberedArea = s;
            noteWindowUnder(s.midX(), s.midY());
        }
    }
    double scale = ctx.captureScreen ? ctx.captureScreen->scale : 1.0;
    kit::Image img = imgNS2CG(kit::ImageIO::readOwn(path, scale));
    kit::dispatchMainAfter(1.0, [path] {
        if (kit::files::exists(path) && !kit::files::remove(path))
            host().oops(kInteractiveFn, "Can't delete temp image file (2)");
    });
    return applyWindowBackground(mode, std::move(img));
}

void Capturer::noteWindowUnder(double x, double y) {
    CaptureContext& ctx = captureContext();
    ctx.captureScreen = screenAt(x, y);
    for (const auto& w : kit::onScreenWindows()) {
        if (!isLayerZero(w) || !w.bounds) continue;
        if (w.bounds->contains({x, y})) {
            ctx.capturedAppName = textOr(w.owner);
            ctx.capturedWindowName = textOr(w.title);
            return;
        }
    }
}

void Capturer::noteWindow(uint32_t number) {
    CaptureContext& ctx = captureContext();
    for (const auto& w : kit::onScreenWindows()) {
        if (w.number != number) continue;
        ctx.capturedWindowName = textOr(w.title);
        ctx.capturedAppName = textOr(w.owner);
        if (w.bounds) ctx.captureScreen = screenAt(w.bounds->midX(), w.bounds->midY());
    }
}

// ───────────────────────── full screen and window ─────────────────────────

kit::Image Capturer::fullscreen() {
    if (host().takeOffSlidingToast) host().takeOffSlidingToast();
    std::string cursor = host().getString("captureCursor", "auto");
    if (cursor == "include") return fullscreen14(true);
    if (cursor == "exclude") return fullscreen14(false);
    auto screen = kit::mainScreen();
    noteFrontWindowOnMainScreen();
    if (!screen) return {};
    return kit::grabArea(screen->frame);
}

kit::Image Capturer::fullscreen14(bool cursor) {
    CaptureHost& h = host();
    const std::string name = "fullscreen14(cursor:)";
    h.timerStart(name);
    auto screen = kit::mainScreen();
    if (!screen) {
        h.timerLog(name);
        return {};
    }
    noteFrontWindowOnMainScreen();
    kit::Image img = kit::grabScreen(screen->frame, cursor);
    if (img.isNull()) h.oops("completion(_:)", "Capturing error: the screen could not be grabbed");
    h.timerLog(name);
    return img;
}

void Capturer::noteFrontWindowOnMainScreen() {
    CaptureContext& ctx = captureContext();
    auto screen = kit::mainScreen();
    ctx.captureScreen = screen;
    kit::Rect rect = screen ? screen->frame : kit::Rect();
    kit::Point screenCentre = rect.center();

    struct Pick {
        std::string title, owner;
        uint32_t number = 0;
        bool taken = false;
    } fallback, primary;
    for (const auto& w : kit::onScreenWindows()) {
        std::string title = textOr(w.title), owner = textOr(w.owner);
        if (!isLayerZero(w) || !w.bounds) continue;
        if (w.bounds->contains(screenCentre) && !(fallback.taken && !fallback.owner.empty()))
            fallback = {title, owner, w.number, true};
        if (rect.contains(w.bounds->center()) && !(primary.taken && primary.number != 0)) {
            int onScreen = w.onScreen.value_or(0);
            bool alphaOne = isWholeNumber(w.alpha, 1);
            if (onScreen == 1 && alphaOne && title != "StatusIndicator" && owner != "Window Server")
                primary = {title, owner, w.number, true};
        }
    }
    const Pick& chosen = primary.taken && primary.number != 0 ? primary : fallback;
    ctx.capturedAppName = chosen.owner;
    ctx.capturedWindowName = chosen.title;
}

kit::Image Capturer::window(WindowShadow mode) {
    CaptureHost& h = host();
    auto list = kit::onScreenWindows();
    auto noWindows = [&h] {
        h.notify("Can't take a screenshot",
                 "No windows are present, try taking a fullscreen screenshot instead");
    };
    if (list.empty()) {
        noWindows();
        return {};
    }
    const kit::WindowInfo* chosen = nullptr;
    bool opaque = false;
    for (const auto& w : list) {
        if (!isLayerZero(w)) continue;
        // A window without bounds cannot be the one we want; the others still can.
        if (!w.bounds) continue;
        bool largeEnough = std::trunc(w.bounds->width()) >= 71 && std::trunc(w.bounds->height()) >= 71;
        int onScreen = w.onScreen.value_or(0);
        if (onScreen == 1 && largeEnough && w.number != 0 && !chosen) {
            chosen = &w;
            opaque = isWholeNumber(w.alpha, 1);
        }
    }
    if (!chosen) {
        noWindows();
        return {};
    }
    kit::Image img = kit::grabWindow(chosen->number);
    if (!opaque) return fullscreen();
    if (img.isNull()) {
        h.oops("window(mode:)", "Window grab failed, frontmost window: " + describeWindow(*chosen));
        return interactive(mode, true, false, false);
    }
    if (img.height() < int(h.editorDpr() * 40.0)) return fullscreen();
    CaptureContext& ctx = captureContext();
    ctx.capturedAppName = textOr(chosen->owner);
    ctx.capturedWindowName = textOr(chosen->title);
    return applyWindowBackground(mode, std::move(img));
}

// ───────────────────────── window backgrounds ─────────────────────────

kit::Image Capturer::applyWindowBackground(WindowShadow mode, kit::Image img) {
    CaptureContext& ctx = captureContext();
    ctx.backdropApplied =
        (mode == WindowShadow::wallpaper || mode == WindowShadow::solid) ? isEdgeTransparent(img) : false;
    if (mode == WindowShadow::wallpaper) img = addWallpaper(img);
    if (mode == WindowShadow::solid) {
        img = addColor(img, imaging::cgColor(host().getString("windowSolidColor", "#404448"), 1.0));
    }
    if (mode == WindowShadow::trimmed && !img.isNull()) img = trimEdges(img);
    return img;
}

bool Capturer::isEdgeTransparent(const kit::Image& img) {
    if (img.isNull()) {
        host().oops("isEdgeTransparent(img:)", "Can't get pixelData");
        return false;
    }
    int mid = img.width() / 2;
    return img.pixel(mid, 0).a < 255 || img.pixel(mid, img.height() - 1).a < 255;
}

int Capturer::scanToOpaque(int x, int y, int dx, int dy, size_t bytesPerRow, size_t byteCount,
                           const uint8_t* pixels, int width) {
    auto alphaAt = [&](int px, int py) -> int {
        if (px < 0 || py < 0 || px >= width) return -1;
        size_t off = size_t(py) * bytesPerRow + size_t(px) * 4 + 3;
        if (off >= byteCount) return -1;
        return pixels[off];
    };
    int a0 = alphaAt(x, y);
    if (a0 < 0 || a0 >= 151) return 0;
    for (int k = 1; k <= 299; ++k) {
        int a = alphaAt(x + k * dx, y + k * dy);
        if (a < 0) return 0;
        if (a >= 151) return k;
    }
    return 0;
}

EdgePaddings Capturer::shadowPaddings(const kit::Image& img) {
    if (img.isNull()) {
        host().oops("shadowPaddings(img:)", "Can't get pixelData");
        return {};
    }
    int w = img.width(), hgt = img.height();
    size_t bpr = img.bytesPerRow(), count = bpr * size_t(hgt);
    const uint8_t* px = img.bits();
    auto scan = [&](int x, int y, int dx, int dy) {
        return std::max(0, scanToOpaque(x, y, dx, dy, bpr, count, px, w) - 1);
    };
    EdgePaddings p;
    p.left = scan(0, hgt / 2, 1, 0);
    p.right = scan(w - 1, hgt / 2, -1, 0);
    int middle = (w - p.left - p.right) / 2 + p.left;
    p.top = scan(middle, 0, 0, 1);
    p.bottom = scan(middle, hgt - 1, 0, -1);
    return p;
}

kit::Image Capturer::trimEdges(const kit::Image& img) {
    EdgePaddings p = shadowPaddings(img);
    int w = img.width(), hgt = img.height();
    if (p.left + p.right >= w || p.top + p.bottom >= hgt) return img;
    kit::Image part = img.cropped(p.left, p.top, w - p.left - p.right, hgt - p.top - p.bottom);
    return part.isNull() ? img : part;
}

namespace {

// The image over a background of its own size, moved down by half the
// difference of its bottom and top margins so the window sits centred.
kit::Image composeOver(kit::Image background, const kit::Image& img) {
    EdgePaddings p = Capturer::shadowPaddings(img);
    int down = int(std::trunc((p.bottom - p.top) * 0.5));
    drawOver(background, img, 0, down);
    return background;
}

int screenIndexOfCapture() {
    auto& ctx = captureContext();
    if (!ctx.captureScreen) return 0;
    auto list = kit::screens();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].number == ctx.captureScreen->number) return int(i);
    return 0;
}

}  // namespace

kit::Image Capturer::addWallpaper(const kit::Image& img) {
    CaptureHost& h = host();
    const char* fn = "addWallpaper(img:)";
    if (img.isNull()) {
        h.oops(fn, "Can't get pixelData");
        return img;
    }
    int mid = img.width() / 2;
    if (img.pixel(mid, 0).a == 255 && img.pixel(mid, img.height() - 1).a == 255) return img;
    kit::Image desktop = kit::grabWallpaper(screenIndexOfCapture());
    if (desktop.isNull()) {
        h.oops(fn, "Can't identify desktop");
        return img;
    }
    int x = int(std::round((desktop.width() - img.width()) * 0.5));
    int y = int(std::round((desktop.height() - img.height()) * 0.5));
    kit::Image piece = desktop.cropped(x, y, img.width(), img.height());
    if (piece.isNull()) {
        h.oops(fn, "Wallpaper cropping failed");
        return img;
    }
    // A desktop picture smaller than the window is stretched over it.
    if (piece.width() != img.width() || piece.height() != img.height())
        piece = piece.scaled(img.width(), img.height());
    kit::Image background(img.width(), img.height(), img.scale());
    if (background.isNull() || piece.isNull()) {
        h.oops(fn, "Can't create context");
        return img;
    }
    copyInto(background, piece, 0, 0);
    return composeOver(std::move(background), img);
}

kit::Image Capturer::addColor(const kit::Image& img, kit::Color clr) {
    CaptureHost& h = host();
    if (img.isNull()) {
        h.oops("addColor(img:clr:)", "No image to add color to");
        return {};
    }
    kit::Image background = solidImage(img.width(), img.height(), clr, img.scale());
    if (background.isNull()) {
        h.oops("addColor(img:clr:)", "Can't create context");
        return img;
    }
    return composeOver(std::move(background), img);
}

kit::Image Capturer::getWallpaper(int screen) {
    kit::Image img = kit::grabWallpaper(std::max(0, screen));
    if (img.isNull()) host().oops("getWallpaper(screen:)", "Can't identify desktop");
    return img;
}

// ───────────────────────── support ─────────────────────────

bool Capturer::hasScreenRecordingPermission() {
    // X11 has no capture permission: any client of the display may read it.
    return !kit::screens().empty();
}

std::optional<kit::Rect> Capturer::getXattrRect(const std::string& path) {
    CaptureHost& h = host();
    const char* fn = "getXattrRect(url:)";
    if (!kit::files::exists(path)) return std::nullopt;
    std::optional<std::string> value = kit::files::getXattr(path, kCaptureRectAttribute);
    if (!value) {
        // File systems without user attributes: the tool wrote a PNG text chunk too.
        auto chunks = kit::ImageIO::readPNGText(path);
        auto it = chunks.find(kCaptureRectAttribute);
        if (it != chunks.end()) value = it->second;
    }
    if (!value) {
        h.oops(fn, "getXattrRect() failed (1)");
        return std::nullopt;
    }
    kit::Json j = kit::Json::parse(*value, nullptr, false);
    if (j.is_discarded()) {
        h.oops(fn, "getXattrRect() failed (2)");
        return std::nullopt;
    }
    if (!j.is_array() || j.size() < 4) {
        h.oops(fn, "getXattrRect() failed (3)");
        return std::nullopt;
    }
    double v[4];
    for (size_t i = 0; i < 4; ++i) {
        if (!j[i].is_number() || !std::isfinite(j[i].get<double>())) {
            h.oops(fn, "getXattrRect() failed (3)");
            return std::nullopt;
        }
        v[i] = j[i].get<double>();
    }
    return kit::Rect(v[0], v[1], v[2], v[3]);
}

std::optional<kit::ScreenInfo> Capturer::screenAt(double x, double y) {
    for (const auto& s : kit::screens()) {
        if (s.number == 0) continue;
        if (s.frame.contains({x, y})) return s;
    }
    return std::nullopt;
}

kit::Image Capturer::imgNS2CG(const kit::Image& nsi) {
    if (nsi.isNull()) return {};
    // Always the capture layout, whatever the current screenshot uses: readers
    // on other threads must never see a layout that changes under them.
    kit::Image out = nsi.copy();
    return out;
}

}  // namespace capture
