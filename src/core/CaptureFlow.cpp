// The road of every screenshot: the capture route for the mode, the first
// capture's question, loading, the capture facts and the after-capture actions.
#include <chrono>
#include <thread>

#include "capture/WindowShadow.h"
#include "core/AppExports.h"
#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "editor/Framer.h"
#include "kit/base/Displays.h"
#include "kit/base/WayOut.h"
#include "kit/desktop/Screen.h"
#include "kit/ui/Application.h"
#include "kit/ui/Window.h"
#include "services/Alerts.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

namespace {

capture::WindowShadow shadowSetting(services::Settings& s, capture::WindowShadow fallback) {
    return capture::windowShadowFromRaw(s.getString("windowShadow", "transparent")).value_or(fallback);
}

bool isOneOf(const std::string& mode, std::initializer_list<const char*> modes) {
    for (const char* m : modes)
        if (mode == m) return true;
    return false;
}

}  // namespace

void AppLogic::grabScreenshot(const std::string& mode, const std::optional<std::string>& method,
                              const std::optional<AfterGrab>& then) {
    if (!routes_->hasScreenRecordingPermission()) {
        const std::string title = "Kadrix needs permission to record the screen";
        yieldFocus();
        services::alertOnMain(title, "Allow Kadrix to record the screen in your desktop's privacy settings.");
        telemetry().event("alert", {{"message", title}});
        return;
    }
    clearScreenForCapture();
    // The later new screenshots wait for this one and its actions.
    auto turn = captureTurn();
    routes_->resetFacts();
    capturing_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{capturing_};
    const capture::WindowShadow shadow = shadowSetting(settings(), capture::WindowShadow::transparent);
    kit::Image image;
    if (mode == "window") {
        image = routes_->window(shadow);
    } else if (mode == "fullscreen" || mode == "delayed") {
        image = routes_->fullscreen();
    } else if (mode == "interactive") {
        image = routes_->interactive(shadow, false, false, false);
    } else if (mode == "interactive-repeat") {
        image = routes_->interactive(shadow, false, true, false);
    } else if (mode == "interactive-window") {
        image = routes_->interactive(shadow, true, false, false);
    } else {
        telemetry().oops("grabScreenshot(mode:method:then:)", "Unrecognized capture mode: " + mode);
        return;
    }
    if (image.isNull()) return;
    turns_.whenInTurn(turn, [this, turn, image, mode, method, then] {
        turn->landed();
        afterGrab(image, mode, method, then, turn);
    });
}

void AppLogic::grabDelayed(const std::optional<std::string>& method, const std::optional<AfterGrab>& then) {
    shared().grabScreenshot("delayed", method, then);
}

void AppLogic::startScrollingCapture(int direction, const std::string& method,
                                     const std::optional<AfterGrab>& then) {
    if (!routes_->scrollPermissionsGranted()) return;
    clearScreenForCapture();
    routes_->resetFacts();
    telemetry().preset("grab:scrolling", {{"method", method}});
    if (settings().getBool("everScrollingCapture", false)) {
        // Its turn is taken now, not when the picture is stitched: a file
        // opened meanwhile was asked for later and lands after it. The turn
        // ends when the capture lets go of `then`, picture or not.
        routes_->startScrolling(direction, [this, then, turn = captureTurn(),
                                            alive = std::weak_ptr<int>(life_)](const kit::Image& image) {
            if (alive.lock()) grabScrolling(image, then, turn);
        });
        return;
    }
    // The first time the user learns how it goes; the capture then starts
    // with the actions the settings ask for.
    services::alertOnMain(
        "Scrolling Capture",
        "Select the area and let Kadrix scroll automatically for you. Don't touch your mouse or press any "
        "keys until it stops. If you want to interrupt scrolling, press Escape.",
        [this, direction, method, alive = std::weak_ptr<int>(life_)] {
            if (!alive.lock()) return;
            settings().storeBool("everScrollingCapture", true);
            later(0.5, [this, direction, method] { startScrollingCapture(direction, method, std::nullopt); });
        });
}

void AppLogic::grabScrolling(const kit::Image& image, const std::optional<AfterGrab>& then,
                             std::shared_ptr<ScreenshotTurns::Replacement> turn) {
    if (image.isNull()) {
        telemetry().oops("grabScrolling(direction:method:then:)", "Failed to get screenshot image");
        return postHeldNotice();
    }
    landCapture(image, std::nullopt, then, std::move(turn));
}

void AppLogic::grabScrollingManual(const kit::Image& image, const std::optional<std::string>& method,
                                   const std::optional<AfterGrab>& then,
                                   std::shared_ptr<ScreenshotTurns::Replacement> turn) {
    if (image.isNull()) {
        telemetry().oops("grabScrollingManual(method:then:)", "Failed to get screenshot image");
        return postHeldNotice();
    }
    landCapture(image, method, then, std::move(turn));
}

std::shared_ptr<ScreenshotTurns::Replacement> AppLogic::captureTurn() {
    return std::make_shared<ScreenshotTurns::Replacement>(turns_, true);
}

void AppLogic::landCapture(const kit::Image& image, const std::optional<std::string>& method,
                           const std::optional<AfterGrab>& then,
                           std::shared_ptr<ScreenshotTurns::Replacement> turn) {
    if (!turn) turn = captureTurn();
    turns_.whenInTurn(turn, [this, turn, image, method, then] {
        turn->landed();
        afterGrab(image, "scrolling", method, then, turn);
        postHeldNotice();
    });
}

bool AppLogic::firstCaptureQuestionDue(const std::string& mode) {
    return mode == "interactive" && settings().afterGrabShow() && settings().areaCaptureMode() == "none";
}

