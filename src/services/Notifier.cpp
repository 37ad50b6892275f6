#include "services/Notifier.h"

#include <algorithm>
#include <cmath>

#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/draw/Path.h"
#include "kit/draw/TextLayer.h"
#include "kit/draw/TextMeasure.h"
#include "kit/ui/Application.h"
#include "kit/ui/ImageView.h"
#include "services/AppHooks.h"
#include "services/Console.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/SystemNotifications.h"
#include "services/Telemetry.h"

namespace services {

namespace {

const kit::Rect kPanelFrame{Notifier::kInsetLeft, Notifier::kInsetBottom,
                            Notifier::kWindowWidth - Notifier::kInsetLeft - Notifier::kInsetRight,
                            Notifier::kWindowHeight - Notifier::kInsetTop - Notifier::kInsetBottom};
const double kGrownMargin = 10;  // above and below the text of a panel grown for it
const kit::Color kDarkGrey{0.17, 0.18, 0.19, 1};
const kit::Color kLogoColor = kit::Color::rgb(244, 71, 35);
const kit::Color kWarningColor = kit::Color::rgb(245, 166, 35);

kit::Rect grown(const kit::Rect& r, double by) {
    return {r.x() - by, r.y() - by, r.width() + 2 * by, r.height() + 2 * by};
}

// Closes the popover when it loses the keyboard, as a transient popover does.
class TransientCloser : public kit::WindowDelegate {
public:
    void windowDidResignKey(kit::Window& window) override { window.orderOut(); }
};

}  // namespace

Notifier& Notifier::shared() {
    static Notifier* instance = new Notifier(Settings::shared(), Telemetry::shared(), desktopNotifications());
    return *instance;
}

Notifier::Notifier(Settings& settings, Telemetry& telemetry, std::shared_ptr<SystemNotifications> system)
    : settings_(settings), telemetry_(telemetry), system_(std::move(system)), panelFrame_(kPanelFrame) {}

Notifier::~Notifier() = default;

void Notifier::notify(const std::string& title, const std::string& message, std::optional<kit::Color> color,
                      std::optional<std::string> button, std::optional<double> duration,
                      std::function<void()> action) {
    // Reply handlers of network requests may report from their own thread;
    // the toast lives on the main thread.
    if (!kit::isMainThread()) {
        kit::dispatchMain([=, this] { notify(title, message, color, button, duration, action); });
        return;
    }
    notificationAction = action;
    std::string type = settings_.notificationType();
    if (type == "custom") {
        showCustom(title, message, color, button, false, duration);
    } else if (type == "system") {
        showSystem(title, message, color, button, false, action);
    }
}

void Notifier::warning(const std::string& title, const std::string& message) {
    if (!kit::isMainThread()) {
        kit::dispatchMain([=, this] { warning(title, message); });
        return;
    }
    std::string type = settings_.notificationType();
    if (type == "custom") {
        showCustom(title, message, std::nullopt, std::nullopt, true, kWarningDuration);
        kit::Application::beep();
    } else if (type == "system") {
        showSystem(title, message, std::nullopt, std::nullopt, true, {});
    }
}

void Notifier::showSystem(const std::string& title, const std::string& message,
                          std::optional<kit::Color> color, std::optional<std::string> button, bool isWarning,
                          std::function<void()> action) {
    std::shared_ptr<SystemNotifications> system = system_;
    system->requestAuthorization(isWarning, [=, this](bool granted) {
        if (granted) {
            // Each notification keeps the action of its own notice, so a click
            // on an older one never runs a newer notice's action.
            system->post(makeUUID(), title, message, isWarning, [action] {
                if (action) action();
                consoleLine("background notification");
            });
            return;
        }
        kit::dispatchMain([=, this] {
            // Said in the log: a notice that went to our own panel is not
            // among the desktop's.
            consoleLine("The desktop's notification service did not answer; the notice \"" + title +
                        "\" shows in Kadrix's own panel");
            if (isWarning) {
                showCustom(title, message, std::nullopt, std::nullopt, false, kDefaultDuration);
            } else {
                showCustom(title,
                           message + "\n\nP.S. Kadrix doesn't have permission to show System Notifications",
                           color, button, false, kDefaultDuration);
            }
            telemetry_.event("alert-fallback", {{"title", title}});
        });
    });
}

void Notifier::buildWindow() {
    winNotifier_ = std::make_unique<kit::Window>(kit::Rect{0, 0, kWindowWidth, kWindowHeight},
                                                 kit::WindowStyle::Borderless);
    kit::Window& w = *winNotifier_;
    w.setSticky(true);
    w.setLevel(kit::WindowLevel::PopUp);
    w.setOpaque(false);
    w.setHasShadow(false);
    w.setBackgroundColor(kit::Color::clear());
    // Without a compositor what is clear shows black (placeWindow() cuts the
    // window to the panel's outline then).
    seeThrough_ = kit::Application::hasCompositor();
    auto content = kit::View::make({0, 0, kWindowWidth, kWindowHeight});
    content->layer()->setCornerRadius(16.5);
    w.setContentView(content);

    // The drop shadow under the panel.
    lshape_ = kit::ShapeLayer::make();
    lshape_->setPath(kit::Path::roundedRect(kPanelFrame, 12, 12));
    lshape_->setShadowColor(kit::Color::black());
    lshape_->setShadowOffset({0, -10});
    lshape_->setShadowRadius(20);
    lshape_->setShadowOpacity(0.45);
    lshape_->setHidden(!seeThrough_);
    content->layer()->addSublayer(lshape_);

    // The panel: a hover area over it, the swatch, the icon, title, message and button.
    panel_ = kit::View::make(kPanelFrame);
    panel_->layer()->setCornerRadius(16);
    panel_->layer()->setMasksToBounds(true);
    panel_->layer()->setBorderColor(kit::Color::white(1));
    panel_->layer()->setBorderWidth(0.5);
    content->addSubview(panel_);

    listener_ = std::make_shared<MouseListenerView>(panel_->bounds());
    listener_->layer()->setBackgroundColor(kit::Color::white(1, 0.65));
    listener_->mouseInside = [this](bool inside) {
        if (inside)
            timerHide_.invalidate();
        else
            scheduleHide(kHideAfterPointerLeaves);
    };
    panel_->addSubview(listener_);

    customBox_ = kit::View::make({14, 14, 24, 24});
    customBox_->layer()->setCornerRadius(6);
    panel_->addSubview(customBox_);
    customImage_ = kit::View::make({14, 14, 24, 24});
    panel_->addSubview(customImage_);
    customHeader_ = LabelView::make({48, 26, 200, 18}, kit::Font::system(13, kit::FontWeight::Semibold));
    panel_->addSubview(customHeader_);
    customMessage_ = LabelView::make({48, 8, 200, 17}, kit::Font::system(12));
    panel_->addSubview(customMessage_);
    customButton_ = StateButton::make({280, 13, 68, 26});
    customButton_->cornerRadius = 8;
    customButton_->borderColor = kit::Color::clear();
    customButton_->setFontSize(12);
    customButton_->action = [this] { customBtnClick(); };
    panel_->addSubview(customButton_);
    setIcon(false);
}

void Notifier::setIcon(bool warning) {
    kit::LayerPtr root = customImage_->layer();
    root->removeAllSublayers();
    auto mark = kit::TextLayer::make();
    mark->setFont(kit::Font::system(15, kit::FontWeight::Bold));
    mark->setAlignmentMode(kit::TextAlignment::Center);
    mark->setForegroundColor(kit::Color::white(1));
    mark->setFrame({0, 3, 24, 18});
    if (warning) {
        auto triangle = kit::ShapeLayer::make();
        kit::Path path;
        path.moveTo({12, 22});
        path.lineTo({23, 2});
        path.lineTo({1, 2});
        path.closeSubpath();
        triangle->setPath(path);
        triangle->setFillColor(kWarningColor);
        root->addSublayer(triangle);
        mark->setString("!");
        mark->setFrame({0, 1, 24, 18});
    } else {
        auto badge = kit::ShapeLayer::make();
        badge->setPath(kit::Path::roundedRect({0, 0, 24, 24}, 6, 6));
        badge->setFillColor(kLogoColor);
        root->addSublayer(badge);
        mark->setString("K");
    }
    root->addSublayer(mark);
    customImage_->setNeedsDisplay();
}

namespace {

// The text as the label shows it: line breaks and runs of blanks as one blank.
std::string toastOneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        const bool blank = c == '\n' || c == '\r' || c == ' ';
        if (!blank)
            line.push_back(c);
        else if (!line.empty() && line.back() != ' ')
            line.push_back(' ');
    }
    return line;
}

}  // namespace

