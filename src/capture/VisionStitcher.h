#pragma once
// Live scrolling capture: the user scrolls by hand; every 0.3 s the region is
// grabbed, registered against the previous frame, and the rows that scrolled
// into view are kept. The image is composed once, when the capture stops.
// A click-through overlay dims the rest of the screen and says what to do.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/Registration.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"
#include "kit/desktop/EventMonitor.h"
#include "kit/desktop/RegionOverlay.h"

namespace capture {

class OverlayWindow {
public:
    // Absent when no screen's frame intersects the region.
    static std::unique_ptr<OverlayWindow> create(const kit::Rect& region);
    void setText(const std::string& text);
    void close();
    const std::string& text() const { return text_; }

    kit::Rect region;       // window-server coordinates
    kit::Rect cocoaRegion;  // window coordinates (y down), grown by 1 on every side
    kit::Rect screenFrame;
    kit::Rect textFrame;  // where the text went (window coordinates)

private:
    std::unique_ptr<kit::RegionOverlay> window_;
    std::string text_;
};

class VisionStitcher {
public:
    using Completion = std::function<void(const kit::Image&)>;

    static VisionStitcher& shared();
    static void startLiveCapture(std::optional<kit::Rect> region, Completion then);
    static std::unique_ptr<OverlayWindow>& overlayWindow();

    // Starts looking, from `first` when given: the region as it was when it
    // was picked.
    void start(const kit::Image& first = {});
    void stop();
    void captureAndProcess();
    bool isCapturing() const { return capturing; }

    // What registering `frame` against `previous` gave: the shift (positive
    // when the content moved up), content that agrees at no shift (scrolled
    // too far, or replaced), or several shifts that agree alike (rows that
    // look alike), of which none can be taken for sure.
    struct FrameShift {
        enum class Kind { shift, nowhere, ambiguous };
        Kind kind = Kind::nowhere;
        int dy = 0;
    };
    static FrameShift shiftBetween(const kit::Image& previous, const kit::Image& frame);

    double screenshotInterval = 0.3;
    double noShiftTimeout = 3.0;
    double startTimeout = 10.0;
    kit::Rect captureRegion;
    Completion callback;
    kit::Timer timer;
    kit::Image lastScreenshot;
    std::optional<double> lastShiftDetectedTime;
    bool capturing = false;
    int direction = 0;
    std::vector<int> shifts;
    int nilShifts = 0;
    // Frames since the view was last placed whose place could not be told:
    // a capture that ends on them ends short of what the user scrolled to.
    int unplaced = 0;
    std::optional<kit::EventMonitor::Token> listenerCancelGlobal, listenerCancelLocal;
    bool cancelPlease = false;
    double lastWarning = 0;
    int64_t scrollingMax = 20000;

    // The stitched image so far, kept as pieces placed on a tall canvas:
    // rows are counted from the first frame's top (negative above it).
    struct Piece {
        kit::Image image;
        int top;
    };
    std::vector<Piece> pieces;
    int canvasTop = 0, canvasBottom = 0;
    // The rows that stayed put at the region's edges while the page last
    // moved: a frame that looks still is judged without them.
    FixedRows bands;
    int stitchedHeight() const { return canvasBottom - canvasTop; }
    kit::Image composeStitched() const;

private:
    // Places a frame after the first against the last one placed.
    void placeFrame(const kit::Image& frame);
    // Lays what `frame`, moved by `shift`, adds to the picture between the
    // bands; false when its page rows do not reach those the last frame
    // showed.
    bool appendStrip(const kit::Image& frame, int shift);
};

}  // namespace capture
