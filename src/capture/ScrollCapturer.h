#pragma once
// Automatic scrolling capture: the user picks a region, we scroll the content
// under it with synthetic wheel clicks, grab a strip after every scroll and
// stitch the strips into one tall image. Wheel clicks move the content as far
// as the target application decides, so every cycle measures the real
// movement by registering the whole region against the previous cycle's,
// and the stitch uses the measured movement. Where rows look alike and the
// movement cannot be told for sure, the capture ends with what it placed
// rather than guess. Static operations, main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/Registration.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"

namespace capture {

// What the region pick came to: a region, the user's cancel (no message),
// or a tool that could not start or ended with an error.
struct RegionPick {
    enum class Kind { picked, cancelled, failed };
    Kind kind = Kind::failed;
    kit::Rect rect;  // for Kind::picked
};

struct SpeedRow {
    double interval;  // seconds between cycles
    int largestStep;  // points
};

class ScrollCapturer {
public:
    using Completion = std::function<void(const kit::Image&)>;

    static bool permissionsGranted();
    // Returns at once; the completion runs once on the main thread with the
    // stitched image (null when stitching failed).
    static void start(int direction, std::optional<kit::Rect> region, Completion then);
    static std::optional<kit::Rect> captureRect();
    static RegionPick pickRegion();
    // The region to capture: the given one, else one the user picks. On a
    // failed pick the user is warned; nothing is said on a cancel.
    static std::optional<kit::Rect> regionOrPick(std::optional<kit::Rect> region);
    static bool isCapturing();
    // Tells the user that a capture ended before the page did, because the
    // rest could not be placed for sure.
    static void noticeStoppedEarly();

    // The speed row for a stored `scrollingSpeed`, clamped to the table.
    static SpeedRow speedRow(int64_t scrollingSpeed);
    // step = min(largest step, ⌊h / 3⌋); margin = (⌊h⌋ − step) / 2.
    static int stepFor(double regionHeight, int largestStep);
    static int marginFor(double regionHeight, int step);

    static void scroll(kit::Point point, int delta);
    static uint32_t pageHash(const kit::Rect& region);
    static double scaleFactor(const kit::Rect& region);
    static void captureCycle();
    static void finish(const kit::Image& image, bool keepCursor);

    // ───── stitching ─────
    // Lays the first frame and the strips at fixed steps of `stripeHeight`
    // points (every strip moved one full step).
    static kit::Image combine(const std::vector<kit::Image>& shots, const kit::Rect& region, int direction,
                              int stripeHeight, int rectOffset, double dpr);
    // The same with the movement measured for each strip (pixels, one per
    // strip after the first frame).
    static kit::Image combineMeasured(const std::vector<kit::Image>& shots, const std::vector<int>& advances,
                                      int direction);
    static std::optional<int> overlayShiftStamp(const kit::Image& img1, const kit::Image& img2, int travel,
                                                int direction);
    static int overlayShiftSegment(const kit::Image& img1, const kit::Image& img2, int travel, int direction);
    static uint64_t overlayCompareSegment(const kit::Image& img1, const kit::Image& img2, int overlap,
                                          int area, int direction, uint64_t threshold);
    // Aligns the final frame to the shots before the last two. `advances` are
    // the measured movements of the strips (empty: every strip moved one
    // step); `sent` is how far the clicks behind the last two strips could
    // have moved the page (pixels, 0 when unknown), which bounds the search;
    // `bands` are the rows that stay put at the region's edges, left out of
    // the search, the one at the far edge also out of the piece laid.
    // Not reliable when several overlaps agree equally and none is the one
    // the measured movements point at, or the frame agrees nowhere; the image
    // is null then, and on a failure (reported).
    struct Aligned {
        kit::Image image;
        bool reliable = true;
    };
    static Aligned findShiftImage(const std::vector<kit::Image>& shots, const std::vector<int>& advances,
                                  const kit::Image& lastCapture, int step, int rectOffset, double dpr,
                                  int direction, int sent = 0, FixedRows bands = {});

    static constexpr uint64_t kUnreadable = 99999999;

    // Static state (main thread only).
    static inline int permissionAttempts = 0;
    static inline kit::Point savedCursorLocation;
    static inline bool cursorLocationUnknown = false;

    struct Capture;  // one running capture
    static std::shared_ptr<Capture> current();
};

}  // namespace capture
