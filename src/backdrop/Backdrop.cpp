#include "backdrop/Backdrop.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "editor/CanvasLayers.h"
#include "editor/Framer.h"
#include "editor/ObjectHandlers.h"
#include "editor/Undo.h"
#include "kit/Event.h"
#include "kit/Path.h"
#include "services/Alerts.h"
#include "services/Settings.h"
#include "services/Telemetry.h"

namespace backdrop {

namespace {

kit::Json colorJson(const RGBColor& c) { return {{"b", c.b}, {"g", c.g}, {"r", c.r}}; }

bool readColor(const kit::Json& j, RGBColor& out) {
    if (!j.is_object()) return false;
    RGBColor c = out;
    for (auto [key, field] : {std::pair{"r", &c.r}, std::pair{"g", &c.g}, std::pair{"b", &c.b}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_number()) return false;
        *field = it->get<double>();
    }
    out = c;
    return true;
}

double round2(double v) { return std::round(v * 100) / 100; }

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

double nonNegative(double v) { return std::isfinite(v) ? std::max(0.0, v) : 0.0; }

}  // namespace

// ---- configuration -----------------------------------------------------------------

kit::Json Config::toJson() const {
    kit::Json mesh = kit::Json::array();
    for (const RGBColor& m : meshColors) mesh.push_back(colorJson(m));
    return {{"isOn", isOn},
            {"mode", mode},
            {"gradientStart", colorJson(gradientStart)},
            {"gradientEnd", colorJson(gradientEnd)},
            {"flatColor", colorJson(flatColor)},
            {"meshColors", mesh},
            {"meshSeed", meshSeed},
            {"angle", angle},
            {"noise", noise},
            {"padding", padding},
            {"inset", inset},
            {"autoCrop", autoCrop},
            {"innerRadius", innerRadius},
            {"outerRadius", outerRadius},
            {"shadow", shadow},
            {"shadowRadius", shadowRadius},
            {"ratio", ratio},
            {"imageName", imageName},
            {"templateName", templateName},
            {"version", version}};
}

bool Config::apply(const kit::Json& j, std::string* error) {
    auto fail = [&](const std::string& key) {
        if (error) *error = "Backdrop setting \"" + key + "\" has the wrong type";
        return false;
    };
    if (!j.is_object()) {
        if (error) *error = "Backdrop configuration is not a JSON object";
        return false;
    }
    Config n = *this;
    for (auto [key, field] : {std::pair{"isOn", &n.isOn}, std::pair{"meshSeed", &n.meshSeed},
                              std::pair{"autoCrop", &n.autoCrop}, std::pair{"version", &n.version}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_number()) return fail(key);
        *field = int(std::lround(it->get<double>()));
    }
    for (auto [key, field] :
         {std::pair{"angle", &n.angle}, std::pair{"noise", &n.noise}, std::pair{"padding", &n.padding},
          std::pair{"inset", &n.inset}, std::pair{"innerRadius", &n.innerRadius},
          std::pair{"outerRadius", &n.outerRadius}, std::pair{"shadow", &n.shadow},
          std::pair{"shadowRadius", &n.shadowRadius}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_number()) return fail(key);
        *field = it->get<double>();
    }
    for (auto [key, field] : {std::pair{"mode", &n.mode}, std::pair{"ratio", &n.ratio},
                              std::pair{"imageName", &n.imageName}, std::pair{"templateName", &n.templateName}}) {
        auto it = j.find(key);
        if (it == j.end()) continue;
        if (!it->is_string()) return fail(key);
        *field = it->get<std::string>();
    }
    for (auto [key, field] : {std::pair{"gradientStart", &n.gradientStart}, std::pair{"gradientEnd", &n.gradientEnd},
                              std::pair{"flatColor", &n.flatColor}}) {
        auto it = j.find(key);
        if (it != j.end() && !readColor(*it, *field)) return fail(key);
    }
    if (auto it = j.find("meshColors"); it != j.end()) {
        if (!it->is_array()) return fail("meshColors");
        std::vector<RGBColor> mesh;
        for (const kit::Json& m : *it) {
            RGBColor c;
            if (!readColor(m, c)) return fail("meshColors");
            mesh.push_back(c);
        }
        n.meshColors = std::move(mesh);
    }
    *this = std::move(n);
    return true;
}

RGBColor randomColor(uint32_t& state) {
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return double(state >> 8) / double(1u << 24);
    };
    // Saturated, not too dark: a hue around the wheel at a pleasant lightness.
    const double h = next() * 6, s = 0.45 + 0.4 * next(), v = 0.75 + 0.2 * next();
    const int i = int(h) % 6;
    const double f = h - std::floor(h), p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    switch (i) {
        case 0: return {v, t, p};
        case 1: return {q, v, p};
        case 2: return {p, v, t};
        case 3: return {p, q, v};
        case 4: return {t, p, v};
        default: return {v, p, q};
    }
}

// ---- the renderer ------------------------------------------------------------------

Backdrop& Backdrop::shared() {
    static Backdrop instance;
    return instance;
}

