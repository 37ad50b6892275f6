#include "controls/ImageAssets.h"

#include <map>
#include <mutex>

#include "kit/LayerRenderer.h"
#include "kit/ShapeLayer.h"

namespace ImageAssets {

namespace {

std::mutex& lock() {
    static std::mutex m;
    return m;
}

std::map<std::string, kit::Image>& table() {
    static std::map<std::string, kit::Image> t;
    return t;
}

// Three dots for "More"; the overlay is the same glyph shrunk into the right edge.
kit::Image drawMore(bool overlay) {
    auto root = kit::Layer::make();
    root->setBounds({0, 0, 20, 20});
    auto dots = kit::ShapeLayer::make();
    dots->setBounds({0, 0, 20, 20});
    dots->setPosition({10, 10});
    kit::Path path;
    double r = overlay ? 1.2 : 1.6, y = overlay ? 4 : 10;
    double xs[3] = {overlay ? 12.0 : 4.5, overlay ? 15.0 : 10.0, overlay ? 18.0 : 15.5};
    for (double x : xs) path.addEllipse({x - r, y - r, 2 * r, 2 * r});
    dots->setPath(path);
    // Plain bars tint the glyph as a template; hover-style bars draw it as it
    // is, on light and dark backgrounds alike: a middle grey shows on both.
    dots->setFillColor(kit::Color::white(0.5));
    root->addSublayer(dots);
    return kit::renderToImage(*root, 2.0);
}

}  // namespace

kit::Image named(const std::string& name) {
    {
        std::lock_guard<std::mutex> guard(lock());
        auto it = table().find(name);
        if (it != table().end()) return it->second;
    }
    if (name == "20-more" || name == "20-more-overlay") {
        kit::Image drawn = drawMore(name == "20-more-overlay");
        set(name, drawn);
        return drawn;
    }
    return {};
}

void set(const std::string& name, const kit::Image& image) {
    std::lock_guard<std::mutex> guard(lock());
    table()[name] = image;
}

}  // namespace ImageAssets
