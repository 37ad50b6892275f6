#include "services/Settings.h"

#include <algorithm>
#include <type_traits>

#include "kit/base/Files.h"
#include "kit/base/Timer.h"
#include "services/AppHooks.h"
#include "services/Random.h"
#include "services/Site.h"
#include "services/Telemetry.h"

namespace services {

namespace {
kit::Json toJson(const std::variant<std::string, int64_t, bool>& value) {
    return std::visit([](const auto& v) { return kit::Json(v); }, value);
}
}  // namespace

Settings& Settings::shared() {
    static Settings* instance = new Settings(kit::Defaults::standard());
    return *instance;
}

Settings::Settings(kit::Defaults& storage, Telemetry* telemetry) : storage_(storage), telemetry_(telemetry) {}

void Settings::setTelemetry(Telemetry* telemetry) {
    telemetry_ = telemetry;
}

Telemetry& Settings::telemetry() {
    return telemetry_ ? *telemetry_ : Telemetry::shared();
}

template <class T, class Read>
T Settings::cachedGet(const std::string& key, const T& defaultValue, Read read) {
    std::lock_guard guard(getterLock_);
    if (auto it = cache_.find(key); it != cache_.end()) {
        if (const T* cached = std::get_if<T>(&it->second)) return *cached;
        // A key some read as a number and others as a flag ("showMenubarIcon")
        // reads alike either way: 0 is false, anything else true.
        if constexpr (std::is_same_v<T, bool>) {
            if (auto* number = std::get_if<int64_t>(&it->second)) return *number != 0;
        } else if constexpr (std::is_same_v<T, int64_t>) {
            if (auto* flag = std::get_if<bool>(&it->second)) return int64_t(*flag ? 1 : 0);
        }
        return defaultValue;
    }
    if (!storage_.contains(key)) storage_.set(key, defaultValue);
    T value = read(key);
    cache_[key] = value;
    return value;
}

std::string Settings::getString(const std::string& key, const std::string& defaultValue) {
    // A stored object that does not read as text gives the default.
    return cachedGet(key, defaultValue,
                     [&](const std::string& k) { return storage_.string(k).value_or(defaultValue); });
}

int64_t Settings::getInt(const std::string& key, int64_t defaultValue) {
    return cachedGet(key, defaultValue, [&](const std::string& k) { return storage_.integer(k); });
}

bool Settings::getBool(const std::string& key, bool defaultValue) {
    return cachedGet(key, defaultValue, [&](const std::string& k) { return storage_.boolean(k); });
}

void Settings::store(const std::string& key, const Value& value) {
    std::lock_guard guard(getterLock_);
    cache_[key] = value;
    storage_.set(key, toJson(value));
}

void Settings::storeString(const std::string& key, const std::string& value) {
    store(key, value);
}
void Settings::storeInt(const std::string& key, int64_t value) {
    store(key, value);
}
void Settings::storeBool(const std::string& key, bool value) {
    store(key, value);
}

void Settings::sendSettingEvent(const std::string& key, const kit::Json& value) {
    telemetry().event("setting-" + key, {{"setting", value}});
}

void Settings::setString(const std::string& key, const std::string& value, Notify notify) {
    store(key, value);
    if (notify == Notify::Event) sendSettingEvent(key, value);
}

void Settings::setInt(const std::string& key, int64_t value, Notify notify) {
    store(key, value);
    if (notify == Notify::Event) sendSettingEvent(key, value);
}

void Settings::setBool(const std::string& key, bool value, Notify notify) {
    store(key, value);
    if (notify == Notify::Event) sendSettingEvent(key, value);
}

bool Settings::ever(const std::string& flag) {
    return storage_.contains("ever" + flag);
}

std::optional<std::string> Settings::defaultFolderURL() {
    std::optional<std::vector<uint8_t>> bookmark = storage_.data("defaultFolderBookmark");
    if (!bookmark) return std::nullopt;
    std::optional<kit::files::ResolvedBookmark> resolved = kit::files::resolveBookmark(*bookmark);
    if (!resolved || resolved->stale) return std::nullopt;
    return resolved->path;
}

void Settings::setDefaultFolderURL(const std::optional<std::string>& folder) {
    if (!folder) {
        storage_.remove("defaultFolderBookmark");
        return;
    }
    std::optional<kit::files::Bytes> bookmark = kit::files::makeBookmark(*folder);
    if (!bookmark) {
        telemetry().oops("defaultFolderURL",
                         "Failed to get bookmarkData: the folder " + *folder + " cannot be read");
        return;
    }
    storage_.setData("defaultFolderBookmark", std::move(*bookmark));
}

std::string Settings::makeUid() {
    auto ms = int64_t(kit::wallNow() * 1000);
    return base36(ms - kEpoch2019Ms) + "-" + base36(randomInt(1, 1600000));
}

std::string Settings::uid() {
    return getString("uid", makeUid());
}

void Settings::setUid(const std::string& value) {
    setString("uid", value, Notify::Silent);
}

void Settings::resetSettings() {
    std::string keptToken = token();
    std::string keptUid = uid();
    int64_t keptCounter = localEventCounter();
    {
        std::lock_guard guard(getterLock_);
        storage_.removeAll();
        cache_.clear();
    }
    setLocalEventCounter(keptCounter);
    setUid(keptUid);
    setToken(keptToken);
}

void Settings::setAllowDeeplinks(bool value) {
    sendSettingEvent("allowDeeplinks", value);
    store("allowDeeplinks", value);
}

void Settings::setAllowTelemetry(bool value) {
    // The change is queued and, when sending stops, flushed while the stored
    // value still allows it, so the service learns of the switch.
    sendSettingEvent("allowTelemetry", value);
    if (!value) telemetry().flush(true);
    store("allowTelemetry", value);
}

void Settings::setDefaultFolder(const std::string& value) {
    store("defaultFolder", value);
    // The folder path is private: the event carries no payload.
    telemetry().event("setting-defaultFolder", kit::Json::object());
}

void Settings::setLibLimit(int64_t value) {
    auto hooks = appHooks();
    if (hooks->setThumbnailCacheLimit) hooks->setThumbnailCacheLimit(std::min<int64_t>(value, 50));
    setInt("libLimit", value, Notify::Event);
}

void Settings::setLocalEventCounter(int64_t value) {
    store("localEventCounter", value);
}

void Settings::setShowIntro(bool value) {
    setInt("showIntro", value ? 1 : 0, Notify::Event);
}

void Settings::setShowMenubarIcon(bool value) {
    auto hooks = appHooks();
    if (hooks->setStatusItemVisible) hooks->setStatusItemVisible(value);
    setInt("showMenubarIcon", value ? 1 : 0, Notify::Event);
}

void Settings::setWindowShadow(const std::string& value) {
    store("windowShadow", value);
    telemetry().repeatableEvent("setting-windowShadow", {{"setting", value}});
}

// Typed properties.
int64_t Settings::activeAppVersion() {
    return getInt("activeAppVersion", 0);
}
void Settings::setActiveAppVersion(int64_t value) {
    setInt("activeAppVersion", value, Notify::Silent);
}
bool Settings::afterGrabCopy() {
    return getBool("afterGrabCopy", false);
}
void Settings::setAfterGrabCopy(bool value) {
    setBool("afterGrabCopy", value, Notify::Event);
}
bool Settings::afterGrabSave() {
    return getBool("afterGrabSave", false);
}
void Settings::setAfterGrabSave(bool value) {
    setBool("afterGrabSave", value, Notify::Event);
}
bool Settings::afterGrabShow() {
    return getBool("afterGrabShow", true);
}
void Settings::setAfterGrabShow(bool value) {
    setBool("afterGrabShow", value, Notify::Event);
}
bool Settings::allowDeeplinks() {
    return getBool("allowDeeplinks", true);
}
bool Settings::allowTelemetry() {
    return getBool("allowTelemetry", true);
}
bool Settings::altZoomDirection() {
    return getBool("altZoomDirection", false);
}
void Settings::setAltZoomDirection(bool value) {
    setBool("altZoomDirection", value, Notify::Event);
}
bool Settings::alwaysOnTop() {
    return getBool("alwaysOnTop", false);
}
void Settings::setAlwaysOnTop(bool value) {
    setBool("alwaysOnTop", value, Notify::Event);
}
std::string Settings::areaCaptureMode() {
    return getString("areaCaptureMode", "none");
}
void Settings::setAreaCaptureMode(const std::string& value) {
    setString("areaCaptureMode", value, Notify::Event);
}
bool Settings::autosaveOverwrite() {
    return getBool("autosaveOverwrite", false);
}
std::string Settings::bdrConfig() {
    return getString("bdrConfig", "");
}
void Settings::setBdrConfig(const std::string& value) {
    setString("bdrConfig", value, Notify::Silent);
}
std::string Settings::captureCursor() {
    return getString("captureCursor", "auto");
}
std::string Settings::cmdQAction() {
    return getString("cmdQAction", "?");
}
void Settings::setCmdQAction(const std::string& value) {
    setString("cmdQAction", value, Notify::Event);
}
std::string Settings::colorFormat() {
    return getString("colorFormat", "HEX");
}
void Settings::setColorFormat(const std::string& value) {
    setString("colorFormat", value, Notify::Event);
}
bool Settings::copyOnEsc() {
    return getBool("copyOnEsc", true);
}
void Settings::setCopyOnEsc(bool value) {
    setBool("copyOnEsc", value, Notify::Event);
}
std::string Settings::customBackdropColor() {
    return getString("customBackdropColor", "#6080A0");
}
void Settings::setCustomBackdropColor(const std::string& value) {
    setString("customBackdropColor", value, Notify::Silent);
}
std::string Settings::customDrawingColor() {
    return getString("customDrawingColor", "#F6F4E7");
}
void Settings::setCustomDrawingColor(const std::string& value) {
    setString("customDrawingColor", value, Notify::Silent);
}
std::string Settings::customGradFrom() {
    return getString("customGradFrom", "#221448");
}
void Settings::setCustomGradFrom(const std::string& value) {
    setString("customGradFrom", value, Notify::Silent);
}
std::string Settings::customGradTo() {
    return getString("customGradTo", "#919BD2");
}
void Settings::setCustomGradTo(const std::string& value) {
    setString("customGradTo", value, Notify::Silent);
}
std::string Settings::customHighlighterColor() {
    return getString("customHighlighterColor", "#FFDAEF");
}
void Settings::setCustomHighlighterColor(const std::string& value) {
    setString("customHighlighterColor", value, Notify::Silent);
}
std::string Settings::defaultColor() {
    return getString("defaultColor", "#F44723");
}
void Settings::setDefaultColor(const std::string& value) {
    setString("defaultColor", value, Notify::Silent);
}
std::string Settings::defaultFolder() {
    return getString("defaultFolder", "");
}
bool Settings::downscaleOnSave() {
    return getBool("downscaleOnSave", false);
}
void Settings::setDownscaleOnSave(bool value) {
    setBool("downscaleOnSave", value, Notify::Event);
}
bool Settings::everHidMainWindow() {
    return getBool("everHidMainWindow", false);
}
bool Settings::everScrollingCapture() {
    return getBool("everScrollingCapture", false);
}
bool Settings::everVisitedHotkeys() {
    return getBool("everVisitedHotkeys", false);
}
bool Settings::expandableCanvas() {
    return getBool("expandableCanvas", true);
}
std::string Settings::fileNameTemplate() {
    return getString("fileNameTemplate", "SCR-%Y%m%d-%t");
}
bool Settings::growingToolbar() {
    return getBool("growingToolbar", false);
}
int64_t Settings::latestVersionCode() {
    return getInt("latestVersionCode", 0);
}
void Settings::setLatestVersionCode(int64_t value) {
    setInt("latestVersionCode", value, Notify::Silent);
}
std::string Settings::latestVersionPackageUrl() {
    return getString("latestVersionPackageUrl", "");
}
void Settings::setLatestVersionPackageUrl(const std::string& value) {
    setString("latestVersionPackageUrl", value, Notify::Silent);
}
std::string Settings::latestVersionURL() {
    return getString("latestVersionURL", productSiteURL("/newversion.html"));
}
void Settings::setLatestVersionURL(const std::string& value) {
    setString("latestVersionURL", value, Notify::Silent);
}
std::string Settings::libAction() {
    return getString("libAction", "kadrix");
}
bool Settings::libAllowOCR() {
    return getBool("libAllowOCR", true);
}
void Settings::setLibAllowOCR(bool value) {
    setBool("libAllowOCR", value, Notify::Event);
}
bool Settings::libAllowPreexisting() {
    return getBool("libAllowPreexisting", true);
}
bool Settings::libEnabled() {
    return getBool("libEnabled", false);
}
void Settings::setLibEnabled(bool value) {
    setBool("libEnabled", value, Notify::Event);
}
bool Settings::libIndexNonshots() {
    return getBool("libIndexNonshots", false);
}
void Settings::setLibIndexNonshots(bool value) {
    setBool("libIndexNonshots", value, Notify::Event);
}
std::string Settings::libLayout() {
    return getString("libLayout", "medium");
}
void Settings::setLibLayout(const std::string& value) {
    setString("libLayout", value, Notify::Event);
}
int64_t Settings::libLimit() {
    return getInt("libLimit", 10000);
}
std::string Settings::libPopoveerSize() {
    return getString("libPopoveerSize", "small");
}
void Settings::setLibPopoveerSize(const std::string& value) {
    setString("libPopoveerSize", value, Notify::Event);
}
int64_t Settings::localEventCounter() {
    return getInt("localEventCounter", 0);
}
std::string Settings::notificationType() {
    return getString("notificationType", "custom");
}
void Settings::setNotificationType(const std::string& value) {
    setString("notificationType", value, Notify::Event);
}
bool Settings::ocrRemoveBreaks() {
    return getBool("ocrRemoveBreaks", false);
}
void Settings::setOcrRemoveBreaks(bool value) {
    setBool("ocrRemoveBreaks", value, Notify::Event);
}
bool Settings::preferLargeWindow() {
    return getBool("preferLargeWindow", false);
}
void Settings::setPreferLargeWindow(bool value) {
    setBool("preferLargeWindow", value, Notify::Event);
}
std::string Settings::primaryOCRLang() {
    return getString("primaryOCRLang", "en-US");
}
void Settings::setPrimaryOCRLang(const std::string& value) {
    setString("primaryOCRLang", value, Notify::Event);
}
bool Settings::realPixels() {
    return getBool("realPixels", false);
}
void Settings::setRealPixels(bool value) {
    setBool("realPixels", value, Notify::Event);
}
std::string Settings::saveFormat() {
    return getString("saveFormat", "Auto");
}
void Settings::setSaveFormat(const std::string& value) {
    setString("saveFormat", value, Notify::Event);
}
bool Settings::saveOnEsc() {
    return getBool("saveOnEsc", false);
}
void Settings::setSaveOnEsc(bool value) {
    setBool("saveOnEsc", value, Notify::Event);
}
bool Settings::scrollingManualEnabled() {
    return getBool("scrollingManualEnabled", false);
}
int64_t Settings::scrollingMax() {
    return getInt("scrollingMax", 20000);
}
void Settings::setScrollingMax(int64_t value) {
    setInt("scrollingMax", value, Notify::Event);
}
bool Settings::scrollingReverseAutoscroll() {
    return getBool("scrollingReverseAutoscroll", false);
}
void Settings::setScrollingReverseAutoscroll(bool value) {
    setBool("scrollingReverseAutoscroll", value, Notify::Event);
}
int64_t Settings::scrollingSpeed() {
    return getInt("scrollingSpeed", 2);
}
void Settings::setScrollingSpeed(int64_t value) {
    setInt("scrollingSpeed", value, Notify::Event);
}
int64_t Settings::showDockIcon() {
    return getInt("showDockIcon", 1);
}
int64_t Settings::showIntro() {
    return getInt("showIntro", 1);
}
int64_t Settings::showMenubarIcon() {
    return getInt("showMenubarIcon", 1);
}
std::string Settings::thumbnailClosing() {
    return getString("thumbnailClosing", "manual");
}
void Settings::setThumbnailClosing(const std::string& value) {
    setString("thumbnailClosing", value, Notify::Event);
}
std::string Settings::token() {
    return getString("token", "");
}
void Settings::setToken(const std::string& value) {
    setString("token", value, Notify::Silent);
}
std::string Settings::uploadMode() {
    return getString("uploadMode", "cloud");
}
void Settings::setUploadMode(const std::string& value) {
    setString("uploadMode", value, Notify::Silent);
}
std::string Settings::windowShadow() {
    return getString("windowShadow", "transparent");
}
std::string Settings::windowSolidColor() {
    return getString("windowSolidColor", "#404448");
}
void Settings::setWindowSolidColor(const std::string& value) {
    setString("windowSolidColor", value, Notify::Event);
}

}  // namespace services
