#include "services/MouseListenerView.h"

#include "kit/base/Event.h"

namespace services {

MouseListenerView::MouseListenerView(const kit::Rect& frame) : kit::View(frame) {
    addTrackingArea({},
                    kit::TrackingOption::MouseEnteredAndExited | kit::TrackingOption::ActiveAlways |
                        kit::TrackingOption::InVisibleRect,
                    [this](const kit::Event& e) {
                        if (mouseInside) mouseInside(e.type == kit::EventType::MouseEntered);
                    });
}

}  // namespace services
