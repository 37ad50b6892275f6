#pragma once
// The product's web service (telemetry, version check, update package,
// upload, leaderboard). A build setting; the KADRIX_SITE environment variable
// overrides it, so tests can point everything at a loopback server.
#include <string>

namespace services {

// The site's origin without a trailing "/", e.g. "https://kadrix.app".
std::string productSite();
// The origin followed by "/": everything the program may download lives under it.
std::string productSiteRoot();
// The origin followed by `path` (which begins with "/").
std::string productSiteURL(const std::string& path);
// The version of this build, "major.minor.patch".
std::string appVersion();

}  // namespace services
