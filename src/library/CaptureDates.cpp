#include "library/CaptureDates.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "kit/base/Files.h"
#include "kit/base/Regex.h"
#include "kit/base/TextCase.h"

namespace library {

namespace {

// A strict local-time parse: the fields must survive mktime unchanged, so a
// 13th month, a 32nd day or a time inside a daylight-saving gap is no date.
std::optional<int64_t> localTime(int year, int month, int day, int h, int m, int s) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 ||
        s > 59)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    std::tm copy = tm;
    std::time_t t = std::mktime(&copy);
    if (t == -1) return std::nullopt;
    if (copy.tm_year != tm.tm_year || copy.tm_mon != tm.tm_mon || copy.tm_mday != tm.tm_mday ||
        copy.tm_hour != tm.tm_hour || copy.tm_min != tm.tm_min || copy.tm_sec != tm.tm_sec)
        return std::nullopt;
    return int64_t(t);
}

int digits(const std::string& s, size_t at, size_t n) {
    return std::stoi(s.substr(at, n));
}

std::string stem(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    auto dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The time of day the four letters stand for, in whole seconds; none for a
// count outside the day.
std::optional<int> secondsFromLetters(const std::string& letters) {
    int64_t v = 0;
    for (char c : letters) v = v * 26 + (std::tolower(static_cast<unsigned char>(c)) - 'a');
    int64_t t = int64_t(std::trunc(double(v - 17576) * 0.25));
    if (t < 0 || t >= 86400) return std::nullopt;
    return int(t);
}

std::optional<int64_t> dateWithTime(const std::string& name) {
    static const kit::Regex dateExpr("\\-(20[0-9]{6})\\-", kit::Regex::caseInsensitive);
    static const kit::Regex timeExpr("\\-20[0-9]{6}\\-([a-z]{4})", kit::Regex::caseInsensitive);
    auto m = dateExpr.firstMatch(name);
    if (!m || m->groups.size() < 2 || !m->groups[1]) return std::nullopt;
    const std::string& d = *m->groups[1];
    int y = digits(d, 0, 4), mo = digits(d, 4, 2), day = digits(d, 6, 2);
    auto t = timeExpr.firstMatch(name);
    if (!t || t->groups.size() < 2 || !t->groups[1]) return localTime(y, mo, day, 0, 0, 0);
    // Letters outside the day give no date, not the day's midnight.
    auto secs = secondsFromLetters(*t->groups[1]);
    if (!secs) return std::nullopt;
    return localTime(y, mo, day, *secs / 3600, *secs % 3600 / 60, *secs % 60);
}

std::optional<int64_t> nameDate(const std::string& name) {
    if (auto date = dateWithTime(name)) return date;
    static const kit::Regex dashedExpr("(20[0-9]{2}\\-[0-9]{2}\\-[0-9]{2})", kit::Regex::caseInsensitive);
    auto m = dashedExpr.firstMatch(name);
    if (!m || m->groups.size() < 2 || !m->groups[1]) return std::nullopt;
    const std::string& d = *m->groups[1];
    return localTime(digits(d, 0, 4), digits(d, 5, 2), digits(d, 8, 2), 0, 0, 0);
}

bool startsWith(const std::string& s, const std::string& p) {
    return s.compare(0, p.size(), p) == 0;
}
bool endsWith(const std::string& s, const std::string& p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

}  // namespace

int64_t fileDate(const std::string& path, std::optional<std::optional<double>> birthTime) {
    std::optional<int64_t> fromName = nameDate(stem(path));
    std::optional<double> created;
    if (birthTime) {
        created = *birthTime;
    } else if (auto stamp = kit::files::fileStamp(path)) {
        created = stamp->created;
    }
    std::optional<double> chosen;
    if (!fromName)
        chosen = created;
    else if (created && std::fabs(*created - double(*fromName)) < 86400)
        chosen = created;
    else
        chosen = double(*fromName);
    return chosen ? int64_t(std::trunc(*chosen)) : 0;
}

bool isScreenshotName(const std::string& name) {
    // Full Unicode lower-casing, the same in every locale.
    std::string lower = kit::lowerCase(name);
    static const char* const prefixes[] = {"scr-",      "screenshot", "captur", "bildschirmfoto",
                                           "schermata", "скріншот",   "снимок", "لقطة "};
    for (const char* p : prefixes)
        if (startsWith(lower, p)) return true;
    // Names that end in these words do so before their extension.
    std::string bare = stem(lower);
    for (const char* s : {"ンショット", "的屏幕截图"})
        if (endsWith(lower, s) || endsWith(bare, s)) return true;
    return false;
}

}  // namespace library
