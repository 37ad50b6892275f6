#include "services/AppHooks.h"

#include <mutex>

#include "kit/desktop/Workspace.h"

namespace services {

namespace {
std::mutex hooksMutex;
std::shared_ptr<const AppHooks>& installed() {
    static std::shared_ptr<const AppHooks> hooks = std::make_shared<AppHooks>();
    return hooks;
}

// The desktop's default application for a file or a link.
bool openWithDesktop(const std::string& target) {
    return target.find("://") != std::string::npos ? kit::Workspace::openURL(target)
                                                   : kit::Workspace::openFile(target);
}
}  // namespace

std::shared_ptr<const AppHooks> appHooks() {
    std::lock_guard guard(hooksMutex);
    return installed();
}

void updateAppHooks(const std::function<void(AppHooks&)>& edit) {
    std::lock_guard guard(hooksMutex);
    auto copy = std::make_shared<AppHooks>(*installed());
    edit(*copy);
    installed() = std::move(copy);
}

void resetAppHooks() {
    std::lock_guard guard(hooksMutex);
    installed() = std::make_shared<AppHooks>();
}

double hookEditorZoom() {
    auto hooks = appHooks();
    return hooks->editorZoom ? hooks->editorZoom() : 0.5;
}

double hookEditorDpr() {
    auto hooks = appHooks();
    return hooks->editorDpr ? hooks->editorDpr() : 2.0;
}

bool hookOpenWithDefaultApp(const std::string& pathOrUrl) {
    auto hooks = appHooks();
    return hooks->openWithDefaultApp ? hooks->openWithDefaultApp(pathOrUrl) : openWithDesktop(pathOrUrl);
}

kit::Image hookNamedImage(const std::string& name) {
    auto hooks = appHooks();
    return hooks->namedImage ? hooks->namedImage(name) : kit::Image();
}

}  // namespace services
