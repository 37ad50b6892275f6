// What keeps repeated frames cheap: setters that change nothing leave the
// tree alone, composited groups (shadows) are reused only while nothing in
// them changed, and large pictures drawn smaller are averaged, not skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "kit/draw/Layer.h"
#include "kit/draw/LayerRenderer.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"

namespace {

using namespace kit;

TEST(RenderCache, SettersThatChangeNothingLeaveTheTreeAlone) {
    auto root = Layer::make();
    auto shape = ShapeLayer::make();
    auto text = std::make_shared<TextLayer>();
    root->addSublayer(shape);
    root->addSublayer(text);
    int displays = 0;
    root->setDisplayObserver([&] { ++displays; });
    Image picture(4, 4);

    shape->setFrame({1, 2, 30, 40});
    shape->setPath(Path::rect({0, 0, 10, 10}));
    shape->setStrokeColor(Color::black());
    text->setString("abc");
    root->setContents(picture);
    const uint64_t revision = root->revision();
    const int shown = displays;

    shape->setFrame({1, 2, 30, 40});
    shape->setPath(Path::rect({0, 0, 10, 10}));
    shape->setStrokeColor(Color::black());
    shape->setOpacity(1.5);  // clamped to the 1 it already has
    text->setString("abc");
    root->setContents(picture);
    EXPECT_EQ(root->revision(), revision);
    EXPECT_EQ(displays, shown);

    root->setContents(picture.copy());  // other storage: a new picture
    shape->setPath(Path::rect({0, 0, 10, 11}));
    text->setString("abd");
    EXPECT_EQ(root->revision(), revision + 3);
    EXPECT_EQ(displays, shown + 3);
}

// A tree with a shadowed box inside a panned, scaled parent.
struct Scene {
    LayerPtr root = Layer::make(), parent = Layer::make(), box = Layer::make();
    Scene(Color fill, double panX) {
        root->setBounds({0, 0, 120, 80});
        parent->setAnchorPoint({0, 0});
        parent->setPosition({panX, 10});
        parent->setTransform(AffineTransform::scale(2, 2));
        box->setFrame({5, 5, 20, 10});
        box->setBackgroundColor(fill);
        box->setCornerRadius(3);
        box->setShadowOpacity(0.5);
        box->setShadowRadius(4);
        root->addSublayer(parent);
        parent->addSublayer(box);
    }
};

TEST(RenderCache, ShadowedGroupsAreReusedOnlyWhileUnchanged) {
    Scene s(Color::rgb(200, 30, 30), 10);
    const Image first = renderToImage(*s.root, 2);
    EXPECT_EQ(renderToImage(*s.root, 2), first);  // drawn from the cache

    // Panned by whole points: the same picture, moved.
    s.parent->setPosition({17, 10});
    EXPECT_EQ(renderToImage(*s.root, 2), renderToImage(*Scene(Color::rgb(200, 30, 30), 17).root, 2));

    // Changed inside: drawn afresh, as a new tree draws it.
    s.box->setBackgroundColor(Color::rgb(30, 200, 30));
    const Image changed = renderToImage(*s.root, 2);
    EXPECT_EQ(changed, renderToImage(*Scene(Color::rgb(30, 200, 30), 17).root, 2));
    EXPECT_NE(changed, first);

    // Another scale: drawn afresh too.
    s.parent->setTransform(AffineTransform::scale(3, 3));
    Scene twin(Color::rgb(30, 200, 30), 17);
    twin.parent->setTransform(AffineTransform::scale(3, 3));
    EXPECT_EQ(renderToImage(*s.root, 2), renderToImage(*twin.root, 2));
}

TEST(RenderCache, LargePicturesDrawnSmallerAreAveraged) {
    // Single-pixel black and white stripes: skipping pixels would show one
    // of the two, averaging shows grey.
    Image stripes(2048, 1100);
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x)
            stripes.setPixel(x, y, x % 2 ? PixelBGRA{255, 255, 255, 255} : PixelBGRA{0, 0, 0, 255});
    auto layer = Layer::make();
    layer->setBounds({0, 0, 2048, 1100});
    layer->setContents(stripes);
    for (double scale : {0.5, 0.3}) {
        const Image shot = renderToImage(*layer, scale);
        ASSERT_FALSE(shot.isNull());
        int far = 0;
        for (int y = 2; y < shot.height() - 2; y += 37)
            for (int x = 2; x < shot.width() - 2; x += 41) far += std::abs(shot.pixel(x, y).g - 128) > 12;
        EXPECT_EQ(far, 0) << scale;
        // The picture fills the drawn area to the device pixels nearest its edges.
        EXPECT_EQ(shot.pixel(0, 0).a, 255) << scale;
        const int right = int(std::lround(2048 * scale)) - 1, bottom = int(std::lround(1100 * scale)) - 1;
        EXPECT_EQ(shot.pixel(right, bottom).a, 255) << scale;
    }
}

}  // namespace
