#include "backdrop/Backdrop.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <numbers>

#include "backdrop/BackdropViewController.h"
#include "backdrop/CustomImages.h"
#include "backdrop/EdgeAnalysis.h"
#include "backdrop/MeshGradient.h"
#include "backdrop/Perlin.h"
#include "backdrop/SoftShadow.h"
#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "editor/MainWindowController.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "editor/ViewController.h"
#include "kit/base/Event.h"
#include "kit/draw/Path.h"
#include "kit/image/ImageIO.h"
#include "services/Alerts.h"
#include "services/NamedTimers.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

using services::Rect;

namespace backdrop {

namespace {

double round2(double v) {
    return std::round(v * 100) / 100;
}

// "16:9" → 16/9; nothing for "auto" or anything unreadable.
std::optional<double> parseRatio(const std::string& s) {
    const size_t colon = s.find(':');
    if (colon == std::string::npos) return std::nullopt;
    try {
        const double w = std::stod(s.substr(0, colon)), h = std::stod(s.substr(colon + 1));
        if (w > 0 && h > 0 && std::isfinite(w / h)) return w / h;
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

double nonNegative(double v) {
    return std::isfinite(v) ? std::max(0.0, v) : 0.0;
}

}  // namespace

// ---- the renderer ------------------------------------------------------------------

Backdrop& Backdrop::shared() {
    static Backdrop instance;
    return instance;
}

Backdrop::Backdrop() {
    sourceRect = [] { return editor::Framer::shared().source; };
    pixelRatio = [] { return editor::Framer::shared().dpr(); };
    objectBounds = []() -> std::optional<Rect> {
        if (!services::Settings::shared().expandableCanvas()) return std::nullopt;
        return editor::ObjectHandlers::shared().contentBounds();
    };
    notify = [](const std::string& title, const std::string& text) { services::alert(title, text); };
    capture = [] { return editor::core().capture(); };
    cropAbsolute = [](const Rect& r) { return editor::core().cropAbsolute(r); };
    currentCrop = [] { return editor::Framer::shared().crop; };
    root_ = kit::Layer::make();
    root_->name = "backdrop";
    root_->setAnchorPoint({0, 0});
    root_->setMasksToBounds(true);
    gradient_ = kit::GradientLayer::make();
    gradient_->name = "backdrop.fill";
    gradient_->setAnchorPoint({0, 0});
    auto plain = [](const char* name) {
        kit::LayerPtr l = kit::Layer::make();
        l->name = name;
        l->setAnchorPoint({0, 0});
        l->setHidden(true);
        return l;
    };
    mesh_ = plain("backdrop.mesh");
    image_ = plain("backdrop.image");
    image_->setContentsGravity(kit::ContentsGravity::ResizeAspectFill);
    image_->setMasksToBounds(true);
    noise_ = plain("backdrop.noise");
    shadow_ = plain("backdrop.shadow");
    for (const kit::LayerPtr& l : {kit::LayerPtr(gradient_), mesh_, image_, noise_, shadow_})
        root_->addSublayer(l);
    root_->setHidden(true);
    load();
}

Backdrop::~Backdrop() = default;

void Backdrop::load() {
    const std::string stored = services::Settings::shared().bdrConfig();
    if (stored.empty()) return;
    kit::Json j = kit::Json::parse(stored, nullptr, false);
    std::string error;
    Config n = c;
    if (j.is_discarded() || !n.apply(j, &error)) {
        // The stored text stays as it is; this session runs on the defaults.
        std::cerr << "Backdrop: stored configuration unreadable: "
                  << (error.empty() ? "not valid JSON" : error) << std::endl;
        return;
    }
    n.isOn = 0;  // each screenshot starts without a backdrop
    c = n;
}

void Backdrop::store() const {
    services::Settings::shared().setBdrConfig(configJSON(false));
}

editor::BackdropHost::Paddings Backdrop::paddings() const {
    return {padBT, padBB, padBL, padBR, padCT, padCB, padCL, padCR};
}

void Backdrop::applyConfig(const kit::Json& config) {
    std::string error;
    const Rect before = imageSizeWithBackdrop();
    if (!c.apply(config, &error)) {
        std::cerr << "Backdrop: " << error << std::endl;
        return;
    }
    computeLayout();
    // Switched off: the panel goes at once, so the fit below has its room.
    if (c.isOn != 1 && panel_ && !panel_->view->isHidden()) panel_->view->hideNow();
    // Undo and redo come here: when the composition changed size (the
    // backdrop went off or on, the padding changed) the view is fitted to the
    // new one and the size read-out follows.
    const Rect after = imageSizeWithBackdrop();
    if (after.width != before.width || after.height != before.height) {
        editor::refitCanvas(false);
        editor::canvasLayers().relayoutRequest = std::max(editor::canvasLayers().relayoutRequest, 1);
        editor::core().updateStatus();
    }
}

std::string Backdrop::configJSON(bool comparable) const {
    kit::Json j = c.toJson();
    // Undo compares what the picture shows; the template's name alone
    // changes nothing on screen.
    if (comparable) j.erase("templateName");
    return j.dump();
}

void Backdrop::computePaddings() {
    padBT = padBB = padBL = padBR = padCT = padCB = padCL = padCR = 0;
    const Rect s = sourceRect();
    const double dpr = pixelRatio() > 0 ? pixelRatio() : 1;
    // The canvas: the inset around the screenshot (with the backdrop on),
    // grown to the objects that reach beyond it (a capture added beside the
    // screenshot, with the backdrop on or off).
    const double inset = c.isOn == 1 ? std::round(nonNegative(c.inset) * dpr) : 0;
    padCT = padCB = padCL = padCR = inset;
    if (std::optional<Rect> b = objectBounds(); b && b->width > 0 && b->height > 0) {
        padCL = std::max(padCL, std::ceil(s.x1 - b->x1));
        padCB = std::max(padCB, std::ceil(s.y1 - b->y1));
        padCR = std::max(padCR, std::ceil(b->x1 + b->width - (s.x1 + s.width)));
        padCT = std::max(padCT, std::ceil(b->y1 + b->height - (s.y1 + s.height)));
    }
    if (c.isOn != 1) return;
    const double p = std::round(nonNegative(c.padding) * dpr);
    padBT = padBB = padBL = padBR = p;
    // An aspect ratio grows the padding on the short side, split evenly
    // (the odd pixel goes right or up), so the screenshot keeps whole pixels.
    if (std::optional<double> r = parseRatio(c.ratio)) {
        const double w = s.width + padCL + padCR + 2 * p, h = s.height + padCB + padCT + 2 * p;
        if (w / h < *r) {
            const double extra = std::max(0.0, std::ceil(h * *r - w - 1e-9));
            padBL += std::floor(extra / 2);
            padBR += extra - std::floor(extra / 2);
        } else {
            const double extra = std::max(0.0, std::ceil(w / *r - h - 1e-9));
            padBB += std::floor(extra / 2);
            padBT += extra - std::floor(extra / 2);
        }
    }
}

void Backdrop::computeLayout() {
    computePaddings();
    if (c.isOn != 1) {
        innerPx_ = outerPx_ = 0;
        root_->setHidden(true);
        return;
    }
    const Rect o = *outerOrigin();
    const Rect k = canvasOrigin();
    const double dpr = pixelRatio() > 0 ? pixelRatio() : 1;
    outerPx_ = std::min(nonNegative(c.outerRadius) * dpr, std::min(o.width, o.height) / 2);
    innerPx_ = std::min(nonNegative(c.innerRadius) * dpr, std::min(k.width, k.height) / 2);
    // Without padding the screenshot's corners are the picture's corners.
    if (std::min({padBT, padBB, padBL, padBR}) == 0) innerPx_ = std::max(innerPx_, outerPx_);
    buildLayers();
}

void Backdrop::buildLayers() {
    const Rect o = *outerOrigin();
    const Rect k = canvasOrigin();
    root_->setHidden(false);
    root_->setBounds({0, 0, o.width, o.height});
    root_->setCornerRadius(outerPx_);

    buildFill(o);
    buildNoise(o);

    // The shadow falls from the screenshot's outline, a little downwards.
    const double dpr = pixelRatio() > 0 ? pixelRatio() : 1;
    const double radius = nonNegative(c.shadowRadius) * dpr;
    const double opacity = std::clamp(std::isfinite(c.shadow) ? c.shadow : 0.0, 0.0, 1.0);
    const std::string key = kit::Json{k.width, k.height, innerPx_, radius, opacity}.dump();
    if (key != shadowKey_) {
        SoftShadow s = softShadow(k.width, k.height, innerPx_, radius, opacity);
        shadow_->setContents(std::move(s.image));
        shadowMargin_ = s.margin;
        shadowKey_ = key;
    }
    shadow_->setHidden(shadow_->contents().isNull());
    shadow_->setFrame({k.x1 - o.x1 - shadowMargin_, k.y1 - o.y1 - shadowMargin_ - radius / 3,
                       k.width + 2 * shadowMargin_, k.height + 2 * shadowMargin_});
}

void Backdrop::buildFill(const Rect& o) {
    gradient_->setFrame({0, 0, o.width, o.height});
    gradient_->setHidden(false);
    mesh_->setHidden(true);
    image_->setHidden(true);
    if (c.mode == "mesh") return buildMesh(o);
    if (c.mode == "image" && buildImage(o)) return;
    if (c.mode == "flat") {
        gradient_->setColors({c.flatColor.color(), c.flatColor.color()});
    } else {
        gradient_->setColors({c.gradientStart.color(), c.gradientEnd.color()});
    }
    // The gradient line through the centre at the configured angle, long
    // enough that its ends touch the corners the direction points at.
    const double a = c.angle * std::numbers::pi / 180, dx = std::cos(a), dy = std::sin(a);
    const double half = (std::abs(dx) * o.width + std::abs(dy) * o.height) / 2;
    const double ux = half * dx / std::max(o.width, 1.0), uy = half * dy / std::max(o.height, 1.0);
    gradient_->setStartPoint({0.5 - ux, 0.5 - uy});
    gradient_->setEndPoint({0.5 + ux, 0.5 + uy});
}

namespace {

std::vector<kit::Color> meshColorsOf(const Config& c) {
    std::vector<kit::Color> colors;
    for (const RGBColor& m : c.meshColors) colors.push_back(m.color());
    // A mesh needs colour; without any it shows the gradient's two.
    if (colors.empty()) colors = {c.gradientStart.color(), c.gradientEnd.color()};
    return colors;
}

}  // namespace

void Backdrop::buildMesh(const Rect& o) {
    // Drawn small and scaled up by the layer: the blend is smooth, so the
    // scaling loses nothing one can see, and a 4K composition costs a few
    // thousand pixels.
    const kit::Size small = meshPreviewSize(o.width, o.height);
    const kit::Json key = {configJSON(true), small.width, small.height};
    if (key.dump() != meshKey_ || mesh_->contents().isNull()) {
        mesh_->setContents(renderMesh(meshPoints(meshColorsOf(c), uint32_t(c.meshSeed)), int(small.width),
                                      int(small.height)));
        meshKey_ = key.dump();
    }
    mesh_->setFrame({0, 0, o.width, o.height});
    mesh_->setHidden(false);
    gradient_->setHidden(true);
}

void Backdrop::blurMeshForExport() {
    if (c.isOn != 1 || c.mode != "mesh") return;
    std::lock_guard lock(fileLock_);
    services::timerStart("blurMesh");
    const kit::Rect f = mesh_->frame();
    const int w = int(std::lround(f.width())), h = int(std::lround(f.height()));
    kit::Image full = renderMesh(meshPoints(meshColorsOf(c), uint32_t(c.meshSeed)), w, h);
    if (!full.isNull()) {
        mesh_->setContents(std::move(full));
        meshKey_.clear();  // the editor goes back to the small rendering on its next layout
    }
    services::timerLog("blurMesh");
}

kit::Image Backdrop::customImage(const std::string& name, std::string* error) {
    {
        std::lock_guard lock(fileLock_);
        if (auto it = pictures_.find(name); it != pictures_.end()) return it->second;
    }
    // Read without the lock: on the main thread the event loop runs while
    // the picture is read, and a layout meanwhile asks for a picture too.
    kit::Image img = CustomImages::load(name, error);
    // Only the picture in use stays in memory.
    if (!img.isNull()) {
        std::lock_guard lock(fileLock_);
        pictures_.clear();
        pictures_[name] = img;
    }
    return img;
}

bool Backdrop::buildImage(const Rect& o) {
    std::string error;
    const std::string name = c.imageName;
    kit::Image picture = name.empty() ? kit::Image() : customImage(name, &error);
    // Another picture was chosen while this one was read, and its layout has
    // run: what it left stands.
    if (name != c.imageName) return !image_->isHidden();
    if (picture.isNull()) {
        // The picture went missing (removed, or its folder lost): the
        // gradient stands in, and the user hears why once.
        if (failedPicture_ != c.imageName) {
            failedPicture_ = c.imageName;
            notify("Backdrop picture unavailable",
                   "The gradient is shown instead. " +
                       (error.empty() ? std::string("No picture is chosen.") : error));
        }
        return false;
    }
    // Cover: the picture fills the whole backdrop, cut at the long sides.
    image_->setContents(std::move(picture));
    image_->setFrame({0, 0, o.width, o.height});
    image_->setHidden(false);
    gradient_->setHidden(true);
    return true;
}

void Backdrop::buildNoise(const Rect& o) {
    const double strength = std::isfinite(c.noise) ? std::clamp(c.noise, 0.0, 1.0) : 0.0;
    noise_->setHidden(strength <= 0);
    if (strength <= 0) return;
    // One tile of grain, repeated; rebuilt only when the strength changes.
    const std::string key = std::to_string(std::lround(strength * 1000));
    if (key != noiseKey_) {
        noise_->setBackgroundPattern(noiseTile(128, 0x6b617278u, strength * 0.5));
        noiseKey_ = key;
    }
    noise_->setFrame({0, 0, o.width, o.height});
}

std::optional<Rect> Backdrop::outerOrigin() const {
    // Off, the backdrop paddings are 0: the composition is the canvas, the
    // screenshot and what objects reach beyond it.
    const Rect k = canvasOrigin();
    return Rect{k.x1 - padBL, k.y1 - padBB, k.width + padBL + padBR, k.height + padBB + padBT};
}

Rect Backdrop::canvasOrigin() const {
    const Rect s = sourceRect();
    return {s.x1 - padCL, s.y1 - padCB, s.width + padCL + padCR, s.height + padCB + padCT};
}

double Backdrop::canvasPixelCount() const {
    const Rect k = canvasOrigin();
    return std::round(k.width) * std::round(k.height);
}

kit::Json Backdrop::telemetryInfo() const {
    if (c.isOn != 1) return {{"back", "off"}};
    return {
        {"back", c.mode}, {"padding", round2(c.padding)}, {"ratio", c.ratio}, {"shadow", round2(c.shadow)}};
}

void Backdrop::setup(bool /*light*/) {
    computeLayout();
}

void Backdrop::layout() {
    computeLayout();
    editor::Framer::shared().lowerMinZoom(*outerOrigin());
    editor::canvasLayers().relayoutRequest = std::max(editor::canvasLayers().relayoutRequest, 1);
}

void Backdrop::toggle(const std::string& method) {
    if (c.isOn != 1) {
        const Rect s = sourceRect();
        if (s.width * s.height > kMaxMegapixels * 1e6) {
            services::Telemetry::shared().event("backdrop:denied",
                                                {{"cause", "Too large"}, {"method", method}});
            notify("Image is too large for a backdrop",
                   "Backdrops work with screenshots of up to 15 megapixels.");
            return;
        }
        // The look last stored (a new screenshot clears the one in use).
        c = Config();
        load();
        c.isOn = 1;
    } else {
        c.isOn = 0;
    }
    services::Telemetry::shared().event("backdrop", {{"on", c.isOn}, {"method", method}});
    store();
    applyAutoCrop();
    editor::ViewController* vc = nullptr;
    if (auto* mw = editor::MainWindowController::existing()) vc = mw->viewController.get();
    if (vc && c.isOn == 1) {
        // The window grows to its least size and the panel shows before
        // the fit, so the composition is fitted beside the panel.
        updateControls();
        vc->fitWindow();
    } else if (vc) {
        vc->syncBackdropPanel();
    }
    // Off: the panel goes at once (not after its fade), so the fit below
    // has the whole width.
    if (c.isOn != 1 && panel_ && !panel_->view->isHidden()) panel_->view->hideNow();
    layout();
    editor::refitCanvas(false);
    editor::relayoutCanvas(false);
    editor::core().updateStatus();
    editor::Undo::shared().save("backdrop");
}

bool Backdrop::applyAutoCrop() {
    if (c.isOn == 1 && c.autoCrop == 1) {
        const imaging::Capture cap = capture();
        if (cap.pixels.isNull()) return false;
        const Rect trimmed = Rect::fromKit(trimmedCrop(cap.pixels, cap.crop));
        if (trimmed == Rect::fromKit(cap.crop)) return false;
        const Rect from = currentCrop();
        if (!cropAbsolute(trimmed)) return false;
        autoCropFrom_ = from;
        autoCropTo_ = trimmed;
        return true;
    }
    // Off: the trimmed borders come back, unless the user cropped since.
    const bool restore = autoCropFrom_ && currentCrop() == *autoCropTo_;
    const bool undone = restore && cropAbsolute(*autoCropFrom_);
    autoCropFrom_.reset();
    autoCropTo_.reset();
    return undone;
}

void Backdrop::configChanged(bool refit) {
    store();
    layout();
    if (refit) editor::refitCanvas(false);
    editor::relayoutCanvas(false);
    if (refit) editor::core().updateStatus();
}

Rect Backdrop::imageSizeWithBackdrop() const {
    return outerOrigin().value_or(sourceRect());
}

Rect imageSizeWithBackdrop() {
    return Backdrop::shared().imageSizeWithBackdrop();
}

std::optional<kit::Color> Backdrop::bestCanvasColor() const {
    // The pixels come under the core's image lock (inside capture()); our
    // own lock is taken only after it is released, for the cache.
    const imaging::Capture cap = capture ? capture() : imaging::Capture{};
    if (cap.pixels.isNull()) return std::nullopt;
    const std::weak_ptr<const void> storage = cap.pixels.storage();
    std::lock_guard lock(canvasLock_);
    const bool same = !colorStorage_.expired() && !colorStorage_.owner_before(storage) &&
                      !storage.owner_before(colorStorage_) && colorCrop_ == cap.crop;
    if (same && colorCached_) return colorCached_;
    colorCached_ = edgeColor(cap.pixels, cap.crop);
    colorStorage_ = storage;
    colorCrop_ = cap.crop;
    return colorCached_;
}

bool Backdrop::loadNewFile(const std::string& file, const std::string& method) {
    const uint64_t handedIn = ++picturesHandedIn_;
    const StoreResult stored = CustomImages::store(file);
    if (kit::ImageIO::wasCancelled(stored.error)) return false;
    if (!stored.name) {
        notify("Can't use this picture", stored.error);
        return false;
    }
    // A later picture was handed in while this one was read: in order, this
    // one would be chosen and replaced at once, so it is only kept.
    if (handedIn != picturesHandedIn_) return true;
    services::Telemetry::shared().event("backdrop:image", {{"method", method}});
    c.mode = "image";
    c.imageName = *stored.name;
    c.templateName.clear();
    failedPicture_.clear();
    configChanged(false);
    if (panel_) panel_->updateControls();
    editor::Undo::shared().save("backdrop");
    return true;
}

std::shared_ptr<kit::View> Backdrop::panelView() {
    if (!panel_) {
        panel_ = std::make_unique<BackdropViewController>(*this);
        // While the panel shows, the view fits the composition beside it.
        editor::Framer::shared().backdropPanelWidth = [this]() -> std::optional<double> {
            if (!panel_ || panel_->view->isHidden()) return std::nullopt;
            return panel_->view->frame().width();
        };
    }
    return panel_->view;
}

void Backdrop::updateControls() {
    if (!panel_) return;
    if (c.isOn != 1) {
        // Undo took the backdrop away: its panel goes with it.
        if (!panel_->view->isHidden()) panel_->view->hide();
        return;
    }
    panel_->updateControls();
}

void Backdrop::rememberCustomColors() {
    if (panel_) panel_->rememberCustomColors();
}

void Backdrop::turnOff() {
    c.isOn = 0;
    c.padding = 0;
    c.inset = -1;
    c.innerRadius = c.outerRadius = 0;
    computeLayout();
}

void Backdrop::updateTransforms() {
    std::optional<Rect> o = outerOrigin();
    if (c.isOn != 1 || !o) return;
    editor::Framer& f = editor::Framer::shared();
    const double z = f.zoom(), d = f.dpr() > 0 ? f.dpr() : 1;
    root_->setPosition({(o->x1 * z + f._bx.get()) / d, (o->y1 * z + f._by.get()) / d});
    root_->setTransform(kit::AffineTransform::scale(z / d, z / d));
}

bool Backdrop::handleHotkey(int keyCode, bool shift, bool command, bool option, bool control,
                            const std::string& /*chars*/) {
    if (c.isOn != 1 || command || option || control) return false;
    std::string description;
    if (keyCode == kit::KeyCode::K && shift) {
        // A new pair of gradient colours.
        static uint32_t state = 0x9e3779b9u;
        c.mode = "gradient";
        c.gradientStart = randomColor(state);
        c.gradientEnd = randomColor(state);
        c.angle = std::round(double(state % 8)) * 45;
        c.templateName.clear();
        description = "⇧K";
    } else if (keyCode == kit::KeyCode::J && !shift) {
        // The shadow in four steps: none, light, medium, strong.
        const double steps[] = {0, 0.25, 0.5, 0.75};
        double next = 0;
        for (double s : steps)
            if (s > c.shadow + 1e-6) {
                next = s;
                break;
            }
        c.shadow = next;
        description = "J";
    } else {
        return false;
    }
    services::Telemetry::shared().event("backdrop-hotkey", {{"method", "hotkey:" + description}});
    store();
    computeLayout();
    updateTransforms();
    editor::canvasLayers().relayoutRequest = std::max(editor::canvasLayers().relayoutRequest, 1);
    editor::Undo::shared().save("backdrop");
    return true;
}

}  // namespace backdrop
