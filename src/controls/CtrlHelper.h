#pragma once
// The hint bubble: a rounded translucent view that carries hints and read-outs
// over other content. It appears after an optional delay with a small jump,
// fades out, can be dimmed (muted), and a transient bubble hides itself when
// the user clicks anywhere outside it.
//
// Owners add their content subviews, set the tunable properties, then call
// awake() once; the bubble starts hidden.
#include <functional>
#include <optional>
#include <string>

#include "kit/base/Timer.h"
#include "kit/ui/LocalEventMonitor.h"
#include "kit/ui/View.h"

namespace controls {

class CtrlHelper : public kit::View {
public:
    explicit CtrlHelper(const kit::Rect& frame = {});
    ~CtrlHelper() override;

    std::optional<kit::LocalEventMonitor::Token> monitor;
    std::shared_ptr<kit::View> vEffect;
    std::shared_ptr<kit::View> vCurtain;
    kit::Timer tmrShow;
    double cornerRadius = 8.0;
    double opacity = 0.7;  // alpha of the curtain's tint, not of the layer
    double showDelay = 0.0;
    double animation = 0.15;
    bool transient = true;
    double jump = 0.1;
    std::string state = "hidden";
    float targetOpacity = 1.0f;
    // Armed by the owner; its firing calls mute(). Cleared only by unmute().
    kit::Timer muteTimer;

    // The application core's switch for editor cursor updates: set false while
    // the pointer is over a bubble, true again when it leaves (or the bubble
    // goes away under it). The core installs it.
    static std::function<void(bool)> setCursorUpdating;

    // Builds the background, installs the click monitor of a transient bubble,
    // adds the shadow (the after-load step).
    void awake();

    virtual void applyAppearance();
    // The bubble takes the new look's colours when the desktop switches.
    void viewDidChangeEffectiveAppearance() override { applyAppearance(); }
    virtual void buildViews();
    virtual void installMonitor();
    virtual void removeMonitor();
    virtual void unmute();
    virtual void show();
    virtual void appear();
    virtual void hide();
    virtual void hideNow();
    void mute();

    // The transient monitor's test of a left-mouse-down in any of our
    // windows: a click outside the shown bubble (or in another window) hides it.
    void handleClick(const kit::Event& e);

    void mouseDown(const kit::Event&) override {}
    void mouseEntered(const kit::Event& e) override;
    void mouseExited(const kit::Event& e) override;
    void updateTrackingAreas() override;
    void layout() override;

private:
    void setBubbleOpacity(double value);
    void unhide();
    void setHiddenNow();
    void pointerLeft();
    int trackingArea_ = 0;
    bool pointerInside_ = false;
};

}  // namespace controls
