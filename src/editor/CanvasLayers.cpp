#include "editor/CanvasLayers.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "editor/EditorHooks.h"
#include "editor/EditorHost.h"
#include "editor/FrameHandlers.h"
#include "editor/Framer.h"
#include "editor/Handlers.h"
#include "kit/draw/Animation.h"
#include "services/Console.h"

namespace editor {
namespace {

constexpr double kAnimationSeconds = 0.15;

CanvasLayers& record() {
    static CanvasLayers* layers = new CanvasLayers;
    return *layers;
}

void addTo(const kit::LayerPtr& parent, const kit::LayerPtr& layer) {
    if (parent && layer) parent->addSublayer(layer);
}

// Sets a geometry value; in an animated re-layout the layer tweens to it
// from what it shows (mid-tween that is not the model value), and a plain
// re-layout ends any tween at once.
template <class T>
void placeLayer(kit::Layer& layer, const char* key, const T& model, const T& shown, const T& to, bool animate,
                std::function<void(bool)> done = nullptr) {
    const std::string name = std::string("relayout.") + key;
    if (!animate) {
        if (layer.hasAnimation(name)) layer.removeAnimation(name);
        if (model != to) layer.setValueForKey(key, to);
        return;
    }
    if (model == to && shown == to) return;
    layer.setValueForKey(key, to);
    kit::Animation a;
    a.keyPath = key;
    a.fromValue = shown;
    a.toValue = to;
    a.duration = kit::Transaction::animationDuration();
    a.timingFunction = kit::TimingFunction::defaultCurve();
    a.completion = std::move(done);
    layer.addAnimation(a, name);
}

void hideCheckerUnderImage(CanvasLayers& c);

// The object tree in image units, scaled and panned with the viewport: the
// image point p lands on the view point p × zoom + b (device pixels), that is
// (p × zoom + b) / dpr in the root's points. The canvas holder sits at the
// canvas's bottom-left, below and left of the image by the canvas paddings.
void placeObjectTree(CanvasLayers& c, const Framer::Paddings& pad, bool animate) {
    Framer& f = Framer::shared();
    const double z = f.zoom(), d = f.dpr();
    if (c.objects) {
        kit::Layer& l = *c.objects;
        if (l.anchorPoint() != kit::Point{0, 0}) l.setAnchorPoint({0, 0});
        // Once the tween is over the checker may be left out again.
        placeLayer(l, "position", l.position(), l.presented("position", l.position()),
                   kit::Point{f._bx.get() / d, f._by.get() / d}, animate,
                   [&c](bool) { hideCheckerUnderImage(c); });
        placeLayer(l, "transform", l.transform(), l.presented("transform", l.transform()),
                   kit::AffineTransform::scale(z / d, z / d), animate);
    }
    if (c.imageLayer && c.imageLayer->superlayer()) {
        kit::Layer& canvas = *c.imageLayer->superlayer();
        if (&canvas != c.objects.get()) {
            if (canvas.anchorPoint() != kit::Point{0, 0}) canvas.setAnchorPoint({0, 0});
            kit::Point at{-pad.padCL, -pad.padCB};
            if (canvas.position() != at) canvas.setPosition(at);
        }
    }
}

bool allOpaque(const kit::Image& image) {
    if (image.isNull()) return false;
    for (int y = 0; y < image.height(); ++y) {
        const uint8_t* alpha = image.row(y) + 3;  // B, G, R, A
        for (int x = 0; x < image.width(); ++x)
            if (alpha[size_t(x) * 4] != 255) return false;
    }
    return true;
}

bool imageOpaque(CanvasLayers& c) {
    if (!c.imageOpaque) c.imageOpaque = allOpaque(c.image);
    return *c.imageOpaque;
}

// Whether the screenshot, drawn with the object tree at `position` scaled
// by `scale` (root points), covers the whole canvas view.
bool imageCoversView(const CanvasLayers& c, kit::Point position, double scale) {
    const services::Rect& s = Framer::shared().source;
    const kit::Rect view = c.root->bounds();
    if (view.isEmpty()) return false;
    // A device pixel of slack: an edge between pixels is drawn blended.
    const double slack = 1 / Framer::shared().dpr();
    return position.x + s.x1 * scale <= view.x() - slack && position.y + s.y1 * scale <= view.y() - slack &&
           position.x + (s.x1 + s.width) * scale >= view.maxX() + slack &&
           position.y + (s.y1 + s.height) * scale >= view.maxY() + slack;
}

// The checkerboard shows through transparent pixels and around the
// screenshot. While an opaque screenshot covers the whole view, where it is
// going and where it is shown now (the tween between them covers it too),
// the checkerboard is not drawn at all: filling the view with it at every
// frame, all hidden, costs as much as drawing the screenshot. With a
// backdrop the screenshot's corners may be rounded off, so it stays.
void hideCheckerUnderImage(CanvasLayers& c) {
    if (!c.checker || !c.root || !c.objects) return;
    bool covered = backdrop().isOn() != 1;
    if (covered) {
        const kit::Layer& l = *c.objects;
        const kit::Point shown = l.presented("position", l.position());
        const kit::AffineTransform shownScale = l.presented("transform", l.transform());
        covered =
            imageCoversView(c, l.position(), l.transform().a) && imageCoversView(c, shown, shownScale.a);
    }
    if (covered) covered = imageOpaque(c);
    if (c.checker->isHidden() != covered) c.checker->setHidden(covered);
}

// The canvas colour fills what the canvas holds beyond the screenshot; under
// a screenshot with see-through pixels it would change them (in the view and
// in every export), so there the background leaves the screenshot out and
// what lies beneath the canvas shows through. Under an opaque screenshot the
// colour stays: it cannot show through, and it keeps the edges of a
// screenshot between device pixels free of a seam.
void leaveCanvasColourOffTheImage(CanvasLayers& c, const kit::Rect& imageFrame) {
    kit::Layer* canvas = c.imageLayer->superlayer();
    if (!canvas) return;
    canvas->setBackgroundCutout(imageOpaque(c) ? std::nullopt : std::optional<kit::Rect>(imageFrame));
}

}  // namespace

CanvasLayers& canvasLayers() {
    return record();
}

Framer::Paddings canvasPaddings() {
    Framer& f = Framer::shared();
    if (f.paddings) return f.paddings();
    const BackdropHost::Paddings b = backdrop().paddings();
    return {b.padBT, b.padBB, b.padBL, b.padBR, b.padCT, b.padCB, b.padCL, b.padCR};
}

services::Rect compositionRect() {
    Framer& f = Framer::shared();
    if (f.compositionRect) return f.compositionRect();
    return backdrop().outerOrigin().value_or(f.source);
}

void updateCheckerPattern(bool dark) {
    CanvasLayers& c = record();
    // Tiles at the screen's pixel density so the squares stay crisp.
    const double s = std::max(1.0, std::round(Framer::shared().dpr()));
    const int n = int(16 * s), h = int(8 * s);
    kit::Image tile(n, n, s);
    tile.fill(kit::Color::white(dark ? 0.165 : 1.0));
    const uint8_t g = uint8_t(std::lround((dark ? 0.2 : 0.95) * 255));
    const kit::PixelBGRA p{g, g, g, 255};
    // (0, 0, 8, 8) and (8, 8, 8, 8) in y-up points: rows from the top put
    // the bottom-left square in the lower half and the top-right one above.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < h; ++x) {
            tile.setPixel(x, h + y, p);
            tile.setPixel(h + x, y, p);
        }
    if (c.checker) c.checker->setBackgroundPattern(tile);
}

