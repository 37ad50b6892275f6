#pragma once
// The contrast read-out of the crop selection: the WCAG 2.0 contrast ratio
// between the lightest and the darkest colour inside it, measured on one
// background worker.
//
// The measurement reads a capture snapshot (its pixel storage is shared, so
// the core may replace its image meanwhile) and the selection as it was when
// the job was submitted. Jobs run one at a time; each submission makes the
// earlier ones stale, so a stale job is skipped before it starts and a stale
// result is dropped: the last submission is the only one that can show.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "imaging/Capture.h"
#include "kit/base/Dispatch.h"
#include "services/Rect.h"

namespace editor {

// WCAG 2.0 relative luminance of 8-bit sRGB components.
double relativeLuminance(int r, int g, int b);

// Sampling distance in crop pixels for a selection of that area: sample
// positions run start + i × step, so about 640,000 pixels are read at most.
double contrastStep(double width, double height);

// The ratio (lightest + 0.05) / (darkest + 0.05) over the selection (crop
// pixels, y up) cut to the crop; none when the capture has no pixels or no
// pixel was sampled (an empty or off-image selection).
std::optional<double> getContrast(const imaging::Capture& capture, const services::Rect& selection);

class ContrastWorker {
public:
    using Deliver = std::function<void(std::optional<double>)>;

    ContrastWorker();
    ~ContrastWorker();
    ContrastWorker(const ContrastWorker&) = delete;
    ContrastWorker& operator=(const ContrastWorker&) = delete;

    // Measures on the worker and hands the value to `deliver` on the main
    // thread, unless another submit or a cancel came first.
    void submit(imaging::Capture capture, services::Rect selection, Deliver deliver);
    // Drops every pending and running job's result.
    void cancel();

private:
    struct State;
    std::shared_ptr<State> state_;
    std::unique_ptr<kit::DispatchQueue> queue_;
};

}  // namespace editor
