#include "shell/PrefShortcutsViewController.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "kit/base/Dispatch.h"
#include "kit/base/Process.h"
#include "kit/ui/Button.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shortcuts/Names.h"
#include "shortcuts/ShortcutRecorder.h"

namespace shell {

namespace {

struct RecorderLine {
    const char* title;
    const shortcuts::Name& (*name)();
};

const RecorderLine kLines[] = {
    {"Fullscreen capture:", shortcuts::names::fullscreen},
    {"Area capture:", shortcuts::names::area},
    {"Repeat last area:", shortcuts::names::repeatArea},
    {"Window capture:", shortcuts::names::window},
    {"Any window capture:", shortcuts::names::anyWindow},
    {"Scrolling capture:", shortcuts::names::scrolling},
    {"Reopen last capture:", shortcuts::names::reopen},
    {"Text recognition (OCR):", shortcuts::names::ocr},
};

std::optional<std::string> findProgram(const std::string& path, const std::string& program) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string dir = path.substr(start, end - start);
        if (!dir.empty() && dir.front() == '/') {
            std::error_code ec;
            auto candidate = std::filesystem::path(dir) / program;
            if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

PrefShortcutsViewController::PrefShortcutsViewController() {
    space(6);
    for (auto& l : kLines) {
        auto recorder = std::make_shared<shortcuts::ShortcutRecorder>(l.name());
        recorder->setFrameSize({200, 0});
        line(l.title, {recorder});
        recorders.push_back(recorder);
    }
    space(4);
    btnReassignDefault =
        kit::Button::make("Use the Print Screen keys…", [this](kit::Control&) { clickReassignDefault(); });
    btnReassignDefault->setKeyEquivalentReturn(true);
    line("", {btnReassignDefault}, 24);
    vSectionReassignButton.push_back(btnReassignDefault);

    // The guide to taking over the desktop's own screenshot keys.
    size_t before = view_->subviews().size();
    text("The desktop may keep Print Screen and its combinations for its own screenshots.");
    text("To give one of them to Kadrix: remove it in the desktop's keyboard settings,");
    text("then click the field above and press the keys.");
    auto path = std::getenv("PATH");
    if (keyboardSettingsCommand(path ? path : "")) {
        space(4);
        line(
            "",
            {kit::Button::make("Open Keyboard Settings…", [this](kit::Control&) { clickOpenPreferences(); })},
            24);
    }
    auto& all = view_->subviews();
    vSectionReassignSteps.assign(all.begin() + long(before), all.end());

    for (auto& v : vSectionReassignButton) v->setHidden(true);
}

void PrefShortcutsViewController::viewWillAppear() {
    services::Settings::shared().storeBool("everVisitedHotkeys", true);
}

void PrefShortcutsViewController::clickReassignDefault() {
    for (auto& v : vSectionReassignButton) v->setHidden(true);
    for (auto& v : vSectionReassignSteps) v->setHidden(false);
    services::Telemetry::shared().event("settings-reassignInitiated");
}

std::optional<std::vector<std::string>> PrefShortcutsViewController::keyboardSettingsCommand(
    const std::string& path) {
    if (auto gnome = findProgram(path, "gnome-control-center"))
        return std::vector<std::string>{*gnome, "keyboard"};
    if (auto kde = findProgram(path, "systemsettings")) return std::vector<std::string>{*kde, "kcm_keys"};
    return std::nullopt;
}

void PrefShortcutsViewController::clickOpenPreferences() {
    services::Telemetry::shared().event("settings-reassignInitiated-pref");
    auto path = std::getenv("PATH");
    auto command = keyboardSettingsCommand(path ? path : "");
    if (!command) return;
    // The settings program lives on after its window opens; it is waited
    // for off the main thread.
    const bool started = kit::tryDetachedThread([command = *command] {
        kit::Process process(command.front(), {command.begin() + 1, command.end()});
        process.run();
    });
    if (!started)
        std::fprintf(stderr, "kadrix: the keyboard settings were not opened: no thread could be started\n");
}

}  // namespace shell
