#pragma once
// A flat push button drawn with layers: a corner radius, a border and a fill
// for each mouse state ("normal", "hover", "pressed"), and its title in an
// optional text colour. It follows the pointer itself; the action runs when
// the button is released over it. Used by the toast and the announcement banner.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/draw/TextLayer.h"
#include "kit/ui/View.h"

namespace services {

class StateButton : public kit::View {
public:
    explicit StateButton(const kit::Rect& frame = {});
    static std::shared_ptr<StateButton> make(const kit::Rect& frame = {}) {
        return std::make_shared<StateButton>(frame);
    }

    double cornerRadius = 4.0;
    kit::Color backgroundColor = kit::Color::black().withAlpha(0.06);
    kit::Color backgroundColorHover = kit::Color::black().withAlpha(0.06);
    kit::Color backgroundColorPressed = kit::Color::black().withAlpha(0.1);
    kit::Color borderColor = kit::Color::black().withAlpha(0.2);
    double borderWidth = 0;
    std::optional<kit::Color> textColor;
    std::string mouseState = "normal";
    std::function<void()> action;

    const std::string& title() const { return title_; }
    void setTitle(std::string title);
    void setFontSize(double size);
    // The size that fits the title: its text size plus 15 × 8 points.
    kit::Size intrinsicSize() const;

    // Applies the look of the current mouse state after fields changed.
    void updateAppearance();
    // Runs the action as a click would.
    void performClick();

    void mouseDown(const kit::Event& e) override;
    void mouseUp(const kit::Event& e) override;
    void mouseDragged(const kit::Event& e) override;
    void layout() override;

private:
    void trackPointer(const kit::Event& e);
    std::shared_ptr<kit::TextLayer> label_;
    std::string title_;
    bool tracking_ = false;
};

}  // namespace services
