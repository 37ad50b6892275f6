#include "core/AppLogic.h"

#include <cassert>

#include "capture/CaptureHost.h"
#include "controls/CtrlHelper.h"
#include "core/AppExports.h"
#include "core/AppHost.h"
#include "core/Cursors.h"
#include "core/CutSaves.h"
#include "core/ObjectsBridge.h"
#include "editor/EditorKeys.h"
#include "editor/Framer.h"
#include "kit/base/Dispatch.h"
#include "kit/base/Displays.h"
#include "kit/base/Files.h"
#include "kit/ui/Application.h"
#include "kit/ui/Window.h"
#include "services/AppHooks.h"
#include "services/Console.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "services/Updater.h"

namespace core {

namespace {

AppLogic::Services withDefaults(AppLogic::Services s) {
    if (!s.settings) s.settings = &services::Settings::shared();
    if (!s.telemetry) s.telemetry = &services::Telemetry::shared();
    if (!s.notifier) s.notifier = &services::Notifier::shared();
    return s;
}

// A settings or library write cut short (the process killed between
// writing and naming) leaves a hidden file under a temporary name of ours;
// nothing else would ever remove it. Only our folders, only those names.
void removeUnfinishedWritesOfOurs() {
    for (const auto& folder : {kit::files::configDir(), kit::files::dataDir(),
                               kit::files::dataDir() + "/backdrops", saveRecordFolder()})
        kit::files::removeUnfinishedWrites(folder);
}

}  // namespace

AppLogic& AppLogic::shared() {
    // Made once, on first use, and never released: windows, timers and hooks
    // keep pointing at it until the process ends.
    static AppLogic* instance = [] {
        auto* logic = new AppLogic({}, std::make_unique<CaptureRoutes>(), std::make_unique<EditorLink>());
        logic->installHooks();
        return logic;
    }();
    return *instance;
}

AppLogic::AppLogic(Services services, std::unique_ptr<CaptureRoutes> routes,
                   std::unique_ptr<EditorLink> editor)
    : services_(withDefaults(services)), routes_(std::move(routes)), editor_(std::move(editor)) {
    notificationAction = [] { services::consoleLine("smartwater"); };
    startUp();
}

AppLogic::~AppLogic() {
    if (!hooksInstalled_) return;
    if (&editor::core() == this) editor::setCore(nullptr);
    uninstallObjectsBridge(*this);
    controls::CtrlHelper::setCursorUpdating = nullptr;
    capture::CaptureHost restored;
    restored.bringUpEditor = [] {};
    capture::setHost(restored);
    // Only the hooks this instance put in; others' stay.
    services::updateAppHooks([](services::AppHooks& hooks) {
        hooks.editorZoom = nullptr;
        hooks.editorDpr = nullptr;
        hooks.lastActiveTime = nullptr;
        hooks.lastActiveScreen = nullptr;
        hooks.hideMainWindow = nullptr;
        hooks.newVersionFound = nullptr;
    });
}

void AppLogic::startUp() {
    cursors = makeCursors();
    telemetry().event("launch", {{"screens", int64_t(kit::Displays::all().size())}});
    // The editor window is found through the editor link whenever it is needed.

    removeUnfinishedWritesOfOurs();
    const auto folder = settings().defaultFolderURL();
    if (folder) library().create(*folder);
    // The saves cut short are read through the decoder, off the main thread
    // (a hung network folder holds no start either); each in the save
    // folder then has the library line its save would have made, and so has
    // a save named whose line was still owed.
    leftovers_.async([] {
        for (const auto& save : finishRecordedSaves()) library().indexSavedFile(save.path, save.facts);
        for (const auto& save : finishRememberedCutSaves()) library().indexSavedFile(save.path, save.facts);
    });

    const int64_t stored = settings().activeAppVersion();
    const int64_t running = telemetry().vc();
    if (stored != running) {
        if (running < stored) telemetry().event("version-downgrade", {{"oldVC", stored}});
        if (stored != 0 && stored < running) telemetry().event("version-upgrade", {{"oldVC", stored}});
        settings().setActiveAppVersion(running);
    }

    updateCheck_ = kit::Timer::once(300, [] { services::Updater::shared().checkNewVersion(); });
    cleanupTempFolder(std::nullopt);
    services::consoleLine("AppLogic initialized");
}

void AppLogic::installHooks() {
    hooksInstalled_ = true;
    editor::setCore(this);
    editor::installCropRulerAndKeys();
    installObjectsBridge(*this);
    // The pointer over a hint bubble stays the arrow whatever the canvas under it asks.
    controls::CtrlHelper::setCursorUpdating = [this](bool on) { setCursorUpdating(on); };

    capture::CaptureHost h;
    h.bringUpEditor = [this] { yieldFocus(); };
    h.notifyWithPicture = [this](const std::string& title, const std::string& message) {
        heldNotice_.emplace(title, message);
    };
    h.editorDpr = [] { return editor::Framer::shared().dpr(); };
    // What pinned screenshots ask of the core.
    h.copyImage = [this](const kit::Image& img) {
        exports().exporter.copyToPasteboard(img);
        telemetry().event("copyImage", shotStats(kit::Json::object()));
    };
    h.loadImage = [this](const kit::Image& img) { return loadImage(img, false); };
    h.setMetadata = [this](const std::string& key, const kit::Json& value) { metadata_[key] = value; };
    h.setEditorDpr = [](double dpr) { editor::Framer::shared()._dpr.set(dpr); };
    h.fileName = [this] { return fileName(); };
    h.removePin = [this](int64_t id) { routes_->removePin(id); };
    // What the preview thumbnail asks of the core.
    h.copyCurrent = [this] { copyImage(false, false); };
    h.saveCurrent = [this](bool quiet) { saveImage(quiet, false); };
    h.saveCurrentAs = [this] { saveImageAs(std::nullopt, fileName()); };
    h.uploadCurrent = [this] { uploadImage("preview"); };
    h.pinCurrent = [this] { pinImage(std::nullopt, std::nullopt); };
    h.hideMainWindow = [this] { hideMainWindow(); };
    h.hideEditorForPreview = [this] {
        if (kit::Application::shared().activationPolicy() != kit::ActivationPolicy::Regular) return false;
        if (winPreferences) winPreferences->close();
        hideMainWindow();
        return true;
    };
    h.activateApp = [this] { activate(0); };
    // The thumbnail's text button reads the whole capture.
    h.recognizeCurrent = [this] {
        const kit::Image img = imgSource();
        if (img.isNull()) return;
        services::timerStart("OCR");
        recognize(img);
    };
    capture::setHost(std::move(h));

    services::updateAppHooks([this](services::AppHooks& hooks) {
        // Read by telemetry from any thread: the viewport's values are atomics.
        hooks.editorZoom = [] { return editor::Framer::shared().zoom(); };
        hooks.editorDpr = [] { return editor::Framer::shared().dpr(); };
        hooks.lastActiveTime = [this] { return lastActiveTime; };
        hooks.lastActiveScreen = [this] { return lastActiveScreen; };
        hooks.hideMainWindow = [this] { hideMainWindow(); };
        hooks.newVersionFound = [this](const std::string& version) { newVersionFound(version); };
    });
}

// ───────────────────────── the pixel buffer ─────────────────────────

bool AppLogic::lockOwnedHere() const {
    return loadingThread_.load() == std::this_thread::get_id();
}

imaging::Capture AppLogic::capture() const {
    // A reader inside a load would wait for itself forever: the lock is not
    // recursive. Debug builds stop here; release builds read what the load
    // published so far rather than hang.
    assert(!lockOwnedHere() && "the image lock is taken again inside a load");
    auto snapshot = [this] {
        imaging::Capture c = imaging::Capture::of(imgSource_);
        const editor::Framer& f = editor::Framer::shared();
        if (!imgSource_.isNull()) c.crop = f.crop.toKit();
        if (!imgPrecompiled_.isNull())
            c.precompiled = {double(imgPrecompiled_.width()), double(imgPrecompiled_.height())};
        return c;
    };
    if (lockOwnedHere()) {
        services_.telemetry->oops("capture()", "Image lock taken again inside loadImage");
        return snapshot();
    }
    std::lock_guard guard(lockImageData);
    return snapshot();
}

kit::Image AppLogic::imgSource() const {
    if (lockOwnedHere()) return imgSource_;
    std::lock_guard guard(lockImageData);
    return imgSource_;
}

// ───────────────────────── the exporter's commands ─────────────────────────

void AppLogic::pinImage(const kit::Image& img, kit::Point mid) {
    if (img.isNull()) return;
    routes_->pin(img, mid);
    telemetry().event("pin", {{"width", int64_t(img.width())},
                              {"height", int64_t(img.height())},
                              {"count", int64_t(routes_->pinCount())}});
    hideMainWindow();
    kit::Application::shared().activate();
}

void AppLogic::pinImage(std::optional<double> midX, std::optional<double> midY) {
    kit::Point mid;
    kit::Window* win = winMain();
    if (win && win->isVisible())
        mid = kit::Displays::toWindowServer(win->frame()).center();
    else if (auto preview = routes_->previewFrame())
        mid = kit::Displays::toWindowServer(*preview).center();
    else if (!kit::Displays::all().empty())
        mid = kit::Displays::toWindowServer(kit::Displays::main().frame).center();
    if (midX) mid.x = *midX;
    if (midY) mid.y = *midY;
    kit::Image img = compileImage();
    if (img.isNull()) {
        telemetry().oops("pinImage(midX:midY:)", "Can't precompile image to pin");
        return;
    }
    pinImage(img, mid);
}

}  // namespace core
