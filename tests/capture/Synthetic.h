#pragma once
// Synthetic pages and frames for the capture tests: content that never
// repeats, and text lines that look alike, so every row of a stitched image
// can be checked against its page.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/CaptureHost.h"
#include "capture/ImageOps.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"
#include "kit/desktop/ScreenSource.h"

namespace testing_capture {

// Blocks of 4×3 pixels of pseudo-random colour: distinct on every row band.
inline kit::Image makePage(int w, int h, uint32_t seed = 1) {
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t v = uint32_t(x / 4) * 2654435761u ^ uint32_t(y / 3) * 40503u ^ seed * 97u;
            v ^= v >> 13;
            v *= 0x5bd1e995u;
            v ^= v >> 15;
            img.setPixel(x, y, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 255});
        }
    return img;
}

// Pages of monospaced text lines, as terminals, logs and tables show them:
// the middle columns read the same on every line, only a number or a time
// tells the lines apart. Lines are `kLinePitch` pixels apart, glyph cells
// 6 × 13; each character has a fixed 5 × 7 pattern of its own (not a real
// font: the tests need lines that look alike, not lines that read).
enum class LinesKind { numbered, bareNumbers, log, table };
constexpr int kLinePitch = 13;

inline std::string lineText(LinesKind kind, int i) {
    char buf[96];
    switch (kind) {
        case LinesKind::numbered:
            std::snprintf(buf, sizeof buf, "line %04d of the test file", i + 1);
            break;
        case LinesKind::bareNumbers:
            std::snprintf(buf, sizeof buf, "%d", i + 1);
            break;
        case LinesKind::log:
            std::snprintf(buf, sizeof buf, "2024-05-17 10:%02d:%02d INFO worker ready, queue empty",
                          i / 60 % 60, i % 60);
            break;
        case LinesKind::table:
            std::snprintf(buf, sizeof buf, "|%5d | 12.50 | 12.50 | 12.50 | 12.50 | 12.50 |", i + 1);
            break;
    }
    return buf;
}

// A page `lines` lines tall; the table's rows are striped, every other one shaded.
inline kit::Image makeLinesPage(LinesKind kind, int w, int lines) {
    kit::Image img(w, lines * kLinePitch);
    const kit::PixelBGRA ink{30, 30, 30, 255};
    for (int i = 0; i < lines; ++i) {
        uint8_t bg = kind == LinesKind::table && i % 2 ? 225 : 250;
        for (int y = i * kLinePitch; y < (i + 1) * kLinePitch; ++y)
            for (int x = 0; x < w; ++x) img.setPixel(x, y, {bg, bg, bg, 255});
        std::string text = lineText(kind, i);
        for (size_t k = 0; k < text.size() && int(k + 1) * 6 + 2 <= w; ++k) {
            if (text[k] == ' ') continue;
            uint32_t bits = uint32_t(uint8_t(text[k])) * 2654435761u;
            bits ^= bits >> 15;
            bits *= 0x2c1b3c6du;
            for (int gy = 0; gy < 7; ++gy)
                for (int gx = 0; gx < 5; ++gx)
                    if (bits >> ((gy * 5 + gx) % 32) & 1u)
                        img.setPixel(2 + int(k) * 6 + gx, i * kLinePitch + 3 + gy, ink);
        }
    }
    return img;
}

// Each pixel as four, as a screen at scale 2 shows a page drawn for scale 1.
inline kit::Image doubled(const kit::Image& img) {
    kit::Image out(img.width() * 2, img.height() * 2);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) out.setPixel(x, y, img.pixel(x / 2, y / 2));
    return out;
}

inline kit::Image rows(const kit::Image& page, int top, int h) {
    return page.cropped(0, top, page.width(), h);
}

// Numbered lines with a run of `run` lines from line `from` on that are all
// one line, or empty.
inline kit::Image pageWithRun(int lines, int from, int run, bool empty) {
    kit::Image page = makeLinesPage(LinesKind::numbered, 480, lines);
    kit::Image line = rows(page, from * kLinePitch, kLinePitch),
               blank = rows(page, 0, 1);  // above the glyphs
    for (int y = from * kLinePitch; y < (from + run) * kLinePitch; ++y)
        capture::copyInto(page, empty ? blank : rows(line, y % kLinePitch, 1), 0, y);
    return page;
}