void layoutChecker() {
    CanvasLayers& c = record();
    if (!c.checker) return;
    Framer& f = Framer::shared();
    const double k = 2 / f.dpr();
    const services::Rect& a = f.area;
    kit::Rect frame{a.x1 * k, a.y1 * k, a.width * k, a.height * k};
    if (c.checker->frame() != frame) c.checker->setFrame(frame);
    // A larger canvas may show what the screenshot covered.
    if (c.imageLayer) hideCheckerUnderImage(c);
}

void setUpLayers() {
    CanvasLayers& c = record();
    Handlers& h = Handlers::shared();
    ObjectInput* objects = h.objects;

    c.checker = kit::Layer::make();
    c.checker->name = "checker";
    c.checker->setFrame({0, 0, 100, 200});
    updateCheckerPattern(c.dark);
    addTo(c.root, c.checker);

    c.imageLayer = kit::Layer::make();
    c.imageLayer->name = "image";
    c.imageLayer->setMagnificationFilter(kit::ScalingFilter::Nearest);

    c.backdrop = backdrop().lbackdrop();
    addTo(c.root, c.backdrop);

    kit::LayerPtr objectsLayer = objects ? objects->layer() : nullptr;
    kit::LayerPtr canvasLayer = objects ? objects->lcanvas() : nullptr;
    if (!objectsLayer || !canvasLayer) {
        // No object manager yet: the screenshot still needs a tree to sit in.
        c.ownObjects = kit::Layer::make();
        c.ownObjects->name = "objects";
        c.ownCanvas = kit::Layer::make();
        c.ownCanvas->name = "canvas";
        c.ownObjects->addSublayer(c.ownCanvas);
        objectsLayer = c.ownObjects;
        canvasLayer = c.ownCanvas;
    }
    c.objects = objectsLayer;
    addTo(c.root, c.objects);
    addTo(canvasLayer, c.imageLayer);
    if (kit::LayerPtr curtain = objects ? objects->lcurtain() : nullptr) {
        addTo(c.objects, curtain);
        curtain->setZPosition(-10);
    }

    c.controls = objects ? objects->lcontrol() : nullptr;
    addTo(c.root, c.controls);
    c.crop = h.crop ? h.crop->layer() : nullptr;
    addTo(c.root, c.crop);
    c.marquee = FrameHandlers::shared().lmarquee;
    addTo(c.root, c.marquee);
    c.ruler = h.ruler ? h.ruler->layer() : nullptr;
    addTo(c.root, c.ruler);
    services::consoleLine("Layers Initialised");
}