Notifier::TextFit Notifier::fitText(const std::string& title, const std::string& message, double width,
                                    double height, double maxHeight) {
    const std::string titleLine = toastOneLine(title), messageLine = toastOneLine(message);
    TextFit fit;
    const bool pathOrLink = messageLine.starts_with('/') || messageLine.find("://") != std::string::npos;
    fit.messageCut = pathOrLink ? kit::TextTruncation::Middle : kit::TextTruncation::End;
    // Half a point a step, so a text takes the largest size it fits at.
    for (int step = 0; step <= 4; ++step) {
        fit.titleSize = 13 - 0.5 * step;
        fit.messageSize = 12 - 0.5 * step;
        const kit::Size t =
            kit::measureText(titleLine, kit::Font::system(fit.titleSize, kit::FontWeight::Semibold));
        const kit::Size oneLine = kit::measureText(messageLine, kit::Font::system(fit.messageSize));
        const kit::Size wrapped = kit::measureText(messageLine, kit::Font::system(fit.messageSize), width);
        fit.titleHeight = std::ceil(t.height);
        fit.messageHeight = std::ceil(wrapped.height);
        fit.wraps = wrapped.height > oneLine.height + 0.5;
        const bool titleFits = t.width <= width;
        // A path or a link on lines of its own would break anywhere: it keeps one line.
        const bool messageFits = !(pathOrLink && fit.wraps) && wrapped.width <= width;
        if (titleFits && messageFits && fit.titleHeight + fit.messageHeight <= height) return fit;
    }
    if (!pathOrLink && maxHeight > height) {
        // The whole message, wrapped at word boundaries, at the largest
        // fonts that keep the title on its line, in a text area grown to
        // hold it (cut at its end past `maxHeight`).
        kit::Size t;
        for (int step = 0; step <= 4; ++step) {
            fit.titleSize = 13 - 0.5 * step;
            fit.messageSize = 12 - 0.5 * step;
            t = kit::measureText(titleLine, kit::Font::system(fit.titleSize, kit::FontWeight::Semibold));
            if (t.width <= width) break;
        }
        fit.titleHeight = std::ceil(t.height);
        fit.messageHeight =
            std::ceil(kit::measureText(messageLine, kit::Font::system(fit.messageSize), width).height);
        fit.wraps = true;
        fit.cut = t.width > width || fit.titleHeight + fit.messageHeight > maxHeight;
        fit.messageHeight = std::min(fit.messageHeight, maxHeight - fit.titleHeight);
        return fit;
    }
    fit.cut = true;
    fit.wraps = false;
    fit.messageHeight = std::ceil(kit::measureText(messageLine, kit::Font::system(fit.messageSize)).height);
    return fit;
}

