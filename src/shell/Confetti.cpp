#include "shell/Confetti.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

#include "kit/ui/ImageView.h"
#include "kit/ui/Window.h"

namespace shell {

namespace {

// Mixes `ink` over a pixel with the given coverage.
void blend(kit::Image& img, int x, int y, kit::PixelBGRA ink, double coverage) {
    if (!img.contains(x, y) || coverage <= 0) return;
    auto p = img.pixel(x, y);
    double a = std::clamp(coverage, 0.0, 1.0) * ink.a / 255.0;
    auto mix = [a](uint8_t under, uint8_t over) { return uint8_t(std::lround(under * (1 - a) + over * a)); };
    // Premultiplied pixels: the ink is opaque, so its colour scales with a.
    p.b = mix(p.b, ink.b), p.g = mix(p.g, ink.g), p.r = mix(p.r, ink.r), p.a = mix(p.a, 255);
    img.setPixel(x, y, p);
}

// Whether the icon's own ink is light (so dots of the other tone stand out).
bool lightInk(const kit::Image& img) {
    double sum = 0, weight = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            auto p = img.pixel(x, y);
            if (p.a < 128) continue;
            sum += (p.r + p.g + p.b) / (3.0 * p.a);
            weight += 1;
        }
    return weight == 0 || sum / weight > 0.5;
}

}  // namespace

Confetti::Confetti() = default;
Confetti::~Confetti() = default;

std::vector<Confetti::Dot> Confetti::dotsAt(double t, uint32_t seed, double speedPerSecond) {
    std::vector<Dot> dots;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> angle(0, 2 * std::numbers::pi), speed(0.9, 1.1);
    for (int i = 0; i < kParticles; ++i) {
        double a = angle(rng), v = speedPerSecond * speed(rng);
        double alpha = 1 - kFade * t;
        if (t < 0 || alpha <= 0) continue;
        double r = kInnerRadius + v * t;
        dots.push_back({r * std::cos(a), r * std::sin(a), alpha});
    }
    return dots;
}

kit::Image Confetti::frame(const kit::Image& base, double t, uint32_t seed, double speed,
                           const kit::Image& iconInk) {
    kit::Image img = base.copy();
    if (img.isNull()) return img;
    bool light = lightInk(iconInk.isNull() ? base : iconInk);
    kit::PixelBGRA ink = light ? kit::PixelBGRA{255, 255, 255, 255} : kit::PixelBGRA{0, 0, 0, 255};
    double s = img.scale(), cx = img.width() / 2.0, cy = img.height() / 2.0;
    double radius = 0.9 * s;  // a dot of about 1.8 pt
    for (auto& d : dotsAt(t, seed, speed)) {
        double px = cx + d.x * s, py = cy + d.y * s;
        for (int y = int(py - radius - 1); y <= int(py + radius + 1); ++y)
            for (int x = int(px - radius - 1); x <= int(px + radius + 1); ++x) {
                double dx = x + 0.5 - px, dy = y + 0.5 - py;
                // Never over the circle around the icon's centre.
                if (std::hypot(x + 0.5 - cx, y + 0.5 - cy) < kInnerRadius * s) continue;
                double coverage = std::clamp(radius + 0.5 - std::hypot(dx, dy), 0.0, 1.0);
                blend(img, x, y, ink, coverage * d.alpha);
            }
    }
    return img;
}

void Confetti::run(std::function<void(double t)> draw) {
    started_ = kit::monotonicNow();
    ++seed_;
    auto tick = [this, draw = std::move(draw)] {
        double t = kit::monotonicNow() - started_;
        draw(t);
        if (t >= kDuration) stop();
    };
    tick();
    frames_ = kit::Timer::repeating(1.0 / 30, tick);
}

void Confetti::start(const kit::Image& base, std::function<void(const kit::Image&)> show) {
    run([this, base, show = std::move(show)](double t) { show(frame(base, t, seed_)); });
}

kit::Rect Confetti::overlayFrame(const kit::Rect& iconFrame) {
    return {iconFrame.x() - kOverlayMargin, iconFrame.y() - kOverlayMargin,
            iconFrame.width() + 2 * kOverlayMargin, iconFrame.height() + 2 * kOverlayMargin};
}

void Confetti::startOverlay(const kit::Rect& iconFrame, const kit::Image& icon) {
    kit::Rect area = overlayFrame(iconFrame);
    overlay_ = std::make_unique<kit::Window>(area, kit::WindowStyle::Borderless);
    overlay_->setOpaque(false);
    overlay_->setBackgroundColor(kit::Color::clear());
    overlay_->setIgnoresMouseEvents(true);
    overlay_->setLevel(kit::WindowLevel::PopUp);
    auto view = std::make_shared<kit::ImageView>(kit::Rect{0, 0, area.width(), area.height()});
    view->setScaling(kit::ImageView::Scaling::AxesIndependently);
    overlay_->setContentView(view);
    overlay_->orderFront();
    double scale = std::max(1.0, overlay_->backingScaleFactor());
    kit::Image clear(int(std::lround(area.width() * scale)), int(std::lround(area.height() * scale)), scale);
    clear.fill(kit::Color::clear());
    run([this, view, clear, icon](double t) { view->setImage(frame(clear, t, seed_, kOverlaySpeed, icon)); });
}

void Confetti::stop() {
    frames_.invalidate();
    overlay_.reset();
}

kit::Image Confetti::drawnTrayIcon(bool success) {
    const int n = 44;
    kit::Image img(n, n, 2.0);
    const kit::PixelBGRA ink{235, 235, 235, 255};
    auto fill = [&](int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) img.setPixel(x, y, ink);
    };
    const int m = 4, len = 12, t = 4;
    fill(m, m, len, t), fill(m, m, t, len);                                      // top-left
    fill(n - m - len, m, len, t), fill(n - m - t, m, t, len);                    // top-right
    fill(m, n - m - t, len, t), fill(m, n - m - len, t, len);                    // bottom-left
    fill(n - m - len, n - m - t, len, t), fill(n - m - t, n - m - len, t, len);  // bottom-right
    if (!success) {
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                if (std::hypot(x - n / 2.0 + 0.5, y - n / 2.0 + 0.5) <= 6) img.setPixel(x, y, ink);
        return img;
    }
    // A check mark: a short stroke down-right, then a long one up-right.
    const kit::PixelBGRA green{80, 200, 90, 255};
    auto stroke = [&](double x0, double y0, double x1, double y1) {
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                double px = x + 0.5, py = y + 0.5, dx = x1 - x0, dy = y1 - y0;
                double u = std::clamp(((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
                if (std::hypot(px - (x0 + u * dx), py - (y0 + u * dy)) <= 2.5) img.setPixel(x, y, green);
            }
    };
    stroke(14, 23, 20, 29);
    stroke(20, 29, 31, 15);
    return img;
}

}  // namespace shell
