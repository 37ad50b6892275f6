#include "capture/VisionStitcher.h"

#include <cmath>
#include <iostream>
#include <numeric>
#include <utility>

#include "capture/CaptureHost.h"
#include "capture/ImageOps.h"
#include "capture/Registration.h"
#include "capture/ScrollCapturer.h"
#include "kit/desktop/Grab.h"
#include "kit/desktop/Screen.h"

namespace capture {

// ───────────────────────── overlay ─────────────────────────

std::unique_ptr<OverlayWindow> OverlayWindow::create(const kit::Rect& region) {
    std::optional<kit::ScreenInfo> screen;
    for (const auto& s : kit::screens())
        if (s.frame.intersects(region)) {
            screen = s;
            break;
        }
    if (!screen) return nullptr;
    auto o = std::unique_ptr<OverlayWindow>(new OverlayWindow);
    o->region = region;
    o->screenFrame = screen->frame;
    double x = region.x() - screen->frame.x(), y = region.y() - screen->frame.y();
    o->cocoaRegion = kit::Rect(x - 1, y - 1, region.width() + 2, region.height() + 2);
    o->window_ = std::make_unique<kit::RegionOverlay>(screen->frame, o->cocoaRegion);
    o->window_->setDim(kit::Color{0, 0, 0, 0.4});
    o->setText("Start Scrolling (Up or Down)");
    o->window_->show();
    return o;
}

void OverlayWindow::setText(const std::string& text) {
    text_ = text;
    const double fontSize = 12;
    kit::Size size = kit::RegionOverlay::measureText(text, fontSize);
    // Centred under the region, or above it when the region reaches the bottom of the screen.
    double top = cocoaRegion.maxY() + 10;
    if (top + size.height > screenFrame.height() - 6) top = cocoaRegion.minY() - 10 - size.height;
    double left = cocoaRegion.midX() - size.width / 2;
    textFrame = kit::Rect(left, top, size.width, size.height);
    if (!window_) return;
    const kit::Rect& c = cocoaRegion;
    std::vector<kit::RegionOverlay::Box> boxes{
        {c, kit::Color::clear(), kit::Color{0, 0, 0, 0.4}, 1, 0},
        {kit::Rect(c.x() - 1, c.y() - 1, c.width() + 2, c.height() + 2), kit::Color::clear(),
         kit::Color{0, 0, 0, 0.6}, 1, 0},
        {textFrame.insetBy(-8, -6), kit::Color{0, 0, 0, 0.5}, kit::Color::clear(), 0, 8},
    };
    window_->setBoxes(std::move(boxes));
    window_->setText(text, textFrame.origin, kit::Color{0.95, 0.95, 0.95, 1}, fontSize);
}

void OverlayWindow::close() {
    if (window_) window_->close();
}

// ───────────────────────── stitcher ─────────────────────────

VisionStitcher& VisionStitcher::shared() {
    static VisionStitcher s;
    return s;
}

std::unique_ptr<OverlayWindow>& VisionStitcher::overlayWindow() {
    static std::unique_ptr<OverlayWindow> w;
    return w;
}

void VisionStitcher::startLiveCapture(std::optional<kit::Rect> region, Completion then) {
    VisionStitcher& s = shared();
    if (s.capturing) return;  // one live capture at a time
    region = ScrollCapturer::regionOrPick(region);
    if (!region || *region == kit::Rect()) return;
    // The first look is taken now, as the automatic capture takes it, before
    // the overlay asks the user to scroll: a look left to the first tick of
    // the timer came after the user's first turns of the wheel on a busy
    // machine, and the lines they moved past were never in the picture.
    const kit::Image first = kit::grabArea(region->standardized());
    overlayWindow() = OverlayWindow::create(region->standardized());
    s.captureRegion = region->standardized();
    s.scrollingMax = host().getInt("scrollingMax", 20000);
    s.callback = [then = std::move(then)](const kit::Image& img) {
        if (auto& o = overlayWindow()) {
            o->close();
            o.reset();
        }
        if (then) then(img);
        VisionStitcher& st = shared();
        double mean = st.shifts.empty()
                          ? 0
                          : std::accumulate(st.shifts.begin(), st.shifts.end(), 0.0) / st.shifts.size();
        std::cout << "Avg shifs: " << mean << "\n" << st.nilShifts << " " << st.shifts.size() << std::endl;
    };
    s.start(first);
}

void VisionStitcher::start(const kit::Image& first) {
    if (capturing) return;
    timer.invalidate();
    lastScreenshot = {};
    pieces.clear();
    canvasTop = canvasBottom = 0;
    lastShiftDetectedTime.reset();
    shifts.clear();
    nilShifts = unplaced = 0;
    bands = {};
    direction = 0;
    cancelPlease = false;
    capturing = true;
    lastShiftDetectedTime = kit::monotonicNow();
    if (!first.isNull()) {
        lastScreenshot = first;
        pieces.push_back({first, 0});
        canvasBottom = first.height();
    }
    auto onKey = [](const kit::MonitorEvent& e) {
        if (e.type == kit::MonitorEvent::Type::KeyDown && e.keyCode != kit::EventMonitor::kEscapeKeyCode)
            return;
        shared().cancelPlease = true;
    };
    listenerCancelGlobal = kit::EventMonitor::addGlobal(kit::EventMonitor::KeyDown, onKey);
    listenerCancelLocal = kit::EventMonitor::addLocal(kit::EventMonitor::KeyDown, onKey);
    timer = kit::Timer::repeating(screenshotInterval, [this] { captureAndProcess(); });
}

void VisionStitcher::stop() {
    if (!capturing) return;
    timer.invalidate();
    capturing = false;
    if (listenerCancelGlobal) kit::EventMonitor::remove(*listenerCancelGlobal);
    if (listenerCancelLocal) kit::EventMonitor::remove(*listenerCancelLocal);
    listenerCancelGlobal.reset();
    listenerCancelLocal.reset();
    kit::Image result = composeStitched();
    lastScreenshot = {};
    pieces.clear();
    lastShiftDetectedTime.reset();
    if (unplaced > 0) ScrollCapturer::noticeStoppedEarly();
    // Let go of the completion once it has run: what it holds (the
    // capture's turn) must not outlive the capture.
    if (auto done = std::exchange(callback, nullptr)) done(result);
    std::cout << "STOP CAPTURING" << std::endl;
}

namespace {

// The frame without its bands, when that leaves rows enough to look at.
kit::Image withoutBands(const kit::Image& frame, const FixedRows& bands) {
    int rows = frame.height() - bands.top - bands.bottom;
    return rows < 8 ? frame : frame.cropped(0, bands.top, frame.width(), rows);
}

}  // namespace

VisionStitcher::FrameShift VisionStitcher::shiftBetween(const kit::Image& previous, const kit::Image& frame) {
    using K = FrameShift::Kind;
    // Searched beyond the strip height, so a jump too far to stitch is seen for what it is.
    auto s = registerPage(previous, frame, 0.85);
    if (!s) return {K::nowhere, 0};
    // Stitching look-alike rows at a guess could double or drop lines.
    if (!s->unambiguous()) return {K::ambiguous, 0};
    return {K::shift, s->dy};
}

void VisionStitcher::captureAndProcess() {
    if (!capturing) return;
    if (cancelPlease) return stop();
    // A look is dated by when it was asked: on a busy machine its picture
    // can come back seconds later, and then still shows the scroll the
    // user made before. Such a frame is placed first; the capture ends only
    // when one asked the whole time-out after the last movement saw none.
    const double asked = kit::monotonicNow();
    const double limit = std::abs(direction) <= 100 ? startTimeout : noShiftTimeout;
    kit::Image frame = kit::grabArea(captureRegion);
    // A screen that cannot be read ends the capture at its time, as a page
    // that does not move does: else the overlay would stay over it for ever.
    if (frame.isNull()) {
        if (lastShiftDetectedTime && asked - *lastShiftDetectedTime > limit) stop();
        return;
    }
    if (lastScreenshot.isNull()) {
        lastScreenshot = frame;
        pieces.push_back({frame, 0});
        canvasTop = 0;
        canvasBottom = frame.height();
        return;
    }
    const std::optional<double> shiftBefore = lastShiftDetectedTime;
    placeFrame(frame);
    if (capturing && lastShiftDetectedTime == shiftBefore && shiftBefore && asked - *shiftBefore > limit)
        stop();
}

void VisionStitcher::placeFrame(const kit::Image& frame) {
    // The very frame placed last: the view is where the picture says, over
    // rows that look alike too (the still frames after the last scroll), so
    // it neither counts against the capture nor needs measuring.
    if (frame == lastScreenshot) return;

    int frameHeight = lastScreenshot.height() > int(captureRegion.height()) ? lastScreenshot.height()
                                                                            : int(captureRegion.height());
    FrameShift shift = shiftBetween(lastScreenshot, frame);
    if (shift.kind != FrameShift::Kind::shift) {
        ++nilShifts;
        ++unplaced;
        // Once the user scrolls steadily, frames that match nowhere mostly moved too far.
        if (shift.kind == FrameShift::Kind::nowhere && std::abs(direction) >= 100) {
            if (auto& o = overlayWindow()) o->setText("You're Going Too Fast!");
            lastWarning = kit::wallNow();
        }
        return;
    }
    int s = shift.dy;
    if (s != 0) shifts.push_back(s);
    if (std::abs(direction) < 100 && s != 0) direction += s;

    auto& overlay = overlayWindow();
    double wall = kit::wallNow();
    if (overlay && std::abs(direction) >= 100 && wall - lastWarning > 1.2)
        overlay->setText(std::string("Keep Scrolling ") + (direction > 0 ? "DOWN" : "UP"));
    if (overlay && std::abs(s) > frameHeight / 3) {
        overlay->setText("You're Going Too Fast!");
        lastWarning = wall;
    }

    if (s == 0) {
        // Rows that look alike look the same scrolled by whole lines as
        // standing still, a title or status line that stays put tipping the
        // scale to standing still: such a frame does not tell where the
        // view is, and the view placed last stays the one to go by. The
        // bands are left out of the look, a tall one or one that changes
        // (and so is measured with the page) hiding the alike rows. Nor
        // does a frame of which many rows changed: a band measured with the
        // page outweighed the rows that moved (a caret or a clock changes
        // few).
        if (looksAlikeShifted(withoutBands(frame, bands)) ||
            rowsChanged(lastScreenshot, frame) * 8 > frame.height()) {
            ++unplaced;
            return;
        }
        lastScreenshot = frame;
        unplaced = 0;
        return;
    }
    if ((s < 0 && direction > 0) || (s > 0 && direction < 0)) return;
    int strip = int(frame.height() * 0.7);
    if (std::abs(s) > strip) {
        // Rows between the strips would stay empty: drop the frame rather than
        // hand over an image with a hole, and tell the user to slow down.
        if (overlay) overlay->setText("You're Going Too Fast!");
        lastWarning = wall;
        ++unplaced;
        return;
    }
    // Dated by when the picture came back: the page moved before then.
    lastShiftDetectedTime = kit::monotonicNow();
    if (!appendStrip(frame, s)) {
        // Every frame from here on would be the same: the capture ends
        // with the rows it placed, and says so.
        ++unplaced;
        return stop();
    }
    unplaced = 0;
    lastScreenshot = frame;
    if (scrollingMax > 0 && stitchedHeight() >= scrollingMax) stop();
}

bool VisionStitcher::appendStrip(const kit::Image& frame, int s) {
    const int h = frame.height(), w = frame.width(), k = int(h * 0.7);
    bands = bandsBetween(lastScreenshot, frame, s);
    // The page rows this frame shows must reach those the last one showed.
    if (h - std::abs(s) < bands.top + bands.bottom) return false;
    // The bands were laid with the first frame: the title stays at the
    // picture's top and the footer goes with its bottom (going up, the
    // other way round). A strip reaches into the frame as far as the rows
    // the last frame's band at that edge hid, and never into the band at
    // the far edge.
    if (s > 0) {
        int from = std::max(bands.top, std::min(h - k, h - s - bands.bottom));
        canvasBottom += s;
        pieces.push_back({frame.cropped(0, from, w, h - from), canvasBottom - h + from});
    } else {
        int to = std::min(h - bands.bottom, std::max(k, bands.top - s));
        canvasTop += s;
        pieces.push_back({frame.cropped(0, 0, w, to), canvasTop});
    }
    return true;
}

kit::Image VisionStitcher::composeStitched() const {
    if (pieces.empty()) return {};
    int height = stitchedHeight();
    int top = canvasTop, bottom = canvasBottom;
    // Beyond the limit the rows farthest from the first frame are dropped:
    // the last ones going down, the top ones going up.
    if (scrollingMax > 0 && height > scrollingMax) {
        height = int(scrollingMax);
        if (direction >= 0)
            bottom = top + height;
        else
            top = bottom - height;
    }
    const kit::Image& first = pieces.front().image;
    kit::Image out(first.width(), height, first.scale());
    if (out.isNull()) {
        host().oops("stop()", "Can't create context");
        return {};
    }
    for (const auto& p : pieces) copyInto(out, p.image, 0, p.top - top);
    (void)bottom;
    return out;
}

}  // namespace capture
