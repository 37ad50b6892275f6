// The kadrix executable. A later launch hands its kadrix:// URLs and files to
// the running instance and leaves before anything else is built, so it is
// quick and leaves no trace; the first launch becomes the application.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "backdrop/Backdrop.h"
#include "core/AppLogic.h"
#include "editor/EditorHost.h"
#include "editor/MainWindowController.h"
#include "kit/base/DesktopEntry.h"
#include "kit/base/Session.h"
#include "kit/base/UrlEvents.h"
#include "kit/image/Memory.h"
#include "kit/ui/Application.h"
#include "library/LibraryLink.h"
#include "library/ThumbnailCache.h"
#include "shell/AppDelegate.h"
#include "shell/AppLogicLink.h"
#include "shell/EditorPartsLink.h"
#include "shell/GlobalShortcuts.h"
#include "shell/PreferencesWindowController.h"
#include "shell/ShortcutStore.h"

namespace {

// URLs that are not UTF-8 text would be refused by the running instance;
// say so here, where the user can see it.
std::vector<std::string> usableUrls(const std::vector<std::string>& args) {
    std::vector<std::string> urls;
    for (auto& url : kit::UrlEvents::urlsInArguments(args)) {
        if (kit::UrlEvents::isValidUtf8(url))
            urls.push_back(url);
        else
            std::fprintf(stderr, "kadrix: ignoring a link that is not UTF-8 text\n");
    }
    return urls;
}

void registerAsLinkHandler() {
    std::string program = kit::DesktopEntry::thisProgram();
    if (program.empty() ||
        kit::UrlEvents::registerSchemeHandler(program) == kit::UrlEvents::Registration::Failed)
        std::fprintf(stderr, "kadrix: could not register as the handler of kadrix:// links\n");
}

// The application, from its start to the end of its event loop; the
// toolkit's application object is gone when this returns.
int runApplication(int& argc, char** argv, std::vector<std::string> urls, std::vector<std::string> files) {
    kit::Application app(argc, argv);
    app.setActivationPolicy(kit::ActivationPolicy::Accessory);
    registerAsLinkHandler();
    auto& delegate = shell::AppDelegate::shared();
    // The core lives as long as the process, and so does the shell's link to it.
    static shell::AppLogicLink link;
    static shell::EditorPartsLink editorParts;
    delegate.startCore = [] {
        // The library first: the core makes it for the save folder as it starts.
        core::setLibrary(&library::LibraryLink::shared());
        library::installThumbnailCacheHook();
        editor::setBackdrop(&backdrop::Backdrop::shared());
        core::AppLogic::shared();
        shell::setCoreLink(&link);
        shell::setEditorLink(&editorParts);
    };
    // The editor window is made once the core answers its calls (it may hide
    // itself at once); the core finds it through the editor link.
    delegate.startEditor = [] { editor::MainWindowController::shared(); };
    static shell::ShortcutStore shortcutStore;
    shell::setShortcutSource(&shortcutStore);
    delegate.registerGlobalShortcuts = shell::registerGlobalShortcuts;
    shell::installPreferences();
    delegate.setLaunchArguments(std::move(urls), std::move(files));
    delegate.install(app);
    // After the delegate's own: every save written so far has its library
    // line before the process ends, its analysis done or not.
    app.addWillTerminateHook([] {
        core::AppLogic::shared().handOverWrittenSaves();
        library::LibraryLink::shared().finishWrites();
    });
    return app.run();
}

}  // namespace

int main(int argc, char** argv) {
    // A write past a file-size limit (ulimit -f, a service manager's) fails
    // with an error, as on a full disk, and is told as that: the signal
    // would end the program before a failed save or library append is undone.
    std::signal(SIGXFSZ, SIG_IGN);
    kit::exitUnlessSessionUsable("kadrix");
    std::vector<std::string> args(argv, argv + argc);
    auto urls = usableUrls(args);
    auto files = kit::UrlEvents::filesInArguments(args);
    std::vector<std::string> messages = urls;
    for (auto& file : files) messages.push_back(kit::UrlEvents::fileMessage(file));
    switch (kit::UrlEvents::claimSingleInstance(messages)) {
        case kit::UrlEvents::Role::Primary:
            break;
        case kit::UrlEvents::Role::Forwarded:
            return 0;
        case kit::UrlEvents::Role::Failed:
            std::fprintf(stderr, "kadrix: another instance is running but does not answer\n");
            return 1;
    }

    // Before the first capture: frame-sized buffers must not settle in the heap.
    kit::memory::returnLargeBlocksOnFree();
    // Ended here rather than by returning: the library's and the core's
    // worker threads may still run, and the static objects they use stay.
    kit::Application::endProcess(runApplication(argc, argv, std::move(urls), std::move(files)));
}
