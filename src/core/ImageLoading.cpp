// Making one bitmap the current screenshot: the pixel buffer under the image
// lock, and a fresh editor model around it.
#include <cmath>
#include <string>
#include <utility>

#include "controls/Animator.h"
#include "core/AppLogic.h"
#include "core/ObjectsBridge.h"
#include "editor/CanvasLayers.h"
#include "editor/EditorHooks.h"
#include "editor/Framer.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace core {

namespace {

constexpr const char* kLoadFn = "loadImage(imgSource:soft:)";

// Layout requests made while a load runs go out without animation, as the
// load lays out a new image rather than moving an old one.
struct NoAnimations {
    bool before = editor::layoutAnimationsOff;
    NoAnimations() { editor::layoutAnimationsOff = true; }
    ~NoAnimations() { editor::layoutAnimationsOff = before; }
};

}  // namespace

bool AppLogic::loadImage(const kit::Image& image, bool soft) {
    const bool loaded = loadUnderLock(image, soft);
    if (auto s = std::exchange(sampleAfterLoad_, std::nullopt)) sampleColor(s->x, s->y, s->darkest);
    return loaded;
}

bool AppLogic::loadUnderLock(const kit::Image& image, bool soft) {
    std::unique_lock lock(lockImageData);
    loadingThread_ = std::this_thread::get_id();
    struct Leave {
        std::atomic<std::thread::id>& owner;
        ~Leave() { owner = std::thread::id{}; }
    } leave{loadingThread_};

    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        telemetry().oops(kLoadFn, "Invalid screenshot was taken");
        return false;
    }
    if (!editor_->window()) {
        telemetry().oops(kLoadFn, ".winMain is nil");
        return false;
    }
    // The pixels are checked before any field changes, so a failure leaves the
    // previous screenshot, its objects and its undo history whole. Images are
    // always held as B, G, R, A with rows from the top, the layout every
    // reader expects; only a buffer without room for its rows is refused.
    if (!image.bits() || image.bytesPerRow() < size_t(image.width()) * 4) {
        telemetry().oops(kLoadFn, "Can't get pixelData");
        return false;
    }

    editor_->hidePanels();
    imgSource_ = image;
    imgPrecompiled_ = image;
    pixels_ = imgSource_.bits();
    bytesPerRow_ = imgSource_.bytesPerRow();
    publishToObjects(*this);

    editor_->clearObjects();
    editor::Framer& f = editor::Framer::shared();
    f._zoom.set(0.5);
    editor::backdrop().turnOff();

    NoAnimations quiet;
    editor_->prepareWindow();
    controls::Animator::lastShowTime = kit::wallNow();
    const services::Rect whole{0, 0, double(image.width()), double(image.height())};
    f.crop = whole;
    f.source = whole;
    f.original = whole;
    fitZoom(soft);

    editor_->resetCropTool();
    selectionModeChanged("default");
    services::Rect area = f.getEffectiveArea();
    services::Rect comp = editor::compositionRect();
    f.setOffset({comp.x1 + comp.width / 2, comp.y1 + comp.height / 2}, {area.width / 2, area.height / 2});
    refreshCropButton();
    updateStatus();
    editor_->setCanvasImage(image);

    editor_->resetUndo();
    editor_->clearCaches();
    if (!soft) {
        openedURL.clear();
        metadata_ = {{"timestamp", std::to_string(int64_t(std::floor(kit::wallNow())))}};
    }
    return true;
}

void AppLogic::fitZoom(bool soft) {
    editor::Framer& f = editor::Framer::shared();
    auto fit = [&f] {
        f.zoomToFit(editor::compositionRect(), true);
        f._zoom.set(std::min(f.zoom(), 1.0));
    };
    if (soft) {
        fit();
        return;
    }
    sizeMainWindow();
    f.minzoom = 0.03125;
    fit();
    const double w = imgSource_.width(), h = imgSource_.height();
    if (settings().preferLargeWindow() && f.zoom() == 0.5 && f.area.width >= 0.8 * w &&
        f.area.height >= 0.8 * h)
        f._zoom.set(0.8);
    f.minzoom = f.zoom();
}

}  // namespace core
