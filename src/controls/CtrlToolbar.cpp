#include "controls/CtrlToolbar.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "controls/ControlLook.h"
#include "controls/CtrlButtonHover.h"
#include "controls/ImageAssets.h"
#include "controls/ToolbarOverflow.h"
#include "kit/draw/LayerRenderer.h"

namespace controls {

namespace {

// The plain item: a flat square that is filled while on or pressed.
class ToolbarButton : public ButtonBase {
public:
    using ButtonBase::ButtonBase;
    // Template images (the More glyphs) take only their shape from the image
    // and are drawn in the text colour of the look, so they show on dark too.
    bool templateImage = false;

    void redraw() override {
        {
            kit::ScopedTransaction tx;
            bool dark = isDarkAppearance();
            layer()->setCornerRadius(5);
            std::optional<kit::Color> fill;
            if (isHighlighted())
                fill = ControlLook::textColor(dark).withAlpha(0.2);
            else if (state() == 1)
                fill = ControlLook::textColor(dark).withAlpha(0.12);
            layer()->setBackgroundColor(fill);
        }
        // Tool buttons show their icon alone; the title is for menus and tooltips.
        titleLayer_->setHidden(true);
        kit::ScopedTransaction tx;
        imageLayer_->setHidden(image().isNull());
        if (image().isNull()) return;
        kit::Size s = image().pointSize();
        imageLayer_->setFrame({std::round(bounds().midX() - s.width / 2),
                               std::round(bounds().midY() - s.height / 2), s.width, s.height});
        if (!templateImage) {
            imageLayer_->setContents(image());
            imageLayer_->setContentsScale(image().scale());
            return;
        }
        auto shape = kit::Layer::make();
        shape->setContents(image());
        shape->setFrame({0, 0, s.width, s.height});
        imageLayer_->setContents({});
        imageLayer_->setBackgroundColor(ControlLook::textColor(isDarkAppearance()));
        imageLayer_->setMask(shape);
    }
};

}  // namespace

CtrlToolbar::CtrlToolbar(const kit::Rect& frame) : kit::View(frame) {
    CtrlToolbar::updateTrackingAreas();
}

std::shared_ptr<ButtonBase> CtrlToolbar::makeItemButton(const std::string& icon, const std::string& title) {
    std::shared_ptr<ButtonBase> button;
    if (isHoverStyle) {
        auto hover = std::make_shared<CtrlButtonHover>();
        // A missing image is no image: the button keeps what it shows.
        auto named = [](const std::string& name) {
            kit::Image img = ImageAssets::named(name);
            return img.isNull() ? std::nullopt : std::optional<kit::Image>(img);
        };
        hover->normalImage = named(icon);
        hover->hoverImage = named(icon + "-hl");
        button = hover;
    } else {
        button = std::make_shared<ToolbarButton>();
    }
    button->buttonType = selectable ? ButtonBase::Type::pushOnPushOff : ButtonBase::Type::momentaryPushIn;
    button->setTitle(title);
    button->setImage(ImageAssets::named(icon));
    button->action = [this](ButtonBase& sender) { theClick(sender); };
    addSubview(button);
    button->setFrame({totalWidth, std::round((bounds().height() - itemHeight) / 2), itemWidth, itemHeight});
    totalWidth += itemWidth + padding;
    return button;
}

void CtrlToolbar::layoutItems(const std::vector<std::pair<std::string, std::string>>& items) {
    for (const auto& [title, icon] : items) {
        auto button = makeItemButton(icon, title);
        ToolbarKey key = toolbarKeyEquivalent(title);
        auto item = kit::MenuItem::make(toolbarMenuTitle(button->title()));
        item->setKeyEquivalent(key.key, key.command ? kit::ModifierFlag::Command : 0);
        item->setImage(ImageAssets::named(icon));
        item->setAction([this](kit::MenuItem& sender) { theMenu(sender); });
        backupMenu->addItem(item);
    }
    btnMore = makeItemButton("20-more", "More tools");
    if (auto* plain = dynamic_cast<ToolbarButton*>(btnMore.get())) {
        plain->templateImage = true;
        plain->redraw();
    }
    btnMore->setHidden(true);
    overflowPass();
}

std::vector<ButtonBase*> CtrlToolbar::itemButtons() const {
    std::vector<ButtonBase*> out;
    for (const auto& v : subviews())
        if (auto* b = dynamic_cast<ButtonBase*>(v.get()); b && b != btnMore.get()) out.push_back(b);
    return out;
}

void CtrlToolbar::showPlainMore() {
    btnMore->setImage(ImageAssets::named("20-more"));
    if (selectable) btnMore->setState(0);
}

void CtrlToolbar::showCompositeIcon(const ButtonBase& selected) {
    auto root = kit::Layer::make();
    root->setBounds({0, 0, 24, 20});
    auto icon = kit::Layer::make();
    icon->setContents(selected.image());
    icon->setFrame({-2, 0, 20, 20});
    auto overlay = kit::Layer::make();
    overlay->setContents(ImageAssets::named("20-more-overlay"));
    overlay->setFrame({4, 0, 20, 20});
    root->addSublayer(icon);
    root->addSublayer(overlay);
    btnMore->setImage(kit::renderToImage(*root, 2.0));
    if (selectable) btnMore->setState(1);
}

void CtrlToolbar::layout() {
    // Items stay centred vertically in the bar.
    for (const auto& v : subviews())
        v->setFrameOrigin({v->frame().x(), std::round((bounds().height() - itemHeight) / 2)});
    overflowPass();
}

void CtrlToolbar::overflowPass() {
    if (!btnMore) return;
    auto plan = toolbarOverflow(itemWidth, padding, maxCapacity, bounds().width(), totalWidth);
    btnMore->setHidden(!plan.moreVisible);
    if (plan.moreVisible) {
        btnMore->setFrameOrigin({plan.moreLeading, btnMore->frame().y()});
    }
    layer()->setMasksToBounds(true);
    btnMore->setState(0);
    for (ButtonBase* b : itemButtons()) {
        bool hide = b->frame().maxX() > plan.limit;
        if (b->state() == 1 && hide != b->isHidden()) {
            if (hide)
                showCompositeIcon(*b);
            else
                showPlainMore();
        }
        b->setHidden(hide);
        if (selectable && b->state() == 1 && hide) btnMore->setState(1);
        // The menu lists only the items that do not show in the bar.
        if (auto* item = backupMenu->itemWithTitle(toolbarMenuTitle(b->title()))) item->setHidden(!hide);
    }
}

void CtrlToolbar::select(const std::string& id) {
    if (!selectable) return;
    std::string word = asciiLowered(id);
    for (ButtonBase* b : itemButtons()) {
        bool match = asciiLowered(b->title()).find(word) != std::string::npos;
        if (match && !b->isHidden()) showPlainMore();
        if (match && b->isHidden()) showCompositeIcon(*b);
        b->setState(match ? 1 : 0);
    }
}

void CtrlToolbar::flash() {
    std::vector<std::weak_ptr<kit::View>> lit;
    for (const auto& v : subviews()) {
        auto* b = dynamic_cast<ButtonBase*>(v.get());
        if (!b || b->state() != 1) continue;
        b->setState(0);
        b->setState(1);
        b->setHighlighted(true);
        lit.push_back(v);
    }
    flashTimer_ = kit::Timer::once(0.01, [lit] {
        for (const auto& w : lit)
            if (auto v = w.lock()) static_cast<ButtonBase&>(*v).setHighlighted(false);
    });
}

void CtrlToolbar::theClick(ButtonBase& sender) {
    if (&sender == btnMore.get()) {
        // The menu's top-left corner goes 41 points in from the button's right
        // edge and 8 points below its bottom edge (the platform button's
        // flipped (w - 41, h + 8)), so the menu opens under the bar.
        kit::Rect f = btnMore->bounds();
        backupMenu->popUp(*btnMore, {f.width() - 41, f.minY() - 8});
        return;
    }
    if (selectable) {
        for (ButtonBase* b : itemButtons())
            if (b != &sender) b->setState(0);
        // The More button is one of the others: it no longer stands for a selection.
        btnMore->setState(0);
    }
    if (callback) callback(&sender, sender.title());
}

void CtrlToolbar::theMenu(kit::MenuItem& sender) {
    if (selectable) select("nothing");
    if (callback) callback(nullptr, sender.title());
}

void CtrlToolbar::updateTrackingAreas() {
    if (trackingArea_) removeTrackingArea(trackingArea_);
    trackingArea_ = addTrackingArea(bounds(), kit::TrackingOption::MouseEnteredAndExited |
                                                  kit::TrackingOption::MouseMoved |
                                                  kit::TrackingOption::ActiveInKeyWindow);
}

void CtrlToolbar::mouseMoved(const kit::Event& e) {
    if (!tooltipCallback) return;
    kit::Point p = convertFrom(e.locationInWindow, nullptr);
    for (const auto& v : subviews()) {
        if (v->isHidden() || !v->frame().contains(p)) continue;
        auto* b = dynamic_cast<ButtonBase*>(v.get());
        kit::Rect inWindow = convert(v->frame(), nullptr);
        tooltipCallback(b ? b->title() : std::string(), static_cast<int>(std::round(inWindow.midX())));
    }
}

void CtrlToolbar::mouseExited(const kit::Event&) {
    if (tooltipCallbackHide) tooltipCallbackHide();
}

}  // namespace controls
