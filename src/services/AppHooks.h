#pragma once
// The calls the services make into the subsystems built on top of them: the
// editor's viewport, the application core, the status item and the library's
// thumbnail cache. Each owner installs its functions when it starts; until
// then the defaults noted below stand. Tests install doubles.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kit/base/Displays.h"
#include "kit/base/Image.h"

namespace services {

struct AppHooks {
    // Editor viewport: the zoom factor and the device-pixel ratio, read from
    // any thread by every telemetry event (defaults 0.5 and 2.0). They run
    // under the telemetry lock, so they must not send telemetry themselves.
    std::function<double()> editorZoom;
    std::function<double()> editorDpr;

    // Status item: shows or hides the tray icon once it exists.
    std::function<void(bool visible)> setStatusItemVisible;
    // Library: the count limit of the gallery's thumbnail cache.
    std::function<void(int64_t limit)> setThumbnailCacheLimit;

    // Application core.
    // When (seconds since 1970) and on which display the editor window was last hidden.
    std::function<double()> lastActiveTime;
    std::function<std::optional<kit::Display>()> lastActiveScreen;
    std::function<void()> hideMainWindow;
    // A newer version was announced by the version file.
    std::function<void(const std::string& latestVersion)> newVersionFound;

    // Desktop: opens a file or a link with the desktop's default application
    // (default: kit's workspace, xdg-open). Returns whether it could be started.
    std::function<bool(const std::string& pathOrUrl)> openWithDefaultApp;

    // Pictures: the program's picture of a name in the current look (the
    // icon set above the services); a null image when there is none.
    std::function<kit::Image(const std::string& name)> namedImage;
};

// The installed hooks (never null). Cheap: a shared snapshot.
std::shared_ptr<const AppHooks> appHooks();
// Changes some hooks, keeping the others: edit(hooks) runs on a copy that
// then replaces the installed set.
void updateAppHooks(const std::function<void(AppHooks&)>& edit);
// Removes every installed hook (tests).
void resetAppHooks();

// Convenience wrappers with the defaults applied.
double hookEditorZoom();
double hookEditorDpr();
bool hookOpenWithDefaultApp(const std::string& pathOrUrl);
kit::Image hookNamedImage(const std::string& name);

}  // namespace services