void AppLogic::afterGrab(const kit::Image& image, const std::string& mode,
                         const std::optional<std::string>& method, const std::optional<AfterGrab>& then,
                         std::shared_ptr<ScreenshotTurns::Replacement> turn) {
    if (!then && firstCaptureQuestionDue(mode)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        services::confirmOnMain(
            "Show small Preview or open the Editor?",
            "We will remember your choice. You can always change it in preferences Later.", "Open Editor",
            "Show Preview",
            [this, image, mode, method, then, turn, alive = std::weak_ptr<int>(life_)](int button) {
                if (!alive.lock() || (button != 1 && button != 2)) return;
                settings().setAreaCaptureMode(button == 1 ? "editor" : "preview");
                afterGrab(image, mode, method, then, turn);
            });
        return;
    }
    if (mode == "interactive" && settings().afterGrabShow() && settings().areaCaptureMode() == "preview") {
        // The preview stands alone.
        kit::Window* win = winMain();
        if (win && !win->isFullScreen()) win->orderOut();
    }
    editor::Framer::shared()._dpr.set(captureScale());
    if (!loadImage(image, false)) return;
    screenshotDate = kit::wallNow();
    recordCaptureFacts(mode);

    const std::string event = "grab:" + mode;
    if (mode == "fullscreen") telemetry().preset(event, {{"cursor", settings().captureCursor()}});
    kit::Json data{{"width", image.width()}, {"height", image.height()}};
    if (method) data["method"] = *method;
    telemetry().event(event, data);

    if (then)
        performAfterGrab(*then, method.value_or(""), turn);
    else
        performAfterGrab(afterGrabFromSettings(mode), "auto", turn);
}

double AppLogic::captureScale() const {
    if (auto screen = routes_->facts().screen) return screen->scale;
    if (!kit::Displays::all().empty()) return kit::Displays::main().scale;
    auto windows = kit::Application::shared().windows();
    if (!windows.empty()) return windows.front()->backingScaleFactor();
    return editor::Framer::shared().dpr();
}

void AppLogic::recordCaptureFacts(const std::string& mode) {
    CaptureFacts facts = routes_->facts();
    metadata_["mode"] = mode;
    if (isOneOf(mode, {"interactive", "interactive-window", "window"}) && facts.backdropApplied)
        metadata_["backdropApplied"] = "true";
    if (isOneOf(mode, {"interactive", "interactive-window", "interactive-repeat", "fullscreen", "delayed",
                       "window", "scrolling"})) {
        metadata_["app"] = facts.app;
        metadata_["window"] = facts.window;
    }
}

AppLogic::AfterGrab AppLogic::afterGrabFromSettings(const std::string& mode) {
    AfterGrab a;
    a.copy = settings().afterGrabCopy();
    a.save = settings().afterGrabSave();
    a.thumbnail =
        mode == "interactive" && settings().afterGrabShow() && settings().areaCaptureMode() == "preview";
    a.edit = settings().afterGrabShow() && !a.thumbnail;
    return a;
}

void AppLogic::performAfterGrab(const AfterGrab& actions, const std::string& method,
                                std::shared_ptr<ScreenshotTurns::Replacement> turn) {
    if (imgSource_.isNull()) return;
    CaptureFacts facts = routes_->facts();
    // The remembered area is this capture's only when it was a selection;
    // after a full-screen or window capture it is still the last selection's.
    if (!isOneOf(metadata_.value("mode", std::string()),
                 {"interactive", "interactive-window", "interactive-repeat"}))
        facts.rect.reset();
    if (actions.copy) {
        telemetry().preset("copyImage", {{"method", method}});
        copyImage(false, true);
    }
    if (actions.save) {
        telemetry().preset("saveImage", {{"method", method}});
        // The file's bytes are made during the wait; the save takes them
        // when the picture is still the plain capture.
        exports().exporter.encodeAhead();
        // The capture's turn lasts until then: a later picture lands after the save.
        later(0.1, [this, turn] { saveImage(true, true); });
    }
    if (actions.pin) {
        // The pin opens where the capture was taken; without an area, in the
        // middle of the main screen.
        kit::Point mid{800, 500};
        if (facts.rect)
            mid = facts.rect->center();
        else if (auto screen = kit::mainScreen())
            mid = screen->frame.center();
        pinImage(imgSource_, mid);
    }
    if (actions.thumbnail) {
        kit::Rect rect;
        if (facts.rect) {
            rect = *facts.rect;
        } else {
            kit::Point mouse = kit::pointerLocation().value_or(kit::Point{});
            const double w = imgSource_.width(), h = imgSource_.height();
            rect = {mouse.x - w, mouse.y - h, w, h};
        }
        showPreview(rect);
    } else if (actions.edit) {
        yieldFocus();
    } else {
        shell().flashSuccessIcon();
    }
    if (actions.upload) later(0.1, [this, method, turn] { uploadImage(method); });
}

void AppLogic::addCaptureToScreenshot(const std::string& /*method*/) {
    if (imgSource_.isNull()) {
        notifier().warning("No Screenshot", "Take a screenshot before adding a capture to it");
        return;
    }
    const capture::WindowShadow shadow = shadowSetting(settings(), capture::WindowShadow::wallpaper);
    hideMainWindow();
    clearScreenForCapture();
    const ScreenshotTurns::Turn turn = turns_.addition();
    kit::Image image = routes_->interactive(shadow, false, false, false);
    if (kit::wayOutBegun()) return;  // ended with Kadrix: the editor stays away
    if (!image.isNull()) turns_.whenInTurn(turn, [this, image] { addImageObject(image); });
    yieldFocus();
}

}  // namespace core
