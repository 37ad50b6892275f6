// Bringing a picture in without capturing: from the clipboard, from a file,
// or by dropping a file on the editor.
#include "core/AppLogic.h"
#include "editor/Framer.h"
#include "kit/base/WayOut.h"
#include "kit/image/ImageIO.h"
#include "kit/ui/Application.h"
#include "kit/ui/Pasteboard.h"
#include "kit/ui/Window.h"
#include "services/Console.h"
#include "services/Notifier.h"
#include "services/Telemetry.h"

namespace core {

namespace {

bool strictlyInside(kit::Point p, const services::Rect& r) {
    const double lx = std::min(r.x1, r.x1 + r.width), hx = std::max(r.x1, r.x1 + r.width);
    const double ly = std::min(r.y1, r.y1 + r.height), hy = std::max(r.y1, r.y1 + r.height);
    return p.x > lx && p.x < hx && p.y > ly && p.y < hy;
}

// A new screenshot whose picture is still being read is given up once a
// later one lands: its read ends at once, and nothing of it is told but a
// line in the log.
std::shared_ptr<kit::ImageIO::ReadHandle> givenUpWhenOvertaken(ScreenshotTurns::Replacement& turn) {
    auto handle = std::make_shared<kit::ImageIO::ReadHandle>();
    turn.whenOvertaken([handle] { handle->abandon(); });
    return handle;
}

bool tellGivenUp(const ScreenshotTurns::Replacement& turn, const std::string& what) {
    if (!turn.overtaken() || kit::wayOutBegun()) return false;
    services::consoleLine(what + ": given up, a later picture replaced it");
    return true;
}

}  // namespace

kit::Image AppLogic::readImageFile(const std::string& file, std::string* error) {
    return kit::ImageIO::read(file, 1.0, error);
}

kit::Image AppLogic::readImageFile(const std::string& file, std::string* error,
                                   kit::ImageIO::ReadHandle& handle) {
    return kit::ImageIO::read(file, 1.0, error, handle);
}

void AppLogic::tellImageNotOpened(const std::string& why) {
    notifier().warning("Can't open image", why);
}

void AppLogic::setLoadScale() {
    double scale = 1.0;
    if (!kit::Displays::all().empty()) {
        scale = kit::Displays::main().scale;
    } else if (auto windows = kit::Application::shared().windows(); !windows.empty()) {
        scale = windows.front()->backingScaleFactor();
    }
    editor::Framer::shared()._dpr.set(scale);
}

void AppLogic::loadFromClipboard(const std::string& method) {
    auto turn = std::make_shared<ScreenshotTurns::Replacement>(turns_);
    const auto handle = givenUpWhenOvertaken(*turn);
    std::string why;
    kit::Image image =
        clipboardImage_ ? clipboardImage_() : kit::Pasteboard::general().image(&why, handle.get());
    if (kit::wayOutBegun()) return;  // the picture was given up as Kadrix ends: nothing to tell
    if (image.isNull() && tellGivenUp(*turn, "Load from clipboard")) return;
    if (image.isNull()) {
        // The notice stays general; the reason is kept for whoever looks.
        if (!why.empty()) services::consoleLine("Load from clipboard: " + why);
        notifier().notify("Can't load image from the clipboard",
                          "Make sure your clipboard contains an image and try again");
        telemetry().oops("loadFromClipboard(method:)", "Failed to load image from the clipboard");
        return;
    }
    // Dropped when a later screenshot came first: in order this one would
    // be gone at once.
    turns_.whenInTurn(turn, [this, turn, image, method] {
        setLoadScale();
        if (loadImage(image, false)) {
            metadata_["mode"] = "clipboard";
            turn->landed();
        }
        telemetry().event("loadClipboard", {{"method", method}});
        yieldFocus();
    });
}

bool AppLogic::openImage(const std::string& file, std::function<void()> shown) {
    auto turn = std::make_shared<ScreenshotTurns::Replacement>(turns_);
    const auto handle = givenUpWhenOvertaken(*turn);
    std::string why;
    kit::Image image = readImageFile(file, &why, *handle);
    if (image.isNull() && tellGivenUp(*turn, "Open image " + file)) return false;
    if (kit::ImageIO::wasCancelled(why)) return false;
    if (image.isNull()) {
        telemetry().oops("openImage(file:)", "Failed to open image file");
        tellImageNotOpened(why);
        return false;
    }
    // Taken; dropped when already replaced by a later screenshot.
    auto loaded = std::make_shared<bool>(true);
    turns_.whenInTurn(turn, [this, turn, image, file, loaded, shown = std::move(shown)] {
        setLoadScale();
        if (!(*loaded = loadImage(image, false))) return;
        turn->landed();
        telemetry().event("openImage", {{"width", image.width()}, {"height", image.height()}});
        metadata_["mode"] = "file";
        openedURL = file;
        if (shown) shown();
    });
    return *loaded;
}

AppLogic::DropZone AppLogic::dropZone(kit::Point p, const services::Rect& canvas,
                                      const services::Rect& composition) {
    if (strictlyInside(p, canvas)) return DropZone::Canvas;
    if (strictlyInside(p, composition)) return DropZone::Backdrop;
    return DropZone::Outside;
}

bool AppLogic::droppedImageAt(const std::string& file, double x, double y) {
    const editor::Framer& f = editor::Framer::shared();
    const double d = f.dpr();
    const kit::Point p = f.viewToImage({x * d - 1, y * d});
    const auto pads = editor::backdrop().paddings();
    const services::Rect canvas{-pads.padCL, -pads.padCB, f.source.width + pads.padCL + pads.padCR,
                                f.source.height + pads.padCB + pads.padCT};
    const services::Rect composition = editor::backdrop().outerOrigin().value_or(canvas);
    switch (dropZone(p, canvas, composition)) {
        case DropZone::Canvas: {
            const ScreenshotTurns::Turn turn = turns_.addition();
            std::string why;
            kit::Image image = readImageFile(file, &why);
            if (kit::ImageIO::wasCancelled(why)) return false;
            if (image.isNull()) {
                telemetry().oops("droppedImageAt(file:x:y:)", "Failed to open image file");
                tellImageNotOpened(why);
                return false;
            }
            turns_.whenInTurn(turn, [this, image] { addImageObject(image); });
            return true;
        }
        case DropZone::Backdrop:
            return editor::backdrop().loadNewFile(file, "drop");
        case DropZone::Outside:
            break;
    }
    return openImage(file);
}

kit::Point AppLogic::imageObjectOrigin(const services::Rect& source, const services::Rect& bounds, double w,
                                       double h, double dpr) {
    auto right = [](const services::Rect& r) { return std::max(r.x1, r.x1 + r.width); };
    const double x1 = std::min(right(source) + 1920 * dpr - 20 * dpr - w, right(bounds) + 20 * dpr);
    const double y1 = std::max(bounds.y1, bounds.y1 + bounds.height) - h;
    return {x1, y1};
}

void AppLogic::addImageObject(const kit::Image& image) {
    const services::Rect bounds = editor_->imageOverlayValue();
    std::optional<kit::Size> size = editor_->addImageObject(image);
    if (!size) return;
    const double dpr = editor::Framer::shared().dpr();
    editor_->moveActiveObject(
        imageObjectOrigin(editor::Framer::shared().source, bounds, size->width, size->height, dpr));
    telemetry().event("draw", {{"object", editor_->activeType()},
                               {"width", size->width},
                               {"height", size->height},
                               {"method", "capture"}});
    editor::backdrop().layout();
    editor_->refitCanvas();
    editor_->relayoutCanvas();
    updateStatus();  // the zoom and the composition's size have changed
    // A dropped picture or an added capture is a step of its own: undo takes
    // it back and nothing drawn before it.
    editor_->saveUndo();
}

}  // namespace core
