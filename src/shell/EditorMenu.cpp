#include "shell/EditorMenu.h"

#include <initializer_list>

#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "kit/base/Event.h"
#include "kit/base/Timer.h"
#include "kit/desktop/Workspace.h"
#include "kit/ui/Application.h"
#include "kit/ui/Menu.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/Window.h"
#include "objects/PressedKeys.h"
#include "services/Settings.h"
#include "services/Site.h"
#include "services/Telemetry.h"
#include "shell/AppDelegate.h"
#include "shell/CoreLink.h"
#include "shortcuts/ShortcutRecorder.h"

namespace shell {

namespace {

struct ItemSpec {
    const char* title;
    EditorMenu::Action action;
    const char* key = "";  // with Ctrl; an upper-case letter adds Shift
};

const std::initializer_list<std::pair<EditorMenu::Action, const char*>> kTools = {
    {EditorMenu::Rectangle, "ObjRectangle"},
    {EditorMenu::Oval, "ObjOval"},
    {EditorMenu::Text, "ObjText"},
    {EditorMenu::Line, "ObjLine"},
    {EditorMenu::Arrow, "ObjArrow"},
    {EditorMenu::Freehand, "ObjFreehand"},
    {EditorMenu::Highlighter, "ObjHighlighter"},
    {EditorMenu::Blur, "ObjConceal"},
    {EditorMenu::Spotlight, "ObjSpotlight"},
    {EditorMenu::Counter, "ObjCounter"},
};

struct HelpPage {
    EditorMenu::Action action;
    const char* label;
    const char* path;
};
constexpr HelpPage kHelp[] = {
    {EditorMenu::HelpReleases, "Releases", "/newversion.html"},
    {EditorMenu::HelpPrecision, "Precision", "/kb/precision"},
    {EditorMenu::HelpUpload, "Upload", "/kb/upload"},
    {EditorMenu::HelpFAQ, "FAQ", "/kb/faq"},
};

constexpr std::pair<EditorMenu::Action, EditorLink::Zoom> kZooms[] = {
    {EditorMenu::ZoomIn, EditorLink::Zoom::In},
    {EditorMenu::ZoomOut, EditorLink::Zoom::Out},
    {EditorMenu::ZoomToFit, EditorLink::Zoom::ToFit},
    {EditorMenu::ZoomTo100, EditorLink::Zoom::To100},
    {EditorMenu::ZoomToSelection, EditorLink::Zoom::ToSelection},
    {EditorMenu::SelectionTopLeft, EditorLink::Zoom::SelectionTopLeft},
    {EditorMenu::SelectionBottomRight, EditorLink::Zoom::SelectionBottomRight},
};
constexpr const char* kZoomMethods[] = {"menu:ZoomIn",         "menu:ZoomOut",         "menu:ZoomToFit",
                                        "menu:ZoomTo100",      "menu:ZoomToSelection", "menu:ZoomTopLeft",
                                        "menu:ZoomBottomRight"};

// "shortcut:" and the key when the item's key equivalent chose it, else `word`.
std::string methodWord(const kit::MenuItem& item, const std::string& word,
                       const char* keyedPrefix = "shortcut:") {
    if (kit::MenuItem::isPerformingKeyEquivalent()) return keyedPrefix + item.keyEquivalent();
    return word;
}

services::Telemetry& telemetry() {
    return services::Telemetry::shared();
}

void presetHideAnd(const std::string& hideMethod, const std::string& name) {
    telemetry().preset("hide", {{"method", hideMethod}});
    telemetry().preset(name, {{"method", "menu"}});
}

// The menu bar lives in the editor's own window, and only the window with the
// keyboard gets its key equivalents: a menu opened at all belongs to an editor
// that is shown. Asking for the keyboard focus instead raced the window
// manager, whose activation the toolkit hears of later than the click that
// opens the menu (the items then showed disabled).
bool editorIsKey() {
    kit::Window* w = editor::core().winMain();
    return w && (w->isKeyWindow() || w->isVisible());
}

// Uncrop marks Z and Y as held while the crop opens up (the cursor and the
// canvas read them), and lets go of them afterwards unless they really are held.
void uncrop(const std::string& method) {
    auto& held = objects::PressedKeys::shared().pressed;
    std::vector<int> added;
    for (int code : {int(kit::KeyCode::Z), int(kit::KeyCode::Y)})
        if (held.insert(code).second) added.push_back(code);
    editorLink().updateCursor();
    telemetry().preset("uncrop", {{"method", method}});
    editor::core().uncrop();
    if (int pending = editorLink().pendingChange(); pending > 0) {
        editorLink().relayoutCanvas(pending == 2);
        editorLink().setPendingChange(0);
    }
    for (int code : added) held.erase(code);
    if (!added.empty()) editorLink().updateCursor();
}

}  // namespace

struct EditorMenu::Timers {
    kit::Timer openPanel;
};

EditorMenu::EditorMenu() : timers_(std::make_unique<Timers>()) {}
EditorMenu::~EditorMenu() = default;

const std::shared_ptr<kit::Menu>& EditorMenu::menu() {
    if (!menu_) build();
    return menu_;
}

void EditorMenu::build() {
    menu_ = std::make_shared<kit::Menu>();
    auto submenu = [this](const std::string& title, std::initializer_list<ItemSpec> specs) {
        auto sub = std::make_shared<kit::Menu>(title);
        for (auto& s : specs) {
            if (s.action == None) {
                sub->addSeparator();
                continue;
            }
            Action action = s.action;
            auto item =
                kit::MenuItem::make(s.title, [this, action](kit::MenuItem& it) { perform(action, it); });
            item->setKeyEquivalent(s.key, *s.key ? kit::ModifierFlag::Command : 0);
            item->setTag(action);
            sub->addItem(item);
        }
        sub->onWillOpen = [this](kit::Menu& m) {
            for (auto& i : m.items())
                if (!i->isSeparator()) i->setEnabled(validate(*i));
        };
        auto holder = kit::MenuItem::make(title);
        holder->setSubmenu(sub);
        menu_->addItem(holder);
    };
    submenu("Kadrix", {{"Settings…", Preferences, ","},
                       {"Choose Default Folder…", SetDefaultFolder},
                       {"", None},
                       {"Quit Kadrix", Quit, "q"}});
    // The editor's own keys come first: the menu takes no combination that the
    // editor's key table gives to another command. So Open File has no key
    // (Ctrl+O reads the text of the screenshot), Open from Clipboard none (any
    // Ctrl+V pastes into the screenshot), Print none (Ctrl+P pins) and Zoom
    // to Fit none (Ctrl+9 grows the crop selection).
    submenu("File", {{"Open File…", OpenFile},
                     {"Open from Clipboard", OpenFromClipboard},
                     {"", None},
                     {"Save", Save, "s"},
                     {"Save As…", SaveAs, "S"},
                     {"Print…", Print},
                     {"", None},
                     {"Upload", Upload, "u"},
                     {"Pin to Screen", Pin, "P"},
                     {"Add Capture", AddCapture, "A"}});
    submenu("Edit", {{"Copy", Copy, "c"}, {"Uncrop", Uncrop}, {"Rasterize", Rasterize}});
    submenu("Draw", {{"Rectangle", Rectangle},
                     {"Oval", Oval},
                     {"Text", Text},
                     {"Line", Line},
                     {"Arrow", Arrow},
                     {"Freehand", Freehand},
                     {"Highlighter", Highlighter},
                     {"Blur", Blur},
                     {"Spotlight", Spotlight},
                     {"Counter", Counter}});
    submenu("Zoom", {{"Zoom In", ZoomIn, "="},
                     {"Zoom Out", ZoomOut, "-"},
                     {"Actual Size", ZoomTo100, "0"},
                     {"Zoom to Fit", ZoomToFit},
                     {"Zoom to Selection", ZoomToSelection},
                     {"Selection Top Left", SelectionTopLeft},
                     {"Selection Bottom Right", SelectionBottomRight},
                     {"", None},
                     {"Real Pixels", ChangeRealPixels},
                     {"Reverse Zoom Direction", ChangeAltZoom}});
    submenu("Help", {{"Release Notes", HelpReleases},
                     {"Precision", HelpPrecision},
                     {"Uploading", HelpUpload},
                     {"FAQ", HelpFAQ}});
    syncRealPixels(services::Settings::shared().realPixels());
    // Whether another program offers a picture comes after the menu opened:
    // its item follows the answer, open or not.
    kit::Pasteboard::general().onImageAnswer([menu = std::weak_ptr<kit::Menu>(menu_)](bool offered) {
        if (auto held = menu.lock())
            for (auto& top : held->items())
                if (auto sub = top->submenu())
                    if (auto* open = sub->itemWithTag(OpenFromClipboard)) open->setEnabled(offered);
    });
}

void EditorMenu::install() {
    kit::Application::shared().setMainMenu(menu());
    // A global shortcut grabs its keys before any window sees them: the
    // shortcut fields refuse a combination that one of these items uses.
    shortcuts::ShortcutRecorder::setMainMenuProvider(
        [menu = std::weak_ptr<kit::Menu>(menu_)]() -> const kit::Menu* { return menu.lock().get(); });
    attachToEditor();
}

void EditorMenu::attachToEditor() {
    kit::Window* w = editor::core().winMain();
    if (w && w->menuBar() != menu()) w->setMenuBar(menu());
}

kit::MenuItem* EditorMenu::item(Action action) const {
    if (!menu_) return nullptr;
    for (auto& top : menu_->items())
        if (auto sub = top->submenu())
            if (auto* found = sub->itemWithTag(action)) return found;
    return nullptr;
}

void EditorMenu::syncRealPixels(bool realPixels) {
    if (auto* i = item(ChangeRealPixels))
        i->setState(realPixels ? kit::ControlState::On : kit::ControlState::Off);
}

bool EditorMenu::validate(const kit::MenuItem& item) const {
    if (item.tag() == Uncrop) {
        auto& f = editor::Framer::shared();
        return f.crop.width != f.original.width || f.crop.height != f.original.height;
    }
    if (item.tag() == OpenFromClipboard) return kit::Pasteboard::general().hasImage();
    // Copy does nothing while a text is edited; disabled, its Ctrl+C stays with the text.
    // With an annotation object active or a crop selection shown, Ctrl+C copies
    // that object or selection: the item steps aside so the key reaches the canvas.
    if (item.tag() == Copy && (editorLink().isEditingText() || editorLink().canvasOwnsCopy())) return false;
    bool key = editorIsKey();
    switch (item.tag()) {
        case Save:
        case SaveAs:
        case Print:
        case Upload:
        case Pin:
            return key;
        default:
            break;
    }
    if (kit::Menu* parent = item.menu()) {
        const std::string& title = parent->title();
        if (title.find("Draw") != std::string::npos || title.find("Zoom") != std::string::npos) return key;
    }
    return true;
}

void EditorMenu::perform(Action action, const kit::MenuItem& item) {
    auto& core = editor::core();
    for (auto& [tool, className] : kTools)
        if (tool == action) return core.selectTool(className, methodWord(item, "menu", "hotkey:"));
    for (size_t i = 0; i < std::size(kZooms); ++i)
        if (kZooms[i].first == action) {
            telemetry().preset("zoom", {{"method", kZoomMethods[i]}});
            return editorLink().zoom(kZooms[i].second);
        }
    for (auto& page : kHelp)
        if (page.action == action) {
            kit::Workspace::openURL(services::productSiteURL(page.path));
            return telemetry().event(std::string("help:") + page.label, {{"method", "menu"}});
        }
    switch (action) {
        case SetDefaultFolder:
            return coreLink().selectDefaultFolder();
        case ChangeRealPixels:
            telemetry().preset("setting-realPixels", {{"method", "menu"}});
            return core.setRealPixels(!services::Settings::shared().realPixels());
        case ChangeAltZoom:
            telemetry().preset("setting-altZoomDirection", {{"method", "menu"}});
            return services::Settings::shared().setAltZoomDirection(
                !services::Settings::shared().altZoomDirection());
        case Save:
            presetHideAnd("menu:saveImage", "saveImage");
            return core.saveImage("", false);
        case SaveAs:
            presetHideAnd("menu:saveImage", "saveImageAs");
            return coreLink().saveImageAs(std::nullopt, core.fileName());
        case Copy:
            // A text being edited keeps Ctrl+C (and the menu's Copy) for itself.
            if (editorLink().isEditingText()) return;
            presetHideAnd("menu:copyImage", "copyImage");
            return core.copyImage(false, false);
        case Print: {
            kit::Image image = core.compileImage();
            if (image.isNull()) return;
            telemetry().event("print", core.shotStats(kit::Json::object()));
            return coreLink().printImage(image);
        }
        case OpenFromClipboard:
            return coreLink().loadFromClipboard("menu");
        case OpenFile:
            coreLink().yieldFocus();
            timers_->openPanel = kit::Timer::once(0.1, [] { coreLink().openImageDialog(); });
            return;
        case Uncrop:
            return uncrop(methodWord(item, "menu"));
        case Rasterize:
            return coreLink().rasterize();
        case Pin:
            telemetry().preset("pin", {{"method", methodWord(item, "menu")}});
            return core.pinImage(std::nullopt, std::nullopt);
        case Upload:
            presetHideAnd("menu:uploadImage", "uploadImage");
            return core.uploadImage("");
        case AddCapture:
            return core.addCaptureToScreenshot("");
        case Preferences:
            return AppDelegate::shared().openPreferences();
        case Quit:
            return core.quitOrHide(methodWord(item, "menu"));
        default:
            return;
    }
}

}  // namespace shell