void relayoutCanvas(bool animated) {
    CanvasLayers& c = record();
    if (!c.imageLayer) return;
    const bool animate = animated && !c.suppressAnimation && !layoutAnimationsOff;
    Framer& f = Framer::shared();
    const Framer::Paddings pad = canvasPaddings();

    kit::Transaction::begin();
    if (animate)
        kit::Transaction::setAnimationDuration(kAnimationSeconds);
    else
        kit::Transaction::setDisableActions(true);

    // Enlarged screenshots show sharp pixels; reduced ones are smoothed.
    const auto filter = f.zoom() < 1.0 ? kit::ScalingFilter::Linear : kit::ScalingFilter::Nearest;
    if (c.imageLayer->magnificationFilter() != filter) c.imageLayer->setMagnificationFilter(filter);
    const kit::Rect frame{f.source.x1 + pad.padCL, f.source.y1 + pad.padCB, f.source.width, f.source.height};
    if (c.imageLayer->frame() != frame) c.imageLayer->setFrame(frame);
    leaveCanvasColourOffTheImage(c, frame);

    placeObjectTree(c, pad, animate);
    hideCheckerUnderImage(c);
    backdrop().updateTransforms();
    Handlers& h = Handlers::shared();
    if (h.objects) h.objects->layoutObjects();
    if (h.crop) h.crop->render(animate);
    if (h.ruler) h.ruler->layout();
    kit::Transaction::commit();
}

void flushRelayoutRequest() {
    CanvasLayers& c = record();
    // The annotation objects still raise their own request word; both count.
    const int level = std::max(c.relayoutRequest, layoutRequest);
    c.relayoutRequest = 0;
    layoutRequest = 0;
    if (level > 0) relayoutCanvas(level == 2);
}

