// The kadrix executable. Until the application shell takes over start-up,
// main puts the tray icon up with a menu that quits.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "kit/Application.h"
#include "kit/Image.h"
#include "kit/Menu.h"
#include "kit/StatusItem.h"
#include "kit/UrlEvents.h"

namespace {

// The tray picture: the four corners of a selection frame around a dot,
// drawn at 2× so it stays sharp on scaled screens.
kit::Image trayIcon() {
    const int n = 44;
    kit::Image img(n, n, 2.0);
    const kit::PixelBGRA ink{235, 235, 235, 255};
    auto fill = [&](int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) img.setPixel(x, y, ink);
    };
    const int m = 4, len = 12, t = 4;
    fill(m, m, len, t), fill(m, m, t, len);                                      // top-left
    fill(n - m - len, m, len, t), fill(n - m - t, m, t, len);                    // top-right
    fill(m, n - m - t, len, t), fill(m, n - m - len, t, len);                    // bottom-left
    fill(n - m - len, n - m - t, len, t), fill(n - m - t, n - m - len, t, len);  // bottom-right
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            if (std::hypot(x - n / 2.0 + 0.5, y - n / 2.0 + 0.5) <= 6) img.setPixel(x, y, ink);
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    kit::Application app(argc, argv);
    // One running instance per user: a later launch hands its URLs and files
    // over and leaves.
    auto messages = kit::UrlEvents::urlsInArguments(app.arguments());
    for (auto& file : kit::UrlEvents::filesInArguments(app.arguments()))
        messages.push_back(kit::UrlEvents::fileMessage(file));
    switch (kit::UrlEvents::claimSingleInstance(messages)) {
        case kit::UrlEvents::Role::Primary:
            break;
        case kit::UrlEvents::Role::Forwarded:
            return 0;
        case kit::UrlEvents::Role::Failed:
            std::fprintf(stderr, "kadrix: another instance is running but does not answer\n");
            return 1;
    }
    // kadrix:// links from browsers and other programs start (or reach) this
    // program: the desktop learns so from the entry written here.
    std::error_code error;
    auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || kit::UrlEvents::registerSchemeHandler(program.string()) == kit::UrlEvents::Registration::Failed)
        std::fprintf(stderr, "kadrix: could not register as the handler of kadrix:// links\n");
    app.setActivationPolicy(kit::ActivationPolicy::Accessory);

    auto menu = std::make_shared<kit::Menu>();
    menu->addItem(
        "Quit Kadrix", [&app](kit::MenuItem&) { app.terminate(); }, "q");

    kit::StatusItem status;
    status.setImage(trayIcon());
    status.setToolTip("Kadrix");
    status.setMenu(menu);
    status.setVisible(true);

    return app.run();
}
