#pragma once
// An AppLogic of its own for each test: settings and telemetry over an
// in-memory database, a notifier, capture routes and an editor that record
// what the core asks of them, alerts answered by the test, and a manual clock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/AppHost.h"
#include "core/AppLogic.h"
#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "kit/base/Defaults.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Timer.h"
#include "kit/ui/Application.h"
#include "kit/ui/Window.h"
#include "services/Alerts.h"
#include "services/AppHooks.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/SystemNotifications.h"
#include "services/Telemetry.h"

namespace coretest {

// Every call lands in one log, so tests can check the order across doubles.
using Log = std::vector<std::string>;

class SilentSystem : public services::SystemNotifications {
public:
    void requestAuthorization(bool, std::function<void(bool)> answer) override { answer(false); }
    void post(const std::string&, const std::string&, const std::string&, bool,
              std::function<void()>) override {}
};

class RecordingNotifier : public services::Notifier {
public:
    RecordingNotifier(services::Settings& s, services::Telemetry& t, Log& log)
        : services::Notifier(s, t, std::make_shared<SilentSystem>()), log_(log) {}
    void notify(const std::string& title, const std::string& message, std::optional<kit::Color>,
                std::optional<std::string> button, std::optional<double>,
                std::function<void()> action) override {
        log_.push_back("notify " + title);
        lastMessage = message;
        lastButton = button;
        lastAction = action;
    }
    // The last notice's message, button and button action.
    std::string lastMessage;
    std::optional<std::string> lastButton;
    std::function<void()> lastAction;
    void warning(const std::string& title, const std::string& message) override {
        log_.push_back("warning " + title);
        lastWarning = message;
    }
    std::string lastWarning;
    void hideNow() override {}

private:
    Log& log_;
};

class RoutesDouble : public core::CaptureRoutes {
public:
    explicit RoutesDouble(Log& log) : log_(log) {}
    kit::Image image;  // what every capture returns
    core::CaptureFacts next;
    // Runs while a capture waits for its picture, as the event loop runs
    // what the user asks meanwhile; once.
    std::function<void()> meanwhile;
    bool permission = true;

    bool hasScreenRecordingPermission() override { return permission; }
    kit::Image fullscreen() override { return took("fullscreen"); }
    kit::Image window(capture::WindowShadow mode) override {
        return took("window " + capture::rawValue(mode));
    }
    kit::Image interactive(capture::WindowShadow mode, bool windowOnly, bool repeatArea,
                           bool remember) override {
        return took("interactive " + capture::rawValue(mode) + (windowOnly ? " windowOnly" : "") +
                    (repeatArea ? " repeat" : "") + (remember ? " dontRemember" : ""));
    }
    bool scrollPermission = true;
    kit::Image scrolled;  // what the scrolling capture stitches
    // Set: the capture goes on (the page scrolls) until the test calls or
    // drops heldScroll, as the user's requests run meanwhile.
    bool holdScroll = false;
    std::function<void(const kit::Image&)> heldScroll;
    bool scrollPermissionsGranted() override { return scrollPermission; }
    void startScrolling(int direction, std::function<void(const kit::Image&)> then) override {
        log_.push_back("scrolling " + std::to_string(direction));
        if (holdScroll)
            heldScroll = std::move(then);
        else
            then(scrolled);
    }
    core::CaptureFacts facts() override { return current; }
    void resetFacts() override {
        current.screen.reset();
        current.backdropApplied = false;
    }
    void showPreview(const kit::Image&, const kit::Rect& r) override {
        log_.push_back("preview " + std::to_string(int(r.x())) + "," + std::to_string(int(r.y())));
    }
    void closePreview() override {}
    void pin(const kit::Image&, kit::Point c) override {
        log_.push_back("pin " + std::to_string(int(c.x)) + "," + std::to_string(int(c.y)));
    }

private:
    kit::Image took(const std::string& what) {
        log_.push_back(what);
        if (auto now = std::exchange(meanwhile, nullptr)) now();
        current = next;
        return image;
    }
    core::CaptureFacts current;
    Log& log_;
};

class EditorDouble : public core::EditorLink {
public:
    explicit EditorDouble(Log& log) : log_(log) {}
    std::unique_ptr<kit::Window> win =
        std::make_unique<kit::Window>(kit::Rect{100, 100, 900, 600}, kit::WindowStyle::Titled);
    bool hasWindow = true;
    bool cropOn = false;
    services::Rect selection;
    std::string active;  // active object's mode, "" for none
    bool buttonHeld = false;
    std::string armed;
    struct Status {
        int zoom = 0;
        std::string size, title, color;
    } status;
    std::vector<std::string> modesApplied;

