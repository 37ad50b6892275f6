#include "capture/ScrollCapturer.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <utility>

#include "capture/CaptureHost.h"
#include "capture/Capturer.h"
#include "capture/ImageOps.h"
#include "capture/Registration.h"
#include "capture/ToolOutput.h"
#include "kit/base/Files.h"
#include "kit/base/Process.h"
#include "kit/base/Timer.h"
#include "kit/desktop/EventMonitor.h"
#include "kit/desktop/Grab.h"
#include "kit/desktop/Screen.h"
#include "kit/desktop/SyntheticInput.h"

namespace capture {

struct ScrollCapturer::Capture {
    kit::Rect region;
    int direction = -1;
    int step = 0, margin = 0;
    double scale = 1, interval = 0.12;
    kit::Point centre;
    int64_t scrollingMax = 20000;
    // The strips placed so far (the first frame first), how far each moved
    // (pixels), and how many wheel clicks were sent before each.
    std::vector<kit::Image> shots;
    std::vector<int> advances;
    std::vector<int> clicks;
    kit::Image lastCapture;
    kit::Image previousFrame;  // the whole region when the latest strip was placed
    kit::Image tail;           // the picture's last rows, as tall as the region
    kit::Image olderFrame;     // the whole region when the strip before it was placed
    int lastAdvance = 0;       // how far the page moved between the two
    // The rows that stayed put at the region's edges as the page last moved
    // (a title, a status line): each shows once, at its edge of the picture.
    FixedRows bands;
    int segments = 0;
    bool cancelPlease = false;
    bool everMoved = false;
    // How many of the shots lead up to the latest one whose movement was
    // measured, not picked among look-alikes by the clicks sent.
    size_t measuredShots = 1;
    // When the latest clicks were posted, and the longest a scroll has taken
    // to show on the screen in this capture (seconds).
    double scrolledAt = 0;
    double slowestRedraw = 0;
    // The region as the latest look saw it, and since when it has looked so.
    uint32_t lookHash = 0;
    double lookSince = 0;
    uint32_t currentHash = 0;  // of previousFrame
    std::vector<kit::EventMonitor::Token> monitors;
    Completion callback;
    bool ended = false;
    // How far one wheel click moves this page (0 until known), learned only
    // from measurements that could not be mistaken, and the clicks sent
    // since the latest strip was placed.
    double pixelsPerClick = 0;
    int clicksPending = 0;
    // Clicks sent whose movement has not all shown yet, and how far the page
    // moved since the first of them: a busy program draws them in parts, and
    // how far a click goes is learned only once they have all shown.
    int unsettled = 0;
    int movedSince = 0;
    bool sureSince = true;  // every movement since was measured without a prediction
};

namespace {

const SpeedRow kSpeeds[4] = {{0.8, 100}, {0.2, 100}, {0.12, 100}, {0.1, 300}};

// A program under load can take this long to draw a scroll (seconds).
constexpr double kRedrawFloor = 0.5;
// Before any scroll has shown there is no redraw to go by, and a busy
// program can take more than a second to draw its first: the page counts as
// unmoving only once it has stayed still this long (seconds).
constexpr double kFirstScrollWait = 3.0;
// A busy program that draws a scroll's clicks one by one can leave this long
// between them (seconds).
constexpr double kPartsApart = 0.25;

// How long the page must stay still after the latest clicks before it counts
// as ended: twice the slowest redraw seen, so a program that drew late once
// has room to be later still.
double stillFor(const ScrollCapturer::Capture& c) {
    if (!c.everMoved) return kFirstScrollWait;
    return std::max(kRedrawFloor, 2 * c.slowestRedraw);
}

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

void scheduleCycle(const std::shared_ptr<ScrollCapturer::Capture>& c, bool scrollFirst = true) {
    std::weak_ptr<ScrollCapturer::Capture> weak = c;
    if (scrollFirst)
        kit::dispatchMainAfter(c->interval * 0.25, [weak] {
            if (auto cap = weak.lock(); cap && !cap->ended)
                ScrollCapturer::scroll(cap->centre, cap->direction * cap->step);
        });
    kit::dispatchMainAfter(c->interval, [weak] {
        if (auto cap = weak.lock(); cap && !cap->ended && cap == slot()) ScrollCapturer::captureCycle();
    });
}

// What one cycle saw: the page stood still, moved `advance` pixels along the
// capture's direction, or moved in a way no one could place for sure.
struct Movement {
    enum class Kind { still, moved, unsure };
    Kind kind = Kind::still;
    int advance = 0;
    bool predicted = false;  // picked among look-alike shifts by the clicks sent
};

// Compares the whole region with the frame of the latest strip, the rows
// that stay put at its edges left out. A changed region whose content did not
// shift (a blinking caret, a clock) stood still; but one of which many rows
// changed moved, a band measured with the page (one taller than the measuring
// leaves out) outweighing the rows that did. On rows that look alike several
// shifts agree equally: the one the clicks sent and not yet shown point at is
// taken, and without it no one is.
Movement measureMovement(const ScrollCapturer::Capture& c, uint32_t hash) {
    using K = Movement::Kind;
    if (c.lastCapture.isNull()) return {K::unsure, 0};
    if (hash == c.currentHash) return {K::still, 0};
    auto shift = registerPage(c.previousFrame, c.lastCapture);
    if (!shift) return {K::unsure, 0};
    auto along = [&](int dy) { return c.direction > 0 ? -dy : dy; };
    int advance = along(shift->dy);
    if (shift->unambiguous() && shift->dy == 0 &&
        rowsChanged(c.previousFrame, c.lastCapture) * 8 > c.lastCapture.height())
        return {K::unsure, 0};
    if (shift->unambiguous()) return advance > 0 ? Movement{K::moved, advance} : Movement{K::still, 0};
    // Nothing to predict with before a sure measurement has shown how far a click goes.
    if (c.pixelsPerClick <= 0) return {K::unsure, 0};
    std::vector<int> ties;
    for (int dy : shift->ties) ties.push_back(along(dy));
    auto picked = nearestTo(ties, c.unsettled * c.pixelsPerClick - c.movedSince);
    if (!picked) return {K::unsure, 0};
    return *picked > 0 ? Movement{K::moved, *picked, true} : Movement{K::still, 0};
}

// Whether the clicks sent have all shown (within half a click), so that more
// can be sent: clicks sent on top of ones not yet drawn would blur how far a
// click goes. Once they have (or, `anyway`, will show no more), that is
// learned from them, when no movement since was picked by a prediction.
bool settled(ScrollCapturer::Capture& c, bool anyway = false) {
    if (!anyway && c.pixelsPerClick > 0 && c.movedSince < (c.unsettled - 0.5) * c.pixelsPerClick)
        return false;
    if (c.sureSince && c.unsettled > 0 && c.movedSince > 0)
        c.pixelsPerClick = double(c.movedSince) / c.unsettled;
    c.unsettled = c.movedSince = 0;
    c.sureSince = true;
    return true;
}

// The picture's last frame-height of rows once `strip` is placed `advance`
// rows beyond `tail` (the picture's last rows before it).
kit::Image tailAfter(const kit::Image& tail, const kit::Image& strip, int advance, int direction) {
    kit::Image out(tail.width(), tail.height(), tail.scale());
    int keep = tail.height() - advance;
    if (direction > 0) {
        copyInto(out, tail.cropped(0, 0, tail.width(), keep), 0, advance);
        copyInto(out, strip, 0, 0);
    } else {
        copyInto(out, tail.cropped(0, advance, tail.width(), keep), 0, 0);
        copyInto(out, strip, 0, out.height() - strip.height());
    }
    return out;
}

// The rows of the latest frame that a movement of `advance` places: those
// the page brought into view with the margin, a strip's height at least, and
// the band at the edge the page scrolls towards, which comes again at the
// picture's new edge and so covers its copy of the last frame's; never the
// band at the far edge, laid once with the first frame. Null when the page
// rows between the bands do not reach those the last frame showed.
kit::Image stripFor(const ScrollCapturer::Capture& c, int advance) {
    const kit::Image& f = c.lastCapture;
    const int h = f.height();
    const int nearBand = c.direction > 0 ? c.bands.top : c.bands.bottom;
    const int farBand = c.direction > 0 ? c.bands.bottom : c.bands.top;
    if (advance + nearBand > h - farBand) return {};
    int stripPx = int(std::lround((c.step + c.margin) * c.scale)),
        marginPx = int(std::lround(c.margin * c.scale));
    int rows = std::min(h - farBand, std::max({stripPx, advance + marginPx, advance + nearBand}));
    return c.direction > 0 ? f.cropped(0, 0, f.width(), rows) : f.cropped(0, h - rows, f.width(), rows);
}

// Whether the picture built so far agrees with the new frame at `advance`
// about as well as the frame before it did, over the whole width: content that
// changed by itself (a caret, an animation) differs from both alike, a strip
// placed wrong only from the picture. Only page rows are compared: where the
// frame shows its title the picture holds the page that scrolled under it.
bool pictureAgrees(const ScrollCapturer::Capture& c, int advance) {
    const kit::Image& frame = c.lastCapture;
    const int h = frame.height(), d = c.direction > 0 ? -advance : advance;  // picture row − frame row
    int from = std::max(c.bands.top, c.bands.top - d),
        to = std::min(h - c.bands.bottom, h - c.bands.bottom - d);
    if (to <= from) return true;  // nothing of the picture is left in view
    double picture = rowsDifference(c.tail, from + d, frame, from, to - from);
    double previous = rowsDifference(c.previousFrame, from + d, frame, from, to - from);
    return picture <= previous + 1.0;
}

kit::Json stopped(const ScrollCapturer::Capture& c, const char* how) {
    return kit::Json{{"segments", c.segments}, {"stopped", how}};
}

// The rest cannot be placed for sure: the image ends with the first `placed`
// shots, all of which were, and the user hears why, once.
void endUnsure(ScrollCapturer::Capture& c, size_t placed) {
    ScrollCapturer::noticeStoppedEarly();
    host().preset("grab:scrolling", stopped(c, "interrupted"));
    std::vector<kit::Image> shots(c.shots.begin(), c.shots.begin() + long(placed));
    ScrollCapturer::finish(ScrollCapturer::combineMeasured(shots, c.advances, c.direction), false);
}

// One signature a row of the whole width.
std::vector<uint32_t> rowSigns(const kit::Image& img) {
    std::vector<uint32_t> out(size_t(img.height()));
    for (int y = 0; y < img.height(); ++y)
        out[size_t(y)] = uint32_t(crc32(0L, img.row(y), uInt(img.width()) * 4));
    return out;
}

// Rows of the latest strip's frame that stayed where they were while the
// page moved past them: a title, a status line, a fixed header.
std::vector<char> fixedRows(const ScrollCapturer::Capture& c, const std::vector<uint32_t>& now) {
    const int h = int(now.size());
    std::vector<char> fixed(size_t(h), 0);
    if (c.olderFrame.width() != c.previousFrame.width() || c.olderFrame.height() != h) return fixed;
    std::vector<uint32_t> before = rowSigns(c.olderFrame);
    for (int r = 0; r < h; ++r) {
        int from = c.direction > 0 ? r - c.lastAdvance : r + c.lastAdvance;  // where row r's content was
        fixed[size_t(r)] = now[size_t(r)] == before[size_t(r)] && from >= 0 && from < h &&
                           now[size_t(r)] != before[size_t(from)];
    }
    return fixed;
}

// Whether the still strip's `clicks` could have moved the page although the
// region looks as it did: its rows look alike, so a scroll by whole rows
// leaves it the same, fixed rows aside. The end of the page and a run of
// alike rows taller than the region look the same there, and either could be
// what stopped it.
bool stillMayHaveMoved(const ScrollCapturer::Capture& c, int clicks) {
    const kit::Image &prev = c.previousFrame, &last = c.lastCapture;
    if (last.isNull() || clicks <= 0 || prev.width() != last.width() || prev.height() != last.height())
        return false;
    const int h = last.height();
    // Room for a program that scrolls a little further than it did.
    int reach = std::min(h - 1, int(std::ceil(1.5 * clicks * c.pixelsPerClick)));
    std::vector<uint32_t> p = rowSigns(prev), n = rowSigns(last);
    std::vector<char> fixed = fixedRows(c, p);
    for (int s = 1; s <= reach; ++s) {
        int compared = 0, differ = 0;
        for (int r = 0; r + s < h; ++r) {
            int inLast = c.direction > 0 ? r + s : r, inPrev = c.direction > 0 ? r : r + s;
            if (fixed[size_t(inLast)] || fixed[size_t(inPrev)]) continue;
            ++compared;
            differ += n[size_t(inLast)] != p[size_t(inPrev)];
        }
        if (compared >= (h - s) / 2 && differ <= 2) return true;
    }
    return false;
}

// The page stood still: at its end, or before it ever moved.
void endStill(ScrollCapturer::Capture& c, size_t placed, int stillClicks) {
    CaptureHost& h = host();
    if (!c.everMoved) {
        h.alertOnMain(
            "Kadrix wasn't able to scroll",
            "Check that the page under the region scrolls with the mouse wheel, and if a program of "
            "yours reverses the desktop's scroll direction, try Reverse the direction of Scrolling "
            "Capture in the app preferences (Advanced tab).");
        h.preset("grab:scrolling", stopped(c, "withoutStarting"));
        ScrollCapturer::finish(c.shots.front(), false);
        return;
    }
    // A shot picked among look-alikes by the clicks sent may have moved less
    // than they said, the end cutting it short: only measured ones are kept.
    if (stillMayHaveMoved(c, stillClicks)) return endUnsure(c, c.measuredShots);
    // How far the clicks behind the final frame could have moved the page:
    // those of the last two strips, the still one included.
    int clicks = 0;
    for (size_t i = c.clicks.size() - std::min<size_t>(2, c.clicks.size()); i < c.clicks.size(); ++i)
        clicks += c.clicks[i];
    int sent = int(std::lround(clicks * c.pixelsPerClick));
    auto stitched = ScrollCapturer::findShiftImage(c.shots, c.advances, c.lastCapture, c.step, c.margin,
                                                   c.scale, c.direction, sent, c.bands);
    if (!stitched.reliable) return endUnsure(c, placed);
    h.preset("grab:scrolling", stopped(c, "endReached"));
    ScrollCapturer::finish(stitched.image, false);
}

}  // namespace

std::shared_ptr<ScrollCapturer::Capture> ScrollCapturer::current() {
    return slot();
}

void ScrollCapturer::noticeStoppedEarly() {
    host().notifyWithPicture(
        "Scrolling capture stopped early",
        "The rest of the page could not be stitched reliably, so the image ends where the capture "
        "was sure of it.");
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
    // Kadrix is ending: as a cancelled selection, without a word.
    if (result.cancelled) return {RegionPick::Kind::cancelled, {}};
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
    // The whole region: on a terminal the middle of every line can read the
    // same, and a crop of it stays the same while the lines scroll.
    return hashOf(kit::grabArea(r));
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
            // Never further than a strip shows, with room to spare for the
            // registration, which leaves the bands out.
            double regionPx = c->region.height() * c->scale;
            double pageShare = 1 - (c->bands.top + c->bands.bottom) / std::max(1.0, regionPx);
            double reach = 0.8 * (c->step + c->margin) * c->scale * pageShare;
            while (n > 1 && n * c->pixelsPerClick > reach) --n;
        }
        c->clicksPending += n;
        c->unsettled += n;
        clicks = delta > 0 ? n : -n;
    }
    if (host().getBool("scrollingReverseAutoscroll", false)) clicks = -clicks;
    kit::dispatchMainAfter(0.01, [clicks] {
        kit::SyntheticInput::scrollClicks(clicks);
        if (auto c = slot(); c && !c->ended) c->scrolledAt = kit::monotonicNow();
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
    c->tail = first;
    c->currentHash = c->lookHash = hashOf(first);
    c->scrolledAt = c->lookSince = kit::monotonicNow();

    std::weak_ptr<Capture> weak = c;
    auto cancel = [weak](const kit::MonitorEvent&) {
        if (auto cap = weak.lock()) cap->cancelPlease = true;
    };
    using M = kit::EventMonitor;
    c->monitors.push_back(M::addGlobal(M::LeftMouseDown | M::RightMouseDown | M::KeyDown, cancel));
    c->monitors.push_back(M::addLocal(M::KeyDown, cancel));

    scheduleCycle(c);
}

void ScrollCapturer::captureCycle() {
    std::shared_ptr<Capture> c = slot();
    if (!c || c->ended) return;

    // A look is dated by when it was asked: on a busy machine its picture
    // can come back seconds later, and still show the page as it was then.
    const double asked = kit::monotonicNow();
    // One grab of the whole region gives the strip and the page hash too, so
    // all three show the page at the same moment even while it still glides.
    c->lastCapture = kit::grabArea(c->region);
    kit::Image strip = c->lastCapture.isNull() ? kit::grabArea(stripRect(*c))
                                               : partOf(c->lastCapture, c->region, stripRect(*c));
    uint32_t hash = c->lastCapture.isNull() ? pageHash(c->region) : hashOf(c->lastCapture);
    c->segments += 1;
    int clicks = std::exchange(c->clicksPending, 0);

    // The picture may show a change made any time before it came back: a
    // change is dated by then, and a redraw counted as taking that long.
    const double seen = kit::monotonicNow();
    if (hash != std::exchange(c->lookHash, hash)) c->lookSince = seen;
    Movement m = measureMovement(*c, hash);
    // A pick among look-alikes takes the clicks to have all shown, and a busy
    // program draws them in parts: it waits until the region stops changing.
    if (m.predicted && asked - c->lookSince < std::max(kPartsApart, c->slowestRedraw)) {
        c->clicksPending += clicks;
        return scheduleCycle(c, false);
    }
    if (m.kind == Movement::Kind::moved) {
        FixedRows bands =
            bandsBetween(c->previousFrame, c->lastCapture, c->direction > 0 ? -m.advance : m.advance);
        // Bands taller than the measuring leaves out were measured with the
        // page: where they did not outweigh it, the page still cannot be
        // told from them for sure. A band at the edge the page scrolls
        // towards no deeper than the rows the page brought in is not
        // counted: those came from outside the region, and rows of alike
        // lines can look as if they stayed. One deeper is seen to stay.
        int nearBand = c->direction > 0 ? bands.top : bands.bottom;
        int farBand = c->direction > 0 ? bands.bottom : bands.top;
        if (farBand + (nearBand > m.advance ? nearBand : 0) > c->lastCapture.height() * 2 / 5) {
            m.kind = Movement::Kind::unsure;
        } else {
            c->bands = bands;
            strip = stripFor(*c, m.advance);
            if (strip.isNull() || !pictureAgrees(*c, m.advance)) m.kind = Movement::Kind::unsure;
        }
    }
    switch (m.kind) {
        case Movement::Kind::unsure:
            return endUnsure(*c, c->shots.size());
        case Movement::Kind::still: {
            // A busy program can draw a scroll late, the first one too: the
            // page is looked at again, without a scroll, until it has stayed
            // still for longer than its redraws take, as seen by a look asked
            // that long after the clicks: one asked sooner whose picture came
            // back late says nothing about the time between.
            if (asked - c->scrolledAt <= stillFor(*c)) {
                c->clicksPending += clicks;
                return scheduleCycle(c, false);
            }
            // The clicks showed in part and then no more: the page reached its
            // end, or a click goes less far than it did; one more scroll tells.
            if (c->movedSince > 0) {
                settled(*c, true);
                c->clicksPending += clicks;
                return scheduleCycle(c);
            }
            size_t placed = c->shots.size();
            if (!strip.isNull()) {
                c->shots.push_back(strip);
                c->advances.push_back(0);
                c->clicks.push_back(clicks);
            }
            return endStill(*c, placed, clicks);
        }
        case Movement::Kind::moved:
            break;
    }
    c->shots.push_back(strip);
    c->advances.push_back(m.advance);
    c->clicks.push_back(clicks);
    c->tail = tailAfter(c->tail, strip, m.advance, c->direction);
    c->olderFrame = c->previousFrame;
    c->lastAdvance = m.advance;
    c->previousFrame = c->lastCapture;
    c->currentHash = hash;
    c->everMoved = true;
    c->slowestRedraw = std::max(c->slowestRedraw, seen - c->scrolledAt);
    c->movedSince += m.advance;
    c->sureSince = c->sureSince && !m.predicted;
    if (!m.predicted) c->measuredShots = c->shots.size();

    int64_t height = c->shots.front().height();
    for (int a : c->advances) height += a;
    bool limit = double(height) + c->step * c->scale >= double(c->scrollingMax);
    if (limit || c->cancelPlease) {
        if (limit)
            host().notify("Max height reached",
                          "You can change scrolling height limit in the app preferences");
        host().preset("grab:scrolling", stopped(*c, limit ? "maxHeight" : "interrupted"));
        // Every strip taken goes into the image, the last one too.
        finish(combineMeasured(c->shots, c->advances, c->direction), false);
        return;
    }
    scheduleCycle(c, settled(*c));
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
