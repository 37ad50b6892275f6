#pragma once
// The burst of confetti around the tray icon after a capture that opened no
// window. The tray host owns the icon's place on screen, so the burst is
// drawn into the icon itself, frame by frame: dots leave the edge of a 16 pt
// circle around the icon's centre, fly outward and fade within a sixth of a
// second; nothing is drawn over the circle, so the icon stays readable.
#include <cstdint>
#include <functional>
#include <vector>

#include "kit/Image.h"
#include "kit/Timer.h"

namespace shell {

class Confetti {
public:
    static constexpr double kDuration = 0.2;  // seconds until the last dot has faded
    static constexpr int kParticles = 24;
    static constexpr double kInnerRadius = 8;  // points: the masked circle
    static constexpr double kSpeed = 24;       // points a second
    static constexpr double kFade = 6;         // alpha lost a second

    struct Dot {
        double x, y;  // points from the icon's centre, y down
        double alpha;
    };
    // Where the dots are `t` seconds into the burst (the same for a seed).
    static std::vector<Dot> dotsAt(double t, uint32_t seed);
    // `base` with the dots of time `t` drawn in white (or black on a light icon).
    static kit::Image frame(const kit::Image& base, double t, uint32_t seed);

    // Shows frames of the burst over `base` through `show` until it is over
    // or stopped.
    void start(const kit::Image& base, std::function<void(const kit::Image&)> show);
    void stop();
    bool isRunning() const { return frames_.isValid(); }

    // The tray pictures drawn here while the icon set has none: the corners
    // of a selection frame around a dot, with a check mark for success.
    static kit::Image drawnTrayIcon(bool success);

private:
    kit::Timer frames_;
    double started_ = 0;
    uint32_t seed_ = 1;
};

}  // namespace shell