    kit::Window* window() override { return hasWindow ? win.get() : nullptr; }
    void clearObjects() override { log_.push_back("clearObjects"); }
    void resetCropTool() override { log_.push_back("resetCropTool"); }
    void setCanvasImage(const kit::Image& img) override {
        log_.push_back("setCanvasImage " + std::to_string(img.width()) + "x" + std::to_string(img.height()));
    }
    void resetUndo() override { log_.push_back("resetUndo"); }
    bool hasActiveObject() override { return !active.empty(); }
    std::string activeType() override { return active; }
    void deactivateObjects() override { log_.push_back("deactivate"); }
    void setArmedTool(const std::string& t) override { armed = t; }
    bool cropToolOn() override { return cropOn; }
    services::Rect cropSelection() override { return selection; }
    bool primaryButtonHeld() override { return buttonHeld; }
    void applySelectionMode(const std::string& m) override { modesApplied.push_back(m); }
    void showStatus(int zoom, const std::string& size, const std::string& title, const std::string& colorText,
                    kit::Color) override {
        status = {zoom, size, title, colorText};
    }
    void selectToolbarItem(const std::string& id) override { log_.push_back("toolbar " + id); }
    double shiftX = 0, shiftY = 0;  // the objects' total movement
    void shiftObjects(double dx, double dy) override {
        shiftX += dx;
        shiftY += dy;
    }
    void storeCropSelection(const services::Rect& r) override { selection = r; }
    void setCropSelection(std::optional<services::Rect> r) override {
        cropOn = r.has_value();
        if (r) selection = *r;
    }
    void saveUndo() override { log_.push_back("saveUndo"); }
    std::optional<kit::Size> addImageObject(const kit::Image& img) override {
        log_.push_back("addImageObject " + std::to_string(img.width()));
        return kit::Size{double(img.width()), double(img.height())};
    }
    services::Rect overlay;  // the screenshot with its image objects
    services::Rect imageOverlayValue() override { return overlay; }
    void moveActiveObject(kit::Point o) override {
        log_.push_back("moveActiveObject " + std::to_string(int(o.x)) + "," + std::to_string(int(o.y)));
    }
    std::vector<kit::Cursor> pointers;
    void setPointer(const kit::Cursor& c) override { pointers.push_back(c); }
    // The objects made from the selection: type, rectangle, ruler settings.
    struct Made {
        std::string type;
        services::Rect rect;
        bool vertical = false;
        double dpr = 0, tdist = 0;
    };
    std::vector<Made> made;
    bool addRectangle(const services::Rect& r) override {
        made.push_back({"ObjRectangle", r});
        return true;
    }
    bool addEraser(const services::Rect& r) override {
        made.push_back({"ObjConceal", r});
        return true;
    }
    bool addRuler(const services::Rect& r, bool vertical, double dpr, double tdist) override {
        made.push_back({"ObjRuler", r, vertical, dpr, tdist});
        return true;
    }
    void endCropSelection() override {
        cropOn = false;
        log_.push_back("endCropSelection");
    }
    void refreshCropLabels() override { log_.push_back("refreshCropLabels"); }
    int relayouts = 0;
    void relayoutCanvas() override { ++relayouts; }

private:
    Log& log_;
};

// The real editor pieces (canvas, objects, undo, crop tool) behind a window
// of the test's own.
class RealEditor : public core::EditorLink {
public:
    kit::Window win{kit::Rect{0, 0, 900, 600}, kit::WindowStyle::Titled};
    kit::Window* window() override { return &win; }
};

class ShellDouble : public core::ShellHost {
public:
    explicit ShellDouble(Log& log) : log_(log) {}
    void flashSuccessIcon() override { log_.push_back("flash"); }
    void syncRealPixelsState() override { log_.push_back("syncRealPixelsState"); }
    void openPickedImage(const std::string& path) override { log_.push_back("openPickedImage " + path); }
    bool trayIcon = false;  // whether the first-hide hint has an icon to point at
    bool showFirstHideHint() override {
        if (trayIcon) log_.push_back("hint");
        return trayIcon;
    }
    void closeFirstHideHint() override { log_.push_back("hint closed"); }

private:
    Log& log_;
};

// A solid image of w × h pixels.
inline kit::Image solidImage(int w, int h, kit::PixelBGRA p) {
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, p);
    return img;
}

