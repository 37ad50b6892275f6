#pragma once
// Pictures of known text drawn with kit's layer renderer, for the recognition
// tests: dark lines of text on white, each placed by its top-left corner.
#include <cmath>
#include <string>
#include <vector>

#include "kit/base/Image.h"
#include "kit/draw/Font.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/TextLayer.h"

namespace imaging::test {

struct TextLinePlacement {
    std::string text;
    double x, top;  // from the picture's left and top edges
    double fontSize = 28;
};

inline kit::Image textPicture(int width, int height, const std::vector<TextLinePlacement>& lines) {
    auto root = kit::Layer::make();
    root->setBounds({0, 0, double(width), double(height)});
    root->setBackgroundColor(kit::Color::white(1));
    for (const auto& l : lines) {
        auto t = kit::TextLayer::make();
        t->setFont(kit::Font::named("DejaVu Sans", l.fontSize).value_or(kit::Font::system(l.fontSize)));
        t->setForegroundColor(kit::Color::rgb(20, 20, 20));
        t->setString(l.text);
        kit::Size size{width - l.x, std::ceil(l.fontSize * 1.6)};
        t->setAnchorPoint({0, 0});
        t->setBounds({0, 0, size.width, size.height});
        t->setPosition({l.x, height - l.top - size.height});  // layers are y up
        root->addSublayer(t);
    }
    return kit::renderToImage(*root);
}

}  // namespace imaging::test
