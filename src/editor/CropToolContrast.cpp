#include "editor/CropToolContrast.h"

#include <array>
#include <cmath>

#include "imaging/ColorFormats.h"
#include "imaging/PixelMap.h"
#include "kit/base/Dispatch.h"
#include "services/NamedTimers.h"

namespace editor {

namespace {

double linearised(int c) {
    const double v = c / 255.0;
    return v < 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// One linearised value per 8-bit component, so a sample costs three look-ups.
const std::array<double, 256>& linearTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int c = 0; c < 256; ++c) t[size_t(c)] = linearised(c);
        return t;
    }();
    return table;
}

double tableLuminance(int r, int g, int b) {
    const auto& t = linearTable();
    return 0.2126 * t[size_t(r)] + 0.7152 * t[size_t(g)] + 0.0722 * t[size_t(b)];
}

struct Extremes {
    imaging::RGB8 dark{255, 255, 255};
    double darkL = 1.0;
    imaging::RGB8 light{0, 0, 0};
    double lightL = 0.0;
    bool sampled = false;

    void take(imaging::RGB8 c) {
        const double l = tableLuminance(c.r, c.g, c.b);
        sampled = true;
        // Strict comparisons: among equal luminances the first sample stays.
        if (l < darkL) dark = c, darkL = l;
        if (l > lightL) light = c, lightL = l;
    }
};

double srgbLuminance(const imaging::Capture& capture, imaging::RGB8 c) {
    const kit::Color s = imaging::convertColorSpaces(capture, c.r, c.g, c.b).color;
    auto byte = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return relativeLuminance(byte(s.r), byte(s.g), byte(s.b));
}

}  // namespace

double relativeLuminance(int r, int g, int b) {
    return tableLuminance(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

double contrastStep(double width, double height) {
    return std::max(1.0, std::sqrt(std::abs(width * height) / 640000.0));
}

std::optional<double> getContrast(const imaging::Capture& capture, const services::Rect& selection) {
    imaging::PixelMap map(capture);
    if (!map.hasPixels()) return std::nullopt;
    services::Rect s = selection;
    s.intersect({0, 0, capture.crop.width(), capture.crop.height()});
    const double step = contrastStep(s.width, s.height);

    services::timerStart("getContrast");
    Extremes ex;
    const double xEnd = s.x1 + s.width, yEnd = s.y1 + s.height;
    for (double x = s.x1, i = 0; x < xEnd; x = s.x1 + (++i) * step) {
        for (double y = s.y1, j = 0; y < yEnd; y = s.y1 + (++j) * step) {
            if (const uint8_t* p = map.at((long long)x, (long long)y)) ex.take(imaging::PixelMap::rgb(p));
        }
    }
    services::timerLog("getContrast");
    if (!ex.sampled) return std::nullopt;
    return (srgbLuminance(capture, ex.light) + 0.05) / (srgbLuminance(capture, ex.dark) + 0.05);
}

struct ContrastWorker::State {
    std::atomic<uint64_t> generation{0};
};

ContrastWorker::ContrastWorker()
    : state_(std::make_shared<State>()), queue_(std::make_unique<kit::DispatchQueue>("QueueUserInitiated")) {}

ContrastWorker::~ContrastWorker() {
    // The queue finishes what it holds; those jobs see they are stale.
    cancel();
}

void ContrastWorker::cancel() {
    ++state_->generation;
}

void ContrastWorker::submit(imaging::Capture capture, services::Rect selection, Deliver deliver) {
    const uint64_t generation = ++state_->generation;
    queue_->async([state = state_, generation, capture = std::move(capture), selection,
                   deliver = std::move(deliver)]() mutable {
        if (state->generation.load() != generation) return;
        std::optional<double> value = getContrast(capture, selection);
        kit::dispatchMain([state, generation, value, deliver = std::move(deliver)] {
            if (state->generation.load() == generation) deliver(value);
        });
    });
}

}  // namespace editor
