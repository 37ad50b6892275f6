#pragma once
// The store of user preferences and small persistent state over the
// user-defaults database. A getter writes a key's default into the database
// on its first read; every value read or written in this run is cached, so a
// read after the first is one map look-up under a lock. Setters of
// user-visible preferences report the change as the telemetry event
// "setting-" followed by the key.
//
// Locks: the telemetry lock, then `getterLock`, then the database's own. Code
// holding `getterLock` never sends telemetry and never reads or writes a
// setting (the lock is not recursive).
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>

#include "kit/base/Defaults.h"
#include "kit/base/Json.h"

namespace services {

class Telemetry;

class Settings {
public:
    // The application's store over kit::Defaults::standard(); made on first use.
    static Settings& shared();

    // A store over `storage`; its events go to `telemetry` (the shared
    // telemetry service when null). Tests pair a store with their own service.
    explicit Settings(kit::Defaults& storage, Telemetry* telemetry = nullptr);
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    void setTelemetry(Telemetry* telemetry);
    kit::Defaults& storage() { return storage_; }

    // Typed getters: the cached value, else the stored one, else the default
    // (which is stored at the same time). They never send telemetry.
    std::string getString(const std::string& key, const std::string& defaultValue);
    int64_t getInt(const std::string& key, int64_t defaultValue);
    bool getBool(const std::string& key, bool defaultValue);

    // Typed writes of cache and database without an event, for the keys whose
    // owners write them directly ("everHidMainWindow" and the like).
    void storeString(const std::string& key, const std::string& value);
    void storeInt(const std::string& key, int64_t value);
    void storeBool(const std::string& key, bool value);

    // True when the database holds anything under "ever" + flag (even false).
    bool ever(const std::string& flag);

    // The save folder, kept as a bookmark (path and identity); absent when
    // none is set or the folder is gone or replaced.
    std::optional<std::string> defaultFolderURL();
    void setDefaultFolderURL(const std::optional<std::string>& folder);

    // The installation identifier: generated and stored on first read.
    std::string uid();
    void setUid(const std::string& value);
    // A fresh identifier of the form base36(ms since 2019-12-20) "-" base36(random).
    static std::string makeUid();

    // Clears the application's whole database but for `token`, `uid` and
    // `localEventCounter`, and forgets the cached values, so the running
    // program reads the defaults from now on.
    void resetSettings();

    // Typed properties, one per key; setters with the behaviour of their key.
    int64_t activeAppVersion();
    void setActiveAppVersion(int64_t value);
    bool afterGrabCopy();
    void setAfterGrabCopy(bool value);
    bool afterGrabSave();
    void setAfterGrabSave(bool value);
    bool afterGrabShow();
    void setAfterGrabShow(bool value);
    bool allowDeeplinks();
    bool allowTelemetry();
    bool altZoomDirection();
    void setAltZoomDirection(bool value);
    bool alwaysOnTop();
    void setAlwaysOnTop(bool value);
    std::string areaCaptureMode();
    void setAreaCaptureMode(const std::string& value);
    bool autosaveOverwrite();
    std::string bdrConfig();
    void setBdrConfig(const std::string& value);
    std::string captureCursor();
    std::string cmdQAction();
    void setCmdQAction(const std::string& value);
    std::string colorFormat();
    void setColorFormat(const std::string& value);
    bool copyOnEsc();
    void setCopyOnEsc(bool value);
    std::string customBackdropColor();
    void setCustomBackdropColor(const std::string& value);
    std::string customDrawingColor();
    void setCustomDrawingColor(const std::string& value);
    std::string customGradFrom();
    void setCustomGradFrom(const std::string& value);
    std::string customGradTo();
    void setCustomGradTo(const std::string& value);
    std::string customHighlighterColor();
    void setCustomHighlighterColor(const std::string& value);
    std::string defaultColor();
    void setDefaultColor(const std::string& value);
    std::string defaultFolder();
    bool downscaleOnSave();
    void setDownscaleOnSave(bool value);
    bool everHidMainWindow();
    bool everScrollingCapture();
    bool everVisitedHotkeys();
    bool expandableCanvas();
    std::string fileNameTemplate();
    bool growingToolbar();
    int64_t latestVersionCode();
    void setLatestVersionCode(int64_t value);
    std::string latestVersionPackageUrl();
    void setLatestVersionPackageUrl(const std::string& value);
    std::string latestVersionURL();
    void setLatestVersionURL(const std::string& value);
    std::string libAction();
    bool libAllowOCR();
    void setLibAllowOCR(bool value);
    bool libAllowPreexisting();
    bool libEnabled();
    void setLibEnabled(bool value);
    bool libIndexNonshots();
    void setLibIndexNonshots(bool value);
    std::string libLayout();
    void setLibLayout(const std::string& value);
    int64_t libLimit();
    std::string libPopoveerSize();
    void setLibPopoveerSize(const std::string& value);
    int64_t localEventCounter();
    std::string notificationType();
    void setNotificationType(const std::string& value);
    bool ocrRemoveBreaks();
    void setOcrRemoveBreaks(bool value);
    bool preferLargeWindow();
    void setPreferLargeWindow(bool value);
    std::string primaryOCRLang();
    void setPrimaryOCRLang(const std::string& value);
    bool realPixels();
    void setRealPixels(bool value);
    std::string saveFormat();
    void setSaveFormat(const std::string& value);
    bool saveOnEsc();
    void setSaveOnEsc(bool value);
    bool scrollingManualEnabled();
    int64_t scrollingMax();
    void setScrollingMax(int64_t value);
    bool scrollingReverseAutoscroll();
    void setScrollingReverseAutoscroll(bool value);
    int64_t scrollingSpeed();
    void setScrollingSpeed(int64_t value);
    int64_t showDockIcon();
    int64_t showIntro();
    int64_t showMenubarIcon();
    std::string thumbnailClosing();
    void setThumbnailClosing(const std::string& value);
    std::string token();
    void setToken(const std::string& value);
    std::string uploadMode();
    void setUploadMode(const std::string& value);
    std::string windowShadow();
    std::string windowSolidColor();
    void setWindowSolidColor(const std::string& value);

    // Setters with their own order of steps.
    void setAllowDeeplinks(bool value);
    void setAllowTelemetry(bool value);
    void setDefaultFolder(const std::string& value);
    void setLibLimit(int64_t value);
    void setLocalEventCounter(int64_t value);
    void setShowIntro(bool value);
    void setShowMenubarIcon(bool value);
    void setWindowShadow(const std::string& value);

private:
    using Value = std::variant<std::string, int64_t, bool>;
    enum class Notify { Silent, Event };

    template <class T, class Read>
    T cachedGet(const std::string& key, const T& defaultValue, Read read);
    void setString(const std::string& key, const std::string& value, Notify notify);
    void setInt(const std::string& key, int64_t value, Notify notify);
    void setBool(const std::string& key, bool value, Notify notify);
    // Cache and database under `getterLock`; the event comes after the lock is released.
    void store(const std::string& key, const Value& value);
    void sendSettingEvent(const std::string& key, const kit::Json& value);
    Telemetry& telemetry();

    kit::Defaults& storage_;
    Telemetry* telemetry_;
    std::unordered_map<std::string, Value> cache_;
    std::mutex getterLock_;
};

}  // namespace services
