#pragma once
// What capture code asks of the services and the application core: settings,
// telemetry, notices and alerts, named timers, the editor's pixel ratio and
// bringing up the editor. The installed host is bound to the real services;
// tests install a double that records the calls.
#include <cstdint>
#include <functional>
#include <string>

#include "kit/base/Image.h"
#include "kit/base/Json.h"

namespace capture {

struct CaptureHost {
    std::function<std::string(const std::string& key, const std::string& def)> getString;
    std::function<int64_t(const std::string& key, int64_t def)> getInt;
    std::function<bool(const std::string& key, bool def)> getBool;

    std::function<void(const std::string& function, const std::string& message)> oops;
    std::function<void(const std::string& name, const kit::Json& data)> preset;
    std::function<void(const std::string& name, const kit::Json& data)> event;
    std::function<void(const std::string& name, const kit::Json& data)> repeatableEvent;

    // Non-blocking notices (toast or system notification) and the modal alert
    // posted to the main queue.
    std::function<void(const std::string& title, const std::string& message)> notify;
    // A notice about a capture's picture, posted through the notifier once
    // the picture has landed: after the editor, when it opens with it, has
    // come forward, since opening it takes off any toast showing.
    std::function<void(const std::string& title, const std::string& message)> notifyWithPicture;
    std::function<void(const std::string& title, const std::string& message)> warning;
    std::function<void(const std::string& title, const std::string& message)> alertOnMain;
    // A toast still sliding in goes before the screen is taken, so no capture
    // (nor the selection overlay's frozen screen) holds it half-way.
    std::function<void()> takeOffSlidingToast;
    // Closes the toast at once, whatever its state.
    std::function<void()> takeOffToast;

    std::function<void(const std::string& name)> timerStart;
    std::function<void(const std::string& name)> timerLog;
    std::function<double(const std::string& name)> timerElapsed;

    // Application core and editor.
    std::function<void()> bringUpEditor;
    std::function<double()> editorDpr;
    std::function<bool(const std::string& url)> openURL;

    // Pinned screenshots: copy an image to the clipboard (with its event),
    // load one into the editor (false when the editor refused it), a
    // metadata entry of the current capture, the editor's pixel ratio, the
    // default file name, and forgetting a closed pin by the id the core
    // gave it.
    std::function<void(const kit::Image& image)> copyImage;
    std::function<bool(const kit::Image& image)> loadImage;
    std::function<void(const std::string& key, const kit::Json& value)> setMetadata;
    std::function<void(double dpr)> setEditorDpr;
    std::function<std::string()> fileName;
    std::function<void(int64_t id)> removePin;

    // The preview thumbnail's commands on the current capture. The save's
    // flag is quiet; hideEditorForPreview closes the preferences and hides
    // the editor when they show, answering whether it did; recognizeCurrent
    // reads the capture's text off the main thread and copies it.
    std::function<void()> copyCurrent;
    std::function<void(bool quiet)> saveCurrent;
    std::function<void()> saveCurrentAs;
    std::function<void()> uploadCurrent;
    std::function<void()> recognizeCurrent;
    std::function<void()> pinCurrent;
    std::function<void()> hideMainWindow;
    std::function<bool()> hideEditorForPreview;
    std::function<void()> activateApp;

    // Absolute path of the screenshot tool.
    std::function<std::string()> toolPath;
};

// The installed host; every member is set.
CaptureHost& host();
// Replaces the host; members left empty keep the service-bound defaults.
void setHost(CaptureHost h);
// Back to the service-bound defaults.
void resetHost();

}  // namespace capture
