#pragma once
// Non-blocking notices: the application's own toast that slides down below
// the top of the screen, or a notification of the desktop, chosen by the
// setting `notificationType` ("custom", "system", anything else: nothing).
// When the desktop does not permit notifications the toast stands in.
// Everything here runs on the main thread; a notice or warning sent from
// another thread is passed to the main thread first.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Color.h"
#include "kit/base/Timer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/ui/View.h"
#include "kit/ui/Window.h"
#include "services/LabelView.h"
#include "services/MouseListenerView.h"
#include "services/StateButton.h"

namespace services {

class Settings;
class Telemetry;
class SystemNotifications;

class Notifier {
public:
    static constexpr double kWindowWidth = 422, kWindowHeight = 122;
    static constexpr double kInsetLeft = 31, kInsetRight = 31, kInsetTop = 24, kInsetBottom = 46;
    static constexpr double kNoMenuBarHeight = 27.0;
    static constexpr double kDefaultDuration = 3.0, kWarningDuration = 5.0;
    static constexpr double kFadeSeconds = 0.2, kHideAfterPointerLeaves = 0.8, kSlideSeconds = 0.2;

    // The shared notifier over the shared settings and telemetry and the desktop's notifications.
    static Notifier& shared();

    Notifier(Settings& settings, Telemetry& telemetry, std::shared_ptr<SystemNotifications> system);
    virtual ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    virtual void notify(const std::string& title, const std::string& message,
                        std::optional<kit::Color> color = std::nullopt,
                        std::optional<std::string> button = std::nullopt,
                        std::optional<double> duration = std::nullopt, std::function<void()> action = {});
    virtual void warning(const std::string& title, const std::string& message);
    // A transient popover under `sender` with an image (asset name) and/or a text.
    virtual void popover(kit::View& sender, const std::string& image, const std::string& text);
    // The same picture under a rectangle of the screen (the tray icon, which is
    // no view of ours), kept on that rectangle's screen. It leaves the keyboard
    // where it is and lets clicks through; it stays until closePopover().
    virtual void hint(const kit::Rect& anchor, const std::string& image);
    // Closes the popover or hint, if one shows.
    virtual void closePopover();
    virtual void buildWindow();
    virtual void applyAppearance();
    // Closes the toast at once and runs the stored action (its button's click).
    virtual void close();
    virtual void showCustom(const std::string& title, const std::string& message,
                            std::optional<kit::Color> color, std::optional<std::string> button,
                            bool isWarning, std::optional<double> duration);
    // Keeps the toast up: stops a pending hide and brings it back when hidden.
    virtual void didShow();
    // Fades the toast out after `after` seconds (nothing while it is hidden),
    // once it has also stood in place for `inPlace` seconds since its slide.
    virtual void scheduleHide(double after, double inPlace = 0);
    // The toast's button.
    void customBtnClick();
    // Closes the toast at once without running its action.
    virtual void hideNow();
    // Closes a toast that has not finished sliding in (a capture is about to
    // take the screen); a toast already in place stays.
    void takeOffIfSliding();
    bool isSliding() const { return slideTimer_.isValid(); }
    // The toast's message line (the update download writes its progress here).
    virtual void setMessageText(const std::string& text);

    // How the title and the message take the panel's text area: the largest
    // fonts (title 13 down to 11, message 12 down to 10) at which the title
    // keeps one line and the message wraps into the height left. A message
    // longer still wraps whole at the largest fonts, the text area growing up
    // to `maxHeight`; what even that cannot hold is cut at its end. A path or
    // a link keeps one line and is cut in its middle.
    struct TextFit {
        double titleSize = 13, messageSize = 12;
        double titleHeight = 0, messageHeight = 0;
        bool wraps = false;  // the message takes more than one line
        bool cut = false;    // the title or the message does not fit whole
        kit::TextTruncation messageCut = kit::TextTruncation::End;
    };
    static TextFit fitText(const std::string& title, const std::string& message, double width, double height,
                           double maxHeight = 0);
    // The text area of a panel without a button, and its margin above and below.
    static constexpr double kTextLeft = 48, kTextMargin = 5;

    // Where the toast of a window `height` high (a panel grown for a long
    // message makes it taller) starts, peeking in from above the screen's
    // top, and where it slides to.
    static kit::Rect startFrame(const kit::Display& screen, double height = kWindowHeight);
    static kit::Rect finalFrame(const kit::Display& screen, double height = kWindowHeight);

    const std::string& state() const { return state_; }
    // What a click on the toast's button runs; replaced by every notice.
    std::function<void()> notificationAction;

    // The toast's parts, for tests and the appearance step.
    kit::Window* winNotifier() const { return winNotifier_.get(); }
    LabelView* customHeader() const { return customHeader_.get(); }
    LabelView* customMessage() const { return customMessage_.get(); }
    StateButton* customButton() const { return customButton_.get(); }
    kit::View* customBox() const { return customBox_.get(); }
    kit::View* customImage() const { return customImage_.get(); }
    MouseListenerView* mouseListener() const { return listener_.get(); }
    kit::Window* popoverWindow() const { return popoverHelper_.get(); }

private:
    void showPopover(const kit::Rect& anchor, const std::string& image, const std::string& text,
                     bool takeKeyboard);
    void showSystem(const std::string& title, const std::string& message, std::optional<kit::Color> color,
                    std::optional<std::string> button, bool isWarning, std::function<void()> action);
    // Lays the panel out for its text on `screen`, growing it downwards for a long message.
    void layoutPanel(const kit::Display& screen);
    // The window at `frame`, cut to the panel's outline where nothing shows through.
    void placeWindow(const kit::Rect& frame);
    void setIcon(bool warning);
    void fadeOut();
    void slideTo(const kit::Rect& target);
    kit::Display chooseScreen() const;
    static double topInset(const kit::Display& screen);

    Settings& settings_;
    Telemetry& telemetry_;
    std::shared_ptr<SystemNotifications> system_;

    std::unique_ptr<kit::Window> popoverHelper_;
    std::unique_ptr<kit::Window> winNotifier_;
    bool seeThrough_ = true;  // a compositor shows what lies under the clear parts
    kit::Timer timerHide_;
    kit::Timer fadeTimer_;
    kit::Timer slideTimer_;
    double inPlaceAt_ = 0;  // when the toast's slide ended (the clock's seconds)
    std::shared_ptr<kit::View> panel_;
    kit::Rect panelFrame_;  // in the window, y up: grows with a long message
    std::shared_ptr<MouseListenerView> listener_;
    std::shared_ptr<kit::View> customBox_;
    std::shared_ptr<kit::View> customImage_;
    std::shared_ptr<LabelView> customHeader_;
    std::shared_ptr<LabelView> customMessage_;
    std::shared_ptr<StateButton> customButton_;
    std::shared_ptr<kit::ShapeLayer> lshape_;
    std::string state_ = "hidden";
};

}  // namespace services
