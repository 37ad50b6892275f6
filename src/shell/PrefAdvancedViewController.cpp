#include "shell/PrefAdvancedViewController.h"

#include "editor/EditorHost.h"
#include "imaging/Recognition.h"
#include "kit/image/TextRecognizer.h"
#include "kit/ui/Button.h"
#include "kit/ui/PopUpButton.h"
#include "kit/ui/Window.h"
#include "services/Settings.h"
#include "services/Telemetry.h"
#include "shell/CoreLink.h"

namespace shell {

namespace {

constexpr const char* kReverseAutoscrollHelp =
    "If a program of yours reverses the desktop's scroll direction, this setting may help to make Scrolling "
    "Capture "
    "work.";
constexpr const char* kLargerWindowHelp =
    "When selected, Area Capture will open the editor at 100% zoom when possible, and Fullscreen Capture "
    "will open "
    "the editor at 80% zoom.";

}  // namespace

std::string PrefAdvancedViewController::languageTitle(const std::string& code) {
    for (auto& [c, name] : imaging::ocrLanguages())
        if (c == code) return name;
    return code;
}

std::string PrefAdvancedViewController::languageCode(const std::string& title) {
    for (auto& [code, name] : imaging::ocrLanguages())
        if (name == title) return code;
    return title;
}

int PrefAdvancedViewController::notificationIndex(const std::string& value) {
    if (value == "custom") return 0;
    if (value == "system") return 1;
    return 2;
}

std::string PrefAdvancedViewController::notificationValue(const std::string& title) {
    auto t = lowered(title);
    if (t.find("custom") != std::string::npos) return "custom";
    if (t.find("system") != std::string::npos) return "system";
    return "none";
}

PrefAdvancedViewController::PrefAdvancedViewController()
    : PrefAdvancedViewController(kit::TextRecognizer::supportedLanguages()) {}

PrefAdvancedViewController::PrefAdvancedViewController(const std::vector<std::string>& languages) {
    auto box = [](const std::string& title, std::function<void(bool)> write) {
        return checkbox(title, [write = std::move(write)](kit::Button& b) { write(isOn(b)); });
    };

    ddlPrimaryOCR = std::make_shared<kit::PopUpButton>();
    ddlPrimaryOCR->removeAllItems();
    if (languages.empty())
        services::Telemetry::shared().oops("viewDidLoad()",
                                           "Exception: can't get supportedRecognitionLanguages");
    for (auto& code : languages)
        if (code != "zh-Hant" && code != "yue-Hant") ddlPrimaryOCR->addItem(languageTitle(code));
    ddlPrimaryOCR->setAction([this](kit::Control&) { updatePrimaryOCR(); });
    line("Text recognition:", {ddlPrimaryOCR});
    cbRemoveBreaksOCR =
        box("Join recognised lines (remove line breaks)", [](bool v) { settings().setOcrRemoveBreaks(v); });
    line("", {cbRemoveBreaksOCR});
    space(8);

    cbAlwaysOnTop =
        checkbox("Keep the editor above other windows", [this](kit::Button&) { updateAlwaysOnTop(); });
    line("Editor:", {cbAlwaysOnTop});
    cbLargerWindow =
        box("Open the editor in a larger window", [](bool v) { settings().setPreferLargeWindow(v); });
    line("", {cbLargerWindow, helpButton("LargerWindow", kLargerWindowHelp)});
    cbReverseScroll =
        box("Reverse the scroll direction of zooming", [](bool v) { settings().setAltZoomDirection(v); });
    line("", {cbReverseScroll});
    cbEscCopy = box("Esc copies the capture", [](bool v) { settings().setCopyOnEsc(v); });
    line("", {cbEscCopy});
    cbEscSave = checkbox("Esc saves the capture", [this](kit::Button&) { updateEscSave(); });
    line("", {cbEscSave});
    space(8);

    cbReverseAutoscroll = box("Reverse the direction of Scrolling Capture",
                              [](bool v) { settings().setScrollingReverseAutoscroll(v); });
    line("Scrolling capture:",
         {cbReverseAutoscroll, helpButton("ReverseAutoscroll", kReverseAutoscrollHelp)});
    space(8);

    ddlNotificationType = std::make_shared<kit::PopUpButton>();
    ddlNotificationType->addItems(
        {"Kadrix's custom notifications", "Desktop's system notifications", "No notifications"});
    ddlNotificationType->setAction([this](kit::Control&) { updateNotificationType(); });
    line("Notifications:", {ddlNotificationType});
    cbHideMenubar = box("Hide the tray icon", [](bool v) { settings().setShowMenubarIcon(!v); });
    line("Appearance:", {cbHideMenubar});
    cbHideSplash = box("Hide the intro at start-up", [](bool v) { settings().setShowIntro(!v); });
    line("", {cbHideSplash});
    space(8);

    cbTelemetry = box("Send anonymous usage statistics", [](bool v) { settings().setAllowTelemetry(v); });
    line("Privacy:", {cbTelemetry});
    cbDeeplinks =
        box("Obey kadrix:// links from other programs", [](bool v) { settings().setAllowDeeplinks(v); });
    line("", {cbDeeplinks});

    ddlPrimaryOCR->selectItem(languageTitle(settings().primaryOCRLang()));
    refresh();
}

void PrefAdvancedViewController::refresh() {
    ddlPrimaryOCR->selectItem(languageTitle(settings().primaryOCRLang()));
    cbRemoveBreaksOCR->setState(stateOf(settings().ocrRemoveBreaks()));
    cbAlwaysOnTop->setState(stateOf(settings().alwaysOnTop()));
    cbReverseScroll->setState(stateOf(settings().altZoomDirection()));
    cbReverseAutoscroll->setState(stateOf(settings().scrollingReverseAutoscroll()));
    cbLargerWindow->setState(stateOf(settings().preferLargeWindow()));
    cbEscCopy->setState(stateOf(settings().copyOnEsc()));
    cbEscSave->setState(stateOf(settings().saveOnEsc()));
    cbTelemetry->setState(stateOf(settings().allowTelemetry()));
    cbHideMenubar->setState(stateOf(settings().showMenubarIcon() != 1));
    cbHideSplash->setState(stateOf(settings().showIntro() != 1));
    ddlNotificationType->selectItem(notificationIndex(settings().notificationType()));
    cbDeeplinks->setState(stateOf(settings().allowDeeplinks()));
    cbHideMenubar->setEnabled(true);
    cbHideSplash->setEnabled(true);
}

void PrefAdvancedViewController::updatePrimaryOCR() {
    if (ddlPrimaryOCR->indexOfSelectedItem() < 0) {
        settings().setPrimaryOCRLang("en-US");
        return;
    }
    settings().setPrimaryOCRLang(languageCode(ddlPrimaryOCR->titleOfSelectedItem()));
}

void PrefAdvancedViewController::updateAlwaysOnTop() {
    settings().setAlwaysOnTop(isOn(*cbAlwaysOnTop));
    if (kit::Window* editorWindow = editor::core().winMain())
        editorWindow->setLevel(settings().alwaysOnTop() ? kit::WindowLevel::Floating
                                                        : kit::WindowLevel::Normal);
}

void PrefAdvancedViewController::updateEscSave() {
    settings().setSaveOnEsc(isOn(*cbEscSave));
    if (settings().saveOnEsc() && !settings().defaultFolderURL()) coreLink().selectDefaultFolder();
}

void PrefAdvancedViewController::updateNotificationType() {
    if (ddlNotificationType->indexOfSelectedItem() < 0) {
        settings().setNotificationType("none");
        return;
    }
    settings().setNotificationType(notificationValue(ddlNotificationType->titleOfSelectedItem()));
}

}  // namespace shell
