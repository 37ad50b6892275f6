#include "shell/PrefPane.h"

#include <algorithm>

#include "kit/ui/Control.h"
#include "services/Notifier.h"
#include "services/Telemetry.h"

namespace shell {

namespace {

constexpr double kLineGap = 10;

kit::Size naturalSize(kit::View& view) {
    auto size = view.frame().size;
    if (auto* control = dynamic_cast<kit::Control*>(&view)) {
        auto fit = control->fittingSize();
        if (size.width <= 0) size.width = fit.width;
        if (size.height <= 0) size.height = fit.height;
    }
    return size;
}

}  // namespace

PrefPane::PrefPane() : view_(kit::View::make({0, 0, kWidth, kHeight})) {}

double PrefPane::line(const std::string& title, const std::vector<std::shared_ptr<kit::View>>& views,
                      double x) {
    double height = 0;
    std::vector<kit::Size> sizes;
    for (auto& v : views) {
        sizes.push_back(naturalSize(*v));
        height = std::max(height, sizes.back().height);
    }
    std::shared_ptr<kit::Label> label;
    if (!title.empty()) {
        label = kit::Label::make(title);
        label->setAlignment(kit::TextAlignment::Right);
        height = std::max(height, label->fittingSize().height);
    }
    double top = kHeight - y_;
    if (label) {
        double h = label->fittingSize().height;
        label->setFrame({12, top - (height + h) / 2, kTitleColumn - 20, h});
        view_->addSubview(label);
    }
    for (size_t i = 0; i < views.size(); ++i) {
        views[i]->setFrame({x, top - (height + sizes[i].height) / 2, sizes[i].width, sizes[i].height});
        view_->addSubview(views[i]);
        x += sizes[i].width + 10;
    }
    y_ += height + kLineGap;
    return height;
}

std::shared_ptr<kit::View> PrefPane::group(const std::vector<std::shared_ptr<kit::View>>& views,
                                           double spacing) {
    auto box = kit::View::make();
    double x = 0, height = 0;
    std::vector<kit::Size> sizes;
    for (auto& v : views) {
        sizes.push_back(naturalSize(*v));
        height = std::max(height, sizes.back().height);
    }
    for (size_t i = 0; i < views.size(); ++i) {
        views[i]->setFrame({x, (height - sizes[i].height) / 2, sizes[i].width, sizes[i].height});
        box->addSubview(views[i]);
        x += sizes[i].width + spacing;
    }
    box->setFrameSize({std::max(0.0, x - spacing), height});
    return box;
}

namespace {
std::shared_ptr<kit::Button> button(const std::string& title, std::function<void(kit::Button&)> action,
                                    kit::Button::Type type) {
    return kit::Button::make(
        title, [action = std::move(action)](kit::Control& c) { action(static_cast<kit::Button&>(c)); }, type);
}
}  // namespace

std::shared_ptr<kit::Button> PrefPane::checkbox(const std::string& title,
                                                std::function<void(kit::Button&)> action) {
    return button(title, std::move(action), kit::Button::Type::Checkbox);
}

std::shared_ptr<kit::Button> PrefPane::radio(const std::string& title,
                                             std::function<void(kit::Button&)> action) {
    return button(title, std::move(action), kit::Button::Type::Radio);
}

std::shared_ptr<kit::Button> PrefPane::helpButton(const std::string& topic, const std::string& text) {
    auto b = button(
        "?", [topic, text](kit::Button& sender) { showInlineHelp(sender, topic, text); },
        kit::Button::Type::MomentaryPush);
    b->setToolTip("Help");
    auto size = b->fittingSize();
    b->setFrameSize({std::max(size.height, 26.0), size.height});
    return b;
}

void PrefPane::text(const std::string& text) {
    y_ -= kLineGap / 2;
    line("", {kit::Label::make(text)}, 24);
}

std::string lowered(std::string text) {
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

void showInlineHelp(kit::View& sender, const std::string& topic, const std::string& text) {
    services::Notifier::shared().popover(sender, "", text);
    services::Telemetry::shared().event("inlinehelp", {{"method", topic}});
}

}  // namespace shell
