#pragma once
// A transparent view that reports the pointer entering (true) and leaving
// (false) it, whether or not its window is the key window.
#include <functional>

#include "kit/ui/View.h"

namespace controls {

class CtrlMouseListener : public kit::View {
public:
    explicit CtrlMouseListener(const kit::Rect& frame = {});

    std::function<void(bool)> mouseInside;

    bool acceptsFirstResponder() const override { return true; }
    void mouseEntered(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void updateTrackingAreas() override;

private:
    int trackingArea_ = 0;
};

}  // namespace controls
