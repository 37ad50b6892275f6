#pragma once
// The burst of confetti around the tray icon after a capture that opened no
// window: dots leave the edge of a 16 pt circle around the icon's centre, fly
// outward and fade within a sixth of a second; nothing is drawn over the
// circle, so the icon stays readable. Where a compositing manager runs, the
// dots fly out around the icon in a see-through window that lets every click
// through; elsewhere the tray host owns the only place we can draw, and the
// burst is drawn into the icon itself, frame by frame, at a pace that keeps
// the dots inside it.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "kit/base/Geometry.h"
#include "kit/base/Image.h"
#include "kit/base/Timer.h"

namespace kit {
class Window;
}

namespace shell {

class Confetti {
public:
    Confetti();
    ~Confetti();
    Confetti(const Confetti&) = delete;
    Confetti& operator=(const Confetti&) = delete;

    static constexpr double kDuration = 0.2;  // seconds until the last dot has faded
    static constexpr int kParticles = 24;
    static constexpr double kInnerRadius = 8;     // points: the masked circle
    static constexpr double kIconSpeed = 24;      // points a second, inside the icon
    static constexpr double kOverlaySpeed = 140;  // points a second, around it
    static constexpr double kFade = 6;            // alpha lost a second
    static constexpr double kOverlayMargin = 26;  // points the overlay reaches past the icon

    struct Dot {
        double x, y;  // points from the icon's centre, y down
        double alpha;
    };
    // Where the dots are `t` seconds into the burst (the same for a seed).
    static std::vector<Dot> dotsAt(double t, uint32_t seed, double speed = kIconSpeed);
    // `base` with the dots of time `t` drawn around its centre, light or dark
    // as the icon's ink (`ink`, or `base` itself when null) is.
    static kit::Image frame(const kit::Image& base, double t, uint32_t seed, double speed = kIconSpeed,
                            const kit::Image& ink = {});
    // The see-through window's frame for an icon frame (same space).
    static kit::Rect overlayFrame(const kit::Rect& iconFrame);

    // Shows frames of the burst over `base` through `show` until it is over
    // or stopped.
    void start(const kit::Image& base, std::function<void(const kit::Image&)> show);
    // Shows the burst in a see-through window around the icon (screen space).
    void startOverlay(const kit::Rect& iconFrame, const kit::Image& icon);
    void stop();
    bool isRunning() const { return frames_.isValid(); }

    // The tray pictures drawn here while the icon set has none: the corners
    // of a selection frame around a dot, with a check mark for success.
    static kit::Image drawnTrayIcon(bool success);

private:
    void run(std::function<void(double t)> draw);

    kit::Timer frames_;
    std::unique_ptr<kit::Window> overlay_;
    double started_ = 0;
    uint32_t seed_ = 1;
};

}  // namespace shell
