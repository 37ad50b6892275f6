#include "shell/PreferencesWindowController.h"

#include "editor/EditorHost.h"
#include "kit/ui/Application.h"
#include "kit/ui/TabView.h"
#include "services/Telemetry.h"
#include "shell/AppDelegate.h"
#include "shell/CoreLink.h"
#include "shell/PrefAdvancedViewController.h"
#include "shell/PrefGeneralViewController.h"
#include "shell/PrefShortcutsViewController.h"

namespace shell {

namespace {

// Kept past the end of main: its window must not be taken apart after the
// application that shows it.
std::shared_ptr<PreferencesWindowController>& instance() {
    static auto& controller = *new std::shared_ptr<PreferencesWindowController>;
    return controller;
}

}  // namespace

PreferencesWindowController& PreferencesWindowController::shared() {
    auto& controller = instance();
    if (!controller) {
        controller = std::make_shared<PreferencesWindowController>();
        controller->window_->setDelegate(controller);
    }
    return *controller;
}

bool PreferencesWindowController::exists() {
    return instance() != nullptr;
}

PreferencesWindowController::PreferencesWindowController()
    : window_(std::make_unique<kit::Window>(kit::Rect{0, 0, PrefPane::kWidth, PrefPane::kHeight + 40},
                                            kit::WindowStyle::Titled | kit::WindowStyle::Closable)) {
    window_->setTitle("Kadrix Settings");
    tabs_ = std::make_shared<kit::TabView>(kit::Rect{0, 0, PrefPane::kWidth, PrefPane::kHeight + 40});
    tabs_->setAutoresizingMask(kit::Autoresizing::WidthSizable | kit::Autoresizing::HeightSizable);
    panes_.push_back(std::make_unique<PrefGeneralViewController>());
    panes_.push_back(std::make_unique<PrefShortcutsViewController>());
    tabs_->addTabViewItem("General", panes_[0]->view());
    panes_.push_back(std::make_unique<PrefAdvancedViewController>());
    tabs_->addTabViewItem("Hotkeys", panes_[1]->view());
    tabs_->addTabViewItem("Advanced", panes_[2]->view());
    tabs_->onDidSelect = [this](kit::TabView& tabs) { paneChanged(tabs.indexOfSelectedTabViewItem()); };
    auto content = kit::View::make({0, 0, PrefPane::kWidth, PrefPane::kHeight + 40});
    content->addSubview(tabs_);
    window_->setContentView(content);
    window_->center();
    coreLink().setPreferencesWindow(window_.get());
}

PreferencesWindowController::~PreferencesWindowController() {
    coreLink().setPreferencesWindow(nullptr);
}

void PreferencesWindowController::paneChanged(int index) {
    if (index == shownPane_) return;
    if (shownPane_ >= 0 && size_t(shownPane_) < panes_.size())
        panes_[size_t(shownPane_)]->viewWillDisappear();
    shownPane_ = index;
    if (index >= 0 && size_t(index) < panes_.size()) panes_[size_t(index)]->viewWillAppear();
}

void PreferencesWindowController::open() {
    kit::Application::shared().setActivationPolicy(kit::ActivationPolicy::Regular);
    bool wasVisible = window_->isVisible();
    window_->makeKeyAndOrderFront();
    window_->requestActivation();
    if (!wasVisible) {
        shownPane_ = -1;
        paneChanged(tabs_->indexOfSelectedTabViewItem());
    }
    services::Telemetry::shared().event("preferences");
}

void PreferencesWindowController::showTab(const std::string& tab) {
    open();
    for (int i = 0; i < tabs_->numberOfTabViewItems(); ++i)
        if (lowered(tabs_->label(i)).find(tab) != std::string::npos) tabs_->selectTabViewItem(i);
    paneChanged(tabs_->indexOfSelectedTabViewItem());
}

bool PreferencesWindowController::windowShouldClose(kit::Window&) {
    services::Telemetry::shared().preset("hidePrefs", {{"method", "close"}});
    kit::Window* editorWindow = editor::core().winMain();
    if (!(editorWindow && editorWindow->isVisible()))
        kit::Application::shared().setActivationPolicy(kit::ActivationPolicy::Accessory);
    return true;
}

void PreferencesWindowController::windowWillClose(kit::Window&) {
    if (shownPane_ >= 0 && size_t(shownPane_) < panes_.size())
        panes_[size_t(shownPane_)]->viewWillDisappear();
    shownPane_ = -1;
}

void installPreferences() {
    AppDelegate::shared().presentPreferences = [](const std::string& tab) {
        if (tab.empty())
            PreferencesWindowController::shared().open();
        else
            PreferencesWindowController::shared().showTab(tab);
    };
}

}  // namespace shell
