#include <gtest/gtest.h>

#include <numbers>

#include "kit/draw/Layer.h"
#include "kit/draw/ShapeLayer.h"

using namespace kit;

TEST(Layer, FrameBoundsPositionAndAnchor) {
    auto l = Layer::make();
    l->setFrame({10, 20, 30, 40});
    EXPECT_EQ(l->bounds(), (Rect{0, 0, 30, 40}));
    EXPECT_EQ(l->position(), (Point{25, 40}));  // the anchor (0.5, 0.5) lands here
    EXPECT_EQ(l->frame(), (Rect{10, 20, 30, 40}));

    l->setAnchorPoint({0, 0});  // moving the anchor moves the frame, not the position
    EXPECT_EQ(l->frame(), (Rect{25, 40, 30, 40}));
    l->setFrame({0, 0, 30, 40});
    EXPECT_EQ(l->position(), (Point{0, 0}));

    // The transform turns about the anchor.
    l->setTransform(AffineTransform::rotation(std::numbers::pi / 2));
    Rect f = l->frame();
    EXPECT_NEAR(f.minX(), -40, 1e-9);
    EXPECT_NEAR(f.maxY(), 30, 1e-9);
    EXPECT_NEAR(f.width(), 40, 1e-9);
}

TEST(Layer, TreeEditing) {
    auto a = Layer::make(), b = Layer::make(), c = Layer::make(), d = Layer::make();
    a->addSublayer(b);
    a->addSublayer(c);
    a->insertSublayer(d, 0);
    ASSERT_EQ(a->sublayers().size(), 3u);
    EXPECT_EQ(a->sublayers()[0], d);
    a->insertSublayerAbove(d, c.get());
    EXPECT_EQ(a->sublayers().back(), d);
    a->insertSublayerBelow(d, b.get());
    EXPECT_EQ(a->sublayers().front(), d);
    EXPECT_EQ(a->sublayers().size(), 3u);

    // Adding elsewhere moves the layer; a layer cannot go under its own descendant.
    b->addSublayer(c);
    EXPECT_EQ(c->superlayer(), b.get());
    EXPECT_EQ(a->sublayers().size(), 2u);
    c->addSublayer(a);
    EXPECT_EQ(a->superlayer(), nullptr);
    c->addSublayer(c);
    EXPECT_TRUE(c->sublayers().empty());

    auto e = Layer::make();
    a->replaceSublayer(d.get(), e);
    EXPECT_EQ(a->sublayers().front(), e);
    EXPECT_EQ(d->superlayer(), nullptr);
    b->removeFromSuperlayer();
    EXPECT_EQ(b->superlayer(), nullptr);
    EXPECT_EQ(a->sublayers().size(), 1u);
    a->removeAllSublayers();
    EXPECT_EQ(e->superlayer(), nullptr);

    // A dying superlayer leaves no dangling back pointer.
    auto orphan = Layer::make();
    {
        auto parent = Layer::make();
        parent->addSublayer(orphan);
    }
    EXPECT_EQ(orphan->superlayer(), nullptr);
}

TEST(Layer, ChangesReachTheRootObserver) {
    auto root = Layer::make(), mid = Layer::make();
    auto leaf = ShapeLayer::make();
    root->addSublayer(mid);
    mid->addSublayer(leaf);
    int calls = 0;
    root->setDisplayObserver([&] { ++calls; });
    uint64_t rootRev = root->revision(), midRev = mid->revision();
    leaf->setLineWidth(3);
    EXPECT_EQ(calls, 1);
    EXPECT_GT(root->revision(), rootRev);
    EXPECT_GT(mid->revision(), midRev);

    auto mask = Layer::make();
    root->setMask(mask);
    calls = 0;
    mask->setOpacity(0.5);  // a mask's change shows through its owner
    EXPECT_EQ(calls, 1);
    // A layer in a tree that becomes a mask leaves the tree.
    mid->addSublayer(mask);
    EXPECT_EQ(root->mask(), nullptr);
    leaf->setMask(mask);
    EXPECT_EQ(mask->superlayer(), nullptr);
    EXPECT_EQ(mid->sublayers().size(), 1u);
}

TEST(Layer, ConvertPointBetweenLayers) {
    auto root = Layer::make();
    root->setBounds({0, 0, 100, 100});
    auto a = Layer::make();
    a->setFrame({10, 10, 20, 20});
    auto b = Layer::make();
    b->setFrame({50, 60, 10, 10});
    b->setTransform(AffineTransform::scale(2, 2));
    root->addSublayer(a);
    root->addSublayer(b);
    Point p = a->convertPoint({0, 0}, b.get());  // (10,10) in root → b's space
    EXPECT_NEAR(p.x, (10 - 55) / 2.0 + 5, 1e-9);
    EXPECT_NEAR(p.y, (10 - 65) / 2.0 + 5, 1e-9);
    Point back = b->convertPoint(p, a.get());
    EXPECT_NEAR(back.x, 0, 1e-9);
    EXPECT_NEAR(back.y, 0, 1e-9);
    EXPECT_EQ(a->convertPoint({1, 2}, nullptr), (Point{11, 12}));

    root->setGeometryFlipped(true);  // sublayers placed y down from the top
    Point q = a->convertPoint({0, 0}, root.get());
    EXPECT_NEAR(q.y, 90, 1e-9);
}

TEST(Layer, KeyValueAccess) {
    auto sh = ShapeLayer::make();
    EXPECT_TRUE(sh->setValueForKey("opacity", 0.5));
    EXPECT_EQ(sh->opacity(), 0.5);
    EXPECT_TRUE(sh->setValueForKey("strokeEnd", 0.3));
    EXPECT_EQ(sh->strokeEnd(), 0.3);
    EXPECT_FALSE(sh->setValueForKey("opacity", Point{1, 2}));
    EXPECT_FALSE(sh->setValueForKey("bogus", 1.0));
    EXPECT_TRUE(std::holds_alternative<Path>(*sh->valueForKey("path")));
    EXPECT_FALSE(Layer::make()->valueForKey("path"));
    sh->setOpacity(7);  // clamped
    EXPECT_EQ(sh->opacity(), 1);
}
