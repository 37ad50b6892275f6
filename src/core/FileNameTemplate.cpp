#include "core/FileNameTemplate.h"

#include <cmath>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>

#include "services/Str.h"

namespace core {

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

std::string padded(int value, int width) {
    std::string s = std::to_string(value);
    if (int(s.size()) < width) s.insert(0, size_t(width - int(s.size())), '0');
    return s;
}

void replaceAll(std::string& text, std::string_view what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

std::string inBase(long long value, int base, const char* digits) {
    std::string out;
    do {
        out.insert(out.begin(), digits[value % base]);
        value /= base;
    } while (value > 0);
    return out;
}

bool isLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The date macros in the order they are applied; "%P" is "%p" lower-cased.
std::vector<std::pair<const char*, std::string>> dateMacros(const std::tm& t) {
    int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    std::string ampm = t.tm_hour < 12 ? "AM" : "PM";
    std::string month = kMonths[t.tm_mon];
    std::string day = kDays[t.tm_wday];
    return {
        {"%Y", padded(t.tm_year + 1900, 4)},
        {"%y", padded((t.tm_year + 1900) % 100, 2)},
        {"%m", padded(t.tm_mon + 1, 2)},
        {"%b", month.substr(0, 3)},
        {"%B", month},
        {"%d", padded(t.tm_mday, 2)},
        {"%j", padded(t.tm_yday + 1, 3)},
        {"%A", day},
        {"%a", day.substr(0, 3)},
        {"%W", padded(usWeekOfYear(t.tm_yday, t.tm_wday, t.tm_year + 1900), 2)},
        {"%Q", std::to_string(t.tm_mon / 3 + 1)},
        {"%H", padded(t.tm_hour, 2)},
        {"%I", padded(hour12, 2)},
        {"%p", ampm},
        {"%P", ampm == "AM" ? "am" : "pm"},
        {"%M", padded(t.tm_min, 2)},
        {"%S", padded(t.tm_sec, 2)},
    };
}

bool isForbidden(unsigned char c) {
    // The characters other file systems refuse, so a saved file can be copied
    // anywhere, and every control character: a line feed in a name breaks
    // scripts and file lists.
    // Tabs are blanks and are trimmed first; those left inside go afterwards.
    return (c < 0x20 && c != '\t') || c == 0x7F ||
           std::string_view("\\/:*?\"<>|").find(char(c)) != std::string_view::npos;
}

// Byte length of the well-formed UTF-8 character starting at `at`; 0 for a
// byte that starts none (a stray continuation, a cut or overlong sequence).
size_t nameCharacterAt(const std::string& s, size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || at + n > s.size()) return 0;
    return services::Str::isValidUTF8(std::string_view(s).substr(at, n)) ? n : 0;
}

// Bytes that are not UTF-8 text are forbidden too: the name is shown, typed
// and stored as text.
std::string replaceForbiddenRuns(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    bool inRun = false;
    for (size_t at = 0; at < in.size();) {
        const size_t n = nameCharacterAt(in, at);
        if (n == 0 || (n == 1 && isForbidden(static_cast<unsigned char>(in[at])))) {
            if (!inRun) out += '-';
            inRun = true;
            ++at;
        } else {
            out.append(in, at, n);
            inRun = false;
            at += n;
        }
    }
    return out;
}

// Byte length of the blank (space-like, not a line break) starting at `at`, or 0.
size_t blankAt(const std::string& s, size_t at) {
    static const std::string_view kBlanks[] = {
        " ", "\t", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
    };
    for (std::string_view b : kBlanks)
        if (s.compare(at, b.size(), b) == 0) return b.size();
    // U+2000 … U+200A.
    if (s.size() >= at + 3 && s.compare(at, 2, "\xE2\x80") == 0 && uint8_t(s[at + 2]) >= 0x80 &&
        uint8_t(s[at + 2]) <= 0x8A)
        return 3;
    return 0;
}

size_t blankEndingAt(const std::string& s, size_t end) {
    for (size_t len : {1, 2, 3})
        if (end >= len && blankAt(s, end - len) == len) return len;
    return 0;
}

std::string trimBlanks(std::string s) {
    size_t begin = 0;
    while (size_t n = blankAt(s, begin)) begin += n;
    size_t end = s.size();
    while (end > begin)
        if (size_t n = blankEndingAt(s, end))
            end -= n;
        else
            break;
    return s.substr(begin, end - begin);
}

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
std::string cutUtf8(std::string s, size_t limit) {
    if (s.size() <= limit) return s;
    size_t end = limit;
    while (end > 0 && (uint8_t(s[end]) & 0xC0) == 0x80) --end;
    s.resize(end);
    return s;
}

std::string expandRaw(std::string text, Clock::time_point date, const std::string& appName) {
    std::time_t secs = Clock::to_time_t(date);
    auto since = date - Clock::from_time_t(secs);
    long nanos = long(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
    if (nanos < 0) {  // to_time_t may round up
        nanos += 1000000000L;
        secs -= 1;
    }
    std::tm t{};
    localtime_r(&secs, &t);
    int secondsOfDay = t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
    for (const auto& [macro, value] : dateMacros(t)) replaceAll(text, macro, value);
    replaceAll(text, "%n", appName);
    replaceAll(text, "%t", letterTimeCode(secondsOfDay, nanos));
    replaceAll(text, "%T", base36TimeCode(secondsOfDay));
    std::string name = trimBlanks(replaceForbiddenRuns(text));
    for (char& c : name)
        if (c == '\t') c = '-';
    return name;
}

}  // namespace

int usWeekOfYear(int yearDay, int weekDay, int year) {
    int daysInYear = isLeap(year) ? 366 : 365;
    // The Sunday-started week that holds the next 1 January is that year's week 1.
    if (daysInYear - yearDay <= 6 - weekDay) return 1;
    int jan1WeekDay = ((weekDay - yearDay % 7) % 7 + 7) % 7;
    return (yearDay + jan1WeekDay) / 7 + 1;
}

std::string letterTimeCode(int secondsOfDay, long nanoseconds) {
    long long quarters = 4LL * secondsOfDay + nanoseconds / 250000000L + 17576;
    return inBase(quarters, 26, "abcdefghijklmnopqrstuvwxyz");
}

std::string base36TimeCode(int secondsOfDay) {
    long long halves = std::llround(secondsOfDay * 0.5) + 1296;  // halves round away from zero
    return inBase(halves, 36, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

std::string expandFileName(const std::string& templ, Clock::time_point date, const std::string& appName) {
    std::string name = cutUtf8(expandRaw(templ, date, appName), kMaxNameBytes);
    // A cut can leave a blank at the end; a blank-only template leaves nothing,
    // which would make a hidden ".png": fall back to the default template.
    name = trimBlanks(name);
    if (name.empty()) name = expandRaw(kDefaultFileNameTemplate, date, "");
    return name;
}

std::string fileNameMacros(const std::string& templ) {
    std::string out;
    for (size_t i = 0; i + 1 < templ.size(); ++i) {
        char c = templ[i + 1];
        if (templ[i] == '%' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace core
