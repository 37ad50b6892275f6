#pragma once
// What the core asks of the floors above it: the application shell (status
// menu, preferences, application menu) and the screenshot library. The core
// stands below them, so it declares what it calls and they install their
// implementation at start-up: core::setShell(&delegate), core::setLibrary(&lib).
// Until then the do-nothing defaults answer "nothing there". Main thread only.
#include <map>
#include <string>

namespace core {

class ShellHost {
public:
    virtual ~ShellHost() = default;
    // The tray icon shows the success picture for a moment.
    virtual void flashSuccessIcon() {}
    // The application menu's insert item.
    virtual void setInsertItemEnabled(bool) {}
    // The status menu's "new version" item.
    virtual void setNewVersionItemVisible(bool) {}
    // The status menu's uploads gallery item (shown while there is a token).
    virtual void setUploadsItemVisible(bool) {}
    virtual bool preferencesVisible() const { return false; }
    // The tray icon, where the first-hide hint points; false when there is none.
    virtual bool showFirstHideHint() { return false; }
    virtual void closeFirstHideHint() {}
    // The library popover leaves the screen (a capture is about to take it).
    virtual void closeLibraryPopover() {}
    // The menu item and the editor's switch follow the "realPixels" setting.
    virtual void syncRealPixelsState() {}
    // A file chosen in the "Open Image" panel: opened in the editor.
    virtual void openPickedImage(const std::string& /*path*/) {}
};

class LibraryHost {
public:
    virtual ~LibraryHost() = default;
    // Whether a library model exists (one exists while a save folder is known).
    virtual bool exists() const { return false; }
    // The indexer is indexing or scanning.
    virtual bool busy() const { return false; }
    // Makes the library model for a folder, replacing any earlier one.
    virtual void create(const std::string& /*folder*/) {}
    virtual void setFolder(const std::string& /*folder*/) {}
    // Binds the library panel, when there is one, to the current model.
    virtual void connectLibrary() {}
    // A screenshot just saved into the library folder, with the facts of its
    // capture ("mode", "app", "timestamp", …); runs on the save worker, or
    // at start for a save cut short that the start finished.
    virtual void indexSavedFile(const std::string& /*path*/,
                                const std::map<std::string, std::string>& /*facts*/) {}
    // A file the Save As panel wrote into the library folder.
    virtual void indexSavedAsFile(const std::string& /*path*/) {}
    // A save into the folder runs on the save worker from saveStarting until
    // saveEnded on the main thread (after indexSavedFile when it wrote a
    // file): meanwhile its file may be in the folder but not yet handed over.
    virtual void saveStarting() {}
    virtual void saveEnded() {}
};

ShellHost& shell();
LibraryHost& library();
// Installs an implementation (nullptr restores the default); the caller keeps ownership.
void setShell(ShellHost* host);
void setLibrary(LibraryHost* host);

}  // namespace core
