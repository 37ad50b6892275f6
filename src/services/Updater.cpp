#include "services/Updater.h"

#include <algorithm>

#include "kit/base/Dispatch.h"
#include "kit/base/Http.h"
#include "kit/base/Json.h"
#include "kit/base/Parse.h"
#include "services/Alerts.h"
#include "services/Announcer.h"
#include "services/AppHooks.h"
#include "services/Console.h"
#include "services/NamedTimers.h"
#include "services/Notifier.h"
#include "services/Random.h"
#include "services/Settings.h"
#include "services/Site.h"
#include "services/Telemetry.h"

namespace services {

namespace {
constexpr size_t kMaxVersionFileBytes = size_t(1) << 20;

std::vector<std::string> splitAtDots(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return parts;
        start = dot + 1;
    }
}

// A version file is a JSON object of texts. Bytes that are not JSON give
// nothing; JSON of another shape gives no entries (ignored, not an error);
// a value that is not a text is skipped and the others still count.
std::optional<std::map<std::string, std::string>> readVersionFile(const Bytes& data) {
    auto json = kit::json::parse(std::string(data.begin(), data.end()));
    if (!json) return std::nullopt;
    std::map<std::string, std::string> file;
    if (!json->is_object()) return file;
    for (auto& [key, value] : json->items())
        if (value.is_string()) file[key] = value.get<std::string>();
    return file;
}
}  // namespace

Updater& Updater::shared() {
    static Updater* instance =
        new Updater(Settings::shared(), Telemetry::shared(), Notifier::shared(), Announcer::shared());
    return *instance;
}

Updater::Updater(Settings& settings, Telemetry& telemetry, Notifier& notifier, Announcer& announcer)
    : downloader(&telemetry),
      runningVersion(appVersion().empty() ? "99.0.0" : appVersion()),
      settings_(settings),
      telemetry_(telemetry),
      notifier_(notifier),
      announcer_(announcer) {}

size_t Updater::pendingChecks() {
    std::erase_if(checkTimers_, [](const kit::Timer& t) { return !t.isValid(); });
    return checkTimers_.size();
}

void Updater::armCheckTimer() {
    pendingChecks();
    checkTimers_.push_back(kit::Timer::once(kCheckDelay, [this] { checkNewVersion(); }));
}

void Updater::startChecking() {
    if (kit::wallNow() - lastVersionCheck > vercheckPeriod) armCheckTimer();
}

std::string Updater::userAgent() const {
    const kit::Json& common = telemetry_.commonData();
    return "Kadrix " + std::to_string(telemetry_.vc()) + " Linux " + common.value("os", "") + " " +
           common.value("ln", "");
}

void Updater::checkNewVersion() {
    double now = kit::wallNow();
    if (now - lastVersionCheck < vercheckPeriod) return;
    lastVersionCheck = now;
    consoleLine("CHECK NEW VERSION");

    std::string uid = settings_.uid();
    std::replace(uid.begin(), uid.end(), '-', 'B');
    std::string token =
        base36(randomInt(1, 1600000)) + "U" + uid + "L" + std::to_string(settings_.localEventCounter());

    kit::http::Request request;
    request.url = productSiteURL("/api/version.json") + "?anticache=" + token;
    request.timeoutSeconds = 60;
    request.maxReplyBytes = kMaxVersionFileBytes;
    request.headers = {{"User-Agent", userAgent()}};
    kit::http::send(std::move(request), [this](kit::http::Response response) {
        std::optional<Bytes> data;
        if (!response.error) data = Bytes(response.body.begin(), response.body.end());
        kit::dispatchMain([this, data = std::move(data)] { checkVersion(data); });
    });
}

void Updater::checkVersion(const std::optional<Bytes>& data) {
    if (!data) return;
    std::optional<std::map<std::string, std::string>> file = readVersionFile(*data);
    if (!file) {
        telemetry_.oops("checkVersion()", "Can't read version data");
        return;
    }
    if (file->empty()) return;  // JSON, but not a version file
    auto latest = file->find("latestVersion");
    auto link = file->find("link");
    if (latest != file->end() && link != file->end()) {
        auto package = file->find("package");
        settings_.setLatestVersionCode(versionCode(latest->second));
        settings_.setLatestVersionURL(link->second);
        settings_.setLatestVersionPackageUrl(package != file->end() ? package->second : "");
        consoleLine("Received info: " + std::to_string(settings_.latestVersionCode()) + " " +
                    settings_.latestVersionURL() + " " + settings_.latestVersionPackageUrl());
        if (hasNewVersion()) {
            auto hooks = appHooks();
            if (hooks->newVersionFound) hooks->newVersionFound(latest->second);
        }
    }
    announcer_.configure(*file);
}