void Notifier::layoutPanel(const kit::Display& screen) {
    const double right = kPanelFrame.width() - 12;
    const double buttonWidth = std::max(customButton_->intrinsicSize().width + 8, 56.0);
    const double textRight = customButton_->isHidden() ? right : right - buttonWidth - 8;
    const double width = textRight - kTextLeft;
    const double room = kPanelFrame.height() - 2 * kTextMargin;
    // A longer message makes the panel taller, downwards from its place,
    // as far as the screen reaches.
    const double most =
        screen.frame.maxY() - topInset(screen) - kInsetTop - screen.visibleFrame.minY() - 2 * kGrownMargin;
    const TextFit fit = fitText(customHeader_->text(), customMessage_->text(), width, room, most);
    const double block = std::min(std::max(room, most), fit.titleHeight + fit.messageHeight);
    const double height = block > room ? block + 2 * kGrownMargin : kPanelFrame.height();
    panelFrame_ = {kPanelFrame.x(), kPanelFrame.y(), kPanelFrame.width(), height};
    panel_->setFrame(panelFrame_);
    listener_->setFrame(panel_->bounds());
    // The icon and the button keep to the panel's top row.
    customBox_->setFrameOrigin({14, height - 38});
    customImage_->setFrameOrigin({14, height - 38});
    if (!customButton_->isHidden())
        customButton_->setFrame({right - buttonWidth, height - 39, buttonWidth, 26});

    customHeader_->setFont(kit::Font::system(fit.titleSize, kit::FontWeight::Semibold));
    customMessage_->setFont(kit::Font::system(fit.messageSize));
    customMessage_->setWrapped(fit.wraps);
    customMessage_->setTruncation(fit.messageCut);
    // Title over message, the pair centred in the panel's height.
    const double top = std::round(height / 2 + block / 2);
    customHeader_->setFrame({kTextLeft, top - fit.titleHeight, width, fit.titleHeight});
    const double messageHeight = std::min(fit.messageHeight, block - fit.titleHeight);
    customMessage_->setFrame({kTextLeft, top - fit.titleHeight - messageHeight, width, messageHeight});
}

