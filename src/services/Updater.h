#pragma once
// The version check (at most once every three days, the version file on the
// product site) and the update: the offer, the download with its progress
// in the toast, and opening the package with the desktop's default
// application. Runs on the main thread.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/base/Timer.h"
#include "services/FileDownloader.h"
#include "services/Str.h"

namespace services {

class Settings;
class Telemetry;
class Notifier;
class Announcer;

class Updater {
public:
    static constexpr double kCheckDelay = 300;

    static Updater& shared();
    Updater(Settings& settings, Telemetry& telemetry, Notifier& notifier, Announcer& announcer);
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    double lastVersionCheck = 0;           // seconds since 1970; this run only
    const double vercheckPeriod = 259200;  // three days
    FileDownloader downloader;

    // Arms a 300-second check when three days passed since the last one.
    void startChecking();
    // Arms a 300-second one-shot check (the application core does so at start).
    void armCheckTimer();
    // Asks the product site for the version file, unless checked within the period.
    void checkNewVersion();
    // Reads a version file (reply bytes, or none when the request failed).
    void checkVersion(const std::optional<Bytes>& data);

    // major·10000 + minor·100 + patch; a major that is not a number counts as 1, others as 0.
    static int64_t versionCode(const std::string& version);
    bool canAutoupdate();
    bool hasNewVersion();
    // Asks the user, then updates; method is "toolbar" or "menu".
    void suggestAutoupdate(const std::string& method);
    // Hides the editor and downloads the package; whether the download started.
    bool autoupdate();

    // The running version ("99.0.0" when unknown, so nothing is offered); tests set it.
    std::string runningVersion;
    // How many check timers wait.
    size_t pendingChecks();

private:
    void downloadCallback(int percentage, const std::optional<std::string>& path,
                          const std::optional<std::string>& error);
    void refuse(const std::string& function);
    std::string userAgent() const;

    Settings& settings_;
    Telemetry& telemetry_;
    Notifier& notifier_;
    Announcer& announcer_;
    std::vector<kit::Timer> checkTimers_;
};

}  // namespace services
