#pragma once
// The capture routes: interactive area and window capture through the
// screenshot tool, full screen, the front window, the window background
// modes, and the small support functions the rest of the system shares.
// A class of static operations; everything runs on the main thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "capture/WindowShadow.h"
#include "kit/base/Color.h"
#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/desktop/Screen.h"
#include "kit/desktop/WindowList.h"

namespace capture {

// Module-level values every capture route fills and the application core
// reads after each capture.
struct CaptureContext {
    std::optional<kit::Rect> rememberedArea;  // window-server coordinates
    std::string capturedAppName;
    std::string capturedWindowName;
    std::optional<kit::ScreenInfo> captureScreen;
    bool backdropApplied = false;
};
CaptureContext& captureContext();

struct EdgePaddings {
    int top = 0, right = 0, bottom = 0, left = 0;
    friend bool operator==(const EdgePaddings&, const EdgePaddings&) = default;
};

class Capturer {
public:
    // Gets the selected area's image while the tool still runs; true marks the
    // capture handled (its file is dropped and nothing is returned).
    using AsyncMode = std::function<bool(const kit::Image& img, double x, double y, double w, double h)>;

    // Interactive capture through the screenshot tool.
    static kit::Image interactive(WindowShadow mode, bool windowOnly, bool repeatArea, bool dontRememberArea,
                                  const AsyncMode& asyncMode = {});
    static void noteWindowUnder(double x, double y);
    static void noteWindow(uint32_t number);

    // Full screen and the front window.
    static kit::Image fullscreen();
    static kit::Image fullscreen14(bool cursor);
    static kit::Image window(WindowShadow mode);
    static void noteFrontWindowOnMainScreen();

    // Window background step run by the interactive and window captures.
    static kit::Image applyWindowBackground(WindowShadow mode, kit::Image img);
    static bool isEdgeTransparent(const kit::Image& img);
    // Steps from (x, y) along (dx, dy) to the first pixel with alpha ≥ 151;
    // 0 when the start is such a pixel, the walk leaves the image, or 299
    // steps find none. `width` bounds the columns (bytesPerRow may be padded).
    static int scanToOpaque(int x, int y, int dx, int dy, size_t bytesPerRow, size_t byteCount,
                            const uint8_t* pixels, int width);
    static EdgePaddings shadowPaddings(const kit::Image& img);
    static kit::Image trimEdges(const kit::Image& img);
    static kit::Image addWallpaper(const kit::Image& img);
    static kit::Image addColor(const kit::Image& img, kit::Color clr);
    static kit::Image getWallpaper(int screen);

    // Support.
    static bool hasScreenRecordingPermission();
    static std::optional<kit::Rect> getXattrRect(const std::string& path);
    static std::optional<kit::ScreenInfo> screenAt(double x, double y);
    // A loaded image in the capture layout (B, G, R, A premultiplied, packed
    // rows); null for a null image.
    static kit::Image imgNS2CG(const kit::Image& nsi);

    // Temporary capture file: a unique "SCR-<base-36 time>…png" in the
    // private temp folder; empty when the folder cannot be made.
    static std::string temporaryCapturePath();
    // The attribute (and PNG text key) that records the capture rectangle.
    static constexpr const char* kCaptureRectAttribute = "kadrix.capture-rect";
};

// Whether a window-list number is a whole number equal to `want`.
bool isWholeNumber(const std::optional<double>& v, double want);
// Printed form of a window's information (for error reports).
std::string describeWindow(const kit::WindowInfo& w);

}  // namespace capture
