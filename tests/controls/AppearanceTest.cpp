// A switch between the light and the dark look while controls are on screen
// gives each the colours it would have had if it had started in that look.
#include <gtest/gtest.h>

#include <QPalette>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "controls/CtrlButton.h"
#include "controls/CtrlColorButton.h"
#include "controls/CtrlHelper.h"
#include "controls/CtrlInputCell.h"
#include "controls/CtrlLogoSnake.h"
#include "controls/CtrlRadioImage.h"
#include "controls/CtrlTooltippedSegments.h"
#include "controls/cellSliderSize.h"
#include "kit/draw/ShapeLayer.h"
#include "kit/draw/TextLayer.h"
#include "kit/ui/TextField.h"
#include "kit/ui/Window.h"
#include "kit/ui/qt/ViewPrivate.h"

using namespace controls;

namespace {

// Every colour the layer tree shows, in tree order.
void collect(const kit::Layer& l, std::vector<kit::Color>& out) {
    out.push_back(l.backgroundColor().value_or(kit::Color::clear()));
    out.push_back(l.borderColor());
    if (auto* s = dynamic_cast<const kit::ShapeLayer*>(&l)) {
        out.push_back(s->fillColor().value_or(kit::Color::clear()));
        out.push_back(s->strokeColor().value_or(kit::Color::clear()));
    }
    if (auto* t = dynamic_cast<const kit::TextLayer*>(&l)) out.push_back(t->foregroundColor());
    for (const auto& sub : l.sublayers()) collect(*sub, out);
}

std::vector<kit::Color> colours(kit::View& v) {
    std::vector<kit::Color> out;
    collect(*v.layer(), out);
    return out;
}

QPalette look(bool dark) {
    QPalette p;
    p.setColor(QPalette::Window, dark ? QColor(30, 30, 30) : QColor(240, 240, 240));
    p.setColor(QPalette::WindowText, dark ? QColor(230, 230, 230) : QColor(20, 20, 20));
    p.setColor(QPalette::Base, dark ? QColor(40, 40, 40) : QColor(255, 255, 255));
    p.setColor(QPalette::Text, dark ? QColor(230, 230, 230) : QColor(20, 20, 20));
    return p;
}

// Lays a control out; a bubble also takes its colours as it does when shown.
void settle(kit::View& v) {
    v.layout();
    if (auto* bubble = dynamic_cast<CtrlHelper*>(&v)) bubble->applyAppearance();
}

struct Sample {
    const char* name;
    std::function<std::shared_ptr<kit::View>()> make;
};

TEST(Appearance, ControlsRedrawWhenTheLookSwitches) {
    const std::vector<Sample> samples{
        {"button",
         [] {
             auto b = std::make_shared<CtrlButton>(kit::Rect{10, 10, 80, 24});
             b->setTitle("Save");
             return b;
         }},
        {"swatch",
         [] {
             return std::make_shared<CtrlColorButton>(kit::Rect{10, 10, 24, 24});
         }},
        {"segments",
         [] {
             auto s = std::make_shared<CtrlTooltippedSegments>(kit::Rect{10, 10, 120, 24});
             s->setSegmentCount(2);
             s->setLabel("px", 0);
             s->setLabel("pt", 1);
             return s;
         }},
        {"slider",
         [] {
             return std::make_shared<cellSliderSize>(kit::Rect{10, 10, 120, 20});
         }},
        {"bubble",
         [] {
             return std::make_shared<CtrlHelper>(kit::Rect{10, 10, 120, 40});
         }},
        {"input field",
         [] {
             auto f = std::make_shared<kit::TextField>(kit::Rect{10, 10, 120, 24});
             f->setCell(std::make_shared<CtrlInputCell>());
             return f;
         }},
        {"image tile",
         [] {
             auto t = std::make_shared<CtrlRadioImage>(kit::Rect{10, 10, 40, 30});
             t->repaint();
             return t;
         }},
        // The field's grid is built when it joins the window.
        {"logo field",
         [] {
             return std::make_shared<CtrlLogoSnake>(kit::Rect{10, 10, 80, 40});
         }},
    };
    for (const auto& sample : samples) {
        for (bool toDark : {true, false}) {
            // One window starts in the other look and switches; one starts in the new look.
            kit::Window switched({0, 0, 200, 100}, kit::WindowStyle::Titled);
            QWidget* top = kit::qt::viewWidget(*switched.contentView());
            top->setPalette(look(!toDark));
            auto v = sample.make();
            switched.contentView()->addSubview(v);
            settle(*v);
            const auto before = colours(*v);
            top->setPalette(look(toDark));
            ASSERT_EQ(v->isDarkAppearance(), toDark) << sample.name;

            kit::Window fresh({0, 0, 200, 100}, kit::WindowStyle::Titled);
            kit::qt::viewWidget(*fresh.contentView())->setPalette(look(toDark));
            auto w = sample.make();
            fresh.contentView()->addSubview(w);
            settle(*w);
            EXPECT_NE(before, colours(*w)) << sample.name << ": the two looks differ";
            const auto a = colours(*v), b = colours(*w);
            EXPECT_EQ(a.size(), b.size()) << sample.name;
            for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
                EXPECT_EQ(a[i], b[i])
                    << sample.name << (toDark ? " to dark" : " to light") << ", colour " << i << ": "
                    << a[i].r << "," << a[i].g << "," << a[i].b << "," << a[i].a << " vs " << b[i].r << ","
                    << b[i].g << "," << b[i].b << "," << b[i].a;
        }
    }
}

}  // namespace
