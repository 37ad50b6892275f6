// Opens the editor window on an image file with a small stand-in for the
// application core, for the editor's system tests. Every command the window
// sends the core is printed as "core: <command> …" so a test can read what a
// click did. Options: --dark (a dark desktop palette), --open=zoom|pixels|color|help|arrow
// (a bubble or the arrow's settings shown after the load).
#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "editor/CanvasLayers.h"
#include "editor/EditorHost.h"
#include "editor/Framer.h"
#include "editor/MainWindowController.h"
#include "editor/MainWindowControllerParts.h"
#include "kit/base/Displays.h"
#include "kit/base/Files.h"
#include "kit/base/Timer.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Application.h"

namespace {

void say(const std::string& line) {
    std::printf("core: %s\n", line.c_str());
    std::fflush(stdout);
}

class HostCore : public editor::CoreHost {
public:
    kit::Image image;
    std::string armed;

    kit::Image imgSource() const override { return image; }
    kit::Image imgPrecompiled() const override { return image; }
    kit::Window* winMain() const override {
        auto* c = editor::MainWindowController::existing();
        return c ? c->window.get() : nullptr;
    }
    bool loadImage(const kit::Image& img, bool soft) override {
        if (img.isNull()) return false;
        image = img;
        auto& c = editor::MainWindowController::shared();
        editor::Framer& f = editor::Framer::shared();
        f._dpr.set(c.window->backingScaleFactor());
        c.setMainToolbarVisible(true);
        c.windowResized();
        services::Rect whole{0, 0, double(img.width()), double(img.height())};
        f.crop = f.source = f.original = whole;
        f._zoom.set(0.5);
        f.zoomToFit(whole, true);
        f._zoom.set(std::min(f.zoom(), 1.0));
        f.minzoom = f.zoom();
        f.setOffset({whole.width / 2, whole.height / 2}, {f.area.width / 2, f.area.height / 2});
        editor::setCanvasImage(img);
        c.viewController->imgLoaded();
        selectionModeChanged("default");
        updateStatus();
        say(std::string("loadImage ") + std::to_string(img.width()) + "x" + std::to_string(img.height()) +
            (soft ? " soft" : ""));
        return true;
    }
    void selectTool(const std::string& type, const std::string& method) override {
        say("selectTool " + type + " " + method);
        armed = type;
        editor::parts().setCreateOnClick(type);
        auto& c = editor::MainWindowController::shared();
        std::string word = type.substr(3);
        for (auto& ch : word) ch = char(std::tolower(ch));
        c.toolbarInstruments->select(word == "conceal" ? "blur" : word == "freehand" ? "freehand" : word);
        c.applySelectionMode(type);
    }
    void selectionModeChanged(const std::string& mode) override {
        if (auto* c = editor::MainWindowController::existing()) c->applySelectionMode(mode);
    }
    void updateStatus() override {
        auto* c = editor::MainWindowController::existing();
        if (!c || image.isNull()) return;
        editor::Framer& f = editor::Framer::shared();
        c->showStatus(int(f.zoom() * 100),
                      editor::statusSizeText(image.width(), image.height(), f.dpr(), false), "Image size",
                      "#3A7BD5", kit::Color::rgb(0x3A, 0x7B, 0xD5));
    }
    kit::Image compileImage() override { return image; }
    std::optional<std::string> saveTempImage(const kit::Image& img, const std::string& name, bool) override {
        std::string dir =
            std::string(std::getenv("KADRIX_HOME") ? std::getenv("KADRIX_HOME") : "/tmp") + "/drag";
        std::filesystem::create_directories(dir);
        std::string path = dir + "/" + name + ".png";
        auto bytes = kit::ImageIO::encodePNG(img);
        if (!kit::files::writeAtomic(
                path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
            return std::nullopt;
        say("saveTempImage " + path);
        return path;
    }
    void hideMainWindow() override {
        say("hideMainWindow");
        if (auto* w = winMain()) w->orderOut();
    }
    void copyImage(bool, bool) override { say("copyImage"); }
    void saveImage(const std::string& method, bool) override { say("saveImage " + method); }
    void pinImage(std::optional<double>, std::optional<double>) override { say("pinImage"); }
    void cropToSelection(bool) override { say("cropToSelection"); }
    void addCaptureToScreenshot(const std::string& method) override {
        say("addCaptureToScreenshot " + method);
    }
    void checkBackdropAllowed(const std::string& method) override { say("checkBackdropAllowed " + method); }
    void ocrSelection(const std::string& method) override { say("ocrSelection " + method); }
};

void darkPalette() {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QPalette p;
    p.setColor(QPalette::Window, QColor(40, 40, 43));
    p.setColor(QPalette::WindowText, QColor(232, 232, 235));
    p.setColor(QPalette::Base, QColor(30, 30, 32));
    p.setColor(QPalette::Text, QColor(232, 232, 235));
    p.setColor(QPalette::Button, QColor(55, 55, 58));
    p.setColor(QPalette::ButtonText, QColor(232, 232, 235));
    QApplication::setPalette(p);
}

}  // namespace

int main(int argc, char** argv) {
    kit::Application app(argc, argv);
    std::string file, open;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dark")
            darkPalette();
        else if (a.rfind("--open=", 0) == 0)
            open = a.substr(7);
        else
            file = a;
    }
    static HostCore host;
    editor::setCore(&host);
    auto& controller = editor::MainWindowController::shared();
    controller.present();
    if (!file.empty()) {
        kit::Image img = kit::ImageIO::read(file);
        if (img.isNull()) {
            std::fprintf(stderr, "editor host: cannot read %s\n", file.c_str());
            return 2;
        }
        kit::dispatchMainAfter(0.2, [img, open] {
            host.loadImage(img, false);
            // A bubble to look at: zoom, pixels, color or help.
            auto& c = editor::MainWindowController::shared();
            if (open == "zoom") c.zoomBoxClicked();
            if (open == "pixels") c.sizeBoxClicked();
            if (open == "color") c.colorBoxClicked();
            if (open == "help") c.toolbarClick("Ruler (1 or 2)");
            if (open == "arrow") c.toolbarClick("Arrow (A)");
        });
    }
    // Where the tool bar's controls are, in window pixels from the top left,
    // each time they move: tests click them there.
    static std::string lastGeometry;
    static kit::Timer geometry = kit::Timer::repeating(0.2, [] {
        auto* c = editor::MainWindowController::existing();
        if (!c || !c->window->isVisible()) return;
        double scale = c->window->backingScaleFactor(), h = c->window->contentSize().height;
        auto at = [&](kit::View& v) {
            kit::Rect r = v.convert(v.bounds(), nullptr);
            return std::to_string(int(r.midX() * scale)) + "," + std::to_string(int((h - r.midY()) * scale));
        };
        int shown = 0;
        for (auto* b : c->toolbarInstruments->itemButtons()) shown += b->isHidden() ? 0 : 1;
        std::string line =
            "tools=" + std::to_string(shown) + " first=" + at(*c->toolbarInstruments->itemButtons()[0]) +
            " more=" +
            (c->toolbarInstruments->btnMore->isHidden() ? std::string("none")
                                                        : at(*c->toolbarInstruments->btnMore)) +
            " drag=" + at(*c->btnDragOut) + " color=" + at(*c->viewController->toolSettings.btnColor) +
            " slider=" + at(*c->viewController->toolSettings.sliderSize);
        auto& picker = c->viewController->toolSettings.colorPicker;
        if (picker && picker->popover.isShown()) {
            // The first swatch, in root-window pixels.
            kit::Rect sw = picker->swatches[0]->convertToScreen(picker->swatches[0]->bounds());
            kit::Rect root = kit::Displays::toWindowServer(kit::Rect{sw.midX(), sw.midY(), 0, 0});
            line += " swatch=" + std::to_string(int(root.x() * scale)) + "," +
                    std::to_string(int(root.y() * scale));
        }
        if (line != lastGeometry) say("geometry " + line);
        lastGeometry = line;
    });
    say("ready");
    return app.run();
}
