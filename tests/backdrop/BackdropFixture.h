#pragma once
// A backdrop over a fixed screenshot with no editor around it: the
// screenshot's rectangle, pixel ratio, objects, pixels and crop are the
// fixture's fields, and notices are collected instead of shown.
#include <atomic>
#include <string>
#include <vector>

#include "backdrop/Backdrop.h"
#include "kit/draw/LayerRenderer.h"
#include "services/Settings.h"

// The look a backdrop stores is the whole process's, and a new backdrop
// starts from it: each one here starts with none stored and leaves none.
struct NoStoredLook {
    NoStoredLook() { services::Settings::shared().setBdrConfig(""); }
    ~NoStoredLook() { services::Settings::shared().setBdrConfig(""); }
    NoStoredLook(const NoStoredLook&) = delete;
    NoStoredLook& operator=(const NoStoredLook&) = delete;
};

struct BackdropFixture {
    NoStoredLook noStoredLook;  // before the backdrop, which reads it
    backdrop::Backdrop b;
    services::Rect source{0, 0, 120, 80};
    double dpr = 1;
    std::optional<services::Rect> objects;
    std::vector<std::string> notices;
    imaging::Capture shot;
    std::vector<services::Rect> crops;  // every crop the backdrop asked for
    std::atomic<int> captures{0};

    BackdropFixture() {
        b.sourceRect = [this] { return source; };
        b.pixelRatio = [this] { return dpr; };
        b.objectBounds = [this] { return objects; };
        b.notify = [this](const std::string& title, const std::string&) { notices.push_back(title); };
        b.capture = [this] {
            ++captures;
            return shot;
        };
        b.currentCrop = [this] { return services::Rect::fromKit(shot.crop); };
        b.cropAbsolute = [this](const services::Rect& r) {
            crops.push_back(r);
            shot.crop = r.toKit();
            source = {0, 0, r.width, r.height};
            return true;
        };
    }
    // Shown, with no shadow or corners unless `config` says otherwise.
    void on(const kit::Json& config) {
        kit::Json all = {{"isOn", 1},        {"inset", -1},      {"ratio", "auto"}, {"shadow", 0},
                         {"outerRadius", 0}, {"innerRadius", 0}, {"noise", 0}};
        all.update(config);
        b.applyConfig(all);
    }
    kit::Image image() const { return kit::renderToImage(*b.lbackdrop(), 1.0); }
};

// A picture of one colour.
inline kit::Image filled(int w, int h, kit::PixelBGRA p) {
    kit::Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, p);
    return img;
}
