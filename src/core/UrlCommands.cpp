#include "core/UrlCommands.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "services/Settings.h"

namespace core {

namespace {

// A text that came from a URL, fit to be shown: no control characters, at
// most `max` bytes cut at a character boundary.
std::string shown(const std::string& text, size_t max = 160) {
    std::string out;
    for (unsigned char c : text) out += (c < 0x20 || c == 0x7f) ? ' ' : char(c);
    if (out.size() <= max) return out;
    size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    return out.substr(0, cut) + "…";
}

bool isCapture(const std::string& command) {
    return command.rfind("grab/", 0) == 0 && command != "grab/append";
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void setToken(const std::string& command, const std::optional<std::string>& payload, UrlActions& actions) {
    std::string token = tokenFromPayload(payload);
    if (token.size() >= 11 && token.size() <= 36) {
        // Uploads would go wherever this token points: the user says yes first.
        if (!actions.consent("Apply a new upload token?", "A link asks to change your upload token to " +
                                                              token + ". Your next uploads will use it."))
            return;
        services::Settings::shared().setToken(token);
        actions.notify("Token Updated", "New token is applied successfully: " + token);
    } else if (token == "none") {
        if (!actions.consent("Remove the upload token?", "A link asks to remove your upload token.")) return;
        services::Settings::shared().setToken("");
        actions.notify("Token Was Removed", "Upload feature will not work until you add a new token");
    } else {
        actions.warning("Kadrix: no valid token provided", "URL Scheme command failed:\n" + shown(command));
    }
}

void setLibraryLimit(const std::optional<std::string>& payload, UrlActions& actions) {
    std::string text = payload.value_or("0");
    int64_t limit = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), limit);
    if (ec != std::errc() || end != text.data() + text.size() || limit <= 0) return;
    if (!actions.consent(
            "Change the library size?",
            "A link asks to keep the newest " + std::to_string(limit) + " screenshots in the library."))
        return;
    services::Settings::shared().setLibLimit(limit);
    if (services::Settings::shared().libEnabled()) actions.rescanLibraryView();
}

void searchLibrary(const std::optional<std::string>& payload, const std::map<std::string, std::string>& query,
                   UrlActions& actions) {
    actions.showLibraryPopover();
    auto it = query.find("search");
    std::optional<std::string> text = it != query.end() ? std::optional<std::string>(it->second) : payload;
    if (!text) return;
    actions.searchLibrary(*text);
}

}  // namespace

AppLogic::AfterGrab afterGrabFromThen(const std::string& value, bool& recognised) {
    std::set<std::string> words;
    std::stringstream in(lower(value));
    std::string word;
    while (std::getline(in, word, ',')) words.insert(word);
    AppLogic::AfterGrab a;
    a.copy = words.count("copy");
    a.save = words.count("save");
    a.edit = words.count("edit");
    a.pin = words.count("pin");
    a.thumbnail = words.count("thumbnail");
    recognised = a.copy || a.save || a.edit || a.pin || a.thumbnail;
    return a;
}

double delayFromPayload(const std::optional<std::string>& payload) {
    constexpr double fallback = 3.0;
    if (!payload || payload->empty()) return fallback;
    const std::string& s = *payload;
    double value = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return fallback;
    // A link must not schedule a capture for next year, or for never.
    if (!std::isfinite(value) || value < 0 || value > 3600) return fallback;
    return value;
}

std::string tokenFromPayload(const std::optional<std::string>& payload) {
    std::string out;
    for (char c : payload.value_or(""))
        if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) out += c;
    return out;
}

void handleURLCommand(const std::string& host, const std::string& command,
                      const std::optional<std::string>& payload,
                      const std::map<std::string, std::string>& query, UrlActions& actions) {
    if (host == "plim") {
        actions.handlePlimCommand(command, payload);
        return;
    }
    if (!services::Settings::shared().allowDeeplinks()) {
        actions.warning("Kadrix: URL Scheme (deeplinks) is disabled",
                        "You could enable URL Scheme in Settings, on the Advanced tab");
        return;
    }
    std::optional<AppLogic::AfterGrab> then;
    if (auto it = query.find("then"); it != query.end()) {
        bool recognised = false;
        then = afterGrabFromThen(it->second, recognised);
        if (!recognised)
            actions.warning("Unrecognized \"then\" parameter",
                            "Available options: \"copy\", \"save\", \"edit\", \"pin\", or a comma-separated "
                            "combination");
    }
    // One capture at a time: a link arriving meanwhile is dropped.
    if (isCapture(command) && actions.captureRunning()) return;

    if (command == "show" || command.empty()) {
        actions.yieldFocus();
    } else if (command == "grab/fullscreen") {
        actions.grab("fullscreen", then);
    } else if (command == "grab/area") {
        actions.grab("interactive", then);
    } else if (command == "grab/repeat") {
        actions.grab("interactive-repeat", then);
    } else if (command == "grab/window") {
        actions.grab("interactive-window", then);
    } else if (command == "grab/window/active") {
        actions.grab("window", then);
    } else if (command == "grab/scrolling") {
        actions.startScrollingCapture(-1, then);
    } else if (command == "grab/scrolling/reverse") {
        actions.startScrollingCapture(1, then);
    } else if (command == "grab/delayed") {
        actions.grabDelayed(delayFromPayload(payload), then);
    } else if (command == "grab/append") {
        actions.addCaptureToScreenshot();
    } else if (command == "ocr") {
        actions.instantOCR();
    } else if (command == "load/clipboard") {
        actions.loadFromClipboard();
    } else if (command == "load/file") {
        actions.openImageDialogSoon();
    } else if (command == "uploads") {
        if (!actions.gotoUploads())
            actions.warning("Can't open past uploads ",
                            "This may happen if the upload feature is not activated with a valid token.");
    } else if (command == "settings") {
        actions.openPreferences();
    } else if (command == "lib" || command == "lib/search") {
        searchLibrary(payload, query, actions);
    } else if (command == "settings/token") {
        setToken(command, payload, actions);
    } else if (command == "settings/library/enable") {
        if (!actions.consent(
                "Turn the screenshot library on?",
                "A link asks to turn on the screenshot library, which indexes the text of your saved "
                "screenshots."))
            return;
        services::Settings::shared().setLibEnabled(true);
        actions.setupLibraryStatusItem();
    } else if (command == "settings/library/disable") {
        if (!actions.consent("Turn the screenshot library off?",
                             "A link asks to turn off the screenshot library."))
            return;
        services::Settings::shared().setLibEnabled(false);
        actions.buildMenu();
    } else if (command == "settings/library/limit") {
        setLibraryLimit(payload, actions);
    } else {
        actions.warning("Kadrix: command is not recognized",
                        "Unknown URL Scheme command:\n" + shown(command));
    }
}

}  // namespace core