class CoreFixture : public ::testing::Test {
protected:
    void SetUp() override {
        services::resetAppHooks();
        storage = std::make_unique<kit::Defaults>("");
        settings = std::make_unique<services::Settings>(*storage);
        telemetry = std::make_unique<services::Telemetry>(
            *settings,
            [](const std::string&, const std::vector<services::EventRecord>&, services::PostCompletion) {});
        settings->setTelemetry(telemetry.get());
        notifier = std::make_unique<RecordingNotifier>(*settings, *telemetry, log);
        services::setAlertPresenter([this](const services::AlertRequest& request) {
            alerts.push_back(request);
            return services::AlertAnswer{answer, ""};
        });
        core::setShell(&shell);
        editor::Framer::shared()._dpr.set(1.0);
        editor::Framer::shared().area = {0, 0, 1600, 1000};
    }

    void TearDown() override {
        logic.reset();
        core::setShell(nullptr);
        services::setAlertPresenter({});
        services::resetAppHooks();
    }

    core::AppLogic& make() {
        auto r = std::make_unique<RoutesDouble>(log);
        auto e = std::make_unique<EditorDouble>(log);
        routes = r.get();
        editor = e.get();
        logic = std::make_unique<core::AppLogic>(
            core::AppLogic::Services{settings.get(), telemetry.get(), notifier.get()}, std::move(r),
            std::move(e));
        return *logic;
    }

    // The core over the real editor pieces, with capture routes that record.
    core::AppLogic& makeWithRealEditor() {
        logic = std::make_unique<core::AppLogic>(
            core::AppLogic::Services{settings.get(), telemetry.get(), notifier.get()},
            std::make_unique<RoutesDouble>(log), std::make_unique<RealEditor>());
        return *logic;
    }

    // Lets posted work and due timers run.
    void settle(double seconds = 0.5) {
        kit::processMainEvents();
        clock.advance(seconds);
        kit::processMainEvents();
    }

    std::vector<std::string> types() const {
        std::vector<std::string> out;
        for (auto& record : telemetry->events()) out.push_back(record.value("type", ""));
        return out;
    }
    std::optional<kit::Json> lastEvent(const std::string& type) const {
        auto events = telemetry->events();
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->value("type", "") == type) return *it;
        return std::nullopt;
    }
    // Log entries other than the captures' own.
    bool logged(const std::string& entry) const {
        return std::find(log.begin(), log.end(), entry) != log.end();
    }

    kit::ManualClockScope clock{0, 1.8e9};
    std::unique_ptr<kit::Defaults> storage;
    std::unique_ptr<services::Settings> settings;
    std::unique_ptr<services::Telemetry> telemetry;
    Log log;
    std::unique_ptr<RecordingNotifier> notifier;
    ShellDouble shell{log};
    std::vector<services::AlertRequest> alerts;
    int answer = -1;  // the button the next alert answers with (0 first, 1 second)
    RoutesDouble* routes = nullptr;
    EditorDouble* editor = nullptr;
    std::unique_ptr<core::AppLogic> logic;
};

}  // namespace coretest
