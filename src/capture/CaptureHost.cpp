#include "capture/CaptureHost.h"

#include <unistd.h>

#include <filesystem>

#include "services/Alerts.h"
#include "services/AppHooks.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace capture {

namespace {

std::string besideExecutable(const std::string& name) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return name;
    return (self.parent_path() / name).string();
}

CaptureHost defaults() {
    CaptureHost h;
    h.getString = [](const std::string& k, const std::string& d) {
        return services::Settings::shared().getString(k, d);
    };
    h.getInt = [](const std::string& k, int64_t d) { return services::Settings::shared().getInt(k, d); };
    h.getBool = [](const std::string& k, bool d) { return services::Settings::shared().getBool(k, d); };
    h.oops = [](const std::string& f, const std::string& m) { services::Telemetry::shared().oops(f, m); };
    h.preset = [](const std::string& n, const kit::Json& d) { services::Telemetry::shared().preset(n, d); };
    h.event = [](const std::string& n, const kit::Json& d) { services::Telemetry::shared().event(n, d); };
    h.repeatableEvent = [](const std::string& n, const kit::Json& d) {
        services::Telemetry::shared().repeatableEvent(n, d);
    };
    h.notify = [](const std::string& t, const std::string& m) { services::Notifier::shared().notify(t, m); };
    h.notifyWithPicture = [](const std::string& t, const std::string& m) {
        services::Notifier::shared().notify(t, m);
    };
    h.warning = [](const std::string& t, const std::string& m) {
        services::Notifier::shared().warning(t, m);
    };
    h.alertOnMain = [](const std::string& t, const std::string& m) { services::alertOnMain(t, m); };
    h.takeOffSlidingToast = [] { services::Notifier::shared().takeOffIfSliding(); };
    h.takeOffToast = [] { services::Notifier::shared().hideNow(); };
    h.timerStart = [](const std::string& n) { services::timerStart(n); };
    h.timerLog = [](const std::string& n) { services::timerLog(n); };
    h.timerElapsed = [](const std::string& n) { return services::timerElapsed(n); };
    h.bringUpEditor = [] {};
    h.editorDpr = [] { return services::hookEditorDpr(); };
    h.openURL = [](const std::string& url) { return services::hookOpenWithDefaultApp(url); };
    h.copyImage = [](const kit::Image&) {};
    h.loadImage = [](const kit::Image&) { return false; };
    h.setMetadata = [](const std::string&, const kit::Json&) {};
    h.setEditorDpr = [](double) {};
    h.fileName = [] { return std::string("Kadrix"); };
    h.removePin = [](int64_t) {};
    h.copyCurrent = [] {};
    h.saveCurrent = [](bool) {};
    h.saveCurrentAs = [] {};
    h.uploadCurrent = [] {};
    h.recognizeCurrent = [] {};
    h.pinCurrent = [] {};
    h.hideMainWindow = [] {};
    h.hideEditorForPreview = [] { return false; };
    h.activateApp = [] {};
    h.toolPath = [] { return besideExecutable("kadrix-screencapture"); };
    return h;
}

CaptureHost& installed() {
    static CaptureHost h = defaults();
    return h;
}

template <class F>
void keep(F& dst, F& src) {
    if (src) dst = std::move(src);
}

}  // namespace

CaptureHost& host() {
    return installed();
}

void setHost(CaptureHost h) {
    CaptureHost merged = defaults();
    keep(merged.getString, h.getString);
    keep(merged.getInt, h.getInt);
    keep(merged.getBool, h.getBool);
    keep(merged.oops, h.oops);
    keep(merged.preset, h.preset);
    keep(merged.event, h.event);
    keep(merged.notify, h.notify);
    keep(merged.notifyWithPicture, h.notifyWithPicture);
    keep(merged.warning, h.warning);
    keep(merged.alertOnMain, h.alertOnMain);
    keep(merged.timerStart, h.timerStart);
    keep(merged.timerLog, h.timerLog);
    keep(merged.timerElapsed, h.timerElapsed);
    keep(merged.bringUpEditor, h.bringUpEditor);
    keep(merged.editorDpr, h.editorDpr);
    keep(merged.openURL, h.openURL);
    keep(merged.repeatableEvent, h.repeatableEvent);
    keep(merged.copyImage, h.copyImage);
    keep(merged.loadImage, h.loadImage);
    keep(merged.setMetadata, h.setMetadata);
    keep(merged.setEditorDpr, h.setEditorDpr);
    keep(merged.fileName, h.fileName);
    keep(merged.removePin, h.removePin);
    keep(merged.copyCurrent, h.copyCurrent);
    keep(merged.saveCurrent, h.saveCurrent);
    keep(merged.saveCurrentAs, h.saveCurrentAs);
    keep(merged.uploadCurrent, h.uploadCurrent);
    keep(merged.recognizeCurrent, h.recognizeCurrent);
    keep(merged.pinCurrent, h.pinCurrent);
    keep(merged.hideMainWindow, h.hideMainWindow);
    keep(merged.hideEditorForPreview, h.hideEditorForPreview);
    keep(merged.activateApp, h.activateApp);
    keep(merged.toolPath, h.toolPath);
    installed() = std::move(merged);
}

void resetHost() {
    installed() = defaults();
}

}  // namespace capture
