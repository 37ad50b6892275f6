// The library view's keys: while the popover is on screen every key press of
// the application passes here first (the monitor of viewDidAppear).
//
// While the search field has the focus, the keys that edit text belong to
// it: Ctrl+Backspace deletes a word there and never trashes screenshots, and
// while the field holds text, Space and Ctrl+C type and copy text.
#include "kit/ui/CollectionView.h"
#include "kit/ui/TextField.h"
#include "library/GalleryDelegate.h"
#include "library/LibViewController.h"
#include "library/LibViewHost.h"
#include "library/QuickLookWinController.h"
#include "services/KeyCombo.h"
#include "services/Settings.h"
#include "shortcuts/Name.h"
#include "shortcuts/Names.h"

namespace library {

namespace {

// The popover holds the keyboard while it is open, so the library's global
// shortcut arrives here rather than as a hot key: it closes the popover.
bool isLibraryShortcut(const kit::Event& e) {
    auto s = shortcuts::getShortcut(shortcuts::names::library());
    return s && s->carbonKeyCode == e.keyCode &&
           s->carbonModifiers == int64_t(kit::carbonModifiers(e.modifierFlags));
}

}  // namespace

bool LibViewController::handleKeyDown(const kit::Event& e) {
    if (!cvGallery) return false;
    if (isLibraryShortcut(e)) {
        viewHost().closePopover();
        return true;
    }
    auto current = currentSelection();
    int index = current.value_or(-1);
    bool searchFocused = tbSearch->isFirstResponder();
    bool command = e.has(kit::ModifierFlag::Command);

    if (e.keyCode == kit::KeyCode::DownArrow && cvGallery->selectionIndexes().empty()) {
        if (cvGallery->itemCount() > 0) {
            cvGallery->setSelectionIndexes({0});
            cvGallery->scrollToItem(0);
            if (gallery) gallery->lastSelectedItem = 0;
            cvGallery->makeFirstResponder();
            updateStatusLine(std::nullopt);
            return true;
        }
    }
    if (cvGallery->isFirstResponder() && gallery && gallery->handleKey(e)) return true;
    if (!searchFocused && isTypingKey(e.characters) && !e.has(kit::ModifierFlag::Control) &&
        e.keyCode != kit::KeyCode::Space && !command) {
        tbSearch->makeFirstResponder();
        searchFocused = true;
    }
    if (e.keyCode == kit::KeyCode::R && command) {
        initIndex();
        return true;
    }
    // Also while its picture is still read: the quick look then never shows.
    if (e.keyCode == kit::KeyCode::Escape && panelPreview->isOnOrLoading()) {
        panelPreview->hide();
        return true;
    }
    // Text editing keys stay with the field.
    bool fieldHasText = searchFocused && !tbSearch->stringValue().empty();
    if (searchFocused && e.keyCode == kit::KeyCode::Delete) return false;
    if (fieldHasText && (e.keyCode == kit::KeyCode::Space || (e.keyCode == kit::KeyCode::C && command)))
        return false;
    if (index < 0 || !gallery) return false;
    return runKeyTable(e, index);
}

bool LibViewController::runKeyTable(const kit::Event& e, int index) {
    auto url = gallery->fileURL(index);
    if (!url) return false;
    services::KeyComboModifiers mods;
    mods.shift = e.has(kit::ModifierFlag::Shift);
    mods.command = e.has(kit::ModifierFlag::Command);
    std::string method = "hotkey:" + services::keyComboDescription(e.keyCode, mods);
    bool command = mods.command;
    // The actions run on the view registered with the library; the key is
    // taken even when there is none.
    LibViewController* target = model() ? libController() : nullptr;
    switch (e.keyCode) {
        case kit::KeyCode::Space:
            if (panelPreview->isOnOrLoading())
                panelPreview->hide();
            else if (target)
                target->performAction("quicklook", *url, method, true);
            return true;
        case kit::KeyCode::C:
        case kit::KeyCode::P:
        case kit::KeyCode::I:
            if (!command) return false;
            if (target)
                target->performAction(e.keyCode == kit::KeyCode::C   ? "copy"
                                      : e.keyCode == kit::KeyCode::P ? "pin"
                                                                     : "info",
                                      *url, method);
            return true;
        case kit::KeyCode::Delete:
            if (!command) return false;
            deleteSelected(method);
            return true;
        case kit::KeyCode::Return:
            if (target) target->performAction(services::Settings::shared().libAction(), *url, method);
            return true;
        default:
            return false;
    }
}

}  // namespace library