void Notifier::placeWindow(const kit::Rect& frame) {
    winNotifier_->setFrame(frame, false);
    // Without a compositor what is clear shows black: the window takes the
    // panel's outline instead, opaque and without the shadow.
    if (!seeThrough_) winNotifier_->setShape(kit::Window::roundedShape(panelFrame_, 16));
    lshape_->setPath(kit::Path::roundedRect(grown(panelFrame_, 0.5), 16.8, 16.8));
}

kit::Display Notifier::chooseScreen() const {
    auto hooks = appHooks();
    if (hooks->lastActiveTime && hooks->lastActiveScreen && kit::wallNow() - hooks->lastActiveTime() < 2.0)
        if (auto screen = hooks->lastActiveScreen()) return *screen;
    return winNotifier_->screen();
}

double Notifier::topInset(const kit::Display& screen) {
    // No global menu bar here: the panel strut at the top of the screen, when
    // taller than a menu bar would be.
    return std::max(kNoMenuBarHeight, screen.frame.maxY() - screen.visibleFrame.maxY());
}

kit::Rect Notifier::startFrame(const kit::Display& screen, double height) {
    return {screen.frame.midX() - kWindowWidth / 2, screen.frame.maxY() - 63, kWindowWidth, height};
}

kit::Rect Notifier::finalFrame(const kit::Display& screen, double height) {
    return {screen.frame.midX() - kWindowWidth / 2, screen.frame.maxY() - height - topInset(screen),
            kWindowWidth, height};
}

void Notifier::showCustom(const std::string& title, const std::string& message,
                          std::optional<kit::Color> color, std::optional<std::string> button, bool isWarning,
                          std::optional<double> duration) {
    timerHide_.invalidate();
    fadeTimer_.invalidate();
    if (!winNotifier_) buildWindow();

    customHeader_->setText(title);
    customMessage_->setText(message);
    customButton_->setHidden(!button);
    if (button) {
        customButton_->setTitle(*button);
        customButton_->mouseState = "normal";
        customButton_->updateAppearance();
    }
    if (color) {
        customBox_->layer()->setBackgroundColor(*color);
        customBox_->setHidden(false);
        customImage_->setHidden(true);
    } else {
        customBox_->setHidden(true);
        customImage_->setHidden(false);
    }
    setIcon(isWarning);

    winNotifier_->center();
    kit::Display screen = chooseScreen();
    layoutPanel(screen);
    const double height = panelFrame_.height() + kInsetTop + kInsetBottom;
    placeWindow(startFrame(screen, height));

    lshape_->setFillColor(kit::Color::black().withAlpha(0.1));
    applyAppearance();

    winNotifier_->setAlphaValue(1.0);
    winNotifier_->orderFront();
    slideTo(finalFrame(screen, height));

    state_ = "shown";
    double shown = duration.value_or(kDefaultDuration);
    // Its time is for reading: a slide held up by a busy main thread does
    // not eat into the time in place.
    if (shown > 0) scheduleHide(shown, std::max(0.0, shown - kSlideSeconds));
}

