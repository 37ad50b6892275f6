#include "services/Site.h"

#include <cstdlib>

#ifndef KADRIX_SITE_DEFAULT
#define KADRIX_SITE_DEFAULT "https://kadrix.app"
#endif
#ifndef KADRIX_VERSION
#define KADRIX_VERSION "0.0.0"
#endif

namespace services {

std::string productSite() {
    const char* env = std::getenv("KADRIX_SITE");
    std::string site = env && *env ? env : KADRIX_SITE_DEFAULT;
    while (!site.empty() && site.back() == '/') site.pop_back();
    return site;
}

std::string productSiteRoot() {
    return productSite() + "/";
}

std::string productSiteURL(const std::string& path) {
    return productSite() + path;
}

std::string appVersion() {
    return KADRIX_VERSION;
}

}  // namespace services