// Records what capture code tells the user and the telemetry.
struct HostSpy {
    std::vector<std::string> oopses, notices, warnings, alerts, presets, events, repeatables;
    // What the post-capture windows asked of the core.
    std::vector<int64_t> removedPins;
    std::vector<std::string> editorCalls;
    bool loadSucceeds = true;
    int copies = 0;
    kit::Json metadata = kit::Json::object();
    kit::Json lastEvent, lastRepeatable;
    std::vector<std::pair<std::string, std::string>> notifyPairs;
    kit::Json lastPreset;
    std::string toolPath;
    std::map<std::string, int64_t> ints;
    std::map<std::string, std::string> strings;
    std::map<std::string, bool> bools;

    void install() {
        capture::CaptureHost h;
        h.oops = [this](const std::string& f, const std::string& m) { oopses.push_back(f + ": " + m); };
        h.notify = [this](const std::string& t, const std::string& m) {
            notices.push_back(t);
            notifyPairs.emplace_back(t, m);
        };
        h.notifyWithPicture = h.notify;
        h.warning = [this](const std::string& t, const std::string&) { warnings.push_back(t); };
        h.alertOnMain = [this](const std::string& t, const std::string&) { alerts.push_back(t); };
        h.preset = [this](const std::string& n, const kit::Json& d) {
            presets.push_back(n);
            lastPreset = d;
        };
        h.event = [this](const std::string& n, const kit::Json& d) {
            events.push_back(n);
            lastEvent = d;
        };
        h.repeatableEvent = [this](const std::string& n, const kit::Json& d) {
            repeatables.push_back(n);
            lastRepeatable = d;
        };
        h.removePin = [this](int64_t id) { removedPins.push_back(id); };
        h.loadImage = [this](const kit::Image&) {
            editorCalls.push_back("loadImage");
            return loadSucceeds;
        };
        h.copyImage = [this](const kit::Image&) { ++copies; };
        h.setMetadata = [this](const std::string& k, const kit::Json& v) { metadata[k] = v; };
        h.fileName = [] { return std::string("SCR-test"); };
        h.getInt = [this](const std::string& k, int64_t d) { return ints.count(k) ? ints[k] : d; };
        h.getString = [this](const std::string& k, const std::string& d) {
            return strings.count(k) ? strings[k] : d;
        };
        h.getBool = [this](const std::string& k, bool d) { return bools.count(k) ? bools[k] : d; };
        h.timerStart = [](const std::string&) {};
        h.timerLog = [](const std::string&) {};
        h.timerElapsed = [](const std::string&) { return 1.0; };
        h.editorDpr = [] { return 1.0; };
        h.bringUpEditor = [this] { editorCalls.push_back("bringUpEditor"); };
        h.openURL = [](const std::string&) { return false; };
        h.toolPath = [this] { return toolPath; };
        capture::setHost(std::move(h));
    }
    bool oopsed(const std::string& part) const {
        for (auto& o : oopses)
            if (o.find(part) != std::string::npos) return true;
        return false;
    }
};

// A screen showing a tall page that scrolls by whole wheel clicks.
class FakeDesktop : public kit::ScreenSource {
public:
    kit::Image page;
    int screenW = 0, screenH = 0;
    int scrollY = 0;          // page pixels
    int pixelsPerClick = 37;  // page pixels
    double scale = 1.0;       // page pixels per point  // what the target application makes of one click
    bool trusted = true;
    std::vector<kit::WindowInfo> windowList;
    kit::Image wallpaperImage;
    std::optional<kit::Point> pointerAt = kit::Point{500, 400};
    bool cursorHidden = false;
    int scrollCalls = 0;
    // The scroll of this call is drawn late: the next grab still shows the page unmoved.
    int lateScroll = -1;
    int pendingScroll = 0;
    // A program under load: each scroll shows this many seconds after its
    // clicks, or as `drawDelays` says for the scroll of that call.
    double drawDelay = 0;
    std::map<int, double> drawDelays;
    double clickSpacing = 0;                      // each further click of a scroll shows this much later
    std::vector<std::pair<double, int>> drawing;  // (when it shows, clicks)
    bool caretBlinks = false;
    int grabs = 0;
    // Drawn over the screen from pixel row `headerAt` on, where it stays as
    // the page scrolls (a window's title, a status line).
    kit::Image header;
    int headerAt = 0;
    // A second such band (a status line under the page).
    kit::Image footer;
    int footerAt = 0;