void Notifier::slideTo(const kit::Rect& target) {
    // Ten steps over 0.2 s, easing in and out, on the main loop's timers. A
    // step that comes late (the main thread was busy) goes as far as the
    // time says.
    kit::Rect from = winNotifier_->frame();
    auto step = std::make_shared<int>(0);
    const double start = kit::monotonicNow();
    slideTimer_ = kit::Timer::repeating(kSlideSeconds / 10, [this, from, target, step, start] {
        double t =
            std::min(1.0, std::max(double(++*step) / 10, (kit::monotonicNow() - start) / kSlideSeconds));
        if (t > 1 - 1e-9) t = 1;
        double eased = t < 0.5 ? 2 * t * t : 1 - 2 * (1 - t) * (1 - t);
        winNotifier_->setFrameOrigin(
            {from.x() + (target.x() - from.x()) * eased, from.y() + (target.y() - from.y()) * eased});
        if (t < 1) return;
        slideTimer_.invalidate();
        inPlaceAt_ = kit::monotonicNow();
    });
}

void Notifier::applyAppearance() {
    if (!winNotifier_) return;
    bool dark = winNotifier_->contentView()->isDarkAppearance();
    panel_->layer()->setBorderColor(kit::Color::white(1, dark ? 0.15 : 1.0));
    const double alpha = seeThrough_ ? 0.92 : 1.0;
    const kit::Color panel = dark ? kDarkGrey.withAlpha(alpha) : kit::Color::white(0.97, alpha);
    panel_->layer()->setBackgroundColor(panel);
    // Behind the panel's rounded edge, where nothing shows through, the panel's own colour.
    if (!seeThrough_) winNotifier_->setBackgroundColor(panel);
    lshape_->setFillColor(kit::Color::black().withAlpha(dark ? 0.9 : 0.1));
    lshape_->setShadowRadius(dark ? 14 : 20);
    listener_->layer()->setBackgroundColor(dark ? kDarkGrey.withAlpha(0.5) : kit::Color::white(1, 0.65));
    kit::Color text = dark ? kit::Color::white(1, 0.9) : kit::Color::black().withAlpha(0.85);
    customHeader_->setTextColor(text);
    customMessage_->setTextColor(text);
    customButton_->textColor = text;
    customButton_->backgroundColor = dark ? kit::Color::white(1, 0.05) : kit::Color::black().withAlpha(0.06);
    customButton_->backgroundColorHover = customButton_->backgroundColor;
    customButton_->backgroundColorPressed =
        dark ? kit::Color::white(1, 0.1) : kit::Color::black().withAlpha(0.1);
    customButton_->updateAppearance();
    winNotifier_->contentView()->setNeedsDisplay();
}

void Notifier::didShow() {
    timerHide_.invalidate();
    fadeTimer_.invalidate();
    if (!winNotifier_) buildWindow();
    if (state_ == "hidden") {
        winNotifier_->setAlphaValue(1.0);
        winNotifier_->orderFront();
    }
    state_ = "shown";
}

void Notifier::scheduleHide(double after, double inPlace) {
    if (state_ == "hidden") return;
    state_ = "closing";
    timerHide_ = kit::Timer::once(after, [this, inPlace] {
        if (state_ != "closing") return;
        const double stood = slideTimer_.isValid() ? 0 : kit::monotonicNow() - inPlaceAt_;
        if (const double owed = inPlace - stood; owed > 0.01) {
            scheduleHide(owed, inPlace);
            return;
        }
        fadeOut();
    });
}

void Notifier::fadeOut() {
    fadeTimer_ = kit::Timer::repeating(kFadeSeconds / 10, [this] {
        double alpha = std::max(0.0, winNotifier_->alphaValue() - 0.1);
        winNotifier_->setAlphaValue(alpha);
        if (alpha <= 0) fadeTimer_.invalidate();
    });
    timerHide_ = kit::Timer::once(kFadeSeconds, [this] {
        fadeTimer_.invalidate();
        winNotifier_->close();
        winNotifier_->setAlphaValue(1.0);
        state_ = "hidden";
    });
}

void Notifier::takeOffIfSliding() {
    if (state_ != "hidden" && slideTimer_.isValid()) hideNow();
}

void Notifier::hideNow() {
    state_ = "hidden";
    slideTimer_.invalidate();
    timerHide_.invalidate();
    fadeTimer_.invalidate();
    if (winNotifier_) {
        winNotifier_->close();
        winNotifier_->setAlphaValue(1.0);
    }
}

void Notifier::close() {
    hideNow();
    if (auto action = notificationAction) action();
}

void Notifier::customBtnClick() {
    close();
}

