#pragma once
// The editor's menu bar: its commands go to the editor and the core with a
// telemetry method saying how they were given ("shortcut:" and the key when a
// key equivalent chose the item, "menu" or a "menu:" text otherwise), and its
// items are enabled only where they apply. The same rules are checked again
// right before a key equivalent runs an item.
//
// Key equivalents are Ctrl combinations only, so the editor's plain tool
// letters stay the editor's; a focused text keeps its own editing keys.
//
// Main thread only.
#include <memory>
#include <string>

namespace kit {
class Menu;
class MenuItem;
}  // namespace kit

namespace shell {

class EditorMenu {
public:
    // What each item does; items carry it as their tag.
    enum Action : int {
        None = 0,
        SetDefaultFolder,
        ChangeRealPixels,
        ChangeAltZoom,
        ZoomIn,
        ZoomOut,
        ZoomToFit,
        ZoomTo100,
        ZoomToSelection,
        SelectionTopLeft,
        SelectionBottomRight,
        Save,
        SaveAs,
        Copy,
        Print,
        OpenFromClipboard,
        OpenFile,
        Uncrop,
        Rasterize,
        Pin,
        Upload,
        Rectangle,
        Oval,
        Text,
        Line,
        Arrow,
        Freehand,
        Highlighter,
        Blur,
        Spotlight,
        Counter,
        AddCapture,
        HelpReleases,
        HelpPrecision,
        HelpUpload,
        HelpFAQ,
        Preferences,
        Quit,
    };

    EditorMenu();
    ~EditorMenu();

    // The menu bar (built on first use).
    const std::shared_ptr<kit::Menu>& menu();
    // Makes it the application's menu and puts it into the editor window.
    void install();
    // Puts the menu bar into the editor window once that exists.
    void attachToEditor();

    // Whether an item is enabled now (first matching rule wins).
    bool validate(const kit::MenuItem& item) const;
    // Runs an item's command as the menu would.
    void perform(Action action, const kit::MenuItem& item);
    kit::MenuItem* item(Action action) const;

    void syncRealPixels(bool realPixels);

private:
    void build();
    std::shared_ptr<kit::Menu> menu_;
    struct Timers;
    std::unique_ptr<Timers> timers_;
};

}  // namespace shell
