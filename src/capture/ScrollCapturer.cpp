#include "capture/ScrollCapturer.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>

#include "capture/CaptureHost.h"
#include "capture/Capturer.h"
#include "capture/Registration.h"
#include "capture/ToolOutput.h"
#include "kit/EventMonitor.h"
#include "kit/Files.h"
#include "kit/Grab.h"
#include "kit/Process.h"
#include "kit/Screen.h"
#include "kit/SyntheticInput.h"
#include "kit/Timer.h"

namespace capture {

struct ScrollCapturer::Capture {
    kit::Rect region;
    int direction = -1;
    int step = 0, margin = 0;
    double scale = 1, interval = 0.12;
    kit::Point centre;
    int64_t scrollingMax = 20000;
    std::vector<kit::Image> shots;
    std::vector<int> advances;  // measured movement (pixels) of each strip
    kit::Image lastCapture;
    kit::Image previousFrame;  // the whole region one cycle earlier
    int segments = 0;
    bool cancelPlease = false;
    uint32_t currentHash = 0, previousHash = 0;
    std::vector<kit::EventMonitor::Token> monitors;
    Completion callback;
    bool ended = false;
    // How far one wheel click moves this page (measured; 0 until known) and
    // how many clicks the latest scroll sent.
    double pixelsPerClick = 0;
    int lastClicks = 0;
};

namespace {

const SpeedRow kSpeeds[4] = {{0.8, 100}, {0.2, 100}, {0.12, 100}, {0.1, 300}};

std::shared_ptr<ScrollCapturer::Capture>& slot() {
    static std::shared_ptr<ScrollCapturer::Capture> c;
    return c;
}

void parkPointer() {
    kit::SyntheticInput::warp({kit::mainDisplayWidth() - 2, 100});
}

kit::Rect stripRect(const ScrollCapturer::Capture& c) {
    const kit::Rect& r = c.region;
    double hs = c.step + c.margin;
    return c.direction > 0 ? kit::Rect(r.x(), r.y(), r.width(), hs)
                           : kit::Rect(r.x(), r.y() + r.height() - hs, r.width(), hs);
}

void removeMonitors(ScrollCapturer::Capture& c) {
    for (auto t : c.monitors) kit::EventMonitor::remove(t);
    c.monitors.clear();
}

void scheduleCycle(const std::shared_ptr<ScrollCapturer::Capture>& c) {
    std::weak_ptr<ScrollCapturer::Capture> weak = c;
    kit::dispatchMainAfter(c->interval * 0.25, [weak] {
        if (auto cap = weak.lock(); cap && !cap->ended)
            ScrollCapturer::scroll(cap->centre, cap->direction * cap->step);
    });
    kit::dispatchMainAfter(c->interval, [weak] {
        if (auto cap = weak.lock(); cap && !cap->ended && cap == slot()) ScrollCapturer::captureCycle();
    });
}

// How far the content moved since the previous cycle, in pixels along the
// capture's direction; 0 when it stood still or moved the wrong way.
int measuredAdvance(ScrollCapturer::Capture& c, bool pageMoved) {
    if (!pageMoved) return 0;
    int nominal = int(std::lround(c.step * c.scale));
    auto shift = registerFrames(c.previousFrame, c.lastCapture);
    if (!shift) return nominal;
    int adv = std::max(0, c.direction > 0 ? -shift->dy : shift->dy);
    if (adv > 0 && c.lastClicks > 0) c.pixelsPerClick = double(adv) / c.lastClicks;
    return adv;
}

}  // namespace

std::shared_ptr<ScrollCapturer::Capture> ScrollCapturer::current() {
    return slot();
}

bool ScrollCapturer::isCapturing() {
    return slot() && !slot()->ended;
}

SpeedRow ScrollCapturer::speedRow(int64_t scrollingSpeed) {
    return kSpeeds[std::clamp<int64_t>(scrollingSpeed, 0, 3)];
}

namespace {
// A region height as a whole number of points that fits the arithmetic
// below: nothing for a height that is not a number or negative, and no
// more than any screen could show.
int64_t wholeHeight(double h) {
    if (!(h > 0)) return 0;
    return int64_t(std::floor(std::min(h, 1e7)));
}
}  // namespace

int ScrollCapturer::stepFor(double regionHeight, int largestStep) {
    return int(std::min<int64_t>(largestStep, wholeHeight(regionHeight) / 3));
}

int ScrollCapturer::marginFor(double regionHeight, int step) {
    return int(std::clamp<int64_t>((wholeHeight(regionHeight) - int64_t(step)) / 2, INT_MIN, INT_MAX));
}

bool ScrollCapturer::permissionsGranted() {
    // Scrolling other programs' windows takes the X server's XTEST extension;
    // there is no permission to grant, only a server started without it.
    if (kit::SyntheticInput::trusted()) return true;
    CaptureHost& h = host();
    ++permissionAttempts;
    if (permissionAttempts < 2) {
        kit::SyntheticInput::scroll(1);
        h.warning("Scrolling Not Available", "Scrolling Capture needs the XTEST extension of the X server");
        return false;
    }
    h.oops("permissionsGranted()", "The X server has no XTEST extension to scroll with, attempt #" +
                                       std::to_string(permissionAttempts));
    h.bringUpEditor();
    h.alertOnMain(
        "Scrolling Not Available",
        "Scrolling Capture needs the XTEST extension of the X server to scroll other windows. Start "
        "the X server with XTEST enabled (it is on by default) and try again.");
    return false;
}

std::optional<kit::Rect> ScrollCapturer::captureRect() {
    RegionPick pick = pickRegion();
    if (pick.kind != RegionPick::Kind::picked) return std::nullopt;
    return pick.rect;
}

RegionPick ScrollCapturer::pickRegion() {
    CaptureHost& h = host();
    const char* fn = "captureRect()";
    std::string path = Capturer::temporaryCapturePath();
    if (path.empty()) {
        // The tool still prints the region it shows; only its file is lost.
        h.oops(fn, "OOPS: Can't create temp folder");
        path = kit::files::tempDir() + "/SCR-region.png";
    }
    std::string output;
    kit::Process tool(h.toolPath(), {"-i", "-s", "-x", path});
    // The output is read while the tool runs, so a long log cannot fill the pipe and stall it.
    kit::ProcessResult result = tool.runOnMain([&](std::string_view chunk) { output.append(chunk); });
    const bool toolFailed = !result.launched || result.crashed || result.exitCode > 1;
    if (toolFailed)
        h.oops(fn, "the screenshot tool failed: " +
                       (result.error.empty() ? "exit " + std::to_string(result.exitCode) : result.error));
    std::optional<kit::Rect> fallback = Capturer::getXattrRect(path);
    if (kit::files::exists(path) && !kit::files::remove(path))
        h.oops(fn, "OOPS: Can't delete temp image file");
    std::optional<kit::Rect> rect = fallback;
    ToolArea area = toolAreaIn(output);
    if (area.kind == ToolArea::Kind::wrongCount) h.oops(fn, "screencapture returned weird data: " + output);
    if (area.kind == ToolArea::Kind::area) rect = area.rect;
    if (rect) return {RegionPick::Kind::picked, *rect};
    // The tool ends with status 1 when the user cancels: that is no error.
    if (!toolFailed && result.exitCode == 1) return {RegionPick::Kind::cancelled, {}};
    return {RegionPick::Kind::failed, {}};
}

std::optional<kit::Rect> ScrollCapturer::regionOrPick(std::optional<kit::Rect> region) {
    if (region) return region;
    RegionPick pick = pickRegion();
    if (pick.kind == RegionPick::Kind::failed)
        host().warning("Can't take a scrolling screenshot",
                       "The screenshot tool could not start or stopped with an error, so no region could be "
                       "picked to scroll through.");
    if (pick.kind != RegionPick::Kind::picked) return std::nullopt;
    return pick.rect;
}

double ScrollCapturer::scaleFactor(const kit::Rect& region) {
    double s = 1.0;
    for (const auto& screen : kit::screensIntersecting(region)) s = std::max(s, screen.scale);
    return s;
}

namespace {

// The central 70 % of the region, whose content tells whether the page moved.
kit::Rect innerRect(const kit::Rect& r) {
    auto rnd = [](double v) { return std::round(v); };
    double f = (1 - 0.7) * 0.5;
    return {r.x() + rnd(r.width() * f), r.y() + rnd(r.height() * f), rnd(r.width() * 0.7),
            rnd(r.height() * 0.7)};
}

// A part of a grab of `region`, given in window-server coordinates.
kit::Image partOf(const kit::Image& grab, const kit::Rect& region, const kit::Rect& part) {
    double k = grab.scale();
    return grab.cropped(int(std::lround((part.x() - region.x()) * k)),
                        int(std::lround((part.y() - region.y()) * k)), int(std::lround(part.width() * k)),
                        int(std::lround(part.height() * k)));
}

uint32_t hashOf(const kit::Image& img) {
    if (img.isNull()) return 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    size_t total = img.bytesPerRow() * size_t(img.height());
    const Bytef* p = img.bits();
    while (total) {
        uInt n = uInt(std::min<size_t>(total, 1u << 30));
        crc = crc32(crc, p, n);
        p += n;
        total -= n;
    }
    return uint32_t(crc);
}

}  // namespace

uint32_t ScrollCapturer::pageHash(const kit::Rect& r) {
    // Cut from a grab of the whole region, exactly as the cycles cut theirs:
    // at fractional scales a grab of the inner rectangle alone can start a
    // pixel off, and a still page would then seem to have moved.
    kit::Image whole = kit::grabArea(r);
    return whole.isNull() ? 0 : hashOf(partOf(whole, r, innerRect(r)));
}

void ScrollCapturer::scroll(kit::Point point, int delta) {
    kit::SyntheticInput::warp(point);
    kit::SyntheticInput::setCursorHidden(true);
    // Each application decides how far a wheel click goes: the first scroll
    // sends one click to find out, later ones as many as make up about a step.
    int clicks = kit::SyntheticInput::clicksFor(delta);
    if (auto c = slot(); c && !c->ended && delta != 0) {
        int n = 1;
        if (c->pixelsPerClick > 0) {
            n = std::max(1, int(std::lround(std::abs(delta) * c->scale / c->pixelsPerClick)));
            // Never further than a strip shows, with room to spare for the registration.
            double stripPx = (c->step + c->margin) * c->scale;
            while (n > 1 && n * c->pixelsPerClick > 0.8 * stripPx) --n;
        }
        c->lastClicks = n;
        clicks = delta > 0 ? n : -n;
    }
    if (host().getBool("scrollingReverseAutoscroll", false)) clicks = -clicks;
    kit::dispatchMainAfter(0.01, [clicks] {
        kit::SyntheticInput::scrollClicks(clicks);
        kit::dispatchMainAfter(0.01, [] {
            if (!isCapturing()) return;
            parkPointer();
            kit::SyntheticInput::setCursorHidden(true);
        });
    });
}

void ScrollCapturer::start(int direction, std::optional<kit::Rect> region, Completion then) {
    if (isCapturing()) {
        std::cout << "Scrolling capture already running" << std::endl;
        return;
    }
    CaptureHost& h = host();
    region = regionOrPick(region);
    if (!region || *region == kit::Rect()) return;
    kit::Rect r = region->standardized();

    auto loc = kit::pointerLocation();
    cursorLocationUnknown = !loc;
    if (loc) savedCursorLocation = *loc;
    parkPointer();

    auto c = std::make_shared<Capture>();
    c->region = r;
    c->direction = direction;
    c->scale = scaleFactor(r);
    SpeedRow row = speedRow(h.getInt("scrollingSpeed", 2));
    c->interval = row.interval;
    c->scrollingMax = h.getInt("scrollingMax", 20000);
    c->callback = std::move(then);
    c->step = stepFor(r.height(), row.largestStep);
    c->margin = marginFor(r.height(), c->step);
    c->centre = {r.x() + r.width() * 0.5, r.y() + r.height() * 0.5};
    slot() = c;
    Capturer::noteWindowUnder(c->centre.x, c->centre.y);

    kit::Image first = kit::grabArea(r);
    if (first.isNull()) {
        finish({}, false);
        return;
    }
    c->shots.push_back(first);
    c->previousFrame = first;

    std::weak_ptr<Capture> weak = c;
    auto cancel = [weak](const kit::MonitorEvent&) {
        if (auto cap = weak.lock()) cap->cancelPlease = true;
    };
    using M = kit::EventMonitor;
    c->monitors.push_back(M::addGlobal(M::LeftMouseDown | M::RightMouseDown | M::KeyDown, cancel));
    c->monitors.push_back(M::addLocal(M::KeyDown, cancel));

    c->previousHash = pageHash(r);
    c->currentHash = pageHash(r);
    scheduleCycle(c);
}

void ScrollCapturer::captureCycle() {
    std::shared_ptr<Capture> c = slot();
    if (!c || c->ended) return;
    CaptureHost& h = host();

    // One grab of the whole region gives the strip and the page hash too, so
    // all three show the page at the same moment even while it still glides.
    c->lastCapture = kit::grabArea(c->region);
    kit::Image strip = c->lastCapture.isNull() ? kit::grabArea(stripRect(*c))
                                               : partOf(c->lastCapture, c->region, stripRect(*c));
    uint32_t hash = c->lastCapture.isNull() ? pageHash(c->region)
                                            : hashOf(partOf(c->lastCapture, c->region, innerRect(c->region)));
    c->segments += 1;

    bool moved = hash != c->currentHash;
    if (!strip.isNull()) {
        int adv = measuredAdvance(*c, moved);
        // A click that scrolled further than a strip shows: take the rows from the whole region instead.
        if (adv > strip.height() - int(std::lround(c->margin * c->scale)) && !c->lastCapture.isNull()) {
            int rows = std::min(c->lastCapture.height(), adv + int(std::lround(c->margin * c->scale)));
            strip = c->direction > 0 ? c->lastCapture.cropped(0, 0, c->lastCapture.width(), rows)
                                     : c->lastCapture.cropped(0, c->lastCapture.height() - rows,
                                                              c->lastCapture.width(), rows);
        }
        c->shots.push_back(strip);
        c->advances.push_back(adv);
    }
    if (!c->lastCapture.isNull()) c->previousFrame = c->lastCapture;

    int64_t height = c->shots.front().height();
    for (int a : c->advances) height += a;
    double estimate = double(height) + c->step * c->scale;
    bool limit = estimate >= double(c->scrollingMax);

    kit::Json stats{{"segments", c->segments}};
    if (!moved) {
        bool endReached = hash != c->previousHash;
        stats["stopped"] = endReached ? "endReached" : "withoutStarting";
        if (endReached) {
            h.preset("grab:scrolling", stats);
            findShift(c->shots, c->advances, c->lastCapture, c->step, c->margin, c->scale, c->direction);
        } else {
            h.alertOnMain(
                "Kadrix wasn't able to scroll",
                "Check that the page under the region scrolls with the mouse wheel, and if a program of "
                "yours "
                "reverses the desktop's scroll direction, try Reverse the direction of Scrolling Capture in "
                "the app preferences (Advanced tab).");
            h.preset("grab:scrolling", stats);
            finish(c->shots.front(), false);
        }
        return;
    }
    if (limit || c->cancelPlease) {
        if (limit)
            h.notify("Max height reached", "You can change scrolling height limit in the app preferences");
        stats["stopped"] = limit ? "maxHeight" : "interrupted";
        h.preset("grab:scrolling", stats);
        // Every strip taken goes into the image, the last one too.
        finish(combineMeasured(c->shots, c->advances, c->direction), false);
        return;
    }
    c->previousHash = c->currentHash;
    c->currentHash = hash;
    scheduleCycle(c);
}

void ScrollCapturer::finish(const kit::Image& image, bool keepCursor) {
    std::shared_ptr<Capture> c = slot();
    if (!c || c->ended) return;  // the completion runs once
    c->ended = true;
    removeMonitors(*c);
    if (!keepCursor && !cursorLocationUnknown) kit::SyntheticInput::warp(savedCursorLocation);
    kit::SyntheticInput::setCursorHidden(false);
    std::cout << "Scrolling capture: " << c->segments << " cycles, "
              << (image.isNull() ? std::string("no image") : std::to_string(image.height()) + " px tall")
              << std::endl;
    Completion cb = std::move(c->callback);
    if (cb) cb(image);
}

}  // namespace capture