void Notifier::setMessageText(const std::string& text) {
    if (!winNotifier_) buildWindow();
    customMessage_->setText(text);
    const kit::Rect was = winNotifier_->frame();
    layoutPanel(winNotifier_->screen());
    // A panel that changed its height keeps its top where it is.
    const double height = panelFrame_.height() + kInsetTop + kInsetBottom;
    if (height != was.height()) placeWindow({was.x(), was.maxY() - height, was.width(), height});
}

void Notifier::popover(kit::View& sender, const std::string& image, const std::string& text) {
    showPopover(sender.convertToScreen(sender.bounds()), image, text, true);
}

void Notifier::hint(const kit::Rect& anchor, const std::string& image) {
    showPopover(anchor, image, "", false);
}

void Notifier::closePopover() {
    if (!popoverHelper_) return;
    popoverHelper_->orderOut();
    popoverHelper_.reset();
    // Gone from the screen before anything that follows grabs it.
    kit::Application::syncWindowServer();
}

void Notifier::showPopover(const kit::Rect& anchor, const std::string& image, const std::string& text,
                           bool takeKeyboard) {
    kit::Size size{200, 150};
    auto view = kit::View::make({0, 0, size.width, size.height});
    if (!image.empty()) {
        // A missing picture keeps its place, empty.
        kit::Image picture = hookNamedImage(image);
        kit::Size pictureSize = picture.isNull() ? kit::Size{200, 150} : picture.pointSize();
        size = {pictureSize.width + 20, pictureSize.height + 20};
        view->setFrameSize(size);
        auto imageView = std::make_shared<kit::ImageView>(kit::Rect{{10, 10}, pictureSize});
        imageView->setImage(picture);
        view->addSubview(imageView);
    }
    if (!text.empty()) {
        auto label = kit::TextLayer::make();
        label->setFont(kit::Font::system(13));
        label->setWrapped(true);
        label->setAlignmentMode(kit::TextAlignment::Center);
        label->setForegroundColor(view->isDarkAppearance() ? kit::Color::white(1) : kit::Color::black());
        label->setString(text);
        label->setBounds({0, 0, 280 - 40, 20});
        double height = label->preferredFrameSize().height;
        size = {280, height + 40};
        view->setFrameSize(size);
        label->setFrame({20, 20, 240, height});
        view->layer()->addSublayer(label);
    }
    view->layer()->setBackgroundColor(view->isDarkAppearance() ? kDarkGrey : kit::Color::white(0.98));
    // Without a compositor what lies outside round corners shows black.
    const bool seeThrough = kit::Application::hasCompositor();
    if (seeThrough) view->layer()->setCornerRadius(8);

    kit::Rect frame{anchor.midX() - size.width / 2, anchor.minY() - size.height, size.width, size.height};
    if (!takeKeyboard) {
        // A tray icon sits at the very edge of its screen: the hint stays on it.
        if (auto screen = kit::Displays::at({anchor.midX(), anchor.midY()})) {
            const kit::Rect& area = screen->frame;
            frame.origin.x =
                std::clamp(frame.minX(), area.minX(), std::max(area.minX(), area.maxX() - size.width));
            frame.origin.y =
                std::clamp(frame.minY(), area.minY(), std::max(area.minY(), area.maxY() - size.height));
        }
    }
    popoverHelper_.reset();
    const unsigned style = takeKeyboard ? kit::WindowStyle::Borderless
                                        : kit::WindowStyle::Borderless | kit::WindowStyle::NonactivatingPanel;
    popoverHelper_ = std::make_unique<kit::Window>(frame, style);
    popoverHelper_->setLevel(kit::WindowLevel::PopUp);
    popoverHelper_->setOpaque(!seeThrough);
    if (seeThrough) popoverHelper_->setBackgroundColor(kit::Color::clear());
    popoverHelper_->setContentView(view);
    if (!takeKeyboard) {
        // Whatever the user works in keeps the keyboard and the clicks.
        popoverHelper_->setIgnoresMouseEvents(true);
        popoverHelper_->orderFront();
        return;
    }
    static auto closer = std::make_shared<TransientCloser>();
    popoverHelper_->setDelegate(closer);
    popoverHelper_->makeKeyAndOrderFront();
}

}  // namespace services
