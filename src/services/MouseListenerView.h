#pragma once
#include <functional>
#include <memory>

#include "kit/ui/View.h"

namespace services {

// A transparent view that tells its closure when the pointer enters (true)
// and leaves (false) it, whether or not its window has the keyboard.
class MouseListenerView : public kit::View {
public:
    explicit MouseListenerView(const kit::Rect& frame = {});
    std::function<void(bool inside)> mouseInside;
};

}  // namespace services