namespace {

// A component installed after the tree was built (or replaced since) has its
// layers outside it: the tree is built again around the same root.
bool treeOutdated(const CanvasLayers& c) {
    if (!c.imageLayer) return false;
    const Handlers& h = Handlers::shared();
    const kit::LayerPtr objects = h.objects ? h.objects->layer() : nullptr;
    if (objects && h.objects->lcanvas() && objects != c.objects) return true;
    if (h.objects && h.objects->lcontrol() != c.controls) return true;
    if ((h.crop ? h.crop->layer() : nullptr) != c.crop) return true;
    if ((h.ruler ? h.ruler->layer() : nullptr) != c.ruler) return true;
    return backdrop().lbackdrop() != c.backdrop;
}

}  // namespace

void setCanvasImage(const kit::Image& image) {
    CanvasLayers& c = record();
    if (treeOutdated(c)) {
        const int request = c.relayoutRequest;
        const bool suppress = c.suppressAnimation;
        resetCanvasLayers();
        c.relayoutRequest = request;
        c.suppressAnimation = suppress;
    }
    if (!c.imageLayer) setUpLayers();
    c.image = image;
    c.imageOpaque.reset();
    {
        kit::ScopedTransaction t(true);
        layoutChecker();
        c.imageLayer->setContents(image);
    }
    relayoutCanvas(false);
}

namespace {

// A layer that puts its contents and sublayers down as they are.
bool layerDrawsUnchanged(const kit::Layer& l) {
    return !l.isHidden() && l.opacity() == 1 && l.transform().isIdentity() && l.shadowOpacity() == 0 &&
           l.borderWidth() == 0 && l.cornerRadius() == 0 &&
           l.compositingFilter() == kit::CompositingFilter::None && !l.shouldRasterize() &&
           l.backgroundPattern().isNull();
}

bool sameImageStorage(const kit::Image& a, const kit::Image& b) {
    const auto sa = a.storage(), sb = b.storage();
    return !a.isNull() && !b.isNull() && !sa.owner_before(sb) && !sb.owner_before(sa);
}

}  // namespace

bool treeShowsImageAlone(const kit::Image& image) {
    CanvasLayers& c = record();
    if (!c.imageLayer || !c.objects || !sameImageStorage(c.image, image)) return false;
    const kit::Layer& shown = *c.imageLayer;
    kit::Layer* canvas = shown.superlayer();
    if (!canvas || canvas->superlayer() != c.objects.get()) return false;
    if (!layerDrawsUnchanged(shown) || !layerDrawsUnchanged(*canvas) ||
        !sameImageStorage(shown.contents(), image))
        return false;
    if (!shown.sublayers().empty() || canvas->sublayers().size() != 1 || shown.mask() || canvas->mask())
        return false;
    const Framer::Paddings pad = canvasPaddings();
    if (pad.padCL != 0 || pad.padCR != 0 || pad.padCT != 0 || pad.padCB != 0) return false;
    const services::Rect& s = Framer::shared().source;
    const kit::Rect area{s.x1, s.y1, double(image.width()), double(image.height())};
    if (shown.frame() != area || canvas->frame() != area) return false;
    // Objects, the spotlight curtain: anything else shown in the tree draws.
    for (const kit::LayerPtr& l : c.objects->sublayers())
        if (l.get() != canvas && !l->isHidden()) return false;
    if (kit::LayerPtr mask = c.objects->mask()) {
        const kit::Rect m = mask->frame();
        if (mask->cornerRadius() != 0 || m.minX() > area.minX() || m.minY() > area.minY() ||
            m.maxX() < area.maxX() || m.maxY() < area.maxY())
            return false;
    }
    // A see-through pixel would show a canvas colour that does not leave it out.
    if (auto color = canvas->backgroundColor();
        color && color->a > 0 && canvas->backgroundCutout() != shown.frame())
        return imageOpaque(c);
    return true;
}

void resetCanvasLayers() {
    CanvasLayers& c = record();
    for (const kit::LayerPtr& l : {c.checker, c.backdrop, c.objects, c.controls, c.crop, c.marquee, c.ruler})
        if (l && l->superlayer() == c.root.get()) l->removeFromSuperlayer();
    if (c.imageLayer) c.imageLayer->removeFromSuperlayer();
    kit::LayerPtr root = c.root;
    const bool dark = c.dark;
    c = CanvasLayers{};
    c.root = root;
    c.dark = dark;
}

}  // namespace editor