    std::vector<kit::ScreenInfo> screens() override {
        return {{1, kit::Rect(0, 0, screenW, screenH), scale, true}};
    }
    std::vector<kit::WindowInfo> windows() override { return windowList; }
    // Runs before each grab with its number (from 1): the page can change by itself.
    std::function<void(int grab)> onGrab;
    // Runs once the grab's picture is taken, before it comes back: a busy
    // server can hand it over seconds later.
    std::function<void(int grab)> afterGrab;
    int grabCalls = 0;

    kit::Image grabArea(const kit::Rect& r) override {
        if (onGrab) onGrab(++grabCalls);
        double now = kit::monotonicNow();
        for (auto it = drawing.begin(); it != drawing.end();)
            if (it->first <= now) {
                scrollBy(it->second);
                it = drawing.erase(it);
            } else {
                ++it;
            }
        kit::Image out = grabNow(r);
        if (pendingScroll) scrollBy(std::exchange(pendingScroll, 0));
        if (afterGrab) afterGrab(grabCalls);
        return out;
    }
    kit::Image grabNow(const kit::Rect& r) {
        kit::Image out(int(std::lround(r.width() * scale)), int(std::lround(r.height() * scale)), scale);
        int x0 = int(std::lround(r.x() * scale)), y0 = int(std::lround(r.y() * scale));
        // Row by row, what lies outside the page left transparent: a tall
        // capture grabs millions of pixels.
        uint8_t* bits = out.mutableBits();
        for (int y = 0; y < out.height(); ++y) {
            int hy = y0 + y - headerAt, fy = y0 + y - footerAt;
            bool inHeader = hy >= 0 && hy < header.height(), inFooter = fy >= 0 && fy < footer.height();
            const kit::Image& src = inHeader ? header : inFooter ? footer : page;
            int sy = inHeader ? hy : inFooter ? fy : y0 + y + scrollY;
            int from = std::max(0, x0), to = std::min(src.width(), x0 + out.width());
            if (sy < 0 || sy >= src.height() || to <= from) continue;
            std::memcpy(bits + size_t(y) * out.bytesPerRow() + size_t(from - x0) * 4,
                        src.row(sy) + size_t(from) * 4, size_t(to - from) * 4);
        }
        // A caret at screen pixel (200, 250) that blinks: on at every other grab.
        if (caretBlinks && ++grabs % 2)
            for (int y = 250 - y0; y < 265 - y0; ++y)
                for (int x = 200 - x0; x < 202 - x0; ++x) out.setPixel(x, y, {0, 0, 0, 255});
        return out;
    }
    kit::Image wallpaper(int) override { return wallpaperImage; }
    std::optional<kit::Point> pointer() override { return pointerAt; }
    void warp(kit::Point p) override { pointerAt = p; }
    bool scrollClicks(int vertical, int) override {
        double delay = drawDelays.count(++scrollCalls) ? drawDelays[scrollCalls] : drawDelay;
        if (delay > 0 && clickSpacing > 0)
            for (int k = 0; k < std::abs(vertical); ++k)
                drawing.emplace_back(kit::monotonicNow() + delay + k * clickSpacing, vertical > 0 ? 1 : -1);
        else if (delay > 0)
            drawing.emplace_back(kit::monotonicNow() + delay, vertical);
        else if (scrollCalls == lateScroll)
            pendingScroll = vertical;
        else
            scrollBy(vertical);
        return true;
    }
    void scrollBy(int vertical) {
        int screenPx = int(std::lround(screenH * scale));
        scrollY = std::clamp(scrollY - vertical * pixelsPerClick, 0, std::max(0, page.height() - screenPx));
    }
    void setCursorHidden(bool h) override { cursorHidden = h; }
    bool inputTrusted() override { return trusted; }
};

// Installs a fake desktop of w × h showing a page `pageH` rows tall.
inline std::shared_ptr<FakeDesktop> installDesktop(int w, int h, int pageH, uint32_t seed = 1) {
    auto d = std::make_shared<FakeDesktop>();
    d->page = makePage(w, pageH, seed);
    d->screenW = w;
    d->screenH = h;
    kit::setScreenSource(d);
    return d;
}

// The screens of a desktop whose pictures cannot be had: every grab fails.
class UnreadableScreen : public kit::ScreenSource {
public:
    explicit UnreadableScreen(std::vector<kit::ScreenInfo> screens) : screens_(std::move(screens)) {}
    std::vector<kit::ScreenInfo> screens() override { return screens_; }

private:
    std::vector<kit::ScreenInfo> screens_;
};

}  // namespace testing_capture