Backdrop::Backdrop() {
    sourceRect = [] { return editor::Framer::shared().source; };
    pixelRatio = [] { return editor::Framer::shared().dpr(); };
    objectBounds = []() -> std::optional<Rect> {
        if (!Settings::shared().expandableCanvas()) return std::nullopt;
        return editor::ObjectHandlers::shared().contentBounds();
    };
    notify = [](const std::string& title, const std::string& text) { alert(title, text); };
    root_ = kit::Layer::make();
    root_->name = "backdrop";
    root_->setAnchorPoint({0, 0});
    root_->setMasksToBounds(true);
    gradient_ = kit::GradientLayer::make();
    gradient_->name = "backdrop.fill";
    gradient_->setAnchorPoint({0, 0});
    shadow_ = kit::Layer::make();
    shadow_->name = "backdrop.shadow";
    shadow_->setAnchorPoint({0, 0});
    shadow_->setShadowColor(kit::Color::black());
    root_->addSublayer(gradient_);
    root_->addSublayer(shadow_);
    root_->setHidden(true);
    load();
}

void Backdrop::load() {
    const std::string stored = Settings::shared().bdrConfig();
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

void Backdrop::store() const { Settings::shared().setBdrConfig(configJSON(false)); }

editor::BackdropHost::Paddings Backdrop::paddings() const {
    return {padBT, padBB, padBL, padBR, padCT, padCB, padCL, padCR};
}

void Backdrop::applyConfig(const kit::Json& config) {
    std::string error;
    if (!c.apply(config, &error)) {
        std::cerr << "Backdrop: " << error << std::endl;
        return;
    }
    computeLayout();
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
    if (c.isOn != 1) return;
    const Rect s = sourceRect();
    const double dpr = pixelRatio() > 0 ? pixelRatio() : 1;
    // The canvas: the inset around the screenshot, grown to the objects
    // that reach beyond it.
    const double inset = std::round(nonNegative(c.inset) * dpr);
    padCT = padCB = padCL = padCR = inset;
    if (std::optional<Rect> b = objectBounds(); b && b->width > 0 && b->height > 0) {
        padCL = std::max(padCL, std::ceil(s.x1 - b->x1));
        padCB = std::max(padCB, std::ceil(s.y1 - b->y1));
        padCR = std::max(padCR, std::ceil(b->x1 + b->width - (s.x1 + s.width)));
        padCT = std::max(padCT, std::ceil(b->y1 + b->height - (s.y1 + s.height)));
    }
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

    gradient_->setFrame({0, 0, o.width, o.height});
    if (c.mode == "flat") {
        gradient_->setColors({c.flatColor.color(), c.flatColor.color()});
    } else {
        gradient_->setColors({c.gradientStart.color(), c.gradientEnd.color()});
    }
    // The gradient line through the centre at the configured angle, long
    // enough that its ends touch the corners the direction points at.
    const double a = c.angle * M_PI / 180, dx = std::cos(a), dy = std::sin(a);
    const double half = (std::abs(dx) * o.width + std::abs(dy) * o.height) / 2;
    const double ux = half * dx / std::max(o.width, 1.0), uy = half * dy / std::max(o.height, 1.0);
    gradient_->setStartPoint({0.5 - ux, 0.5 - uy});
    gradient_->setEndPoint({0.5 + ux, 0.5 + uy});

    // The shadow falls from the screenshot's outline, a little downwards.
    const kit::Rect canvas{k.x1 - o.x1, k.y1 - o.y1, k.width, k.height};
    shadow_->setFrame(canvas);
    shadow_->setShadowPath(kit::Path::roundedRect({0, 0, k.width, k.height}, innerPx_, innerPx_));
    shadow_->setShadowOpacity(std::clamp(std::isfinite(c.shadow) ? c.shadow : 0.0, 0.0, 1.0));
    const double dpr = pixelRatio() > 0 ? pixelRatio() : 1;
    const double radius = nonNegative(c.shadowRadius) * dpr;
    shadow_->setShadowRadius(radius);
    shadow_->setShadowOffset({0, -radius / 3});
}

std::optional<Rect> Backdrop::outerOrigin() const {
    if (c.isOn != 1) return std::nullopt;
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
    return {{"back", c.mode},
            {"padding", round2(c.padding)},
            {"ratio", c.ratio},
            {"shadow", round2(c.shadow)}};
}

void Backdrop::setup(bool /*light*/) { computeLayout(); }

void Backdrop::layout() {
    computeLayout();
    if (c.isOn == 1) editor::Framer::shared().lowerMinZoom(*outerOrigin());
    editor::canvasLayers().relayoutRequest = std::max(editor::canvasLayers().relayoutRequest, 1);
}

void Backdrop::toggle(const std::string& method) {
    if (c.isOn != 1) {
        const Rect s = sourceRect();
        if (s.width * s.height > kMaxMegapixels * 1e6) {
            Telemetry::shared().event("backdrop:denied", {{"cause", "Too large"}, {"method", method}});
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
    Telemetry::shared().event("backdrop", {{"on", c.isOn}, {"method", method}});
    store();
    layout();
    editor::refitCanvas(false);
    editor::relayoutCanvas(false);
    editor::Undo::shared().save("backdrop");
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
    if (!o) return;
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
    Telemetry::shared().event("backdrop-hotkey", {{"method", "hotkey:" + description}});
    store();
    computeLayout();
    updateTransforms();
    editor::canvasLayers().relayoutRequest = std::max(editor::canvasLayers().relayoutRequest, 1);
    editor::Undo::shared().save("backdrop");
    return true;
}

}  // namespace backdrop