int64_t Updater::versionCode(const std::string& version) {
    std::vector<std::string> parts = splitAtDots(version);
    auto part = [&](size_t i, int64_t fallback) {
        return i < parts.size() ? kit::parseInt64(parts[i]).value_or(fallback) : 0;
    };
    return part(0, 1) * 10000 + part(1, 0) * 100 + part(2, 0);
}

bool Updater::canAutoupdate() {
    std::string package = settings_.latestVersionPackageUrl();
    return package.size() >= 11 && FileDownloader::isUnderSiteRoot(package);
}

bool Updater::hasNewVersion() {
    if (!canAutoupdate()) return false;
    return versionCode(runningVersion) < settings_.latestVersionCode();
}

void Updater::refuse(const std::string& function) {
    telemetry_.oops(function,
                    ".canAutoupdate() = false, package url = " + settings_.latestVersionPackageUrl());
    alertOnMain("Problem Occurred",
                "Try again later, or go to " + productSiteRoot() + " and install the new version manually.");
}

void Updater::suggestAutoupdate(const std::string& method) {
    if (!canAutoupdate()) {
        refuse("suggestAutoupdate(method:)");
        return;
    }
    confirmOkCancelOnMain(
        "Update the app?",
        "Kadrix will download the new version and re-install it. The app will restart, make sure "
        "to save your current screenshot. Your desktop may ask you for the password in the process.",
        [this, method](bool ok) {
            if (ok) autoupdate();
            telemetry_.event(ok ? "autoupdate:confirmed" : "autoupdate:rejected",
                             {{"latestVersion", settings_.latestVersionCode()}, {"method", method}});
        });
}

bool Updater::autoupdate() {
    if (!canAutoupdate()) {
        refuse("autoupdate()");
        return false;
    }
    auto hooks = appHooks();
    if (hooks->hideMainWindow) hooks->hideMainWindow();
    downloader.downloadFile(
        settings_.latestVersionPackageUrl(),
        [this](int percentage, std::optional<std::string> path, std::optional<std::string> error) {
            downloadCallback(percentage, path, error);
        });
    notifier_.notificationAction = [this] { downloader.cancel(); };
    notifier_.showCustom("Downloading New Version", "Sit tight", std::nullopt, "Cancel", false, std::nullopt);
    return true;
}

void Updater::downloadCallback(int percentage, const std::optional<std::string>& path,
                               const std::optional<std::string>& error) {
    if (!path && !error) {
        int64_t tenths = downloader.size() * 10 / 1048576;
        notifier_.setMessageText("Total size: " + kit::json::doubleText(double(tenths) / 10) +
                                 "mb, progress: " + std::to_string(percentage) + "%");
        notifier_.didShow();
        return;
    }
    notifier_.hideNow();
    int64_t latest = settings_.latestVersionCode();
    double timer = timerElapsed("FileDownloader.downloadFile()");
    if (path) {
        telemetry_.event("autoupdate:downloaded", {{"latestVersion", latest}, {"timer", timer}});
        telemetry_.storeQueue();
        consoleLine("download complete: " + *path);
        hookOpenWithDefaultApp(*path);
        return;
    }
    if (*error == "Download Stopped: cancelled") {
        telemetry_.event(
            "autoupdate:canceled",
            {{"latestVersion", latest}, {"progress", downloader.percentage()}, {"timer", timer}});
        return;
    }
    telemetry_.event("autoupdate:failed", {{"latestVersion", latest},
                                           {"progress", downloader.percentage()},
                                           {"timer", timer},
                                           {"error", *error}});
    telemetry_.oops("autoupdate()", *error);
    alertOnMain("Unable to update Kadrix", *error + ". Try again, or download and update the app manually");
}

}  // namespace services
